#include "support/TestProfiles.h"

#include <lcms2.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>

namespace pictolune::testing {

namespace {

struct ProfileCloser {
    void operator()(void* profile) const { cmsCloseProfile(profile); }
};
using Profile = std::unique_ptr<void, ProfileCloser>;

QByteArray bytesOf(const Profile& profile) {
    cmsUInt32Number size = 0;
    if (!profile || !cmsSaveProfileToMem(profile.get(), nullptr, &size))
        return {};
    QByteArray bytes(qsizetype(size), '\0');
    return cmsSaveProfileToMem(profile.get(), bytes.data(), &size) ? bytes : QByteArray();
}

void describe(const Profile& profile, const char* text) {
    cmsMLU* description = cmsMLUalloc(nullptr, 1);
    cmsMLUsetASCII(description, "en", "US", text);
    cmsWriteTag(profile.get(), cmsSigProfileDescriptionTag, description);
    cmsMLUfree(description);
}

Profile rgbProfile(const cmsCIExyY& white, const cmsCIExyYTRIPLE& primaries, cmsToneCurve* curve) {
    cmsToneCurve* curves[3] = {curve, curve, curve};
    Profile profile(cmsCreateRGBProfile(&white, &primaries, curves));
    cmsFreeToneCurve(curve);
    return profile;
}

Profile wideGamut() {
    const cmsCIExyY d65{0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries{{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}};
    Profile profile = rgbProfile(d65, primaries, cmsBuildGamma(nullptr, 563.0 / 256.0));
    describe(profile, "Wide gamut RGB (test)");
    return profile;
}

// A profile of `space` whose only content is a table from `channels` inputs
// to Lab, filled by `sample` (inputs and Lab both 16-bit encoded).
Profile tableProfile(cmsColorSpaceSignature space, cmsProfileClassSignature kind, int channels,
                     int gridPoints, cmsSAMPLER16 sample, void* cargo, const char* text) {
    Profile profile(cmsCreateProfilePlaceholder(nullptr));
    cmsSetProfileVersion(profile.get(), 4.3);
    cmsSetDeviceClass(profile.get(), kind);
    cmsSetColorSpace(profile.get(), space);
    cmsSetPCS(profile.get(), cmsSigLabData);
    cmsPipeline* pipeline = cmsPipelineAlloc(nullptr, cmsUInt32Number(channels), 3);
    cmsStage* table = cmsStageAllocCLut16bit(nullptr, cmsUInt32Number(gridPoints),
                                             cmsUInt32Number(channels), 3, nullptr);
    cmsStageSampleCLut16bit(table, sample, cargo, 0);
    // Curves on both sides of the table, identities, as the tag's layout wants.
    cmsPipelineInsertStage(pipeline, cmsAT_END,
                           cmsStageAllocToneCurves(nullptr, cmsUInt32Number(channels), nullptr));
    cmsPipelineInsertStage(pipeline, cmsAT_END, table);
    cmsPipelineInsertStage(pipeline, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
    cmsWriteTag(profile.get(), cmsSigAToB0Tag, pipeline);
    cmsWriteTag(profile.get(), cmsSigMediaWhitePointTag, cmsD50_XYZ());
    cmsPipelineFree(pipeline);
    describe(profile, text);
    return profile;
}

// From 16-bit RGB to 16-bit Lab through the transform in `cargo`.
cmsInt32Number rgbToLab(const cmsUInt16Number in[], cmsUInt16Number out[], void* cargo) {
    cmsDoTransform(cargo, in, out, 1);
    return 1;
}

// Ink multiplies the light away: red is what cyan and black leave, and a
// little of what magenta takes, as real inks are not pure.
cmsInt32Number inkToLab(const cmsUInt16Number in[], cmsUInt16Number out[], void* cargo) {
    constexpr double kImpurity = 0.15;
    const double k = 1.0 - in[3] / 65535.0;
    cmsUInt16Number rgb[3];
    for (int i = 0; i < 3; ++i) {
        const double own = 1.0 - in[i] / 65535.0;
        const double next = 1.0 - kImpurity * in[(i + 1) % 3] / 65535.0;
        rgb[i] = cmsUInt16Number(std::clamp(own * next * k, 0.0, 1.0) * 65535.0);
    }
    cmsDoTransform(cargo, rgb, out, 1);
    return 1;
}

struct TransformDeleter {
    void operator()(void* transform) const { cmsDeleteTransform(transform); }
};
using Transform = std::unique_ptr<void, TransformDeleter>;

Profile openProfile(const QByteArray& bytes) {
    return Profile(bytes.isEmpty()
                       ? cmsCreate_sRGBProfile()
                       : cmsOpenProfileFromMem(bytes.constData(), cmsUInt32Number(bytes.size())));
}

Transform floatTransform(const QByteArray& from, cmsUInt32Number format, const QByteArray& to) {
    const Profile in = openProfile(from);
    const Profile out = openProfile(to);
    return Transform(
        cmsCreateTransform(in.get(), format, out.get(), TYPE_RGB_FLT, INTENT_PERCEPTUAL, 0));
}

int level(float v) {
    return int(std::lround(std::clamp(v, 0.0F, 1.0F) * 255));
}

QByteArray tableProfileFrom(const Profile& rgb, cmsColorSpaceSignature space,
                            cmsProfileClassSignature kind, int channels, int gridPoints,
                            cmsSAMPLER16 sample, const char* text) {
    const Profile lab(cmsCreateLab4Profile(nullptr));
    const Transform toLab(cmsCreateTransform(rgb.get(), TYPE_RGB_16, lab.get(), TYPE_Lab_16,
                                             INTENT_RELATIVE_COLORIMETRIC, 0));
    return bytesOf(tableProfile(space, kind, channels, gridPoints, sample, toLab.get(), text));
}

} // namespace

QByteArray wideGamutProfile() {
    return bytesOf(wideGamut());
}

QByteArray proPhotoProfile() {
    const cmsCIExyY d50{0.3457, 0.3585, 1.0};
    const cmsCIExyYTRIPLE primaries{
        {0.7347, 0.2653, 1.0}, {0.1596, 0.8404, 1.0}, {0.0366, 0.0001, 1.0}};
    Profile profile = rgbProfile(d50, primaries, cmsBuildGamma(nullptr, 1.8));
    describe(profile, "ProPhoto-like RGB (test)");
    return bytesOf(profile);
}

QByteArray srgbProfile() {
    return bytesOf(Profile(cmsCreate_sRGBProfile()));
}

QByteArray tabulatedSrgbProfile() {
    const cmsCIExyY d65{0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries{{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
    const cmsFloat64Number srgb[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    cmsToneCurve* formula = cmsBuildParametricToneCurve(nullptr, 4, srgb);
    cmsUInt16Number table[1024];
    for (int i = 0; i < 1024; ++i)
        table[i] = cmsUInt16Number(cmsEvalToneCurveFloat(formula, float(i) / 1023) * 65535 + 0.5);
    cmsFreeToneCurve(formula);
    Profile profile =
        rgbProfile(d65, primaries, cmsBuildTabulatedToneCurve16(nullptr, 1024, table));
    cmsSetProfileVersion(profile.get(), 2.1);
    describe(profile, "sRGB with tabulated curves (test)");
    return bytesOf(profile);
}

QByteArray greyProfile(double gamma) {
    cmsToneCurve* curve = cmsBuildGamma(nullptr, gamma);
    Profile profile(cmsCreateGrayProfile(cmsD50_xyY(), curve));
    cmsFreeToneCurve(curve);
    describe(profile, "Grey (test)");
    return bytesOf(profile);
}

QByteArray tableRgbProfile() {
    return tableProfileFrom(wideGamut(), cmsSigRgbData, cmsSigInputClass, 3, 17, rgbToLab,
                            "Wide gamut RGB as a table (test)");
}

QByteArray cmykProfile() {
    return tableProfileFrom(Profile(cmsCreate_sRGBProfile()), cmsSigCmykData, cmsSigOutputClass, 4,
                            9, inkToLab, "Simple press CMYK (test)");
}

QImage lcmsReference(const QImage& picture, const QByteArray& profile, const QByteArray& display,
                     bool grey) {
    const Transform transform =
        floatTransform(profile, grey ? TYPE_GRAY_FLT : TYPE_RGB_FLT, display);
    if (!transform)
        return {};
    QImage out = picture;
    for (int y = 0; y < out.height(); ++y) {
        for (int x = 0; x < out.width(); ++x) {
            const QRgb stored = out.pixel(x, y);
            const float alpha = float(qAlpha(stored)) / 255.0F;
            if (alpha == 0)
                continue;
            const float in[3] = {float(qRed(stored)) / 255.0F / alpha,
                                 float(qGreen(stored)) / 255.0F / alpha,
                                 float(qBlue(stored)) / 255.0F / alpha};
            float rgb[3];
            cmsDoTransform(transform.get(), grey ? &in[1] : in, rgb, 1);
            const auto shown = [&](float v) { return level(std::clamp(v, 0.0F, 1.0F) * alpha); };
            out.setPixel(x, y, qRgba(shown(rgb[0]), shown(rgb[1]), shown(rgb[2]), qAlpha(stored)));
        }
    }
    return out;
}

std::vector<QRgb> lcmsCmykReference(const std::vector<uchar>& cmyk, const QByteArray& profile,
                                    bool inverted) {
    const Transform transform = floatTransform(profile, TYPE_CMYK_FLT, {});
    std::vector<QRgb> out;
    if (!transform)
        return out;
    for (std::size_t i = 0; i + 4 <= cmyk.size(); i += 4) {
        float ink[4];
        float rgb[3];
        for (std::size_t j = 0; j < 4; ++j) // lcms2 counts float ink in percent
            ink[j] = float(inverted ? 255 - cmyk[i + j] : cmyk[i + j]) * 100.0F / 255.0F;
        cmsDoTransform(transform.get(), ink, rgb, 1);
        out.push_back(qRgb(level(rgb[0]), level(rgb[1]), level(rgb[2])));
    }
    return out;
}

int largestDifference(const QImage& a, const QImage& b) {
    if (a.size() != b.size() || a.format() != b.format())
        return 256;
    int largest = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            largest =
                std::max({largest, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                          std::abs(qBlue(p) - qBlue(q)), std::abs(qAlpha(p) - qAlpha(q))});
        }
    }
    return largest;
}

} // namespace pictolune::testing
