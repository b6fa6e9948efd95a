#include "platform/decoder/PixelBuffers.h"

#include "platform/protocol/Protocol.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace pictolune::decoder {

namespace {

bool fits(const PixelBuffers::Buffer& buffer, std::size_t size) {
    return !buffer.lent && bufferServes(buffer.capacity, size);
}

} // namespace

PixelBuffers::~PixelBuffers() {
    for (auto it = buffers_.begin(); it != buffers_.end();)
        it = drop(it);
}

PixelBuffers::Buffer* PixelBuffers::lend(std::size_t size) {
    for (Buffer& buffer : buffers_) {
        if (fits(buffer, size)) {
            buffer.lent = true;
            return &buffer;
        }
    }
    const auto capacity = std::size_t(newBufferBytes(size == 0 ? 1 : size));
    UniqueFd fd(::memfd_create("pictolune-pixels", MFD_CLOEXEC | MFD_ALLOW_SEALING));
    if (!fd.valid() || ::ftruncate(fd.get(), off_t(capacity)) != 0 ||
        ::fcntl(fd.get(), F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0)
        return nullptr;
    void* bytes = ::mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
    if (bytes == MAP_FAILED)
        return nullptr;
    Buffer& buffer = buffers_.emplace_back();
    buffer.id = nextId_++;
    buffer.fd = std::move(fd);
    buffer.capacity = capacity;
    buffer.bytes = static_cast<unsigned char*>(bytes);
    buffer.lent = true;
    return &buffer;
}

void PixelBuffers::release(std::uint32_t id) {
    std::size_t free = 0;
    for (Buffer& buffer : buffers_) {
        if (buffer.id == id)
            buffer.lent = false;
        if (!buffer.lent)
            ++free;
    }
    // The oldest free buffers go first.
    for (auto it = buffers_.begin(); free > kMostKeptBuffers && it != buffers_.end();) {
        if (it->lent) {
            ++it;
        } else {
            it = drop(it);
            --free;
        }
    }
}

std::list<PixelBuffers::Buffer>::iterator PixelBuffers::drop(std::list<Buffer>::iterator buffer) {
    ::munmap(buffer->bytes, buffer->capacity);
    return buffers_.erase(buffer);
}

} // namespace pictolune::decoder
