#pragma once

#include "platform/codecs/Downscale.h"

#include <QByteArray>
#include <QImage>
#include <QRgb>

#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

namespace pictolune {

// Turns rows of 8-bit CMYK (4 bytes a pixel) into RGB32 pixels in the
// display's colour space. `cmyk` may be the very memory of `rgb`.
using CmykRows = std::function<void(const uchar* cmyk, QRgb* rgb, int pixels)>;

// Brings decoded pictures from the ICC profile embedded in their file to the
// display's colour space, sRGB unless a display profile is given.
//
// RGB profiles made of primaries and tone curves go through Qt's colour
// transform, about twice as fast as lcms2's on 8-bit pixels; every other
// profile lcms2 can use (tables, grey, CMYK) goes through lcms2, with the
// perceptual intent: the same as relative colorimetric for the first kind,
// and the profile maker's own gamut mapping for the others. A profile that
// cannot be used is ignored: the picture stays as decoded, taken as sRGB.
//
// What to do with a profile is worked out once and kept for the last few
// profiles seen, so that a folder of one camera's photos pays for it once.
// Not thread-safe: one converter per decoding thread.
class ColourConverter {
public:
    // An empty or unusable `displayProfile` means an sRGB display.
    explicit ColourConverter(const QByteArray& displayProfile = {});
    ~ColourConverter();
    ColourConverter(const ColourConverter&) = delete;
    ColourConverter& operator=(const ColourConverter&) = delete;

    // Converts `image` (Format_RGB32 or Format_ARGB32_Premultiplied, as the
    // loader hands pictures out) in place from `profile`. True when its
    // pixels changed; without a profile, with one that matches the display
    // already, or with one that cannot be used, nothing is touched. A grey
    // profile applies to a grey picture decoded to RGB32 (red, green and
    // blue equal); a CMYK profile belongs to cmykRows, not here.
    bool convert(QImage& image, const QByteArray& profile);

    // How `image` (as for convert) from `profile` is scaled in linear light
    // on its way to the display. A profile of primaries and curves lends its
    // curves, and its primaries reach the display's in light, after scaling;
    // a picture in any other profile that can be used (tables, grey) is
    // converted here, in place, and is then scaled as the display's own, as
    // is a picture without a profile or in the display's space already.
    LightPath lightPath(QImage& image, const QByteArray& profile);

    // For a CMYK picture with `profile`: the rows' converter, or an empty
    // function when the profile is not a usable CMYK profile. `inverted`
    // is the Adobe way of storing CMYK JPEGs (0 for full ink), which
    // libjpeg hands out as stored.
    CmykRows cmykRows(const QByteArray& profile, bool inverted);

private:
    struct Conversion;
    // What the pixels are: the key of a conversion beside the profile.
    enum class Use { Rgb32, Premultiplied, Cmyk, CmykInverted };
    struct Target;
    struct CacheEntry {
        std::size_t hash;
        QByteArray profile;
        Use use;
        std::shared_ptr<const Conversion> conversion;
    };

    std::shared_ptr<const Conversion> conversionFor(const QByteArray& profile, Use use);
    std::shared_ptr<const Conversion> makeConversion(const QByteArray& profile, Use use) const;

    std::unique_ptr<Target> target_;
    std::vector<CacheEntry> cache_; // most recently used first
};

} // namespace pictolune
