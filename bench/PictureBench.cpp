// What it costs to put a picture on a 1920 x 1080 screen: the loader and the
// display, through the decoder processes and in the viewer itself, against
// the plain way and against libjpeg-turbo called directly; and the same photo
// with an embedded wide-gamut colour profile, which it is converted from.
#include "platform/base/Allocator.h"
#include "platform/loading/DecoderPool.h"
#include "platform/loading/LoadPicture.h"
#include "support/DisplayFixture.h"
#include "support/TestPictures.h"
#include "support/TestProfiles.h"

#include <QApplication>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <jpeglib.h>
#include <sys/stat.h>

namespace {

using namespace pictolune;

const QSize kArea(1920, 1080);

QSize fitInto(QSize own, QSize area) {
    if (own.width() <= area.width() && own.height() <= area.height())
        return own;
    return own.scaled(area, Qt::KeepAspectRatio);
}

struct BenchPicture {
    std::string name;
    QString path;
    QSize size;
};

std::vector<BenchPicture> makePictures(const QTemporaryDir& dir) {
    using namespace pictolune::testing;
    std::vector<BenchPicture> pictures = {
        {"jpeg_6000x4000_q90", dir.filePath("photo.jpg"), {6000, 4000}},
        {"bmp_4000x3000", dir.filePath("photo.bmp"), {4000, 3000}},
        {"tiff_4000x3000", dir.filePath("photo.tiff"), {4000, 3000}},
        {"gif_1000x750", dir.filePath("photo.gif"), {1000, 750}},
        {"jpeg_6000x4000_q90_adobe_rgb", dir.filePath("adobe-rgb.jpg"), {6000, 4000}},
    };
    QFile plain(pictures[0].path);
    const bool written =
        writeJpeg(pictures[0].path, pictures[0].size, 90) &&
        writeBmp(pictures[1].path, pictures[1].size) &&
        writeTiff(pictures[2].path, pictures[2].size) &&
        writeGif(pictures[3].path, pictures[3].size) && plain.open(QIODevice::ReadOnly) &&
        writeBytes(pictures[4].path, withIccProfile(plain.readAll(), wideGamutProfile()));
    if (!written) {
        std::fprintf(stderr, "cannot write the benchmark pictures to %s\n", qPrintable(dir.path()));
        std::exit(1);
    }
    return pictures;
}

// (a) The loader told the fitted size, then the picture drawn at that size.
void loadAndRender(benchmark::State& state, const BenchPicture& picture) {
    const QSize fit = fitInto(picture.size, kArea);
    for (auto _ : state) {
        const Picture loaded =
            loadPicture(picture.path, [](QSize own) { return fitInto(own, kArea); });
        const QImage drawn = loaded.render(fit);
        if (drawn.size() != fit)
            state.SkipWithError("drawn at the wrong size");
        benchmark::DoNotOptimize(drawn.constBits());
    }
}

// (b) The plain way: decode everything, then smooth-scale.
void plainDecodeAndScale(benchmark::State& state, const BenchPicture& picture) {
    const QSize fit = fitInto(picture.size, kArea);
    for (auto _ : state) {
        const QImage full(picture.path);
        const QImage drawn = full.scaled(fit, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        if (drawn.size() != fit)
            state.SkipWithError("plain decode failed");
        benchmark::DoNotOptimize(drawn.constBits());
    }
}

// (c) The floor: libjpeg-turbo at the smallest scale_num/8 whose output still
// covers the fitted size, straight into 32-bit rows, then smooth-scaled.
QImage libjpegDecodeCovering(const QByteArray& path, QSize fit) {
    std::FILE* file = std::fopen(path.constData(), "rb");
    if (!file)
        return {};
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors); // a bad file ends the process: fine here
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, file);
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_EXT_BGRX;
    info.scale_denom = 8;
    for (info.scale_num = 1; info.scale_num < 8; ++info.scale_num) {
        jpeg_calc_output_dimensions(&info);
        if (int(info.output_width) >= fit.width() && int(info.output_height) >= fit.height())
            break;
    }
    jpeg_start_decompress(&info);
    QImage decoded(int(info.output_width), int(info.output_height), QImage::Format_RGB32);
    JSAMPROW rows[16];
    while (info.output_scanline < info.output_height) {
        const int count = std::min<int>(16, int(info.output_height - info.output_scanline));
        for (int i = 0; i < count; ++i)
            rows[i] = decoded.scanLine(int(info.output_scanline) + i);
        jpeg_read_scanlines(&info, rows, JDIMENSION(count));
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    std::fclose(file);
    return decoded.scaled(fit, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

void libjpegFloor(benchmark::State& state, const BenchPicture& picture) {
    const QSize fit = fitInto(picture.size, kArea);
    const QByteArray path = QFile::encodeName(picture.path);
    for (auto _ : state) {
        const QImage drawn = libjpegDecodeCovering(path, fit);
        if (drawn.size() != fit)
            state.SkipWithError("libjpeg decode failed");
        benchmark::DoNotOptimize(drawn.constBits());
    }
}

// The display on a shown window with a 1920 x 1080 inner area.
struct Screen : pictolune::testing::DisplayFixture {
    Screen() : DisplayFixture(kArea) { window.show(); }
    bool paint() {
        window.render(&target);
        return image1.visible() && !image1.picture().isEmpty();
    }

    QImage target{kArea, QImage::Format_RGB32};
};

Screen* screen = nullptr;

// A show, and the wait for its pixels, which follow from the event loop when
// they were not decoded within a frame.
void showAndWait() {
    screen->display.showImage();
    while (screen->display.pictureToCome())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// (d) One ShowImage and one paint of the window: decoded in the viewer;
// decoded afresh by the decoder processes, as the program does for a
// picture it had no reason to decode ahead (the file is touched before each
// show, so the one decoded before no longer serves); or ready, decoded ahead.
enum class Source { Viewer, Decoder, Ready };

void showImageAndPaint(benchmark::State& state, const BenchPicture& picture, Source source) {
    std::optional<DecoderPool> decoders;
    if (source == Source::Viewer)
        decoders.emplace(DecoderPool::InViewer{});
    else
        decoders.emplace(PICTOLUNE_DECODER);
    screen->catalogueOf({picture.path});
    // The first show waits for the decoders to start.
    showAndWait();
    const QByteArray path = QFile::encodeName(picture.path);
    for (auto _ : state) {
        if (source == Source::Decoder)
            ::utimensat(AT_FDCWD, path.constData(), nullptr, 0);
        showAndWait();
        if (!screen->paint())
            state.SkipWithError("nothing shown");
    }
}

// (e) A jump nobody could foresee: a show, through the decoders, of a
// picture not decoded ahead while the decoders are busy decoding ahead for
// the picture shown before (its neighbours, the first and the last).
void jumpAndPaint(benchmark::State& state, const BenchPicture& picture) {
    const DecoderPool decoders(PICTOLUNE_DECODER);
    std::vector<QString> links;
    for (int i = 0; i < 8; ++i) {
        links.push_back(picture.path + QStringLiteral(".%1.jpg").arg(i));
        QFile::remove(links.back());
        QFile::link(picture.path, links.back());
    }
    screen->catalogueOf(links);
    showAndWait();
    const QByteArray path = QFile::encodeName(picture.path);
    // Neither a neighbour of the picture before, nor the next random draw.
    const std::int32_t far =
        drawIndex(screen->random.peek(), screen->catalogue.lastIndex) == 5 ? 4 : 5;
    for (auto _ : state) {
        state.PauseTiming();
        ::utimensat(AT_FDCWD, path.constData(), nullptr, 0);
        screen->catalogue.currentIndex = 2;
        showAndWait();
        // The decoding ahead for picture 2 begins once the show is done.
        QCoreApplication::processEvents();
        state.ResumeTiming();
        screen->catalogue.currentIndex = far;
        showAndWait();
        if (!screen->paint())
            state.SkipWithError("nothing shown");
    }
    for (const QString& link : links)
        QFile::remove(link);
}

// (f) A repaint when nothing changed, as while the panel slides over the
// picture: the scaled picture is kept, not made again.
void repaint(benchmark::State& state, const BenchPicture& picture) {
    screen->catalogueOf({picture.path});
    showAndWait();
    screen->paint();
    for (auto _ : state) {
        if (!screen->paint())
            state.SkipWithError("nothing shown");
    }
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" PICTOLUNE_BENCH_SCREEN);
    // As the program does; set PICTOLUNE_BENCH_DEFAULT_MALLOC to compare.
    if (!qEnvironmentVariableIsSet("PICTOLUNE_BENCH_DEFAULT_MALLOC"))
        tuneAllocatorForPictures();
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    // The plain way must not be refused by Qt's default 128 MB limit.
    QImageReader::setAllocationLimit(1024);

    const QTemporaryDir dir;
    const std::vector<BenchPicture> pictures = makePictures(dir);
    Screen theScreen;
    screen = &theScreen;

    // Wall time: Qt spreads large smooth scales over threads.
    const auto add = [](const std::string& name, auto function, const BenchPicture& p) {
        benchmark::RegisterBenchmark((name + "/" + p.name).c_str(), function, p)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->MeasureProcessCPUTime();
    };
    const BenchPicture& jpeg = pictures.front();
    for (const BenchPicture& p : pictures)
        add("LoadAndRender", loadAndRender, p);
    add("PlainDecodeAndScale", plainDecodeAndScale, jpeg);
    add("LibjpegFloor", libjpegFloor, jpeg);
    for (const BenchPicture& p : pictures) {
        add(
            "ShowImageAndPaint/decoder",
            [](benchmark::State& s, const BenchPicture& b) {
                showImageAndPaint(s, b, Source::Decoder);
            },
            p);
        add(
            "ShowImageAndPaint/viewer",
            [](benchmark::State& s, const BenchPicture& b) {
                showImageAndPaint(s, b, Source::Viewer);
            },
            p);
        add(
            "ShowImageAndPaint/ready",
            [](benchmark::State& s, const BenchPicture& b) {
                showImageAndPaint(s, b, Source::Ready);
            },
            p);
    }
    add("JumpAndPaint/decoder", jumpAndPaint, jpeg);
    for (const BenchPicture& p : pictures)
        add("Repaint", repaint, p);

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
