#include "platform/codecs/ColourConverter.h"

#include <QColorSpace>
#include <QColorTransform>
#include <QHashFunctions>
#include <QLoggingCategory>

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <variant>

#include <lcms2.h>

namespace pictolune {

namespace {

constexpr int kIntent = INTENT_PERCEPTUAL;
constexpr std::size_t kCachedProfiles = 8;

// Two profiles whose primaries differ by less than this, and whose tone
// curves agree to half a level, show every pixel alike.
constexpr double kSameColorant = 1e-3;
constexpr float kSameLevel = 0.5F / 255;

struct ProfileCloser {
    void operator()(void* profile) const { cmsCloseProfile(profile); }
};
using Profile = std::unique_ptr<void, ProfileCloser>;

struct TransformDeleter {
    void operator()(void* transform) const { cmsDeleteTransform(transform); }
};
using Transform = std::unique_ptr<void, TransformDeleter>;

struct CurveDeleter {
    void operator()(cmsToneCurve* curve) const { cmsFreeToneCurve(curve); }
};

using GreyTable = std::array<QRgb, 256>;

Profile openProfile(const QByteArray& bytes) {
    return Profile(cmsOpenProfileFromMem(bytes.constData(), cmsUInt32Number(bytes.size())));
}

// Primaries and three tone curves, with no table for the intent in the
// direction the profile is used: both engines then compute the same thing.
bool isMatrixShaper(cmsHPROFILE profile, int direction) {
    return cmsIsMatrixShaper(profile) && !cmsIsCLUT(profile, kIntent, direction);
}

bool sameColorants(cmsHPROFILE a, cmsHPROFILE b) {
    for (const cmsTagSignature tag :
         {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag}) {
        const auto* x = static_cast<const cmsCIEXYZ*>(cmsReadTag(a, tag));
        const auto* y = static_cast<const cmsCIEXYZ*>(cmsReadTag(b, tag));
        if (!x || !y || std::abs(x->X - y->X) > kSameColorant ||
            std::abs(x->Y - y->Y) > kSameColorant || std::abs(x->Z - y->Z) > kSameColorant)
            return false;
    }
    return true;
}

// Every level, taken to light by `a`'s curve and back by `b`'s, comes home.
bool sameCurves(cmsHPROFILE a, cmsHPROFILE b) {
    for (const cmsTagSignature tag : {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag}) {
        const auto* there = static_cast<const cmsToneCurve*>(cmsReadTag(a, tag));
        const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(b, tag));
        if (!there || !curve)
            return false;
        const std::unique_ptr<cmsToneCurve, CurveDeleter> back(cmsReverseToneCurve(curve));
        if (!back)
            return false;
        for (int level = 0; level < 256; ++level) {
            const float v = float(level) / 255;
            if (std::abs(cmsEvalToneCurveFloat(back.get(), cmsEvalToneCurveFloat(there, v)) - v) >
                kSameLevel)
                return false;
        }
    }
    return true;
}

// True when a picture in `picture`'s space already shows right on `display`.
bool sameSpace(cmsHPROFILE picture, cmsHPROFILE display) {
    return isMatrixShaper(picture, LCMS_USED_AS_INPUT) &&
           isMatrixShaper(display, LCMS_USED_AS_OUTPUT) && sameColorants(picture, display) &&
           sameCurves(picture, display);
}

bool isDeviceProfile(cmsHPROFILE profile) {
    switch (cmsGetDeviceClass(profile)) {
    case cmsSigInputClass:
    case cmsSigDisplayClass:
    case cmsSigOutputClass:
    case cmsSigColorSpaceClass:
        return true;
    default:
        return false;
    }
}

ToneCurves curvesOf(cmsHPROFILE profile) {
    ToneCurves curves;
    const cmsTagSignature tags[] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};
    for (std::size_t c = 0; c < 3; ++c) {
        const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(profile, tags[c]));
        curves[c] = [curve](float level) { return cmsEvalToneCurveFloat(curve, level); };
    }
    return curves;
}

// The primaries' XYZ as the columns of a matrix, row by row.
std::array<double, 9> primariesOf(cmsHPROFILE profile) {
    std::array<double, 9> m{};
    const cmsTagSignature tags[] = {cmsSigRedColorantTag, cmsSigGreenColorantTag,
                                    cmsSigBlueColorantTag};
    for (std::size_t c = 0; c < 3; ++c) {
        const auto* xyz = static_cast<const cmsCIEXYZ*>(cmsReadTag(profile, tags[c]));
        m[c] = xyz->X;
        m[3 + c] = xyz->Y;
        m[6 + c] = xyz->Z;
    }
    return m;
}

std::optional<std::array<double, 9>> inverse(const std::array<double, 9>& m) {
    const double a = m[4] * m[8] - m[5] * m[7];
    const double b = m[5] * m[6] - m[3] * m[8];
    const double c = m[3] * m[7] - m[4] * m[6];
    const double det = m[0] * a + m[1] * b + m[2] * c;
    if (!std::isnormal(det))
        return std::nullopt;
    return std::array<double, 9>{
        a / det, (m[2] * m[7] - m[1] * m[8]) / det, (m[1] * m[5] - m[2] * m[4]) / det,
        b / det, (m[0] * m[8] - m[2] * m[6]) / det, (m[2] * m[3] - m[0] * m[5]) / det,
        c / det, (m[1] * m[6] - m[0] * m[7]) / det, (m[0] * m[4] - m[1] * m[3]) / det};
}

// How a picture in `picture`'s space is scaled in light on a `display`,
// both matrix-shaper profiles: its own curves, then its primaries to the
// display's, as lcms2 takes the one to the other. None for primaries that
// span no space.
std::shared_ptr<const PictureLight> lightOf(cmsHPROFILE picture, cmsHPROFILE display) {
    const std::array<double, 9> from = primariesOf(picture);
    const std::optional<std::array<double, 9>> to = inverse(primariesOf(display));
    if (!to)
        return nullptr;
    auto light = std::make_shared<PictureLight>(pictureLight(curvesOf(picture)));
    std::array<float, 9>& m = light->toDisplay.emplace();
    for (std::size_t row = 0; row < 3; ++row)
        for (std::size_t col = 0; col < 3; ++col)
            m[row * 3 + col] =
                float((*to)[row * 3] * from[col] + (*to)[row * 3 + 1] * from[3 + col] +
                      (*to)[row * 3 + 2] * from[6 + col]);
    return light;
}

void applyGreyTable(QImage& image, const GreyTable& table) {
    const bool premultiplied = image.format() == QImage::Format_ARGB32_Premultiplied;
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = line[x];
            const int alpha = qAlpha(pixel);
            if (!premultiplied || alpha == 255) {
                line[x] = table[std::size_t(qGreen(pixel))];
            } else if (alpha > 0) {
                const int grey = std::min(255, (qGreen(pixel) * 255 + alpha / 2) / alpha);
                const QRgb shown = table[std::size_t(grey)];
                line[x] = qPremultiply(qRgba(qRed(shown), qGreen(shown), qBlue(shown), alpha));
            }
        }
    }
}

} // namespace

// How pixels in one profile reach the display: not at all, through Qt's
// transform, through lcms2's, or, for grey, through a table of the 256 levels.
struct ColourConverter::Conversion {
    std::variant<std::monostate, QColorTransform, Transform, GreyTable> how;
    // For an RGB profile of primaries and curves on such a display.
    std::shared_ptr<const PictureLight> light;
};

struct ColourConverter::Target {
    Profile profile;
    // Qt's view of the same space; invalid when Qt cannot take the profile
    // as primaries and curves, and then only lcms2 converts.
    QColorSpace space;
    // The display's curves, both ways; sRGB's for a display profile made of
    // tables, which is near enough to scale in.
    std::shared_ptr<const PictureLight> light;
    std::shared_ptr<const DisplayLevels> levels;
};

ColourConverter::ColourConverter(const QByteArray& displayProfile)
    : target_(std::make_unique<Target>()) {
    // Qt, its TIFF reader included, warns on stderr of every profile it
    // cannot parse. Such a profile is no fault: lcms2 takes it, or it is
    // ignored.
    static const bool quiet = [] {
        QLoggingCategory::setFilterRules(QStringLiteral("qt.gui.icc=false"));
        return true;
    }();
    (void)quiet;
    if (!displayProfile.isEmpty()) {
        Profile display = openProfile(displayProfile);
        if (display && cmsGetColorSpace(display.get()) == cmsSigRgbData &&
            isDeviceProfile(display.get()) &&
            cmsIsIntentSupported(display.get(), kIntent, LCMS_USED_AS_OUTPUT)) {
            target_->profile = std::move(display);
            if (isMatrixShaper(target_->profile.get(), LCMS_USED_AS_OUTPUT))
                target_->space = QColorSpace::fromIccProfile(displayProfile);
        }
    }
    if (!target_->profile) {
        target_->profile = Profile(cmsCreate_sRGBProfile());
        target_->space = QColorSpace(QColorSpace::SRgb);
    }
    const Profile srgb(cmsCreate_sRGBProfile());
    const ToneCurves curves = curvesOf(isMatrixShaper(target_->profile.get(), LCMS_USED_AS_OUTPUT)
                                           ? target_->profile.get()
                                           : srgb.get());
    target_->light = std::make_shared<const PictureLight>(pictureLight(curves));
    target_->levels = std::make_shared<const DisplayLevels>(displayLevels(curves));
}

ColourConverter::~ColourConverter() = default;

std::shared_ptr<const ColourConverter::Conversion>
ColourConverter::conversionFor(const QByteArray& profile, Use use) {
    const std::size_t hash = qHash(profile);
    const auto hit = std::find_if(cache_.begin(), cache_.end(), [&](const CacheEntry& entry) {
        return entry.hash == hash && entry.use == use && entry.profile == profile;
    });
    if (hit != cache_.end()) {
        std::rotate(cache_.begin(), hit, hit + 1);
        return cache_.front().conversion;
    }
    if (cache_.size() == kCachedProfiles)
        cache_.pop_back();
    cache_.insert(cache_.begin(), CacheEntry{hash, profile, use, makeConversion(profile, use)});
    return cache_.front().conversion;
}

std::shared_ptr<const ColourConverter::Conversion>
ColourConverter::makeConversion(const QByteArray& profile, Use use) const {
    auto conversion = std::make_shared<Conversion>();
    const Profile picture = openProfile(profile);
    if (!picture || !isDeviceProfile(picture.get()))
        return conversion;
    cmsHPROFILE display = target_->profile.get();
    const cmsColorSpaceSignature space = cmsGetColorSpace(picture.get());

    if (use == Use::Cmyk || use == Use::CmykInverted) {
        if (space == cmsSigCmykData) {
            conversion->how = Transform(
                cmsCreateTransform(picture.get(), use == Use::Cmyk ? TYPE_CMYK_8 : TYPE_CMYK_8_REV,
                                   display, TYPE_BGRA_8, kIntent, 0));
        }
    } else if (space == cmsSigRgbData) {
        if (sameSpace(picture.get(), display))
            return conversion;
        const bool matrixShaper =
            target_->space.isValid() && isMatrixShaper(picture.get(), LCMS_USED_AS_INPUT);
        const QColorSpace source =
            matrixShaper ? QColorSpace::fromIccProfile(profile) : QColorSpace();
        if (source.isValid()) {
            conversion->how = source.transformationToColorSpace(target_->space);
        } else {
            const cmsUInt32Number format = use == Use::Rgb32 ? TYPE_BGRA_8 : TYPE_BGRA_8_PREMUL;
            conversion->how =
                Transform(cmsCreateTransform(picture.get(), format, display, format, kIntent, 0));
        }
        if (matrixShaper)
            conversion->light = lightOf(picture.get(), display);
    } else if (space == cmsSigGrayData) {
        // Worked out in floating point: lcms2's 8-bit shortcut for grey is
        // up to ten levels off in the shadows, and there are only 256 levels.
        const Transform levels(
            cmsCreateTransform(picture.get(), TYPE_GRAY_FLT, display, TYPE_RGB_FLT, kIntent, 0));
        if (!levels)
            return conversion;
        std::array<float, 256> grey{};
        std::array<float, std::size_t(3) * 256> rgb{};
        for (std::size_t level = 0; level < grey.size(); ++level)
            grey[level] = float(level) / 255;
        cmsDoTransform(levels.get(), grey.data(), rgb.data(), cmsUInt32Number(grey.size()));
        GreyTable table{};
        bool unchanged = true;
        for (std::size_t level = 0; level < table.size(); ++level) {
            const auto channel = [&](std::size_t i) {
                return int(std::lround(std::clamp(rgb[3 * level + i], 0.0F, 1.0F) * 255));
            };
            table[level] = qRgb(channel(0), channel(1), channel(2));
            for (std::size_t i = 0; i < 3; ++i)
                unchanged = unchanged && std::abs(channel(i) - int(level)) <= 1;
        }
        if (!unchanged)
            conversion->how = table;
    }
    // A transform lcms2 would not build leaves the picture as it is.
    if (const auto* transform = std::get_if<Transform>(&conversion->how);
        transform && !*transform) {
        conversion->how = std::monostate();
        conversion->light.reset();
    }
    return conversion;
}

bool ColourConverter::convert(QImage& image, const QByteArray& profile) {
    if (profile.isEmpty() || image.isNull())
        return false;
    Use use = Use::Rgb32;
    if (image.format() == QImage::Format_ARGB32_Premultiplied)
        use = Use::Premultiplied;
    else if (image.format() != QImage::Format_RGB32)
        return false;

    const std::shared_ptr<const Conversion> conversion = conversionFor(profile, use);
    if (std::holds_alternative<std::monostate>(conversion->how))
        return false;
    if (const auto* transform = std::get_if<QColorTransform>(&conversion->how)) {
        image.applyColorTransform(*transform);
    } else if (const auto* table = std::get_if<GreyTable>(&conversion->how)) {
        applyGreyTable(image, *table);
    } else {
        uchar* pixels = image.bits();
        const auto stride = cmsUInt32Number(image.bytesPerLine());
        cmsDoTransformLineStride(std::get<Transform>(conversion->how).get(), pixels, pixels,
                                 cmsUInt32Number(image.width()), cmsUInt32Number(image.height()),
                                 stride, stride, 0, 0);
    }
    // The pixels now hold the display's colours, as every decoded picture
    // does: it no longer claims the file's space.
    image.setColorSpace(QColorSpace());
    return true;
}

LightPath ColourConverter::lightPath(QImage& image, const QByteArray& profile) {
    LightPath own{target_->light, target_->levels};
    const QImage::Format format = image.format();
    if (profile.isEmpty() ||
        (format != QImage::Format_RGB32 && format != QImage::Format_ARGB32_Premultiplied))
        return own;
    const std::shared_ptr<const Conversion> conversion =
        conversionFor(profile, format == QImage::Format_RGB32 ? Use::Rgb32 : Use::Premultiplied);
    if (conversion->light)
        return {conversion->light, target_->levels};
    convert(image, profile);
    return own;
}

CmykRows ColourConverter::cmykRows(const QByteArray& profile, bool inverted) {
    if (profile.isEmpty())
        return {};
    std::shared_ptr<const Conversion> conversion =
        conversionFor(profile, inverted ? Use::CmykInverted : Use::Cmyk);
    if (!std::holds_alternative<Transform>(conversion->how))
        return {};
    return [conversion = std::move(conversion)](const uchar* cmyk, QRgb* rgb, int pixels) {
        if (pixels <= 0)
            return;
        cmsDoTransform(std::get<Transform>(conversion->how).get(), cmyk, rgb,
                       cmsUInt32Number(pixels));
        // lcms2 leaves the fourth byte alone: opaque it, whatever it held.
        for (int i = 0; i < pixels; ++i)
            rgb[i] |= 0xff000000U;
    };
}

} // namespace pictolune
