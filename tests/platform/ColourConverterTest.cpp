#include "platform/codecs/ColourConverter.h"
#include "platform/codecs/EmbeddedProfile.h"
#include "platform/loading/DisplayProfile.h"
#include "support/TestPictures.h"
#include "support/TestProfiles.h"

#include <QBuffer>
#include <QColorSpace>
#include <QImageReader>
#include <QtEndian>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <lcms2.h>

namespace pictolune {
namespace {

using namespace pictolune::testing;

enum class Pixels { Rgb, Grey, Premultiplied, GreyPremultiplied };

// Every 16th level of each channel, and 255; grey pictures take every level.
QImage testPicture(Pixels kind) {
    const bool grey = kind == Pixels::Grey || kind == Pixels::GreyPremultiplied;
    std::vector<int> levels;
    for (int level = 0; level < 256; level += grey ? 1 : 16)
        levels.push_back(level);
    levels.push_back(255);
    const int n = int(levels.size());
    QImage image(grey ? n : n * n, grey ? 3 : n, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const int r = levels[std::size_t(x % n)];
            image.setPixel(x, y,
                           grey ? qRgb(r, r, r)
                                : qRgb(r, levels[std::size_t(x / n)], levels[std::size_t(y)]));
        }
    }
    if (kind == Pixels::Premultiplied || kind == Pixels::GreyPremultiplied) {
        image = image.convertToFormat(QImage::Format_ARGB32);
        const int alphas[] = {255, 160, 96};
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                image.setPixel(x, y, (image.pixel(x, y) & 0xffffff) | uint(alphas[y % 3]) << 24);
        image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    }
    return image;
}

QByteArray brokenTagTable(QByteArray profile) {
    qToBigEndian(quint32(0x0fffffff), profile.data() + 128); // tag count
    return profile;
}

struct ConvertCase {
    std::string name;
    QByteArray profile;
    QByteArray display; // empty: sRGB
    Pixels pixels;
    bool converted;
    QByteArray shownAs; // the display the result must match, when not `display`
    int tolerance = 2;  // levels
};

// lcms2 resamples a table profile onto its own grid for 8-bit pixels and so
// interpolates twice: some levels off where the gamut is clipped, though
// under a fifth of a level on average.
constexpr int kTableTolerance = 8;

TEST(ColourConverterTest, ConvertsFromTheEmbeddedProfileToTheDisplayOrLeavesPixelsAlone) {
    const QByteArray wide = wideGamutProfile();
    const QByteArray table = tableRgbProfile();
    const QByteArray srgb = srgbProfile();
    const std::vector<ConvertCase> cases = {
        {"wide gamut", wide, {}, Pixels::Rgb, true, {}},
        {"ProPhoto", proPhotoProfile(), {}, Pixels::Rgb, true, {}},
        {"table-only RGB", table, {}, Pixels::Rgb, true, {}, kTableTolerance},
        {"wide gamut, premultiplied", wide, {}, Pixels::Premultiplied, true, {}},
        {"table-only RGB, premultiplied",
         table,
         {},
         Pixels::Premultiplied,
         true,
         {},
         kTableTolerance},
        {"grey", greyProfile(1.8), {}, Pixels::Grey, true, {}},
        {"grey, premultiplied", greyProfile(1.8), {}, Pixels::GreyPremultiplied, true, {}},
        {"sRGB on a wide-gamut display", srgb, wide, Pixels::Rgb, true, {}},
        {"table-only RGB on a wide-gamut display",
         table,
         wide,
         Pixels::Rgb,
         true,
         {},
         kTableTolerance},
        {"display profile of a scanner", wide, table, Pixels::Rgb, true, srgb},
        {"display profile that is no profile", wide, "junk", Pixels::Rgb, true, srgb},
        {"no profile", {}, {}, Pixels::Rgb, false, {}},
        {"sRGB", srgb, {}, Pixels::Rgb, false, {}},
        {"sRGB with tabulated curves", tabulatedSrgbProfile(), {}, Pixels::Rgb, false, {}},
        {"wide gamut on a wide-gamut display", wide, wide, Pixels::Rgb, false, {}},
        {"truncated profile", wide.left(300), {}, Pixels::Rgb, false, {}},
        {"broken tag table", brokenTagTable(wide), {}, Pixels::Rgb, false, {}},
        {"random bytes", QByteArray(600, 'x'), {}, Pixels::Rgb, false, {}},
        {"CMYK profile", cmykProfile(), {}, Pixels::Rgb, false, {}},
    };
    for (const ConvertCase& c : cases) {
        SCOPED_TRACE(c.name);
        ColourConverter converter(c.display);
        const QImage picture = testPicture(c.pixels);
        QImage image = picture;
        EXPECT_EQ(converter.convert(image, c.profile), c.converted);
        if (!c.converted) {
            EXPECT_EQ(image.constBits(), picture.constBits()) << "pixels were touched";
            continue;
        }
        const bool grey = c.pixels == Pixels::Grey || c.pixels == Pixels::GreyPremultiplied;
        const QImage expected =
            lcmsReference(picture, c.profile, c.shownAs.isEmpty() ? c.display : c.shownAs, grey);
        EXPECT_GT(largestDifference(expected, picture), 8) << "a case that proves nothing";
        EXPECT_LE(largestDifference(image, expected), c.tolerance);
    }
}

// A TIFF's profile comes from Qt's reader, which keeps the tag's bytes even
// for profiles it cannot use itself (tables); a grey TIFF reads as grey
// levels, unconverted, and becomes RGB32 as the loader makes it.
TEST(ColourConverterTest, TiffWithAProfileShowsConvertedWithoutOneUnconverted) {
    const QImage rgb = testPicture(Pixels::Rgb);
    const QImage grey = testPicture(Pixels::Grey);
    struct Case {
        std::string name;
        QImage picture;
        QByteArray profile;
        int tolerance;
    };
    const std::vector<Case> cases = {
        {"wide gamut", rgb, wideGamutProfile(), 2},
        {"table-only RGB", rgb, tableRgbProfile(), kTableTolerance},
        {"grey", grey, greyProfile(1.8), 2},
        {"no profile", rgb, {}, 0},
    };
    ColourConverter converter;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool isGrey = c.picture.width() != rgb.width();
        QByteArray bytes = tiffWithProfile(
            isGrey ? c.picture.convertToFormat(QImage::Format_Grayscale8) : c.picture, c.profile);
        QBuffer file(&bytes);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QImage read = QImageReader(&file, "tiff").read();
        EXPECT_EQ(read.colorSpace().iccProfile(), c.profile);
        QImage image = read.convertToFormat(QImage::Format_RGB32);
        converter.convert(image, checkedIccProfile(read.colorSpace().iccProfile()));
        const QImage expected =
            c.profile.isEmpty() ? c.picture : lcmsReference(c.picture, c.profile, {}, isGrey);
        EXPECT_LE(largestDifference(image, expected), c.tolerance);
    }
}

// Every 5th of the 256 ink levels in each of C, M, Y, K.
std::vector<uchar> cmykPixels() {
    std::vector<uchar> out;
    for (int c = 0; c < 256; c += 85)
        for (int m = 0; m < 256; m += 85)
            for (int y = 0; y < 256; y += 85)
                for (int k = 0; k < 256; k += 85)
                    out.insert(out.end(), {uchar(c), uchar(m), uchar(y), uchar(k)});
    return out;
}

TEST(ColourConverterTest, CmykRowsComeOutThroughTheProfile) {
    const std::vector<uchar> cmyk = cmykPixels();
    const int pixels = int(cmyk.size() / 4);
    ColourConverter converter;
    for (const bool inverted : {false, true}) {
        for (const bool inPlace : {false, true}) {
            SCOPED_TRACE(std::string(inverted ? "inverted" : "plain") +
                         (inPlace ? ", in place" : ""));
            const CmykRows rows = converter.cmykRows(cmykProfile(), inverted);
            ASSERT_TRUE(rows);
            std::vector<QRgb> rgb(std::size_t(pixels), 0);
            if (inPlace)
                std::memcpy(rgb.data(), cmyk.data(), cmyk.size());
            rows(inPlace ? reinterpret_cast<const uchar*>(rgb.data()) : cmyk.data(), rgb.data(),
                 pixels);
            const std::vector<QRgb> expected = lcmsCmykReference(cmyk, cmykProfile(), inverted);
            int largest = 0;
            for (std::size_t i = 0; i < rgb.size(); ++i) {
                EXPECT_EQ(qAlpha(rgb[i]), 255);
                largest = std::max({largest, std::abs(qRed(rgb[i]) - qRed(expected[i])),
                                    std::abs(qGreen(rgb[i]) - qGreen(expected[i])),
                                    std::abs(qBlue(rgb[i]) - qBlue(expected[i]))});
            }
            EXPECT_LE(largest, 2);
        }
    }
    for (const QByteArray& notCmyk : {wideGamutProfile(), cmykProfile().left(500), QByteArray()})
        EXPECT_FALSE(converter.cmykRows(notCmyk, true));
}

TEST(ColourConverterTest, KeepsEachProfilesOwnConversionAsProfilesComeAndGo) {
    // More profiles than are kept, twice round: each picture gets its own,
    // and rows handed out before still work once their profile has left.
    const std::vector<uchar> cmyk = cmykPixels();
    ColourConverter converter;
    const CmykRows rows = converter.cmykRows(cmykProfile(), false);
    ASSERT_TRUE(rows);
    std::vector<QRgb> before(cmyk.size() / 4), after(cmyk.size() / 4);
    rows(cmyk.data(), before.data(), int(before.size()));

    const QImage picture = testPicture(Pixels::Grey);
    std::vector<QByteArray> profiles;
    for (int i = 0; i < 10; ++i)
        profiles.push_back(greyProfile(1.0 + 0.15 * i));
    for (int round = 0; round < 2; ++round) {
        for (const QByteArray& profile : profiles) {
            QImage image = picture;
            converter.convert(image, profile);
            EXPECT_LE(largestDifference(image, lcmsReference(picture, profile, {}, true)), 2);
        }
    }
    rows(cmyk.data(), after.data(), int(after.size()));
    EXPECT_EQ(after, before);
}

TEST(ColourConverterTest, DisplayWithoutX11IsSrgb) {
    EXPECT_TRUE(displayIccProfile().isEmpty()); // the tests run offscreen
}

} // namespace
} // namespace pictolune
