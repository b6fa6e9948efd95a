#include "platform/loading/PixelChannel.h"

#include "platform/loading/PixelCheck.h"

#include <algorithm>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>

namespace pictolune {

// One of the decoder's buffers, mapped whole. Shared, not private: no page
// of it ever becomes the viewer's own copy, so a mapping kept for the next
// picture always shows what the decoder wrote last.
struct PixelChannel::Mapping {
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
struct PixelChannel::Lent {
    std::shared_ptr<Mapping> mapping;
    std::weak_ptr<PixelChannel> channel;
};

PixelChannel::PixelChannel(UniqueFd socket) : socket_(std::move(socket)) {}

PixelChannel::~PixelChannel() = default;

void PixelChannel::release(void* lent) {
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

QImage PixelChannel::takePixels(const decoder::Pixels& pixels, UniqueFd memfd, QSize asked,
                                std::string& why) {
    struct stat status {};
    MemfdFacts facts;
    if (memfd.valid() && ::fstat(memfd.get(), &status) == 0) {
        facts.regular = S_ISREG(status.st_mode);
        facts.bytes = status.st_size;
        facts.seals = ::fcntl(memfd.get(), F_GET_SEALS);
    }
    if (const auto refused = refusedPixels(pixels, asked, facts)) {
        why = *refused;
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
    // As many as the decoder keeps free stay mapped for its next pictures.
    std::size_t free = std::count_if(mappings_.begin(), mappings_.end(),
                                     [](const auto& kept) { return !kept->lent; });
    for (auto it = mappings_.begin(); free > decoder::kMostKeptBuffers && it != mappings_.end();) {
        if ((*it)->lent) {
            ++it;
        } else {
            it = mappings_.erase(it);
            --free;
        }
    }

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
