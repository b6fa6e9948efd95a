// What colour management costs on a frame the size a 24 MP photo is shown at
// on a 1920 x 1080 screen: the converter for each kind of profile, against
// lcms2 and Qt called directly on the same pixels.
#include "platform/codecs/ColourConverter.h"
#include "support/TestPictures.h"
#include "support/TestProfiles.h"

#include <QColorSpace>
#include <QColorTransform>
#include <QGuiApplication>
#include <benchmark/benchmark.h>

#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include <lcms2.h>

namespace {

using namespace pictolune;
using namespace pictolune::testing;

const QSize kFrame(1620, 1080);

const QImage& frame(QImage::Format format) {
    static const QImage rgb = photographicImage(kFrame);
    static const QImage premultiplied = [] {
        QImage image = rgb.convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < image.height(); ++y) // a soft vignette of alpha
            for (int x = 0; x < image.width(); ++x)
                image.setPixel(x, y, (image.pixel(x, y) & 0xffffff) | uint(128 + x % 128) << 24);
        return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    }();
    return format == QImage::Format_RGB32 ? rgb : premultiplied;
}

// Runs `convert` on a fresh copy of the frame each time; the copy is not
// timed and goes into the same buffer, so no time goes to fresh memory.
void onFrames(benchmark::State& state, QImage::Format format,
              const std::function<void(QImage&)>& convert) {
    const QImage& source = frame(format);
    QImage work(source.size(), source.format());
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(work.bits(), source.constBits(), std::size_t(source.sizeInBytes()));
        state.ResumeTiming();
        convert(work);
        benchmark::DoNotOptimize(work.constBits());
    }
}

void converter(benchmark::State& state, QByteArray profile, QImage::Format format) {
    ColourConverter colours;
    onFrames(state, format, [&](QImage& image) { colours.convert(image, profile); });
}

// Working out what to do with a profile not seen before, with no pixel.
void firstSight(benchmark::State& state, QByteArray profile) {
    QImage pixel(1, 1, QImage::Format_RGB32);
    for (auto _ : state) {
        ColourConverter colours;
        colours.convert(pixel, profile);
        benchmark::DoNotOptimize(pixel.constBits());
    }
}

struct ProfileCloser {
    void operator()(void* profile) const { cmsCloseProfile(profile); }
};
struct TransformDeleter {
    void operator()(void* transform) const { cmsDeleteTransform(transform); }
};

void lcms2Directly(benchmark::State& state, QByteArray profile) {
    const std::unique_ptr<void, ProfileCloser> in(
        cmsOpenProfileFromMem(profile.constData(), cmsUInt32Number(profile.size())));
    const std::unique_ptr<void, ProfileCloser> out(cmsCreate_sRGBProfile());
    const std::unique_ptr<void, TransformDeleter> transform(
        cmsCreateTransform(in.get(), TYPE_BGRA_8, out.get(), TYPE_BGRA_8, INTENT_PERCEPTUAL, 0));
    onFrames(state, QImage::Format_RGB32, [&](QImage& image) {
        const auto stride = cmsUInt32Number(image.bytesPerLine());
        cmsDoTransformLineStride(transform.get(), image.bits(), image.bits(),
                                 cmsUInt32Number(image.width()), cmsUInt32Number(image.height()),
                                 stride, stride, 0, 0);
    });
}

void qtDirectly(benchmark::State& state, QByteArray profile) {
    const QColorTransform transform =
        QColorSpace::fromIccProfile(profile).transformationToColorSpace(QColorSpace::SRgb);
    onFrames(state, QImage::Format_RGB32,
             [&](QImage& image) { image.applyColorTransform(transform); });
}

void cmykRows(benchmark::State& state, bool inverted) {
    std::vector<uchar> cmyk(std::size_t(kFrame.width()) * 4);
    for (std::size_t i = 0; i < cmyk.size(); ++i)
        cmyk[i] = uchar(i * 37 % 251);
    ColourConverter colours;
    const CmykRows rows = colours.cmykRows(cmykProfile(), inverted);
    if (!rows) {
        state.SkipWithError("the CMYK profile was not taken");
        return;
    }
    QImage out(kFrame, QImage::Format_RGB32);
    for (auto _ : state) {
        for (int y = 0; y < out.height(); ++y)
            rows(cmyk.data(), reinterpret_cast<QRgb*>(out.scanLine(y)), out.width());
        benchmark::DoNotOptimize(out.constBits());
    }
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // As in the decoder: Qt may spread a transform over its threads.
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);

    const QByteArray wide = wideGamutProfile();
    const QByteArray table = tableRgbProfile();
    const auto add = [](const char* name, auto function, auto... arguments) {
        benchmark::RegisterBenchmark(name, function, arguments...)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->MeasureProcessCPUTime();
    };
    add("Convert1620x1080/no_profile", converter, QByteArray(), QImage::Format_RGB32);
    add("Convert1620x1080/srgb_profile", converter, tabulatedSrgbProfile(), QImage::Format_RGB32);
    add("Convert1620x1080/wide_gamut", converter, wide, QImage::Format_RGB32);
    add("Convert1620x1080/wide_gamut_premultiplied", converter, wide,
        QImage::Format_ARGB32_Premultiplied);
    add("Convert1620x1080/prophoto", converter, proPhotoProfile(), QImage::Format_RGB32);
    add("Convert1620x1080/table_rgb", converter, table, QImage::Format_RGB32);
    add("Convert1620x1080/table_rgb_premultiplied", converter, table,
        QImage::Format_ARGB32_Premultiplied);
    add("Convert1620x1080/grey", converter, greyProfile(1.8), QImage::Format_RGB32);
    add("CmykRows1620x1080/plain", cmykRows, false);
    add("CmykRows1620x1080/inverted", cmykRows, true);
    add("Lcms2Directly1620x1080/wide_gamut", lcms2Directly, wide);
    add("QtDirectly1620x1080/wide_gamut", qtDirectly, wide);
    add("FirstSight/srgb_profile", firstSight, tabulatedSrgbProfile());
    add("FirstSight/wide_gamut", firstSight, wide);
    add("FirstSight/table_rgb", firstSight, table);

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
