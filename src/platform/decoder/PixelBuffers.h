#pragma once

#include "platform/base/UniqueFd.h"

#include <cstddef>
#include <cstdint>
#include <list>

namespace pictolune::decoder {

// The shared memory a decoder hands its pictures over in: memfds sealed
// against shrinking and growing (a file that shrank under the viewer's
// mapping would crash it), kept and reused once the viewer releases them.
// Fresh memory costs its first touch on every page, which for a screen-sized
// picture is many milliseconds; reused memory does not.
class PixelBuffers {
public:
    struct Buffer {
        std::uint32_t id = 0;
        UniqueFd fd;
        std::size_t capacity = 0;
        unsigned char* bytes = nullptr;
        bool lent = false;
    };

    PixelBuffers() = default;
    PixelBuffers(const PixelBuffers&) = delete;
    PixelBuffers& operator=(const PixelBuffers&) = delete;
    ~PixelBuffers();

    // A buffer of at least `size` bytes, marked lent until released: a kept
    // one when one fits, else a new one. Null when no memory is left.
    Buffer* lend(std::size_t size);
    // Takes back what the viewer no longer maps; a buffer it never had is
    // ignored. Keeps a few buffers for reuse and lets the rest go.
    void release(std::uint32_t id);

private:
    std::list<Buffer>::iterator drop(std::list<Buffer>::iterator buffer);

    std::list<Buffer> buffers_;
    std::uint32_t nextId_ = 1;
};

} // namespace pictolune::decoder
