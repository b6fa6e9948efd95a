#include "platform/base/Allocator.h"

#include <cstddef>

#include <malloc.h>

namespace pictolune {

namespace {

// Buffers up to 256 MiB (a 64-megapixel frame) come from the heap and are
// reused; beyond that they are mapped and returned at once, as before, so
// one huge picture does not stay resident. Free memory at the top of the
// heap is returned only past 512 MiB.
constexpr int kHeapUpTo = 256 << 20;
constexpr int kKeepFreeUpTo = 512 << 20;
// A 24-megapixel photo drawn on a 4K screen needs about 80 MB on the way.
constexpr std::size_t kSurplusAbove = std::size_t(128) << 20;

} // namespace

void tuneAllocatorForPictures() {
    mallopt(M_MMAP_THRESHOLD, kHeapUpTo);
    mallopt(M_TRIM_THRESHOLD, kKeepFreeUpTo);
}

void returnSurplusMemory() {
    if (mallinfo2().fordblks > kSurplusAbove)
        malloc_trim(0);
}

} // namespace pictolune
