#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

#include <vector>

// Generators of test pictures. Each writer returns false when the file could
// not be written. Nothing here depends on the test framework, so the
// benchmarks build it too.
namespace pictolune::testing {

// Photographic-looking content: soft colour gradients and blobs under
// per-pixel noise, so decoders work as hard as on a real photo (flat or
// smooth content decodes unrealistically fast). Same seed, same picture.
QImage photographicImage(QSize size, quint32 seed = 1);

// One-pixel lines across, black and white by turns: the finest detail
// there is, whose light is half of white's.
QImage lineField(QSize size);
// Rings whose light runs as a cosine of the squared distance from the
// centre, from flat there to one cycle every two pixels in the corners:
// every fineness of detail at once, half of white's light on average.
QImage zonePlate(QSize size);
// The light (0 to 1) of an sRGB level, and the nearest level of a light.
double lightOfLevel(int level);
int levelOfLight(double light);

bool writeJpeg(const QString& path, const QImage& image, int quality = 90);
bool writeJpeg(const QString& path, QSize size, int quality = 90, quint32 seed = 1);
// Progressive, as many phones and web exports write them: ten scans or so.
bool writeProgressiveJpeg(const QString& path, const QImage& image, int quality = 90);
bool writeBmp(const QString& path, const QImage& image);
bool writeBmp(const QString& path, QSize size, quint32 seed = 1);
bool writeTiff(const QString& path, const QImage& image);
bool writeTiff(const QString& path, QSize size, quint32 seed = 1);
// A GIF89a with a 3-3-2 colour cube palette, LZW-compressed.
bool writeGif(const QString& path, const QImage& image);
bool writeGif(const QString& path, QSize size, quint32 seed = 1);
// A GIF89a of `image`'s green levels with a palette of the 256 greys.
bool writeGreyGif(const QString& path, const QImage& image);
// `image` with every pixel replaced by the palette colour writeGif stores.
QImage asGifShowsIt(const QImage& image);

// JPEG bytes of `image` with an Exif APP1 segment whose IFD0 holds only the
// orientation tag (0x0112) with `orientation` (1 to 8). `image` is what the
// file stores; a viewer turns it upright by the tag.
QByteArray jpegWithOrientation(const QImage& image, int orientation, int quality = 90);
bool writeJpegWithOrientation(const QString& path, const QImage& image, int orientation,
                              int quality = 90);

// The APP2 "ICC_PROFILE" payloads that carry `profile` in a JPEG, in pieces
// of at most `pieceBytes` (65519 is the most one marker holds).
std::vector<QByteArray> iccMarkerPayloads(const QByteArray& profile, int pieceBytes = 65519);
// `jpeg` carrying `profile` in APP2 markers of at most `pieceBytes`, where
// cameras put them (after the JFIF segment).
QByteArray withIccProfile(QByteArray jpeg, const QByteArray& profile, int pieceBytes = 65519);
// JPEG bytes of `image` carrying `profile`, split into pieces of at most
// `pieceBytes`. The pixels are stored as they are: the profile says what
// they mean.
QByteArray jpegWithProfile(const QImage& image, const QByteArray& profile, int pieceBytes = 65519,
                           int quality = 90);
// An uncompressed TIFF of `image` (RGB, or grey for Format_Grayscale8)
// carrying `profile`, whatever its bytes, in its ICC tag (none when empty).
QByteArray tiffWithProfile(const QImage& image, const QByteArray& profile);

// Little-endian words, as BMP, GIF and metafile headers store them.
void putLe16(QByteArray& out, quint32 v);
void putLe32(QByteArray& out, quint32 v);
// One TIFF directory entry of a single SHORT (type 3) or LONG (type 4) value.
void putTiffEntry(QByteArray& out, quint16 tag, quint16 type, quint32 value);

// The smallest placeable metafile: a one-inch square frame with a filled
// rectangle and an ellipse.
QByteArray smallMetafile();

// Writes `bytes` to `path`, replacing any file there.
bool writeBytes(const QString& path, const QByteArray& bytes);

// Headers of pictures that claim `size` with almost no pixel data behind
// them: what a decompression bomb looks like to a loader.
QByteArray bmpHeaderClaiming(QSize size);
QByteArray gifClaiming(QSize size);
QByteArray tiffClaiming(QSize size);
// A small real JPEG whose frame header is patched to claim `size`.
QByteArray jpegClaiming(QSize size);

// Valid pictures of one flat colour, of any size, made byte by byte and so
// in no time: a grey baseline JPEG (two bits a block); a grey progressive
// JPEG of one DC scan followed by `emptyScans` scans that change nothing;
// a GIF whose LZW data really decodes every pixel of the frame (about 100 KB
// for 16383 x 16383); an 8-bit RLE-compressed BMP.
QByteArray greyBaselineJpeg(QSize size);
QByteArray progressiveJpegWithEmptyScans(QSize size, int emptyScans);
QByteArray flatLzwGif(QSize size);
QByteArray flatRle8Bmp(QSize size);
// A four-component JPEG of vertical stripes, one block wide: Adobe's CMYK
// (transform 0) or YCCK (transform 2). The stripes' four values as stored
// repeat from the left.
QByteArray fourComponentJpeg(QSize size, int adobeTransform);
inline constexpr uchar kFourComponentStripes[4][4] = {
    {0, 0, 0, 0}, {255, 128, 64, 200}, {30, 220, 120, 255}, {128, 128, 128, 128}};

} // namespace pictolune::testing
