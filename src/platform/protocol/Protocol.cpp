#include "platform/protocol/Protocol.h"

#include "platform/base/Interrupted.h"

#include <cerrno>

#include <sys/socket.h>

namespace pictolune::decoder {

namespace {

// Room for a few descriptors, so that a packet carrying more than one is
// seen whole and every one of them closed.
constexpr int kRoomForDescriptors = 4;

} // namespace

std::optional<Kind> Envelope::kind() const {
    if (size < sizeof(Kind))
        return std::nullopt;
    Kind kind{};
    std::memcpy(&kind, bytes, sizeof kind);
    return kind;
}

bool sendRecord(int socket, const void* message, std::size_t size, int fd, bool wait) {
    iovec part{const_cast<void*>(message), size};
    msghdr header{};
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    if (fd >= 0) {
        header.msg_control = control;
        header.msg_controllen = sizeof control;
        cmsghdr* item = CMSG_FIRSTHDR(&header);
        item->cmsg_level = SOL_SOCKET;
        item->cmsg_type = SCM_RIGHTS;
        item->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(item), &fd, sizeof fd);
    }
    const ssize_t sent = retryInterrupted(
        [&] { return ::sendmsg(socket, &header, MSG_NOSIGNAL | (wait ? 0 : MSG_DONTWAIT)); });
    return sent >= 0 && std::size_t(sent) == size;
}

Received receive(int socket, Envelope& envelope, bool wait) {
    envelope.size = 0;
    envelope.fd.reset();
    iovec part{envelope.bytes, sizeof envelope.bytes};
    msghdr header{};
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(kRoomForDescriptors * sizeof(int))] = {};
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    const ssize_t got = retryInterrupted(
        [&] { return ::recvmsg(socket, &header, MSG_CMSG_CLOEXEC | (wait ? 0 : MSG_DONTWAIT)); });
    if (got < 0)
        return !wait && (errno == EAGAIN || errno == EWOULDBLOCK) ? Received::Nothing
                                                                  : Received::Closed;
    if (got == 0)
        return Received::Closed;

    int descriptors = 0;
    for (cmsghdr* item = CMSG_FIRSTHDR(&header); item; item = CMSG_NXTHDR(&header, item)) {
        if (item->cmsg_level != SOL_SOCKET || item->cmsg_type != SCM_RIGHTS)
            continue;
        const std::size_t count = (item->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (std::size_t i = 0; i < count; ++i) {
            int fd = -1;
            std::memcpy(&fd, CMSG_DATA(item) + i * sizeof(int), sizeof fd);
            if (++descriptors == 1)
                envelope.fd.reset(fd);
            else
                ::close(fd);
        }
    }
    envelope.size = std::size_t(got);
    if ((header.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) != 0 || descriptors > 1) {
        envelope.fd.reset();
        return Received::Malformed;
    }
    return Received::Message;
}

} // namespace pictolune::decoder
