#pragma once

#include <cstdint>

namespace pictolune::wmf {

// Bounds on what one metafile may ask for. Real clip-art stays far below
// each; a file beyond them is refused rather than allowed to take the time
// or memory it claims.
inline constexpr int kMaxRecords = 1'000'000;
inline constexpr int kMaxObjects = 16'384;
// Points over all polylines and polygons of a file.
inline constexpr std::int64_t kMaxPoints = 4'000'000;
inline constexpr int kMaxBitmapSide = 32'767;
// Decoded bitmap pixels over all bitmaps and patterns of a file.
inline constexpr std::int64_t kMaxBitmapPixels = 48'000'000;
// Nested SaveDC levels kept during playback; deeper saves are not kept.
inline constexpr int kMaxSavedStates = 1'024;
// Own size of a plain metafile (which has no physical size): its window,
// scaled so that the longer side falls in this range.
inline constexpr int kMinPlainSide = 32;
inline constexpr int kMaxPlainSide = 1'024;
// Longest side of the own size of a placeable metafile.
inline constexpr int kMaxOwnSide = 8'192;

} // namespace pictolune::wmf
