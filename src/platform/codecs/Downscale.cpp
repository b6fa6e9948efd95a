#include "platform/codecs/Downscale.h"

#include "platform/base/Errors.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <string>

#include <immintrin.h>

namespace pictolune {

namespace {

constexpr int kLobes = 3;
// Weights in 14 bits: with light in 16, a product and the sum of a
// filter's taps stay within 32 bits.
constexpr int kWeightBits = 14;
constexpr int kFullWeight = 1 << kWeightBits;

double sinc(double x) {
    if (x == 0)
        return 1;
    const double angle = std::numbers::pi * x;
    return std::sin(angle) / angle;
}

double lanczos(double x) {
    return std::abs(x) < kLobes ? sinc(x) * sinc(x / kLobes) : 0;
}

// Room for one SSE register's numbers, aligned as it needs: a vector of
// __m128i itself drops the type's attributes.
struct alignas(16) Block {
    std::int64_t halves[2];
};

__m128i* lanes(Block* at) {
    return reinterpret_cast<__m128i*>(at);
}

const __m128i* lanes(const Block* at) {
    return reinterpret_cast<const __m128i*>(at);
}

// Two 16-bit weights side by side four times over, as _mm_madd_epi16
// pairs them with the lights of two pixels or rows, channel by channel.
__m128i weightPair(int first, int second) {
    return _mm_set1_epi32(std::int32_t(std::uint32_t(std::uint16_t(first)) |
                                       (std::uint32_t(std::uint16_t(second)) << 16)));
}

// Which source pixels make each pixel of the result along one side, and by
// how much: `pairs` pairs of weights from `first` on, the last ones 0 where
// fewer reach, so that every pixel takes the same steps.
struct Taps {
    std::vector<int> first;
    std::vector<Block> weights;
    int pairs = 1;
};

// Across, the source comes in pairs of pixels: `first` is then always even.
Taps tapsFor(int from, int to, bool pairedSource) {
    Taps taps;
    taps.first.resize(std::size_t(to));
    if (from == to) {
        taps.weights.resize(std::size_t(to));
        for (int i = 0; i < to; ++i) {
            taps.first[std::size_t(i)] = i;
            *lanes(&taps.weights[std::size_t(i)]) = weightPair(kFullWeight, 0);
        }
        return taps;
    }
    const double scale = double(to) / from;
    // Shrinking widens the filter by as much; nothing is ever enlarged,
    // but a side that were would be interpolated.
    const double stretch = std::min(1.0, scale);
    const double reach = kLobes / stretch;
    // As many centres as fit within reach either way, no more than the
    // picture has, and one more for a window moved back to an even pixel.
    const int most = int(std::min(std::ceil(2 * reach), double(from))) + (pairedSource ? 1 : 0);
    taps.pairs = (most + 1) / 2;
    taps.weights.resize(std::size_t(to) * std::size_t(taps.pairs));
    std::vector<double> exact(2 * std::size_t(taps.pairs));
    std::vector<int> rounded(exact.size());
    for (int i = 0; i < to; ++i) {
        const double centre = (i + 0.5) / scale;
        // The source pixels whose centres lie within reach.
        int lo = std::max(0, int(std::ceil(centre - reach - 0.5)));
        if (pairedSource)
            lo &= ~1;
        const int hi = std::min(from, int(std::floor(centre + reach - 0.5)) + 1);
        std::fill(exact.begin(), exact.end(), 0.0);
        double sum = 0;
        for (int s = lo; s < hi && s - lo < int(exact.size()); ++s) {
            exact[std::size_t(s - lo)] = lanczos((s + 0.5 - centre) * stretch);
            sum += exact[std::size_t(s - lo)];
        }
        // Weights that fall off the picture go to those on it, and the
        // rounded ones add up exactly, so that a flat colour stays so.
        int total = 0;
        std::size_t middle = 0;
        for (std::size_t k = 0; k < exact.size(); ++k) {
            rounded[k] = int(std::lround(exact[k] / sum * kFullWeight));
            total += rounded[k];
            if (exact[k] > exact[middle])
                middle = k;
        }
        rounded[middle] += kFullWeight - total;
        taps.first[std::size_t(i)] = lo;
        __m128i* out = lanes(&taps.weights[std::size_t(i) * std::size_t(taps.pairs)]);
        for (std::size_t k = 0; k < std::size_t(taps.pairs); ++k)
            out[k] = weightPair(rounded[2 * k], rounded[2 * k + 1]);
    }
    return taps;
}

// Each level's light in its own 16 bits of a pixel's four (red, green,
// blue, opacity), so that a pixel's light is three loads and two sums.
struct LightTables {
    explicit LightTables(const PictureLight& light) {
        for (std::size_t level = 0; level < 256; ++level) {
            const auto lit = [&](std::size_t c) {
                return std::uint64_t(std::lround(light.ofLevel[c][level] * kFullLight));
            };
            red[level] = lit(0) | std::uint64_t(kFullLight) << 48;
            green[level] = lit(1) << 16;
            blue[level] = lit(2) << 32;
        }
    }
    std::uint64_t red[256];
    std::uint64_t green[256];
    std::uint64_t blue[256];
};

template <bool premultiplied> std::uint64_t lightOf(QRgb pixel, const LightTables& light) {
    const int alpha = premultiplied ? qAlpha(pixel) : 255;
    if (alpha == 255)
        return light.red[qRed(pixel)] + light.green[qGreen(pixel)] + light.blue[qBlue(pixel)];
    if (alpha == 0)
        return 0;
    const auto weighed = [&](const std::uint64_t* table, int level, int shift) {
        const int own = std::min(255, (level * 255 + alpha / 2) / alpha);
        const auto lit = int(table[own] >> shift & 0xffff);
        return std::uint64_t((lit * alpha + 127) / 255) << shift;
    };
    return weighed(light.red, qRed(pixel), 0) | weighed(light.green, qGreen(pixel), 16) |
           weighed(light.blue, qBlue(pixel), 32) |
           std::uint64_t((kFullLight * alpha + 127) / 255) << 48;
}

// One row of pixels into light: each pixel as four 16-bit lights.
template <bool premultiplied>
void lightRow(const QRgb* in, std::uint64_t* out, int width, const LightTables& light) {
    for (int x = 0; x < width; ++x)
        out[x] = lightOf<premultiplied>(in[x], light);
}

// One row of pixels into light, two by two with their channels side by
// side (red of the one, red of the other, green...), as _mm_madd_epi16
// takes them. `out` has room for an odd last pixel's partner.
template <bool premultiplied>
void lightPairs(const QRgb* in, __m128i* out, int width, const LightTables& light) {
    int x = 0;
    for (; x + 1 < width; x += 2)
        out[x / 2] = _mm_unpacklo_epi16(
            _mm_cvtsi64_si128(std::int64_t(lightOf<premultiplied>(in[x], light))),
            _mm_cvtsi64_si128(std::int64_t(lightOf<premultiplied>(in[x + 1], light))));
    if (x < width)
        out[x / 2] = _mm_unpacklo_epi16(
            _mm_cvtsi64_si128(std::int64_t(lightOf<premultiplied>(in[x], light))),
            _mm_setzero_si128());
}

// Back from weighed sums to light; the lobes' overshoot past black and
// white is kept for the next pass.
__m128i toLight(__m128i sum) {
    const __m128i shifted =
        _mm_srai_epi32(_mm_add_epi32(sum, _mm_set1_epi32(kFullWeight / 2)), kWeightBits);
    return _mm_packs_epi32(shifted, shifted);
}

// The pair at `k`, if the steps two by two left one, added to `sum`.
__m128i withLastPair(__m128i sum, const __m128i* source, const __m128i* weight, int k, int pairs) {
    return k < pairs ? _mm_add_epi32(sum, _mm_madd_epi16(source[k], weight[k])) : sum;
}

// A row of pixel pairs filtered across into a row of pixels. `in` holds
// taps.pairs pairs of nothing past its end, for the last taps.
void filterAcross(const __m128i* in, std::uint64_t* out, const Taps& taps) {
    const int width = int(taps.first.size());
    for (int x = 0; x < width; ++x) {
        const __m128i* source = in + taps.first[std::size_t(x)] / 2;
        const __m128i* weight = lanes(&taps.weights[std::size_t(x) * std::size_t(taps.pairs)]);
        __m128i even = _mm_setzero_si128();
        __m128i odd = _mm_setzero_si128();
        int k = 0;
        for (; k + 1 < taps.pairs; k += 2) {
            even = _mm_add_epi32(even, _mm_madd_epi16(source[k], weight[k]));
            odd = _mm_add_epi32(odd, _mm_madd_epi16(source[k + 1], weight[k + 1]));
        }
        _mm_storel_epi64(
            reinterpret_cast<__m128i*>(out + x),
            toLight(withLastPair(_mm_add_epi32(even, odd), source, weight, k, taps.pairs)));
    }
}

__attribute__((target("avx2"))) __m256i loadWide(const __m128i* at) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
}

// The sums of the two halves.
__attribute__((target("avx2"))) __m128i halvesAdded(__m256i sum) {
    return _mm_add_epi32(_mm256_castsi256_si128(sum), _mm256_extracti128_si256(sum, 1));
}

// The same, two pairs at a step and two pixels side by side where the
// processor has AVX2.
__attribute__((target("avx2"))) void filterAcrossWide(const __m128i* in, std::uint64_t* out,
                                                      const Taps& taps) {
    const int width = int(taps.first.size());
    const auto step = std::size_t(taps.pairs);
    int x = 0;
    for (; x + 1 < width; x += 2) {
        const __m128i* left = in + taps.first[std::size_t(x)] / 2;
        const __m128i* right = in + taps.first[std::size_t(x) + 1] / 2;
        const __m128i* leftWeight = lanes(&taps.weights[std::size_t(x) * step]);
        const __m128i* rightWeight = leftWeight + step;
        __m256i a = _mm256_setzero_si256();
        __m256i b = _mm256_setzero_si256();
        int k = 0;
        for (; k + 1 < taps.pairs; k += 2) {
            a = _mm256_add_epi32(a,
                                 _mm256_madd_epi16(loadWide(left + k), loadWide(leftWeight + k)));
            b = _mm256_add_epi32(b,
                                 _mm256_madd_epi16(loadWide(right + k), loadWide(rightWeight + k)));
        }
        const __m128i leftSum = withLastPair(halvesAdded(a), left, leftWeight, k, taps.pairs);
        const __m128i rightSum = withLastPair(halvesAdded(b), right, rightWeight, k, taps.pairs);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x),
                         _mm_unpacklo_epi64(toLight(leftSum), toLight(rightSum)));
    }
    if (x < width) {
        const __m128i* source = in + taps.first[std::size_t(x)] / 2;
        const __m128i* weight = lanes(&taps.weights[std::size_t(x) * step]);
        __m256i a = _mm256_setzero_si256();
        int k = 0;
        for (; k + 1 < taps.pairs; k += 2)
            a = _mm256_add_epi32(a, _mm256_madd_epi16(loadWide(source + k), loadWide(weight + k)));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + x),
                         toLight(withLastPair(halvesAdded(a), source, weight, k, taps.pairs)));
    }
}

// A row of the result from the across-filtered rows it needs, two rows and
// two pixels at a step, from pixel `start` on.
void filterDown(const std::uint64_t* const* rows, const __m128i* weight, std::size_t pairs,
                std::uint64_t* out, int width, int start = 0) {
    const auto load = [](const std::uint64_t* at) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    };
    const auto loadOne = [](const std::uint64_t* at) {
        return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(at));
    };
    for (int x = start; x + 1 < width; x += 2) {
        __m128i left = _mm_setzero_si128();
        __m128i right = _mm_setzero_si128();
        for (std::size_t k = 0; k < pairs; ++k) {
            const __m128i a = load(rows[2 * k] + x);
            const __m128i b = load(rows[2 * k + 1] + x);
            left = _mm_add_epi32(left, _mm_madd_epi16(_mm_unpacklo_epi16(a, b), weight[k]));
            right = _mm_add_epi32(right, _mm_madd_epi16(_mm_unpackhi_epi16(a, b), weight[k]));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x),
                         _mm_unpacklo_epi64(toLight(left), toLight(right)));
    }
    if ((width - start) % 2 != 0) {
        const int x = width - 1;
        __m128i sum = _mm_setzero_si128();
        for (std::size_t k = 0; k < pairs; ++k)
            sum =
                _mm_add_epi32(sum, _mm_madd_epi16(_mm_unpacklo_epi16(loadOne(rows[2 * k] + x),
                                                                     loadOne(rows[2 * k + 1] + x)),
                                                  weight[k]));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + x), toLight(sum));
    }
}

__attribute__((target("avx2"))) __m256i loadFour(const std::uint64_t* at) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
}

// The same, four pixels at a step where the processor has AVX2; the lanes
// hold pixels 0 and 2, 1 and 3, until they are packed back in order.
__attribute__((target("avx2"))) void filterDownWide(const std::uint64_t* const* rows,
                                                    const __m128i* weight, std::size_t pairs,
                                                    std::uint64_t* out, int width, int start) {
    int x = start;
    for (; x + 3 < width; x += 4) {
        __m256i even = _mm256_setzero_si256();
        __m256i odd = _mm256_setzero_si256();
        for (std::size_t k = 0; k < pairs; ++k) {
            const __m256i a = loadFour(rows[2 * k] + x);
            const __m256i b = loadFour(rows[2 * k + 1] + x);
            const __m256i w = _mm256_broadcastsi128_si256(weight[k]);
            even = _mm256_add_epi32(even, _mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), w));
            odd = _mm256_add_epi32(odd, _mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), w));
        }
        const __m256i round = _mm256_set1_epi32(kFullWeight / 2);
        _mm256_storeu_si256(
            reinterpret_cast<__m256i*>(out + x),
            _mm256_packs_epi32(_mm256_srai_epi32(_mm256_add_epi32(even, round), kWeightBits),
                               _mm256_srai_epi32(_mm256_add_epi32(odd, round), kWeightBits)));
    }
    // The compiler leaves the wide registers dirty on a jump to the rest,
    // and every instruction of plain SSE after that pays for it.
    _mm256_zeroupper();
    filterDown(rows, weight, pairs, out, width, x);
}

// The display's levels of the pixel whose red, green and blue lights start
// at lane `first` of `lit`.
template <int first> QRgb levelsOf(__m128i lit, const DisplayLevels& display) {
    return qRgb(display.ofLight[0][std::size_t(_mm_extract_epi16(lit, first))],
                display.ofLight[1][std::size_t(_mm_extract_epi16(lit, first + 1))],
                display.ofLight[2][std::size_t(_mm_extract_epi16(lit, first + 2))]);
}

// One row of light to the display's levels, for opaque pixels whose
// primaries are the display's, as most are: clipped to black and white two
// pixels at a step.
void encodeOpaqueRow(const std::uint64_t* in, QRgb* out, int width, const DisplayLevels& display) {
    const __m128i black = _mm_setzero_si128();
    const __m128i white = _mm_set1_epi16(kFullLight);
    const auto clipped = [&](__m128i lit) {
        return _mm_min_epi16(_mm_max_epi16(lit, black), white);
    };
    int x = 0;
    for (; x + 1 < width; x += 2) {
        const __m128i lit = clipped(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + x)));
        out[x] = levelsOf<0>(lit, display);
        out[x + 1] = levelsOf<4>(lit, display);
    }
    if (x < width)
        out[x] = levelsOf<0>(clipped(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(in + x))),
                             display);
}

// One row of light to the display's levels, any pixels.
void encodeRow(const std::uint64_t* in, QRgb* out, int width, const LightPath& light,
               bool premultiplied) {
    const std::optional<std::array<float, 9>>& matrix = light.picture->toDisplay;
    const auto& levels = light.display->ofLight;
    for (int x = 0; x < width; ++x) {
        const std::uint64_t v = in[x];
        const auto lane = [v](int shift) { return int(std::int16_t(v >> shift & 0xffff)); };
        int lit[3] = {lane(0), lane(16), lane(32)};
        int alpha = kFullLight;
        if (premultiplied) {
            const int opacity = lane(48);
            if (opacity <= 0) {
                out[x] = 0;
                continue;
            }
            // Over the weighed opacity, overshoot and all: a colour next
            // to nothing keeps its own.
            for (int& c : lit)
                c = (c * kFullLight + opacity / 2) / opacity;
            alpha = std::min(opacity, kFullLight);
        }
        if (matrix) {
            const std::array<float, 9>& m = *matrix;
            const float r = float(lit[0]);
            const float g = float(lit[1]);
            const float b = float(lit[2]);
            for (std::size_t c = 0; c < 3; ++c)
                lit[c] = int(std::clamp(m[3 * c] * r + m[3 * c + 1] * g + m[3 * c + 2] * b + 0.5F,
                                        0.0F, float(kFullLight)));
        }
        for (int& c : lit)
            c = std::clamp(c, 0, kFullLight);
        const QRgb shown = qRgb(levels[0][std::size_t(lit[0])], levels[1][std::size_t(lit[1])],
                                levels[2][std::size_t(lit[2])]);
        out[x] = premultiplied
                     ? qPremultiply((shown & 0xffffffU) |
                                    (uint((alpha * 255 + kFullLight / 2) / kFullLight) << 24))
                     : shown;
    }
}

} // namespace

PictureLight pictureLight(const ToneCurves& curves) {
    PictureLight light;
    for (std::size_t c = 0; c < 3; ++c) {
        for (std::size_t level = 0; level < 256; ++level) {
            // A curve of a damaged profile may say anything.
            const float lit = curves[c](float(level) / 255);
            light.ofLevel[c][level] = std::isfinite(lit) ? std::clamp(lit, 0.0F, 1.0F) : 0;
        }
    }
    return light;
}

DisplayLevels displayLevels(const ToneCurves& curves) {
    DisplayLevels levels;
    for (std::size_t c = 0; c < 3; ++c) {
        std::vector<uchar>& table = levels.ofLight[c];
        table.resize(kFullLight + 1);
        // Each light goes to the level whose half-way marks to its
        // neighbours enclose it.
        int level = 0;
        float below = curves[c](0.5F / 255) * kFullLight;
        for (int lit = 0; lit <= kFullLight; ++lit) {
            while (level < 255 && float(lit) >= below) {
                ++level;
                below = curves[c]((float(level) + 0.5F) / 255) * kFullLight;
            }
            table[std::size_t(lit)] = uchar(level);
        }
    }
    return levels;
}

QImage scaleDownInLight(const QImage& image, QSize size, const LightPath& light) {
    const bool premultiplied = image.format() == QImage::Format_ARGB32_Premultiplied;
    QImage result(size, premultiplied ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    if (result.isNull())
        throw LoadError("out of memory for a picture of " + std::to_string(size.width()) + " x " +
                        std::to_string(size.height()) + " pixels");
    static const bool wide = __builtin_cpu_supports("avx2");
    const auto across = wide ? filterAcrossWide : filterAcross;
    const auto down = wide ? filterDownWide : filterDown;
    const int width = size.width();
    const Taps acrossTaps = tapsFor(image.width(), width, true);
    const Taps downTaps = tapsFor(image.height(), size.height(), false);
    const bool sameWidth = image.width() == width;
    const LightTables tables(*light.picture);

    std::vector<Block> pairs(sameWidth ? 0
                                       : std::size_t((image.width() + 1) / 2 + acrossTaps.pairs));
    // The across-filtered rows that rows of the result still need, by
    // source row modulo their most; a row of nothing stands in for those
    // past the picture's last.
    const auto ring = 2 * std::size_t(downTaps.pairs);
    std::vector<std::uint64_t> rows((ring + 1) * std::size_t(width));
    const std::uint64_t* nothing = &rows[ring * std::size_t(width)];
    std::vector<const std::uint64_t*> needed(ring);
    std::vector<std::uint64_t> sum(static_cast<std::size_t>(width));
    int filtered = 0;
    for (int y = 0; y < size.height(); ++y) {
        const int first = downTaps.first[std::size_t(y)];
        const int count = std::min(int(ring), image.height() - first);
        for (; filtered < first + count; ++filtered) {
            const auto* source = reinterpret_cast<const QRgb*>(image.constScanLine(filtered));
            std::uint64_t* row = &rows[std::size_t(filtered) % ring * std::size_t(width)];
            if (sameWidth) {
                (premultiplied ? lightRow<true> : lightRow<false>)(source, row, width, tables);
            } else {
                (premultiplied ? lightPairs<true> : lightPairs<false>)(source, lanes(pairs.data()),
                                                                       image.width(), tables);
                across(lanes(pairs.data()), row, acrossTaps);
            }
        }
        for (std::size_t k = 0; k < ring; ++k)
            needed[k] = int(k) < count ? &rows[(std::size_t(first) + k) % ring * std::size_t(width)]
                                       : nothing;
        down(needed.data(), lanes(&downTaps.weights[std::size_t(y) * std::size_t(downTaps.pairs)]),
             std::size_t(downTaps.pairs), sum.data(), width, 0);
        auto* shown = reinterpret_cast<QRgb*>(result.scanLine(y));
        if (premultiplied || light.picture->toDisplay)
            encodeRow(sum.data(), shown, width, light, premultiplied);
        else
            encodeOpaqueRow(sum.data(), shown, width, *light.display);
    }
    return result;
}

} // namespace pictolune
