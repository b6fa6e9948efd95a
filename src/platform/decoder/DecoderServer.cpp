#include "platform/decoder/DecoderServer.h"

#include "platform/base/Allocator.h"
#include "platform/base/Errors.h"
#include "platform/codecs/Decode.h"
#include "platform/codecs/EmbeddedProfile.h"
#include "platform/codecs/FileBytes.h"
#include "platform/codecs/Work.h"

#include <QByteArray>

#include <cstring>
#include <new>

#include <sys/stat.h>
#include <unistd.h>

namespace pictolune::decoder {

namespace {

[[noreturn]] void quit(int status) {
    ::_exit(status);
}

} // namespace

void DecoderServer::sayHello(const Lockdown& lockdown) {
    Hello hello;
    hello.lockdown = (lockdown.noNewPrivileges ? kNoNewPrivileges : 0) |
                     (lockdown.seccomp ? kSeccomp : 0) |
                     (lockdown.landlockAbi > 0 ? kLandlock : 0) |
                     (lockdown.seccomp && lockdown.landlockAbi == 0 ? kNoFileOpening : 0);
    hello.landlockAbi = lockdown.landlockAbi;
    putText(hello.problem, lockdown.problem);
    if (!send(socket_, hello))
        quit(0);
}

Envelope& DecoderServer::next() {
    switch (receive(socket_, envelope_, true)) {
    case Received::Message:
        return envelope_;
    case Received::Closed:
        quit(0);
    case Received::Nothing:
    case Received::Malformed:
        break;
    }
    quit(1);
}

// Taken up with the next picture: the one being decoded keeps its converter.
// A profile that cannot be read whole leaves the display sRGB.
void DecoderServer::setUp(const Setup& setup, const UniqueFd& profile) {
    QByteArray bytes;
    struct stat status {};
    if (setup.profileBytes > 0 && setup.profileBytes <= kMaxIccProfileBytes && profile.valid() &&
        ::fstat(profile.get(), &status) == 0 && status.st_size == off_t(setup.profileBytes)) {
        bytes.resize(qsizetype(setup.profileBytes));
        const qint64 done = readAt(profile.get(), 0, bytes.data(), bytes.size());
        if (done != bytes.size())
            bytes.clear();
    }
    displayProfile_ = std::move(bytes);
}

void DecoderServer::run() {
    for (;;) {
        Envelope& message = next();
        if (const auto request = message.as<Decode>()) {
            decode(request->id, std::move(message.fd), request->flags);
            returnSurplusMemory();
        } else if (!takeAside(message, 0)) {
            quit(1); // the viewer does not say anything else
        }
    }
}

bool DecoderServer::takeAside(const Envelope& message, std::uint32_t id) {
    if (const auto release = message.as<Release>()) {
        buffers_.release(release->buffer);
        return true;
    }
    if (const auto setup = message.as<Setup>()) {
        setUp(*setup, message.fd);
        return true;
    }
    if (const auto cancel = message.as<Cancel>()) {
        // One for a picture already answered is late, and changes nothing.
        if (cancel->id == id)
            cancelledId_ = id;
        return true;
    }
    return false;
}

QSize DecoderServer::awaitDrawSize(std::uint32_t id) {
    for (;;) {
        Envelope& message = next();
        if (takeAside(message, id)) {
            if (cancelledId_ == id)
                throw LoadError("cancelled");
            continue;
        }
        const auto size = message.as<DrawSize>();
        if (!size || size->id != id)
            quit(1);
        return {size->width, size->height};
    }
}

bool DecoderServer::cancelled(std::uint32_t id) {
    while (cancelledId_ != id) {
        switch (receive(socket_, envelope_, false)) {
        case Received::Nothing:
            return false;
        case Received::Message:
            if (!takeAside(envelope_, id))
                quit(1); // nothing else comes while a picture is decoded
            break;
        case Received::Closed:
            quit(0);
        case Received::Malformed:
            quit(1);
        }
    }
    return true;
}

void DecoderServer::decode(std::uint32_t id, UniqueFd file, std::uint32_t flags) {
    struct stat status {};
    if (!file.valid() || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        fail(id, "not a regular file");
        return;
    }
    const SourceFile source{file.get(), qint64(status.st_size), (flags & kNamedAsMetafile) != 0,
                            [this, id] { return cancelled(id); }};
    if (interception_ && interception_(socket_, id, source))
        return;
    if (displayProfile_) {
        colours_ = std::make_unique<ColourConverter>(*displayProfile_);
        displayProfile_.reset();
    }
    try {
        const Picture picture = decodePicture(
            source,
            [this, id, &source](QSize own) {
                Header header;
                header.id = id;
                header.width = own.width();
                header.height = own.height();
                header.work = claimedWork(source, own);
                if (!send(socket_, header))
                    quit(0);
                return awaitDrawSize(id);
            },
            *colours_);
        deliver(id, picture.raster());
    } catch (const LoadError& error) {
        fail(id, std::string(error.detail()));
    } catch (const std::bad_alloc&) {
        fail(id, "out of memory");
    }
}

void DecoderServer::deliver(std::uint32_t id, const QImage& image) {
    const auto rowBytes = std::size_t(image.width()) * 4;
    PixelBuffers::Buffer* buffer = buffers_.lend(rowBytes * std::size_t(image.height()));
    if (!buffer) {
        fail(id, "out of memory for the pixels");
        return;
    }
    for (int y = 0; y < image.height(); ++y)
        std::memcpy(buffer->bytes + rowBytes * std::size_t(y), image.constScanLine(y), rowBytes);
    Pixels pixels;
    pixels.id = id;
    pixels.width = image.width();
    pixels.height = image.height();
    pixels.bytesPerLine = int(rowBytes);
    pixels.format = image.format();
    pixels.buffer = buffer->id;
    if (!send(socket_, pixels, buffer->fd.get()))
        quit(0);
}

void DecoderServer::fail(std::uint32_t id, const std::string& reason) {
    Failure failure;
    failure.id = id;
    putText(failure.reason, reason);
    if (!send(socket_, failure))
        quit(0);
}

} // namespace pictolune::decoder
