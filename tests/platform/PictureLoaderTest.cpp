#include "platform/base/Errors.h"
#include "platform/base/UniqueFd.h"
#include "platform/codecs/ColourConverter.h"
#include "platform/codecs/Decode.h"
#include "platform/files/FileNames.h"
#include "platform/loading/LoadPicture.h"
#include "support/ProcessMemory.h"
#include "support/TestPictures.h"
#include "support/TestProfiles.h"

#include <QColorSpace>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace pictolune {
namespace {

using namespace pictolune::testing;

// The size the display draws a picture at: shrunk to fit, never enlarged.
QSize fitInto(QSize own, QSize area) {
    if (own.width() <= area.width() && own.height() <= area.height())
        return own;
    return own.scaled(area, Qt::KeepAspectRatio);
}

DrawSizeChooser fitChooser(QSize area) {
    return [area](QSize own) { return fitInto(own, area); };
}

// Mean absolute difference per colour channel, in 0..255.
double meanDifference(const QImage& a, const QImage& b) {
    if (a.size() != b.size())
        return 255;
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    double sum = 0;
    for (int row = 0; row < x.height(); ++row) {
        const auto* p = reinterpret_cast<const QRgb*>(x.constScanLine(row));
        const auto* q = reinterpret_cast<const QRgb*>(y.constScanLine(row));
        for (int col = 0; col < x.width(); ++col) {
            sum += std::abs(qRed(p[col]) - qRed(q[col])) +
                   std::abs(qGreen(p[col]) - qGreen(q[col])) +
                   std::abs(qBlue(p[col]) - qBlue(q[col]));
        }
    }
    return sum / (3.0 * x.width() * x.height());
}

constexpr long kFullFrame24MpKb = 6000L * 4000 * 4 / 1024;

std::string loadOutcome(const QString& path, const DrawSizeChooser& chooser = {}) {
    try {
        const Picture picture = loadPicture(path, chooser);
        return picture.isEmpty() ? "empty" : "picture";
    } catch (const LoadError&) {
        return "LoadError";
    } catch (const std::exception& e) {
        return std::string("other error: ") + e.what();
    }
}

class PictureLoaderTest : public ::testing::Test {
protected:
    QString path(const QString& name) const { return dir_.filePath(name); }
    QTemporaryDir dir_;
};

TEST_F(PictureLoaderTest, EmptyPathIsAnEmptyPicture) {
    const Picture picture = loadPicture(QString());
    EXPECT_TRUE(picture.isEmpty());
    EXPECT_TRUE(picture.raster().isNull());
}

struct FormatCase {
    const char* name;
    const char* file;
    QSize size;
    std::function<bool(const QString&, const QImage&)> write;
    // What the decoder should give back, from what was written.
    std::function<QImage(const QImage&)> expected;
    double tolerance;
};

class FormatTest : public PictureLoaderTest, public ::testing::WithParamInterface<FormatCase> {};

// `image` smooth-scaled to `size` by Qt in linear light: what a scale in
// light gives, near enough, by other means than the loader's.
QImage scaledInLight(const QImage& image, QSize size) {
    QImage deep = image.convertToFormat(QImage::Format_RGBA64);
    deep.setColorSpace(QColorSpace::SRgb);
    deep.convertToColorSpace(QColorSpace::SRgbLinear);
    deep = deep.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    deep.convertToColorSpace(QColorSpace::SRgb);
    return deep.convertToFormat(QImage::Format_RGB32);
}

// Each format decodes with its own size and its content; a reduced decode
// hands back exactly the chosen size, scaled in light.
TEST_P(FormatTest, DecodesWholeAndReduced) {
    const FormatCase& c = GetParam();
    const QImage source = photographicImage(c.size, 7);
    ASSERT_TRUE(c.write(path(c.file), source));
    const QImage expected = c.expected(source);

    const Picture whole = loadPicture(path(c.file));
    EXPECT_EQ(whole.size(), c.size);
    EXPECT_EQ(whole.raster().size(), c.size);
    EXPECT_EQ(whole.raster().format(), QImage::Format_RGB32);
    EXPECT_LE(meanDifference(whole.raster(), expected), c.tolerance);

    const QSize half = c.size / 2;
    QSize asked;
    const Picture reduced = loadPicture(path(c.file), [&](QSize own) {
        asked = own;
        return half;
    });
    EXPECT_EQ(asked, c.size);
    EXPECT_EQ(reduced.size(), c.size);
    EXPECT_EQ(reduced.raster().size(), half);
    // Qt's filter is not the loader's: per-pixel noise averages differently.
    EXPECT_LE(meanDifference(reduced.raster(), scaledInLight(expected, half)), c.tolerance + 4);
}

QImage same(const QImage& image) {
    return image;
}

using ImageWriter = bool (*)(const QString&, const QImage&);

INSTANTIATE_TEST_SUITE_P(
    Formats, FormatTest,
    ::testing::Values(
        // Chroma subsampling smears the noise; a wrong channel order or
        // orientation would differ by far more.
        FormatCase{"Jpeg",
                   "a.jpg",
                   {320, 240},
                   [](const QString& p, const QImage& i) { return writeJpeg(p, i, 95); },
                   same,
                   10},
        FormatCase{"BmpOddWidth", "b.bmp", {321, 239}, ImageWriter(writeBmp), same, 0},
        FormatCase{"Tiff", "c.tiff", {257, 130}, ImageWriter(writeTiff), same, 0},
        FormatCase{"Gif", "d.gif", {300, 200}, ImageWriter(writeGif), asGifShowsIt, 0},
        // The content decides, not the name.
        FormatCase{"JpegNamedGif",
                   "e.gif",
                   {200, 100},
                   [](const QString& p, const QImage& i) { return writeJpeg(p, i, 95); },
                   same,
                   10}),
    [](const ::testing::TestParamInfo<FormatCase>& info) { return info.param.name; });

// The mean and standard deviation of the green levels of `image` at the
// pixels whose centres `inside` takes, in the coordinates of a picture
// `scale` times as large; and how many those were.
struct Spread {
    double mean = 0;
    double deviation = 0;
    int pixels = 0;
};

Spread spreadOf(const QImage& image, double scale,
                const std::function<bool(double x, double y)>& inside) {
    double sum = 0, squares = 0;
    Spread spread;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (!inside((x + 0.5) * scale, (y + 0.5) * scale))
                continue;
            const int level = qGreen(image.pixel(x, y));
            sum += level;
            squares += double(level) * level;
            ++spread.pixels;
        }
    }
    spread.mean = sum / spread.pixels;
    spread.deviation =
        std::sqrt(std::max(0.0, squares / spread.pixels - spread.mean * spread.mean));
    return spread;
}

// The level of the mean light of `image`'s green at the pixels `inside`
// takes.
int levelOfMeanLight(const QImage& image, const std::function<bool(double x, double y)>& inside) {
    double light = 0;
    int pixels = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (inside(x + 0.5, y + 0.5)) {
                light += lightOfLevel(qGreen(image.pixel(x, y)));
                ++pixels;
            }
        }
    }
    return levelOfLight(light / pixels);
}

// Detail finer than the pixels of the picture drawn smaller becomes the
// flat grey of its light, in every format: one-pixel lines, and a zone
// plate where its rings are half again finer than the result holds; not
// the darker grey that averaging the levels gives (127 for the lines), nor
// the bands and moire of too little filtering. Drawn at 0.55 of their size
// (a JPEG is decoded whole for that, where its scaled decode would average
// levels).
TEST_F(PictureLoaderTest, FineDetailShrinksToTheGreyOfItsLight) {
    const QSize size(320, 240);
    const double scale = 320.0 / 176;
    const double corner = std::hypot(160.0, 120.0);
    // Where a source pixel's detail lies well past what the result holds,
    // `margin` pixels away from anything else.
    const auto lines = [size](double margin) {
        return [size, margin](double x, double y) {
            return x > margin && y > margin && x < size.width() - margin &&
                   y < size.height() - margin;
        };
    };
    const auto fineRings = [size, corner](double margin) {
        return [size, corner, margin](double x, double y) {
            const double r = std::hypot(x - size.width() / 2.0, y - size.height() / 2.0);
            return r > 0.86 * corner + margin && r < 0.97 * corner - margin && x > margin &&
                   y > margin && x < size.width() - margin && y < size.height() - margin;
        };
    };
    const struct {
        const char* name;
        QImage picture;
        std::function<std::function<bool(double, double)>(double)> where;
    } patterns[] = {{"lines", lineField(size), lines}, {"zone plate", zonePlate(size), fineRings}};
    const struct {
        const char* file;
        std::function<bool(const QString&, const QImage&)> write;
    } formats[] = {
        {"p.jpg", [](const QString& p, const QImage& i) { return writeJpeg(p, i, 100); }},
        {"p.bmp", ImageWriter(writeBmp)},
        {"p.gif", ImageWriter(writeGreyGif)},
        {"p.tiff", ImageWriter(writeTiff)}};
    // The filter's reach, in source pixels.
    const double reach = 3 * scale;
    for (const auto& pattern : patterns) {
        for (const auto& format : formats) {
            SCOPED_TRACE(std::string(pattern.name) + " in " + format.file);
            ASSERT_TRUE(format.write(path(format.file), pattern.picture));
            const QImage whole = loadPicture(path(format.file)).raster();
            const QImage drawn = loadPicture(path(format.file), fitChooser({176, 132})).raster();
            ASSERT_EQ(drawn.size(), QSize(176, 132));
            const int light = levelOfMeanLight(whole, pattern.where(0));
            const Spread shown = spreadOf(drawn, scale, pattern.where(reach));
            ASSERT_GT(shown.pixels, 200);
            EXPECT_NEAR(shown.mean, light, 2);
            EXPECT_LT(shown.deviation, 2.5);
        }
    }
}

TEST_F(PictureLoaderTest, DecodeSizeFollowsTheChooserWithinThePicture) {
    const QSize own(400, 300);
    ASSERT_TRUE(writeJpeg(path("p.jpg"), own));
    ASSERT_TRUE(writeBmp(path("p.bmp"), own));
    const struct {
        QSize answer, raster;
    } cases[] = {
        {{400, 300}, {400, 300}}, // exact fit: whole picture
        {{800, 600}, {400, 300}}, // never enlarged
        {{-1, -1}, {400, 300}},   // no answer: whole picture
        {{200, 150}, {200, 150}}, {{133, 100}, {133, 100}},
        {{500, 100}, {400, 100}}, // each side held to the picture
        {{0, 0}, {1, 1}},         // nothing to draw: the least work
    };
    for (const QString name : {"p.jpg", "p.bmp"}) {
        for (const auto& c : cases) {
            const Picture picture = loadPicture(path(name), [&](QSize) { return c.answer; });
            EXPECT_EQ(picture.size(), own) << name.toStdString();
            EXPECT_EQ(picture.raster().size(), c.raster)
                << name.toStdString() << " answering " << c.answer.width() << "x"
                << c.answer.height();
        }
    }
}

// A flat colour stays exactly that colour, to the last pixel, whatever the
// sizes: the filter's weights add up to one at every edge, and odd rows and
// columns come out as whole as even ones. Next to nothing, it keeps its
// colour too, however transparent the edge becomes: colours are weighed by
// their opacity.
TEST_F(PictureLoaderTest, FlatColourStaysFlatAtAnySize) {
    const QRgb colour = qRgb(200, 90, 30);
    QImage flat(321, 239, QImage::Format_RGB32);
    flat.fill(colour);
    QImage edge(321, 239, QImage::Format_ARGB32);
    edge.fill(Qt::transparent);
    for (int y = 0; y < edge.height(); ++y)
        for (int x = 160; x < edge.width(); ++x)
            edge.setPixel(x, y, colour);
    ASSERT_TRUE(writeBmp(path("flat.bmp"), flat));
    ASSERT_TRUE(writeTiff(path("edge.tiff"), edge));
    for (const QSize answer : {QSize(160, 119), QSize(1, 1), QSize(321, 7), QSize(5, 239),
                               QSize(99, 98), QSize(320, 238)}) {
        SCOPED_TRACE(std::to_string(answer.width()) + " x " + std::to_string(answer.height()));
        const auto chooser = [answer](QSize) { return answer; };
        const QImage shown = loadPicture(path("flat.bmp"), chooser).raster();
        const QImage faded = loadPicture(path("edge.tiff"), chooser).raster();
        ASSERT_EQ(shown.size(), answer);
        ASSERT_EQ(faded.size(), answer);
        int off = 0;
        int discoloured = 0;
        for (int y = 0; y < answer.height(); ++y) {
            for (int x = 0; x < answer.width(); ++x) {
                off += shown.pixel(x, y) != colour;
                const QRgb seen = faded.pixel(x, y);
                const QRgb own = qPremultiply((colour & 0xffffffU) | (seen & 0xff000000U));
                discoloured += std::max({std::abs(qRed(seen) - qRed(own)),
                                         std::abs(qGreen(seen) - qGreen(own)),
                                         std::abs(qBlue(seen) - qBlue(own))}) > 1;
            }
        }
        EXPECT_EQ(off, 0);
        EXPECT_EQ(discoloured, 0);
    }
}

enum class Corner { TopLeft, TopRight, BottomLeft, BottomRight };

QPoint inside(Corner corner, QSize size, int inset) {
    const int x = (corner == Corner::TopLeft || corner == Corner::BottomLeft)
                      ? inset
                      : size.width() - 1 - inset;
    const int y = (corner == Corner::TopLeft || corner == Corner::TopRight)
                      ? inset
                      : size.height() - 1 - inset;
    return {x, y};
}

// The stored picture has a red square at its top left and a blue one at its
// top right; each orientation tag puts them in known corners once upright.
TEST_F(PictureLoaderTest, ExifOrientationGivesUprightPictureAndSize) {
    const QSize stored(240, 160);
    QImage image(stored, QImage::Format_RGB32);
    image.fill(qRgb(128, 128, 128));
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 40; ++x) {
            image.setPixel(x, y, qRgb(255, 0, 0));
            image.setPixel(stored.width() - 1 - x, y, qRgb(0, 0, 255));
        }
    }
    const struct {
        int orientation;
        Corner red, blue;
    } cases[] = {
        {1, Corner::TopLeft, Corner::TopRight},       {2, Corner::TopRight, Corner::TopLeft},
        {3, Corner::BottomRight, Corner::BottomLeft}, {4, Corner::BottomLeft, Corner::BottomRight},
        {5, Corner::TopLeft, Corner::BottomLeft},     {6, Corner::TopRight, Corner::BottomRight},
        {7, Corner::BottomRight, Corner::TopRight},   {8, Corner::BottomLeft, Corner::TopLeft},
    };
    const QSize area(100, 100);
    for (const auto& c : cases) {
        SCOPED_TRACE("orientation " + std::to_string(c.orientation));
        const QString file = path(QString("o%1.jpg").arg(c.orientation));
        ASSERT_TRUE(writeJpegWithOrientation(file, image, c.orientation, 95));
        const QSize upright = c.orientation >= 5 ? stored.transposed() : stored;

        const Picture whole = loadPicture(file);
        const Picture reduced = loadPicture(file, fitChooser(area));
        EXPECT_EQ(whole.size(), upright);
        EXPECT_EQ(reduced.size(), upright);
        EXPECT_EQ(whole.raster().size(), upright);
        EXPECT_EQ(reduced.raster().size(), fitInto(upright, area));

        for (const Picture* picture : {&whole, &reduced}) {
            const QImage& r = picture->raster();
            const int inset = 40 * r.width() / upright.width() / 2;
            const QRgb red = r.pixel(inside(c.red, r.size(), inset));
            const QRgb blue = r.pixel(inside(c.blue, r.size(), inset));
            EXPECT_TRUE(qRed(red) > 200 && qGreen(red) < 60 && qBlue(red) < 60)
                << "red corner is " << std::hex << red;
            EXPECT_TRUE(qBlue(blue) > 200 && qRed(blue) < 60 && qGreen(blue) < 60)
                << "blue corner is " << std::hex << blue;
        }
    }
}

TEST_F(PictureLoaderTest, LargePhotoFitToScreenDecodesReducedWithoutTheFullFrame) {
    ASSERT_TRUE(writeJpeg(path("24mp.jpg"), QSize(6000, 4000), 90));
    const PeakGrowth memory;
    const Picture picture = loadPicture(path("24mp.jpg"), fitChooser({1920, 1080}));
    EXPECT_EQ(picture.size(), QSize(6000, 4000));
    EXPECT_EQ(picture.raster().size(), QSize(1620, 1080));
    if (const auto growth = memory.kb()) {
        EXPECT_LT(*growth, kFullFrame24MpKb * 2 / 3) << "peak memory grew by " << *growth << " KiB";
    }
}

TEST_F(PictureLoaderTest, FortyEightMegapixelsLoadWholeAndReduced) {
    ASSERT_TRUE(writeJpeg(path("48mp.jpg"), QSize(8000, 6000), 90));
    // 183 MB decoded: more than Qt's default reader limit allows.
    const Picture whole = loadPicture(path("48mp.jpg"));
    EXPECT_EQ(whole.size(), QSize(8000, 6000));
    EXPECT_EQ(whole.raster().size(), QSize(8000, 6000));

    const Picture reduced = loadPicture(path("48mp.jpg"), fitChooser({1920, 1080}));
    EXPECT_EQ(reduced.size(), QSize(8000, 6000));
    EXPECT_EQ(reduced.raster().size(), QSize(1440, 1080));
}

// Headers claiming 65535 x 65535 pixels with nothing behind them are refused
// before any buffer is allocated, also with a chooser, under which a JPEG
// would otherwise decode at 1/8 scale into 268 MB.
TEST_F(PictureLoaderTest, DecompressionBombsAreRefusedFromTheHeader) {
    const QSize claim(65535, 65535);
    const struct {
        const char* file;
        QByteArray bytes;
    } cases[] = {
        {"bomb.bmp", bmpHeaderClaiming(claim)},
        {"bomb.gif", gifClaiming(claim)},
        {"bomb.tiff", tiffClaiming(claim)},
        {"bomb.jpg", jpegClaiming({65500, 65500})}, // libjpeg's largest
        // Its byte count passes 64 bits: the check must not overflow.
        {"bomb-2147483647-square.tiff", tiffClaiming({2147483647, 2147483647})},
        // A progressive JPEG keeps every coefficient until its last scan:
        // 1.2 GB for this one, though it would be drawn from 1/8 of it.
        {"coefficients-bomb.jpg", progressiveJpegWithEmptyScans({24000, 24000}, 0)},
        // Just under the memory bound, from a file of a few dozen bytes.
        {"near-bound-bomb.bmp", bmpHeaderClaiming({16384, 16000})},
        {"near-bound-bomb.gif", gifClaiming({16384, 12321})},
        {"near-bound-bomb.tiff", tiffClaiming({16000, 16000})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        ASSERT_FALSE(c.bytes.isEmpty());
        ASSERT_TRUE(writeBytes(path(c.file), c.bytes));
        for (const DrawSizeChooser& chooser : {DrawSizeChooser{}, fitChooser({1920, 1080})}) {
            const PeakGrowth memory;
            EXPECT_EQ(loadOutcome(path(c.file), chooser), "LoadError");
            if (const auto growth = memory.kb()) {
                EXPECT_LT(*growth, 64 * 1024) << "peak memory grew by " << *growth << " KiB";
            }
        }
    }
}

// A panorama or a scan too large to hold whole shows all the same, decoded
// at 1/8 scale.
TEST_F(PictureLoaderTest, HugeJpegShowsDecodedReduced) {
    ASSERT_TRUE(writeBytes(path("panorama.jpg"), greyBaselineJpeg({20000, 15000})));
    const Picture picture = loadPicture(path("panorama.jpg"), fitChooser({1920, 1080}));
    EXPECT_EQ(picture.size(), QSize(20000, 15000));
    EXPECT_EQ(picture.raster().size(), QSize(1440, 1080));
    EXPECT_EQ(picture.raster().pixel(700, 500), qRgb(128, 128, 128));
    EXPECT_EQ(loadOutcome(path("panorama.jpg")), "LoadError");
}

// Each kind of JPEG decodes to what Qt's own reader makes of it: pixel for
// pixel whole, and within rounding when reduced (the two pick their DCT
// scales differently).
TEST_F(PictureLoaderTest, JpegDecodesAsQtsReaderDoes) {
    QImage grey(90, 70, QImage::Format_Grayscale8);
    for (int y = 0; y < grey.height(); ++y)
        for (int x = 0; x < grey.width(); ++x)
            grey.scanLine(y)[x] = uchar((x * 3 + y * 2) % 256);
    QImageWriter progressive(path("progressive.jpg"), "jpeg");
    progressive.setProgressiveScanWrite(true);
    ASSERT_TRUE(progressive.write(photographicImage({300, 200}, 3)));
    ASSERT_TRUE(writeJpeg(path("colour.jpg"), photographicImage({300, 200}, 4), 95));
    ASSERT_TRUE(grey.save(path("grey.jpg"), "jpeg", 95));
    ASSERT_TRUE(writeBytes(path("cmyk.jpg"), fourComponentJpeg({256, 64}, 0)));
    ASSERT_TRUE(writeBytes(path("ycck.jpg"), fourComponentJpeg({256, 64}, 2)));
    for (const char* name : {"colour.jpg", "progressive.jpg", "grey.jpg", "cmyk.jpg", "ycck.jpg"}) {
        SCOPED_TRACE(name);
        const QImage qt = QImage(path(name)).convertToFormat(QImage::Format_RGB32);
        ASSERT_FALSE(qt.isNull());
        const Picture whole = loadPicture(path(name));
        EXPECT_EQ(whole.raster(), qt);
        const QSize half = qt.size() / 2;
        QImageReader reader(path(name));
        reader.setScaledSize(half);
        const Picture reduced = loadPicture(path(name), [half](QSize) { return half; });
        EXPECT_LE(meanDifference(reduced.raster(), reader.read()), 1.5);
    }
    // The four-component pictures are not all one colour.
    const QImage cmyk = loadPicture(path("cmyk.jpg")).raster();
    EXPECT_NE(cmyk.pixel(4, 4), cmyk.pixel(12, 4));
}

QByteArray claimingSize(QByteArray profile, quint32 size) {
    qToBigEndian(size, profile.data());
    return profile;
}

// A picture's embedded profile takes it to sRGB as lcms2 does, wherever the
// profile lies: in one APP2 marker or several, or in a TIFF's tag, also one
// Qt cannot parse (a table). Without one, with sRGB's (as a formula or as
// cameras write it), or with one that is cut short or claims more bytes than
// it has, the picture is shown as stored, and never fails: also drawn
// smaller, where the JPEGs here decode at exactly their drawn size, and the
// TIFFs without a profile to honour are scaled alike.
TEST_F(PictureLoaderTest, EmbeddedColourProfilesAreHonoured) {
    const QImage stored = photographicImage({240, 160}, 5);
    const QByteArray wide = wideGamutProfile();
    const QByteArray jpeg = jpegWithProfile(stored, {});
    ASSERT_TRUE(writeBytes(path("plain.jpg"), jpeg));
    ASSERT_TRUE(writeBytes(path("plain.tiff"), tiffWithProfile(stored, {})));
    const QByteArray proPhoto = proPhotoProfile();
    const QByteArray table = tableRgbProfile();
    const struct {
        const char* file;
        QByteArray bytes;
        QByteArray shownFrom; // empty: shown as stored
        // In levels. For 8-bit pixels lcms2 resamples a table onto a grid
        // of its own: many levels off where the gamut is clipped, though
        // no more than rounding on average.
        int tolerance = 2;
    } cases[] = {
        {"wide.jpg", withIccProfile(jpeg, wide), wide},
        {"wide-in-pieces.jpg", withIccProfile(jpeg, wide, 150), wide},
        {"wide.tiff", tiffWithProfile(stored, wide), wide},
        {"ProPhoto.tiff", tiffWithProfile(stored, proPhoto), proPhoto},
        {"table.tiff", tiffWithProfile(stored, table), table, 16},
        {"sRGB.jpg", withIccProfile(jpeg, srgbProfile()), {}},
        {"camera-sRGB.jpg", withIccProfile(jpeg, tabulatedSrgbProfile()), {}},
        {"sRGB.tiff", tiffWithProfile(stored, srgbProfile()), {}},
        {"camera-sRGB.tiff", tiffWithProfile(stored, tabulatedSrgbProfile()), {}},
        {"cut.jpg", withIccProfile(jpeg, wide.left(300)), {}},
        {"cut-in-pieces.jpg", withIccProfile(jpeg, wide.left(300), 150), {}},
        {"cut.tiff", tiffWithProfile(stored, wide.left(300)), {}},
        {"huge.jpg", withIccProfile(jpeg, claimingSize(wide, 0xfffffff0)), {}},
        {"huge.tiff", tiffWithProfile(stored, claimingSize(wide, 0xfffffff0)), {}},
    };
    for (const DrawSizeChooser& chooser : {DrawSizeChooser{}, fitChooser({120, 80})}) {
        const QImage jpegPixels = loadPicture(path("plain.jpg"), chooser).raster();
        const QImage tiffPixels = loadPicture(path("plain.tiff"), chooser).raster();
        for (const auto& c : cases) {
            SCOPED_TRACE(c.file);
            ASSERT_TRUE(writeBytes(path(c.file), c.bytes));
            const bool isJpeg = QString(c.file).endsWith(".jpg");
            // The next test: scaled in light from a profile.
            if (chooser && !isJpeg && !c.shownFrom.isEmpty())
                continue;
            const QImage& plain = isJpeg ? jpegPixels : tiffPixels;
            const Picture picture = loadPicture(path(c.file), chooser);
            EXPECT_EQ(picture.size(), stored.size());
            if (c.shownFrom.isEmpty()) {
                EXPECT_EQ(picture.raster(), plain);
                continue;
            }
            const QImage expected = lcmsReference(plain, c.shownFrom);
            EXPECT_GT(largestDifference(expected, plain), 8) << "a case that proves nothing";
            EXPECT_LE(largestDifference(picture.raster(), expected), c.tolerance);
            EXPECT_LT(meanDifference(picture.raster(), expected), 0.5);
        }
    }
}

// `file` decoded as for a display in `display`'s colour space.
QImage decodedFor(const QString& file, const DrawSizeChooser& chooser, const QByteArray& display) {
    const UniqueFd fd(::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC));
    struct stat status = {};
    if (!fd.valid() || ::fstat(fd.get(), &status) != 0)
        return {};
    ColourConverter colours(display);
    SourceFile source;
    source.fd = fd.get();
    source.size = status.st_size;
    return decodePicture(source, chooser, colours).raster();
}

// Drawn smaller, a picture whose profile is made of primaries and curves
// looks as if scaled in its own space, in light, and converted after, the
// colours it averages clipped to the display's gamut only then; one whose
// profile is a table, as if converted first and scaled after.
TEST_F(PictureLoaderTest, ColourManagedPicturesAreScaledInTheirOwnLight) {
    const QImage stored = photographicImage({240, 160}, 5);
    const DrawSizeChooser chooser = fitChooser({100, 67});
    // In levels. The way of the expected pictures passes through 8-bit
    // levels of the picture's own space, whose rounding is a few levels of
    // sRGB where a channel is near black after the change of primaries.
    constexpr int kNearBlack = 12;
    const struct {
        const char* name;
        QByteArray profile;
        bool ownLight;
        int tolerance;
    } cases[] = {{"wide", wideGamutProfile(), true, kNearBlack},
                 {"ProPhoto", proPhotoProfile(), true, kNearBlack},
                 {"table", tableRgbProfile(), false, 16}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString file = path(QString(c.name) + ".tiff");
        ASSERT_TRUE(writeBytes(file, tiffWithProfile(stored, c.profile)));
        QImage expected;
        if (c.ownLight) {
            expected = lcmsReference(decodedFor(file, chooser, c.profile), c.profile);
        } else {
            ASSERT_TRUE(writeTiff(path("converted.tiff"), lcmsReference(stored, c.profile)));
            expected = loadPicture(path("converted.tiff"), chooser).raster();
        }
        const QImage shown = loadPicture(file, chooser).raster();
        ASSERT_EQ(shown.size(), QSize(100, 67));
        EXPECT_LE(largestDifference(shown, expected), c.tolerance);
        EXPECT_LT(meanDifference(shown, expected), 0.5);
    }
}

// A CMYK JPEG with a CMYK profile shows its inks through the profile; it
// stores them inverted, as Adobe's writers do and mark.
TEST_F(PictureLoaderTest, CmykJpegShowsThroughItsProfile) {
    const QByteArray cmyk = cmykProfile();
    ASSERT_TRUE(writeBytes(path("cmyk.jpg"), withIccProfile(fourComponentJpeg({64, 8}, 0), cmyk)));
    const uchar* const stored = &kFourComponentStripes[0][0];
    const std::vector<uchar> stripes(stored, stored + sizeof kFourComponentStripes);
    const std::vector<QRgb> expected = lcmsCmykReference(stripes, cmyk, true);
    ASSERT_EQ(expected.size(), 4U);
    ASSERT_TRUE(writeBytes(path("plain.jpg"), fourComponentJpeg({64, 8}, 0)));
    const QImage plain = loadPicture(path("plain.jpg")).raster();
    const QImage shown = loadPicture(path("cmyk.jpg")).raster();
    EXPECT_GT(std::abs(qRed(plain.pixel(12, 4)) - qRed(expected[1])), 8)
        << "a stripe the profile makes no difference to";
    for (int stripe = 0; stripe < 4; ++stripe) {
        SCOPED_TRACE(stripe);
        const QRgb pixel = shown.pixel(8 * stripe + 4, 4);
        const QRgb want = expected[std::size_t(stripe)];
        EXPECT_LE(
            std::max({std::abs(qRed(pixel) - qRed(want)), std::abs(qGreen(pixel) - qGreen(want)),
                      std::abs(qBlue(pixel) - qBlue(want))}),
            2)
            << std::hex << pixel << " instead of " << want;
    }
}

// Encoders write a dozen scans or so; hundreds that change nothing are a
// way to spend seconds of work on a small file.
TEST_F(PictureLoaderTest, JpegWithTooManyScansIsRefused) {
    ASSERT_TRUE(writeBytes(path("few.jpg"), progressiveJpegWithEmptyScans({256, 256}, 20)));
    ASSERT_TRUE(writeBytes(path("many.jpg"), progressiveJpegWithEmptyScans({256, 256}, 150)));
    EXPECT_EQ(loadPicture(path("few.jpg")).raster().size(), QSize(256, 256));
    try {
        loadPicture(path("many.jpg"));
        ADD_FAILURE() << "many.jpg loaded";
    } catch (const LoadError& error) {
        EXPECT_NE(std::string(error.what()).find("more than 100 scans"), std::string::npos)
            << error.what();
    }
}

// A large picture of one flat colour compresses far, yet stays well within
// what the bomb check allows a file of its size.
TEST_F(PictureLoaderTest, LargeFlatGifIsNoBomb) {
    QImage flat(4800, 4000, QImage::Format_RGB32);
    flat.fill(Qt::darkGreen);
    ASSERT_TRUE(writeGif(path("flat.gif"), flat));
    const Picture picture = loadPicture(path("flat.gif"), fitChooser({800, 600}));
    EXPECT_EQ(picture.size(), QSize(4800, 4000));
    EXPECT_FALSE(picture.raster().isNull());
}

// Runs the load on another thread so that a load that blocks is reported
// instead of hanging the suite; `release` unblocks it.
std::string outcomeWithoutBlocking(const QString& path, const std::function<void()>& release) {
    auto outcome = std::async(std::launch::async, [path] { return loadOutcome(path); });
    if (outcome.wait_for(std::chrono::seconds(20)) == std::future_status::timeout) {
        release();
        return "blocked, then " + outcome.get();
    }
    return outcome.get();
}

TEST_F(PictureLoaderTest, PathsThatAreNotRegularFilesFailWithoutBlocking) {
    const QByteArray fifo = QFile::encodeName(path("x.jpg"));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    ASSERT_TRUE(QDir(dir_.path()).mkdir("y.jpg"));

    const QByteArray socketName = QFile::encodeName(path("z.jpg"));
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(size_t(socketName.size()), sizeof address.sun_path);
    std::memcpy(address.sun_path, socketName.constData(), socketName.size());
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    const auto openWriter = [&] { ::close(::open(fifo.constData(), O_WRONLY | O_NONBLOCK)); };
    const auto nothing = [] {};
    EXPECT_EQ(outcomeWithoutBlocking(path("x.jpg"), openWriter), "LoadError") << "FIFO";
    EXPECT_EQ(outcomeWithoutBlocking(path("y.jpg"), nothing), "LoadError") << "directory";
    EXPECT_EQ(outcomeWithoutBlocking(path("z.jpg"), nothing), "LoadError") << "socket";
    EXPECT_EQ(outcomeWithoutBlocking("/dev/null", nothing), "LoadError") << "device";
    ::close(sock);
}

TEST_F(PictureLoaderTest, FilesThatAreNoPictureAreLoadErrors) {
    ASSERT_TRUE(writeBytes(path("text.jpg"), "This is a text file, not a picture.\n"));
    ASSERT_TRUE(writeBytes(path("empty.jpg"), QByteArray()));
    ASSERT_TRUE(writeBytes(path("head.jpg"), QByteArray("\xff\xd8\xff", 3)));
    QImage(8, 8, QImage::Format_RGB32).save(path("photo.png"), "png");
    // A metafile by name is read as one, whatever it holds.
    ASSERT_TRUE(writeJpeg(path("photo.WMF"), QSize(16, 16)));

    for (const char* name :
         {"text.jpg", "empty.jpg", "head.jpg", "missing.jpg", "photo.png", "photo.WMF"}) {
        EXPECT_EQ(loadOutcome(path(name)), "LoadError") << name;
        EXPECT_EQ(loadOutcome(path(name), fitChooser({4, 4})), "LoadError") << name;
    }
    // Cut at the NUL, the name would open a real picture.
    ASSERT_TRUE(writeJpeg(path("real.jpg"), QSize(16, 16)));
    EXPECT_EQ(loadOutcome(path("real.jpg") + QChar(0) + "other.jpg"), "LoadError");
}

// Metafiles are told by their name or, under any name, by their header, and
// are rendered at the size they are drawn at.
TEST_F(PictureLoaderTest, MetafilesAreRenderedAtTheDrawnSize) {
    for (const char* name : {"drawing.wmf", "DRAWING.WMF", "drawing.jpg"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(writeBytes(path(name), smallMetafile()));
        const Picture picture = loadPicture(path(name), fitChooser({10, 10}));
        EXPECT_FALSE(picture.isEmpty());
        EXPECT_EQ(picture.raster().size(), fitInto(picture.size(), {10, 10}));
    }
}

// libjpeg shows what arrived of a cut-off JPEG and fills the rest; either
// that or a LoadError is fine, a crash is not (the sanitizers watch).
TEST_F(PictureLoaderTest, TruncatedJpegNeverCrashes) {
    const QSize size(640, 480);
    const QByteArray whole = jpegWithOrientation(photographicImage(size), 6);
    ASSERT_FALSE(whole.isEmpty());
    for (const int percent : {10, 50, 90}) {
        SCOPED_TRACE(std::to_string(percent) + "%");
        const QString file = path(QString("cut%1.jpg").arg(percent));
        ASSERT_TRUE(writeBytes(file, whole.left(whole.size() * percent / 100)));
        for (const DrawSizeChooser& chooser : {DrawSizeChooser{}, fitChooser({100, 100})}) {
            try {
                const Picture picture = loadPicture(file, chooser);
                EXPECT_EQ(picture.size(), size.transposed());
                EXPECT_FALSE(picture.raster().isNull());
            } catch (const LoadError&) {
            }
        }
    }
}

// A BMP may store its rows from the top down, which it tells by a negative
// height.
TEST_F(PictureLoaderTest, TopDownBmpLoadsUpright) {
    QByteArray rows;
    rows.append("\x00\x00\xff\x00\xff\x00\x00\x00", 8); // red, green, padding
    rows.append("\xff\x00\x00\xff\xff\xff\x00\x00", 8); // blue, white, padding
    ASSERT_TRUE(writeBytes(path("top-down.bmp"), bmpHeaderClaiming({2, -2}) + rows));
    for (const DrawSizeChooser& chooser : {DrawSizeChooser{}, fitChooser({2, 2})}) {
        const Picture picture = loadPicture(path("top-down.bmp"), chooser);
        EXPECT_EQ(picture.size(), QSize(2, 2));
        ASSERT_EQ(picture.raster().size(), QSize(2, 2));
        EXPECT_EQ(picture.raster().pixel(0, 0), qRgb(255, 0, 0));
        EXPECT_EQ(picture.raster().pixel(0, 1), qRgb(0, 0, 255));
    }
}

TEST_F(PictureLoaderTest, UnreadableFileIsALoadError) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "running as root, which may read any file whatever its permissions";
    ASSERT_TRUE(writeJpeg(path("secret.jpg"), QSize(16, 16)));
    ASSERT_TRUE(QFile::setPermissions(path("secret.jpg"), QFileDevice::WriteOwner));
    EXPECT_EQ(loadOutcome(path("secret.jpg")), "LoadError");
}

// A name that is not valid UTF-8 comes from the directory listing with its
// odd bytes as lone surrogates and must still open; so must a link.
TEST_F(PictureLoaderTest, OddNamesAndLinksLoad) {
    ASSERT_TRUE(writeJpeg(path("plain.jpg"), QSize(30, 20)));
    const QByteArray raw = QFile::encodeName(dir_.path()) + "/caf\xe9.jpg";
    ASSERT_EQ(::link(QFile::encodeName(path("plain.jpg")).constData(), raw.constData()), 0);
    ASSERT_TRUE(QFile::link(path("plain.jpg"), path("link.jpg")));

    const QString odd = decodeFileName(raw.toStdString());
    EXPECT_EQ(loadPicture(odd).size(), QSize(30, 20));
    EXPECT_EQ(loadPicture(path("link.jpg")).size(), QSize(30, 20));
    // QTemporaryDir cannot remove a name it cannot decode.
    ::unlink(raw.constData());
}

} // namespace
} // namespace pictolune
