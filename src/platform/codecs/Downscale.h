#pragma once

#include <QImage>
#include <QSize>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace pictolune {

// The light (0 to 1, linear) of each 8-bit level of a picture's red, green
// and blue, and, when its primaries are not the display's, the matrix (row
// by row) that takes its light to the display's.
struct PictureLight {
    std::array<std::array<float, 256>, 3> ofLevel{};
    std::optional<std::array<float, 9>> toDisplay;
};

// Scaling carries light in 16-bit integers, 0 black and kFullLight white,
// with room for a filter's overshoot either way: steps of a fifth of a
// level in the darkest shadows of sRGB, and pairs of lights multiply in one
// step of the processor.
constexpr int kFullLight = 16383;

// The display's level of red, green and blue for each light from 0 to
// kFullLight, the nearest.
struct DisplayLevels {
    std::array<std::vector<uchar>, 3> ofLight;
};

// Each channel's light as a function of its level (0 to 1), as a tone curve
// gives it.
using ToneCurves = std::array<std::function<float(float)>, 3>;

// The light of each level, by `curves`; no matrix.
PictureLight pictureLight(const ToneCurves& curves);
// The level of each light whose light by `curves` is nearest.
DisplayLevels displayLevels(const ToneCurves& curves);

// How one picture's levels reach light, and light the display.
struct LightPath {
    std::shared_ptr<const PictureLight> picture;
    std::shared_ptr<const DisplayLevels> display;
};

// `image` (RGB32 or premultiplied ARGB32, as the loader hands pictures out)
// scaled to `size` in linear light through a Lanczos filter of three lobes,
// and encoded for the display: one pass across, then one down, each picture
// row taken into light once. A side already at its size is not filtered.
// Colours are weighed by their opacity. Raises LoadError when memory for
// the result runs out.
QImage scaleDownInLight(const QImage& image, QSize size, const LightPath& light);

} // namespace pictolune
