#include "platform/loading/SharedPixels.h"

#include "platform/codecs/Bounds.h"

#include <algorithm>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>

namespace pictolune {

namespace {

// As many as a decoder keeps free, and one in use.
constexpr std::size_t kMostMapped = 4;

bool drawnFormat(std::uint32_t format) {
    return format == QImage::Format_RGB32 || format == QImage::Format_ARGB32_Premultiplied;
}

} // namespace

// One of the decoder's buffers, mapped whole. Shared, not private: no page
// of it ever becomes the viewer's own copy, so a mapping kept for the next
// picture always shows what the decoder wrote last.
struct DecoderChannel::Mapping {
    std::uint32_t buffer = 0;
    dev_t device = 0;
    ino_t inode = 0;
    std::size_t length = 0;
    void* address = nullptr;
    bool lent = false;

    Mapping() = default;
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;
    ~Mapping() { ::munmap(address, length); }
};

// What a picture holds of the channel, until its last copy goes.
struct DecoderChannel::Lent {
    std::shared_ptr<Mapping> mapping;
    std::weak_ptr<DecoderChannel> channel;
};

DecoderChannel::DecoderChannel(UniqueFd socket) : socket_(std::move(socket)) {}

DecoderChannel::~DecoderChannel() = default;

void DecoderChannel::release(void* lent) {
    const std::unique_ptr<Lent> picture(static_cast<Lent*>(lent));
    if (const auto channel = picture->channel.lock()) {
        const std::lock_guard lock(channel->mutex_);
        picture->mapping->lent = false;
        decoder::Release message;
        message.buffer = picture->mapping->buffer;
        // Never waits: a decoder that does not read only loses the buffer.
        decoder::send(channel->socket(), message, -1, false);
    }
}

QImage DecoderChannel::mapPixels(const decoder::Pixels& pixels, UniqueFd memfd, QSize drawn,
                                 std::string& why) {
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
        status.st_size < length || status.st_size > 2 * kMaxPictureBytes) {
        why = "gave less memory than its pixels need";
        return {};
    }
    const int seals = ::fcntl(memfd.get(), F_GET_SEALS);
    if (seals < 0 || (seals & (F_SEAL_SHRINK | F_SEAL_GROW)) != (F_SEAL_SHRINK | F_SEAL_GROW)) {
        why = "gave memory that is not sealed";
        return {};
    }

    const std::lock_guard lock(mutex_);
    const auto size = std::size_t(status.st_size);
    auto kept = std::find_if(mappings_.begin(), mappings_.end(), [&](const auto& mapping) {
        return mapping->buffer == pixels.buffer && mapping->device == status.st_dev &&
               mapping->inode == status.st_ino && mapping->length == size && !mapping->lent;
    });
    std::shared_ptr<Mapping> mapping;
    if (kept != mappings_.end()) {
        mapping = *kept;
        // The most recently used last.
        mappings_.erase(kept);
    } else {
        void* address = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, memfd.get(), 0);
        if (address == MAP_FAILED) {
            why = "gave memory that cannot be mapped";
            return {};
        }
        mapping = std::make_shared<Mapping>();
        mapping->buffer = pixels.buffer;
        mapping->device = status.st_dev;
        mapping->inode = status.st_ino;
        mapping->length = size;
        mapping->address = address;
    }
    mapping->lent = true;
    mappings_.push_back(mapping);
    for (auto it = mappings_.begin(); mappings_.size() > kMostMapped && it != mappings_.end();)
        it = (*it)->lent ? std::next(it) : mappings_.erase(it);

    auto* lent = new Lent{mapping, weak_from_this()};
    QImage image(static_cast<uchar*>(mapping->address), pixels.width, pixels.height,
                 pixels.bytesPerLine, QImage::Format(pixels.format), release, lent);
    if (image.isNull()) {
        mapping->lent = false;
        delete lent;
        why = "gave pixels that cannot be shown";
    }
    return image;
}

} // namespace pictolune
