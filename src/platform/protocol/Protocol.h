#pragma once

#include "platform/base/Limits.h"
#include "platform/base/UniqueFd.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

// What the viewer and its decoder processes say to each other over a
// SOCK_SEQPACKET socket: one message per packet, each a fixed-size record
// that starts with its kind, descriptors passed alongside (SCM_RIGHTS).
//
// One picture: the viewer sends Decode with the open file; the decoder
// answers Header with the picture's own upright size and the work it claims
// (or Failure); the viewer answers DrawSize, the size it will draw the
// picture at; the decoder answers Pixels with a sealed memfd holding them
// (or Failure). When the viewer no longer needs the pixels it sends Release,
// and the decoder may use that memory for another picture. When it no
// longer wants a picture it asked for, it sends Cancel; the decoder then
// stops at its next chance and answers Failure, or Pixels when it had
// finished. A decoder says Hello once, when it is ready and locked down.
// Setup tells a decoder the display's colour profile; it may come whenever
// Release may, and holds from the next Decode on.
namespace pictolune::decoder {

// Where a decoder finds its end of the socket.
constexpr int kSocketFd = 3;

constexpr std::uint32_t kProtocolVersion = 4;

// What a decoder may hold, and what the viewer takes from it.
//
// Its address space (a picture's buffers of up to 1 GiB, the libraries, and
// room for Qt's scaling threads), capped by the decoder itself.
inline constexpr std::uint64_t kAddressSpaceBytes = std::uint64_t(3) << 29; // 1.5 GiB
// AddressSanitizer reserves terabytes of address space for its shadow, so
// its builds cannot cap it; the sanitizer's own limits on resident memory,
// which the viewer sets in the decoder's environment, stand in: past the
// soft one allocations fail (return null, as under the cap), past the hard
// one the process ends; what it frees it holds back only a little, so that
// one picture's memory does not count against the next. Leak checking is
// off: a decoder ends with _exit, and the sandbox would stop the checker
// anyway.
inline constexpr char kSanitizerOptions[] =
    "detect_leaks=0:soft_rss_limit_mb=1536:hard_rss_limit_mb=2048:allocator_may_return_null=1:"
    "quarantine_size_mb=16";
// Memory handed over in memfds is not address space until it is mapped: a
// decoder may hold few files (descriptors below this number), none larger
// than the largest picture's pixels.
inline constexpr int kMostDescriptors = 32;
inline constexpr std::uint64_t kPageBytes = 4096;
inline constexpr std::uint64_t kMostPixelBytes = std::uint64_t(kMaxPictureBytes) + kPageBytes;
// Free pixel buffers a decoder keeps for its next pictures; the viewer keeps
// as many mapped, and one more in use.
inline constexpr std::size_t kMostKeptBuffers = 1;

// A new buffer for pixels of `needed` bytes holds them in whole pages.
constexpr std::uint64_t newBufferBytes(std::uint64_t needed) {
    return (needed + kPageBytes - 1) / kPageBytes * kPageBytes;
}
// A buffer of `capacity` bytes serves pixels of `needed` bytes when they fit
// and fill at least half of it (or it is no larger than a new one): a
// decoder reuses its buffers by this rule, and the viewer accepts no buffer
// that breaks it.
constexpr bool bufferServes(std::uint64_t capacity, std::uint64_t needed) {
    return needed > 0 && capacity >= needed &&
           (capacity / 2 <= needed || capacity <= newBufferBytes(needed));
}

enum class Kind : std::uint32_t {
    Hello = 1,
    Decode,
    Header,
    DrawSize,
    Pixels,
    Failure,
    Release,
    Setup,
    Cancel,
};

// What the decoder's lockdown achieved, in Hello::lockdown.
constexpr std::uint32_t kNoNewPrivileges = 1u << 0;
constexpr std::uint32_t kSeccomp = 1u << 1;
// Landlock lets it read nothing but the fonts.
constexpr std::uint32_t kLandlock = 1u << 2;
// It can open no file at all (where the kernel has no Landlock).
constexpr std::uint32_t kNoFileOpening = 1u << 3;

struct Hello {
    Kind kind = Kind::Hello;
    std::uint32_t version = kProtocolVersion;
    std::uint32_t lockdown = 0;
    std::int32_t landlockAbi = 0;
    char problem[256] = {}; // what could not be locked down, if anything
};

// In Decode::flags.
constexpr std::uint32_t kNamedAsMetafile = 1u << 0;

// Carries the picture's file, open for reading.
struct Decode {
    Kind kind = Kind::Decode;
    std::uint32_t id = 0;
    std::uint32_t flags = 0;
};

// `work` is what decoding the picture's pixels claims to cost, in pixel
// passes: its pixels times the passes over them its format needs (a
// progressive JPEG one for each of its scans). The viewer sizes the
// decoder's budget of processor time by it, within bounds of its own.
struct Header {
    Kind kind = Kind::Header;
    std::uint32_t id = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint64_t work = 0;
};

struct DrawSize {
    Kind kind = Kind::DrawSize;
    std::uint32_t id = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

// Carries the memfd that holds `height` rows of `bytesPerLine` bytes.
struct Pixels {
    Kind kind = Kind::Pixels;
    std::uint32_t id = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t bytesPerLine = 0;
    std::uint32_t format = 0; // a QImage::Format
    std::uint32_t buffer = 0; // named in Release
};

struct Failure {
    Kind kind = Kind::Failure;
    std::uint32_t id = 0;
    char reason[512] = {};
};

struct Release {
    Kind kind = Kind::Release;
    std::uint32_t buffer = 0;
};

// Carries, when `profileBytes` is not 0, a memfd sealed against writing,
// shrinking and growing that holds the display's ICC profile, at most
// kMaxIccProfileBytes. Without one the display is sRGB, as it is for a
// decoder that was never told.
struct Setup {
    Kind kind = Kind::Setup;
    std::uint32_t profileBytes = 0;
};

struct Cancel {
    Kind kind = Kind::Cancel;
    std::uint32_t id = 0;
};

// A message as received: its bytes and the descriptor that came with it.
struct Envelope {
    alignas(8) unsigned char bytes[sizeof(Failure)] = {};
    std::size_t size = 0;
    UniqueFd fd;

    std::optional<Kind> kind() const;
    // The message as a T when it is one, whole.
    template <typename T> std::optional<T> as() const {
        T message;
        if (size != sizeof(T) || kind() != message.kind)
            return std::nullopt;
        std::memcpy(static_cast<void*>(&message), bytes, sizeof(T));
        return message;
    }
};

// Sends `message`, with `fd` when it is not -1. False when the peer is gone,
// or, with `wait` false, when the socket is full.
bool sendRecord(int socket, const void* message, std::size_t size, int fd, bool wait);
template <typename T> bool send(int socket, const T& message, int fd = -1, bool wait = true) {
    return sendRecord(socket, &message, sizeof message, fd, wait);
}

enum class Received { Message, Nothing, Closed, Malformed };

// Receives one message. Nothing: none waiting (with `wait` false). Closed:
// the peer is gone. Malformed: too long, or with more than one descriptor.
Received receive(int socket, Envelope& envelope, bool wait);

// Copies `text` into a fixed field, cut to fit and always terminated.
template <std::size_t N> void putText(char (&field)[N], const std::string& text) {
    const std::size_t length = text.size() < N - 1 ? text.size() : N - 1;
    std::memcpy(field, text.data(), length);
    field[length] = '\0';
}

} // namespace pictolune::decoder
