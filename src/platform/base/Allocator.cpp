#include "platform/base/Allocator.h"

#include "platform/base/Sanitizer.h"

#include <cstddef>

#include <malloc.h>

#ifdef PICTOLUNE_SANITIZED
// From the sanitizer runtime; GCC installs no header that declares it.
extern "C" void __sanitizer_purge_allocator(); // NOLINT(bugprone-reserved-identifier)
#endif

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
#ifdef PICTOLUNE_SANITIZED
    // The sanitizer's allocator keeps what it frees, which its limit on
    // resident memory would count against the next picture.
    __sanitizer_purge_allocator();
#else
    if (mallinfo2().fordblks > kSurplusAbove)
        malloc_trim(0);
#endif
}

} // namespace pictolune
