#include "platform/SharedPixels.h"

#include "platform/decode/Bounds.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>

namespace pictolune {

namespace {

struct Mapping {
    void* address = nullptr;
    std::size_t length = 0;
    std::weak_ptr<DecoderChannel> channel;
    std::uint32_t buffer = 0;
};

void unmap(void* info) {
    auto* mapping = static_cast<Mapping*>(info);
    ::munmap(mapping->address, mapping->length);
    if (const auto channel = mapping->channel.lock()) {
        decoder::Release release;
        release.buffer = mapping->buffer;
        decoder::send(channel->socket(), release);
    }
    delete mapping;
}

bool drawnFormat(std::uint32_t format) {
    return format == QImage::Format_RGB32 || format == QImage::Format_ARGB32_Premultiplied;
}

} // namespace

QImage mapPixels(const decoder::Pixels& pixels, UniqueFd memfd, QSize drawn,
                 const std::shared_ptr<DecoderChannel>& channel, std::string& why) {
    if (pixels.width < 1 || pixels.height < 1 || pixels.width > drawn.width() ||
        pixels.height > drawn.height()) {
        why = "gave pixels of another size than asked";
        return {};
    }
    if (!drawnFormat(pixels.format)) {
        why = "gave pixels in an unknown format";
        return {};
    }
    if (pixels.bytesPerLine < qint64(pixels.width) * 4 || pixels.bytesPerLine % 4 != 0) {
        why = "gave rows of the wrong length";
        return {};
    }
    const qint64 length = qint64(pixels.bytesPerLine) * pixels.height;
    if (length > kMaxPictureBytes) {
        why = "gave more pixels than a picture may have";
        return {};
    }
    struct stat status {};
    if (!memfd.valid() || ::fstat(memfd.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_size < length) {
        why = "gave less memory than its pixels need";
        return {};
    }
    const int seals = ::fcntl(memfd.get(), F_GET_SEALS);
    if (seals < 0 || (seals & (F_SEAL_SHRINK | F_SEAL_GROW)) != (F_SEAL_SHRINK | F_SEAL_GROW)) {
        why = "gave memory that is not sealed";
        return {};
    }
    void* address =
        ::mmap(nullptr, std::size_t(length), PROT_READ | PROT_WRITE, MAP_PRIVATE, memfd.get(), 0);
    if (address == MAP_FAILED) {
        why = "gave memory that cannot be mapped";
        return {};
    }
    auto* mapping = new Mapping{address, std::size_t(length), channel, pixels.buffer};
    QImage image(static_cast<uchar*>(address), pixels.width, pixels.height, pixels.bytesPerLine,
                 QImage::Format(pixels.format), unmap, mapping);
    if (image.isNull()) {
        unmap(mapping);
        why = "gave pixels that cannot be shown";
    }
    return image;
}

} // namespace pictolune
