#include "decoder/TestFaults.h"

#include "platform/protocol/Protocol.h"

#include <QImage>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

extern char** environ;

namespace pictolune::decoder {

namespace {

constexpr char kMagic[] = "pictolune-test-fault:";
constexpr std::size_t kChunkBytes = std::size_t(64) << 20;

std::string requestOf(int fd) {
    char head[1024] = {};
    const ssize_t got = ::pread(fd, head, sizeof head - 1, 0);
    if (got <= 0 || std::strncmp(head, kMagic, sizeof kMagic - 1) != 0)
        return {};
    std::string request(head + sizeof kMagic - 1);
    const std::size_t end = request.find_first_of("\r\n");
    return end == std::string::npos ? request : request.substr(0, end);
}

[[noreturn]] void hang() {
    volatile unsigned spin = 0;
    for (;;)
        spin = spin + 1;
}

// Takes memory and writes to it, as a runaway decoder would, until the
// allocator says no; then gives it all back.
std::string allocateWithoutEnd() {
    std::vector<void*> hoard;
    for (;;) {
        void* chunk = std::malloc(kChunkBytes);
        if (!chunk)
            break;
        std::memset(chunk, 0x5a, kChunkBytes);
        hoard.push_back(chunk);
    }
    for (void* chunk : hoard)
        std::free(chunk);
    return "out of memory after " + std::to_string(hoard.size() * (kChunkBytes >> 20)) + " MB";
}

const char* outcome(bool refused) {
    return refused ? "refused" : "allowed";
}

bool opens(const char* path) {
    const int readable = ::open(path, O_RDONLY | O_CLOEXEC);
    if (readable >= 0)
        ::close(readable);
    return readable >= 0;
}

// What the sandbox must refuse: reading a file outside the font
// directories (or any file, without Landlock), its own environment too,
// creating a file, opening a socket, running a program, and having the
// kernel signal another process through its socket.
std::string probe(int socket, const std::string& path) {
    const bool readRefused = !opens(path.c_str()) && !opens("/proc/self/environ");
    const bool ownerRefused = ::fcntl(socket, F_SETOWN, 1) != 0;
    const bool signalRefused = ::fcntl(socket, F_SETSIG, SIGKILL) != 0;
    const bool asyncRefused = ::fcntl(socket, F_SETFL, O_ASYNC | O_NONBLOCK) != 0;
    const std::string created = path + ".created";
    const int writable = ::open(created.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    const bool createRefused = writable < 0;
    if (writable >= 0)
        ::close(writable);
    const int sock = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool socketRefused = sock < 0;
    if (sock >= 0)
        ::close(sock);
    char program[] = "/bin/true";
    char* const arguments[] = {program, nullptr};
    // Returns only when refused.
    const bool execRefused = ::execve(program, arguments, environ) != 0;
    return std::string("probe: read ") + outcome(readRefused) + ", create " +
           outcome(createRefused) + ", socket " + outcome(socketRefused) + ", exec " +
           outcome(execRefused) + ", owner " + outcome(ownerRefused) + ", signal " +
           outcome(signalRefused) + ", async " + outcome(asyncRefused);
}

UniqueFd memfd(std::size_t size, bool sealed) {
    UniqueFd fd(::memfd_create("pictolune-fault", MFD_CLOEXEC | MFD_ALLOW_SEALING));
    if (fd.valid() && ::ftruncate(fd.get(), off_t(size)) == 0 && sealed)
        ::fcntl(fd.get(), F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL);
    return fd;
}

// Plays the header of a 64 x 48 picture honestly and takes the size to
// draw it at; nothing when the viewer is gone or says something else.
std::optional<DrawSize> header(int socket, std::uint32_t id) {
    Header header;
    header.id = id;
    header.width = 64;
    header.height = 48;
    if (!send(socket, header))
        return std::nullopt;
    Envelope envelope;
    if (receive(socket, envelope, true) != Received::Message)
        return std::nullopt;
    return envelope.as<DrawSize>();
}

// A picture whose pixels take a while: then magenta, or a failure.
bool slow(int socket, std::uint32_t id, bool fail, int milliseconds) {
    const auto drawn = header(socket, id);
    if (!drawn)
        return false;
    ::usleep(useconds_t(milliseconds) * 1000);
    if (fail) {
        Failure failure;
        failure.id = id;
        putText(failure.reason, "failed after its header");
        return send(socket, failure);
    }
    Pixels pixels;
    pixels.id = id;
    pixels.width = drawn->width;
    pixels.height = drawn->height;
    pixels.bytesPerLine = pixels.width * 4;
    pixels.format = QImage::Format_RGB32;
    const auto size = std::size_t(pixels.bytesPerLine) * std::size_t(pixels.height);
    const UniqueFd fd = memfd(size, true);
    void* bytes = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
    if (bytes == MAP_FAILED)
        return false;
    std::fill_n(static_cast<QRgb*>(bytes), size / 4, qRgb(255, 0, 255));
    ::munmap(bytes, size);
    return send(socket, pixels, fd.get());
}

// A message carrying two descriptors, which no message of the protocol does.
bool sendTwoDescriptors(int socket, const Pixels& pixels, int fd) {
    iovec part{const_cast<Pixels*>(&pixels), sizeof pixels};
    alignas(cmsghdr) char control[CMSG_SPACE(2 * sizeof(int))] = {};
    msghdr header{};
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    cmsghdr* item = CMSG_FIRSTHDR(&header);
    item->cmsg_level = SOL_SOCKET;
    item->cmsg_type = SCM_RIGHTS;
    item->cmsg_len = CMSG_LEN(2 * sizeof(int));
    const int fds[2] = {fd, fd};
    std::memcpy(CMSG_DATA(item), fds, sizeof fds);
    return ::sendmsg(socket, &header, MSG_NOSIGNAL) >= 0;
}

// Plays the header and draw size honestly, then answers with pixels that
// lie in the way `kind` names; or with a header of no size.
bool lie(int socket, std::uint32_t id, const std::string& kind) {
    if (kind == "no-size") {
        Header empty;
        empty.id = id;
        return send(socket, empty);
    }
    const auto drawn = header(socket, id);
    if (!drawn)
        return false;
    Pixels pixels;
    pixels.id = kind == "wrong-id" ? id + 1 : id;
    pixels.width = drawn->width + (kind == "oversize" ? 1 : kind == "undersize" ? -1 : 0);
    pixels.height = drawn->height;
    pixels.bytesPerLine = pixels.width * 4 - (kind == "stride" ? 4 : 0);
    pixels.format = kind == "format" ? QImage::Format_Mono : QImage::Format_RGB32;
    const auto size = std::size_t(pixels.bytesPerLine) * std::size_t(pixels.height);
    const std::size_t memory = kind == "short-memfd"  ? size / 2
                               : kind == "huge-memfd" ? size * 4
                                                      : size;
    const UniqueFd fd = memfd(memory, kind != "unsealed");
    if (kind == "two-descriptors")
        return sendTwoDescriptors(socket, pixels, fd.get());
    return send(socket, pixels, fd.get());
}

} // namespace

bool actOutTestFault(int socket, std::uint32_t id, const SourceFile& file) {
    const std::string request = requestOf(file.fd);
    if (request.empty())
        return false;
    std::string answer;
    if (request == "crash") {
        std::signal(SIGSEGV, SIG_DFL);
        std::raise(SIGSEGV);
    } else if (request == "hang") {
        hang();
    } else if (request == "silent") {
        // Neither works nor answers, whatever it is told (the sandbox
        // allows sleeping, not pause()).
        for (;;)
            ::sleep(1000);
    } else if (request == "allocate") {
        answer = allocateWithoutEnd();
    } else if (request.rfind("probe:", 0) == 0) {
        answer = probe(socket, request.substr(6));
    } else if (request.rfind("slow", 0) == 0) {
        // slow, slow-failure, slow:MS, slow-failure:MS
        const std::size_t colon = request.find(':');
        const int milliseconds = colon == std::string::npos ? 300 : std::atoi(&request[colon + 1]);
        if (!slow(socket, id, request.rfind("slow-failure", 0) == 0, milliseconds))
            ::_exit(0);
        return true;
    } else {
        if (!lie(socket, id, request))
            ::_exit(0);
        return true;
    }
    Failure failure;
    failure.id = id;
    putText(failure.reason, answer);
    send(socket, failure);
    return true;
}

} // namespace pictolune::decoder
