#pragma once

// Whether this build runs under AddressSanitizer, which reserves terabytes
// of address space and slows the code it instruments.
namespace pictolune {

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

} // namespace pictolune
