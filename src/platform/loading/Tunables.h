#pragma once

#include "platform/base/Sanitizer.h"

#include <chrono>
#include <cstddef>
#include <cstdint>

// Every number the viewer's side of loading is tuned by, one to a line.
namespace pictolune::tunables {

using namespace std::chrono_literals;
using Duration = std::chrono::nanoseconds;

// Sanitizer builds run the decoders' own code several times slower (the
// libraries doing most of the work are not instrumented) on machines busy
// with tests: their budgets are this many times larger.
inline constexpr int kSlowdown = kSanitizerBuild ? 3 : 1;

// Decoders: one per core, within these bounds.
inline constexpr int kLeastDecoders = 2;
inline constexpr int kMostDecoders = 4;

// A show waits for a picture's pixels this long at most, one or two frames,
// before it puts up what it has and lets the pixels follow.
inline constexpr Duration kShowWait = 25ms;

// Pictures decoded ahead are kept, each at most the size of the window,
// within this many bytes with the one on show; the next and the previous
// picture are always decoded ahead.
inline constexpr std::int64_t kMostBytesAhead = std::int64_t(256) << 20;
inline constexpr std::size_t kLeastPicturesAhead = 2;

// A decoder's budget of processor time for reading a picture's header:
// a file cannot earn more than its bytes are worth to read.
inline constexpr Duration kHeaderBudget = 500ms * kSlowdown;
inline constexpr Duration kHeaderBudgetPerMegabyte = 20ms * kSlowdown;
// Then for its pixels, by the work the header claims: generous for every
// format (a 24-megapixel photo decodes in under 0.1 s of processor time
// here, a progressive one in under 0.3 s), and never more than the most.
inline constexpr Duration kPixelBudget = 500ms * kSlowdown;
inline constexpr Duration kPixelBudgetPerMegapass = 12ms * kSlowdown;
// Drawing pays for every pixel drawn, whatever the file claims.
inline constexpr Duration kPixelBudgetPerDrawnMegapixel = 40ms * kSlowdown;
inline constexpr Duration kMostBudget = 20s * kSlowdown;

// A decoder that takes less than this much processor time in this much
// wall-clock time while it has a picture is stuck (blocked, or asleep): a
// busy machine slows a working decoder, but never to a standstill.
inline constexpr Duration kStuckWindow = 3s;
inline constexpr Duration kLeastProgress = 50ms;
// And whatever it does, no picture takes longer than its ceiling: a busy
// machine stretches the wall-clock time of a decode many times over, not
// its processor time.
inline constexpr Duration kLeastCeiling = 10s;
inline constexpr int kCeilingPerBudget = 10;

// How often the processor time of busy decoders is read.
inline constexpr Duration kBudgetCheck = 50ms;

// A decoder told to stop a picture has this long to answer before it is
// killed and replaced.
inline constexpr Duration kCancelGrace = 1s * kSlowdown;

// A decoder says Hello within a few dozen milliseconds; one that has not by
// this time never will.
inline constexpr Duration kStartCeiling = 10s * kSlowdown;
// Starts that fail in a row, each waiting twice as long as the one before,
// until no decoder is tried again and pictures fail with the reason.
inline constexpr int kMostFailedStarts = 5;
inline constexpr Duration kFirstRestartDelay = 50ms;

// Lines of a decoder's own standard error passed on to the viewer's, at
// most, for each decoder (a sanitizer's report is a few dozen).
inline constexpr int kMostRelayedLines = 200;

} // namespace pictolune::tunables
