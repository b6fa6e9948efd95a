#pragma once

#include <cstdint>

// The hard limits of a decoder process, set by the process itself (the
// address-space cap) and by the viewer (the sanitizer's memory limit).
namespace pictolune::decoder {

#if defined(__SANITIZE_ADDRESS__)
#define PICTOLUNE_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PICTOLUNE_SANITIZED 1
#endif
#endif

#ifdef PICTOLUNE_SANITIZED
inline constexpr bool kSanitizerBuild = true;
#else
inline constexpr bool kSanitizerBuild = false;
#endif

// Address space of a decoder: a picture's buffers of up to 1 GiB, the
// libraries, and room for Qt's scaling threads.
inline constexpr std::uint64_t kAddressSpaceBytes = std::uint64_t(3) << 29; // 1.5 GiB

// AddressSanitizer reserves terabytes of address space for its shadow, so
// its builds cannot cap it; the sanitizer's own limits on resident memory
// stand in: past the soft one allocations fail (return null, as under the
// cap), past the hard one the process ends. Leak checking is off: a decoder
// ends with _exit, and the sandbox would stop the checker anyway.
inline constexpr char kSanitizerOptions[] =
    "detect_leaks=0:soft_rss_limit_mb=1536:hard_rss_limit_mb=2048:allocator_may_return_null=1";

// Caps this process's address space (not in sanitizer builds).
void limitAddressSpace();

} // namespace pictolune::decoder
