// TIFF files of every layout, depth, compression and colour model, written
// here with libtiff, each decoded through the decoders and checked pixel for
// pixel against what its samples mean.
#include "platform/loading/LoadPicture.h"
#include "support/TestProfiles.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTransform>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include <tiffio.h>

namespace pictolune {
namespace {

using namespace pictolune::testing;

// Neither side a whole number of 16-pixel tiles nor of 5-row strips.
constexpr int kWidth = 40;
constexpr int kHeight = 27;

enum class Model { Rgb, Rgba, RgbaAssociated, Grey, MinIsWhite, MinIsBlack, Palette, Cmyk };

struct TiffCase {
    std::string name;
    Model model;
    int bits;
    uint16_t compression = COMPRESSION_NONE;
    bool planar = false;
    bool tiled = false;
    uint16_t orientation = ORIENTATION_TOPLEFT;
    bool cmykProfile = false;
    int tolerance = 0; // levels, per channel
};

int samplesOf(Model model) {
    switch (model) {
    case Model::Rgb:
        return 3;
    case Model::Rgba:
    case Model::RgbaAssociated:
    case Model::Cmyk:
        return 4;
    default:
        return 1;
    }
}

// The 8-bit value of sample `s` at stored (x, y).
int sample8(const TiffCase& c, int x, int y, int s) {
    switch (c.model) {
    case Model::MinIsWhite:
    case Model::MinIsBlack:
        return ((x / 4 + y / 3) % 2) * 255;
    case Model::Palette:
        return (x + y * kWidth) % 256;
    case Model::Grey:
        return (x * 6 + y * 3) % 256;
    default:
        break;
    }
    const int v[4] = {x * 6, y * 9, (x + y) * 3, 40 + (x * y) % 200};
    if (c.model == Model::RgbaAssociated && s < 3)
        return v[s] * v[3] / 255;
    return v[s];
}

QRgb paletteColour(int i) {
    return qRgb(i, 255 - i, (i * 7) % 256);
}

// What the samples mean, upright and premultiplied.
QRgb meaning(const TiffCase& c, int x, int y) {
    const auto s = [&](int i) { return sample8(c, x, y, i); };
    switch (c.model) {
    case Model::Rgb:
        return qRgb(s(0), s(1), s(2));
    case Model::Rgba:
        return qPremultiply(qRgba(s(0), s(1), s(2), s(3)));
    case Model::RgbaAssociated:
        return qRgba(s(0), s(1), s(2), s(3));
    case Model::Grey:
    case Model::MinIsBlack:
        return qRgb(s(0), s(0), s(0));
    case Model::MinIsWhite:
        return qRgb(255 - s(0), 255 - s(0), 255 - s(0));
    case Model::Palette:
        return paletteColour(s(0));
    case Model::Cmyk: {
        const int k = 255 - s(3);
        return qRgb(k * (255 - s(0)) / 255, k * (255 - s(1)) / 255, k * (255 - s(2)) / 255);
    }
    }
    return 0;
}

// Sample `s` as stored at `bits`: 16-bit samples carry low bits too.
uint32_t stored(const TiffCase& c, int x, int y, int s) {
    const int v = sample8(c, x, y, s);
    if (c.bits == 16)
        return uint32_t(v * 257 + (x % 2) * 100 - (v == 255 ? 100 : 0));
    if (c.bits == 1)
        return v ? 1 : 0;
    return uint32_t(v);
}

// One row of `count` samples starting with sample `first` of each pixel.
std::vector<uint8_t> packRow(const TiffCase& c, int y, int x0, int width, int first, int count) {
    std::vector<uint8_t> out(std::size_t((width * count * c.bits + 7) / 8), 0);
    int bit = 0;
    for (int x = x0; x < x0 + width; ++x) {
        for (int s = first; s < first + count; ++s, bit += c.bits) {
            const uint32_t v = x < kWidth && y < kHeight ? stored(c, x, y, s) : 0;
            if (c.bits == 1)
                out[std::size_t(bit / 8)] |= uint8_t(v << (7 - bit % 8));
            else if (c.bits == 8)
                out[std::size_t(bit / 8)] = uint8_t(v);
            else
                reinterpret_cast<uint16_t*>(out.data())[bit / 16] = uint16_t(v);
        }
    }
    return out;
}

bool writeTiffVariant(const QString& path, const TiffCase& c, const QByteArray& profile) {
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tif)
        return false;
    const int samples = samplesOf(c.model);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(kWidth));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(kHeight));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(c.bits));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(samples));
    TIFFSetField(tif, TIFFTAG_COMPRESSION, c.compression);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, c.orientation);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, c.planar ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    const uint16_t photometric[] = {
        PHOTOMETRIC_RGB,        PHOTOMETRIC_RGB,        PHOTOMETRIC_RGB,     PHOTOMETRIC_MINISBLACK,
        PHOTOMETRIC_MINISWHITE, PHOTOMETRIC_MINISBLACK, PHOTOMETRIC_PALETTE, PHOTOMETRIC_SEPARATED};
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric[int(c.model)]);
    if (c.model == Model::Rgba || c.model == Model::RgbaAssociated) {
        const uint16_t extra =
            c.model == Model::Rgba ? EXTRASAMPLE_UNASSALPHA : EXTRASAMPLE_ASSOCALPHA;
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
    }
    if (c.model == Model::Palette) {
        std::vector<uint16_t> r(256), g(256), b(256);
        for (int i = 0; i < 256; ++i) {
            r[std::size_t(i)] = uint16_t(qRed(paletteColour(i)) * 257);
            g[std::size_t(i)] = uint16_t(qGreen(paletteColour(i)) * 257);
            b[std::size_t(i)] = uint16_t(qBlue(paletteColour(i)) * 257);
        }
        TIFFSetField(tif, TIFFTAG_COLORMAP, r.data(), g.data(), b.data());
    }
    if (!profile.isEmpty())
        TIFFSetField(tif, TIFFTAG_ICCPROFILE, uint32_t(profile.size()), profile.constData());
    const int planes = c.planar ? samples : 1;
    const int perPlane = c.planar ? 1 : samples;
    bool ok = true;
    if (c.tiled) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, uint32_t(16));
        TIFFSetField(tif, TIFFTAG_TILELENGTH, uint32_t(16));
        std::vector<uint8_t> tile(std::size_t(TIFFTileSize(tif)));
        for (int plane = 0; plane < planes; ++plane)
            for (int ty = 0; ty < kHeight; ty += 16)
                for (int tx = 0; tx < kWidth; tx += 16) {
                    const std::size_t rowBytes = tile.size() / 16;
                    for (int y = 0; y < 16; ++y) {
                        const auto row = packRow(c, ty + y, tx, 16, plane, perPlane);
                        std::copy(row.begin(), row.end(), tile.begin() + rowBytes * y);
                    }
                    ok &= TIFFWriteTile(tif, tile.data(), uint32_t(tx), uint32_t(ty), 0,
                                        uint16_t(plane)) >= 0;
                }
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, uint32_t(5));
        for (int plane = 0; plane < planes; ++plane)
            for (int y = 0; y < kHeight; ++y) {
                auto row = packRow(c, y, 0, kWidth, plane, perPlane);
                ok &= TIFFWriteScanline(tif, row.data(), uint32_t(y), uint16_t(plane)) >= 0;
            }
    }
    TIFFClose(tif);
    return ok;
}

QImage expectedImage(const TiffCase& c, const QByteArray& profile) {
    QImage image(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
    std::vector<uchar> inks;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            image.setPixel(x, y, meaning(c, x, y));
            for (int s = 0; s < 4; ++s)
                inks.push_back(uchar(sample8(c, x, y, s)));
        }
    if (c.cmykProfile) {
        const std::vector<QRgb> shown = lcmsCmykReference(inks, profile, false);
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                image.setPixel(x, y, shown[std::size_t(y * kWidth + x)]);
    }
    // Upright as the orientation tag says.
    switch (c.orientation) {
    case ORIENTATION_BOTRIGHT:
        return image.transformed(QTransform().rotate(180));
    case ORIENTATION_RIGHTTOP:
        return image.transformed(QTransform().rotate(90));
    case ORIENTATION_LEFTBOT:
        return image.transformed(QTransform().rotate(270));
    default:
        return image;
    }
}

class TiffVariantsTest : public ::testing::TestWithParam<TiffCase> {
protected:
    QTemporaryDir dir_;
};

TEST_P(TiffVariantsTest, DecodesAsTheSamplesSay) {
    const TiffCase& c = GetParam();
    if (!TIFFIsCODECConfigured(c.compression))
        GTEST_SKIP() << "libtiff has no codec for compression " << c.compression;
    const QByteArray profile = c.cmykProfile ? cmykProfile() : QByteArray();
    const QString file = dir_.filePath("variant.tiff");
    ASSERT_TRUE(writeTiffVariant(file, c, profile));
    const QImage expected = expectedImage(c, profile);

    const Picture picture = loadPicture(file);
    const QImage& raster = picture.raster();
    ASSERT_EQ(raster.size(), expected.size());
    EXPECT_EQ(picture.size(), expected.size());
    const bool alpha = c.model == Model::Rgba || c.model == Model::RgbaAssociated;
    EXPECT_EQ(raster.format(), alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    EXPECT_LE(
        largestDifference(raster.convertToFormat(QImage::Format_ARGB32_Premultiplied), expected),
        c.tolerance);
}

INSTANTIATE_TEST_SUITE_P(
    Variants, TiffVariantsTest,
    ::testing::Values(
        TiffCase{"Rgb8StripsChunky", Model::Rgb, 8},
        TiffCase{"Rgb8LzwStripsPlanar", Model::Rgb, 8, COMPRESSION_LZW, true},
        TiffCase{"Rgb8DeflateTilesChunky", Model::Rgb, 8, COMPRESSION_ADOBE_DEFLATE, false, true},
        TiffCase{"Rgb8PackBitsTilesPlanar", Model::Rgb, 8, COMPRESSION_PACKBITS, true, true},
        TiffCase{"Rgb16LzwStripsChunky", Model::Rgb, 16, COMPRESSION_LZW, false, false,
                 ORIENTATION_TOPLEFT, false, 1},
        TiffCase{"Rgb16StripsPlanar", Model::Rgb, 16, COMPRESSION_NONE, true, false,
                 ORIENTATION_TOPLEFT, false, 1},
        TiffCase{"Rgb16DeflateTilesPlanar", Model::Rgb, 16, COMPRESSION_ADOBE_DEFLATE, true, true,
                 ORIENTATION_TOPLEFT, false, 1},
        TiffCase{"Rgba8UnassociatedLzw", Model::Rgba, 8, COMPRESSION_LZW, false, false,
                 ORIENTATION_TOPLEFT, false, 1},
        TiffCase{"Rgba8AssociatedPlanar", Model::RgbaAssociated, 8, COMPRESSION_NONE, true},
        TiffCase{"Grey8Lzw", Model::Grey, 8, COMPRESSION_LZW},
        TiffCase{"Grey16DeflateTiles", Model::Grey, 16, COMPRESSION_ADOBE_DEFLATE, false, true,
                 ORIENTATION_TOPLEFT, false, 1},
        TiffCase{"Palette8PackBits", Model::Palette, 8, COMPRESSION_PACKBITS},
        TiffCase{"MinIsWhite1", Model::MinIsWhite, 1},
        TiffCase{"MinIsBlack1PackBits", Model::MinIsBlack, 1, COMPRESSION_PACKBITS},
        TiffCase{"FaxGroup3", Model::MinIsWhite, 1, COMPRESSION_CCITTFAX3},
        TiffCase{"FaxGroup4", Model::MinIsWhite, 1, COMPRESSION_CCITTFAX4},
        TiffCase{"Cmyk8Lzw", Model::Cmyk, 8, COMPRESSION_LZW},
        TiffCase{"Cmyk8TilesPlanar", Model::Cmyk, 8, COMPRESSION_NONE, true, true},
        TiffCase{"Cmyk8WithProfile", Model::Cmyk, 8, COMPRESSION_LZW, false, false,
                 ORIENTATION_TOPLEFT, true, 3},
        TiffCase{"Cmyk8PlanarWithProfile", Model::Cmyk, 8, COMPRESSION_NONE, true, false,
                 ORIENTATION_TOPLEFT, true, 3},
        TiffCase{"Rgb8TurnedHalfWay", Model::Rgb, 8, COMPRESSION_LZW, false, false,
                 ORIENTATION_BOTRIGHT},
        TiffCase{"Rgb8TurnedRightTiles", Model::Rgb, 8, COMPRESSION_NONE, false, true,
                 ORIENTATION_RIGHTTOP},
        TiffCase{"Grey8TurnedLeft", Model::Grey, 8, COMPRESSION_NONE, false, false,
                 ORIENTATION_LEFTBOT}),
    [](const ::testing::TestParamInfo<TiffCase>& info) { return info.param.name; });

} // namespace
} // namespace pictolune
