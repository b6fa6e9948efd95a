#include "platform/codecs/Tiff.h"

#include "platform/base/Errors.h"
#include "platform/codecs/Bounds.h"
#include "platform/codecs/ColourConverter.h"
#include "platform/codecs/EmbeddedProfile.h"
#include "platform/codecs/Exif.h"
#include "platform/codecs/FileBytes.h"
#include "platform/codecs/Finish.h"

#include <QImage>
#include <QtEndian>

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <tiffio.h>

namespace pictolune {

namespace {

// Rows decoded between two questions whether the picture is still wanted,
// at least: a band is a whole number of strips or rows of tiles, so that
// none is decoded twice.
constexpr std::uint32_t kBandRows = 64;
constexpr QRgb kBlack = 0xff000000;

// What libtiff's callbacks work with: the file, where it is read, what
// went wrong, and for CMYK with a profile, the rows' converter.
struct Client {
    explicit Client(const SourceFile& source) : file(source) {}
    const SourceFile& file;
    qint64 offset = 0;
    std::string reason;
    bool cancelled = false;
    CmykRows cmykRows;
    std::vector<uchar> inks;
    // The whole file, where libtiff must see it mapped.
    QByteArray whole;
};

Client& clientOf(thandle_t handle) {
    return *static_cast<Client*>(handle);
}

tmsize_t readProc(thandle_t handle, void* into, tmsize_t size) {
    Client& client = clientOf(handle);
    if (client.file.cancelled && client.file.cancelled()) {
        client.cancelled = true;
        return -1;
    }
    const qint64 got = readAt(client.file.fd, client.offset, into, size);
    if (got > 0)
        client.offset += got;
    return tmsize_t(got);
}

tmsize_t writeProc(thandle_t, void*, tmsize_t) {
    return -1;
}

toff_t seekProc(thandle_t handle, toff_t offset, int whence) {
    Client& client = clientOf(handle);
    const auto by = qint64(offset);
    const qint64 from = whence == SEEK_CUR   ? client.offset
                        : whence == SEEK_END ? client.file.size
                                             : 0;
    if ((by > 0 && from > LLONG_MAX - by) || from + by < 0)
        return toff_t(-1);
    client.offset = from + by;
    return toff_t(client.offset);
}

int closeProc(thandle_t) {
    return 0;
}

toff_t sizeProc(thandle_t handle) {
    return toff_t(clientOf(handle).file.size);
}

// Mapped only where the whole file was read for it.
int mapProc(thandle_t handle, void** base, toff_t* size) {
    Client& client = clientOf(handle);
    if (client.whole.isEmpty())
        return 0;
    *base = client.whole.data();
    *size = toff_t(client.whole.size());
    return 1;
}

void unmapProc(thandle_t, void*, toff_t) {}

// The first error is the reason; warnings (unknown tags, a field of the
// wrong type) leave the picture as libtiff makes of it. Nothing is printed.
int onError(TIFF*, void* user, const char*, const char* format, va_list arguments) {
    auto& client = *static_cast<Client*>(user);
    if (client.reason.empty()) {
        char text[512];
        std::vsnprintf(text, sizeof text, format, arguments);
        client.reason = text;
    }
    return 1;
}

int onWarning(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

// Messages that libtiff sends past a file's own handlers, process-wide.
void silenceLibtiff() {
    static const bool done = [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
        return true;
    }();
    (void)done;
}

[[noreturn]] void fail(const Client& client, const char* otherwise) {
    if (client.cancelled)
        throw LoadError("cancelled");
    throw LoadError(client.reason.empty() ? otherwise : client.reason);
}

// CMYK through the picture's profile, in place of libtiff's plain inverse:
// chunky samples (any extra ones after the four inks are left out) ...
void putCmykContig(TIFFRGBAImage* image, std::uint32_t* out, std::uint32_t, std::uint32_t,
                   std::uint32_t w, std::uint32_t h, std::int32_t fromSkew, std::int32_t toSkew,
                   unsigned char* in) {
    Client& client = clientOf(TIFFClientdata(image->tif));
    const int samples = image->samplesperpixel;
    client.inks.resize(std::size_t(w) * 4);
    for (; h > 0; --h) {
        for (std::uint32_t x = 0; x < w; ++x)
            std::copy_n(in + std::size_t(x) * samples, 4,
                        client.inks.begin() + std::ptrdiff_t(x) * 4);
        client.cmykRows(client.inks.data(), reinterpret_cast<QRgb*>(out), int(w));
        in += (std::int64_t(w) + fromSkew) * samples;
        out += std::int64_t(w) + toSkew;
    }
}

// ... and planes.
void putCmykSeparate(TIFFRGBAImage* image, std::uint32_t* out, std::uint32_t, std::uint32_t,
                     std::uint32_t w, std::uint32_t h, std::int32_t fromSkew, std::int32_t toSkew,
                     unsigned char* c, unsigned char* m, unsigned char* y, unsigned char* k) {
    Client& client = clientOf(TIFFClientdata(image->tif));
    client.inks.resize(std::size_t(w) * 4);
    for (; h > 0; --h) {
        for (std::uint32_t x = 0; x < w; ++x) {
            uchar* ink = client.inks.data() + std::size_t(x) * 4;
            ink[0] = c[x];
            ink[1] = m[x];
            ink[2] = y[x];
            ink[3] = k[x];
        }
        client.cmykRows(client.inks.data(), reinterpret_cast<QRgb*>(out), int(w));
        const std::int64_t next = std::int64_t(w) + fromSkew;
        c += next;
        m += next;
        y += next;
        k += next;
        out += std::int64_t(w) + toSkew;
    }
}

std::uint32_t bandRows(TIFF* tif, std::uint32_t height) {
    std::uint32_t unit = 0;
    if (TIFFIsTiled(tif))
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &unit);
    else
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &unit);
    if (unit == 0 || unit >= height)
        return height;
    return unit * std::max<std::uint32_t>(1, kBandRows / unit);
}

QByteArray iccProfile(TIFF* tif) {
    std::uint32_t size = 0;
    void* bytes = nullptr;
    if (!TIFFGetField(tif, TIFFTAG_ICCPROFILE, &size, &bytes) || !bytes ||
        size > std::uint32_t(kMaxIccProfileBytes))
        return {};
    return checkedIccProfile(QByteArray(static_cast<const char*>(bytes), qsizetype(size)));
}

using TiffPointer = std::unique_ptr<TIFF, decltype(&TIFFClose)>;

TiffPointer open(Client& client) {
    silenceLibtiff();
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options)
        throw LoadError("out of memory");
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, kMaxPictureBytes);
    TIFFOpenOptionsSetErrorHandlerExtR(options, onError, &client);
    TIFFOpenOptionsSetWarningHandlerExtR(options, onWarning, nullptr);
    // "m": read, never map, unless the whole file is at hand.
    TIFF* tif =
        TIFFClientOpenExt("TIFF", client.whole.isEmpty() ? "rm" : "r", &client, readProc, writeProc,
                          seekProc, closeProc, sizeProc, mapProc, unmapProc, options);
    TIFFOpenOptionsFree(options);
    if (!tif)
        fail(client, "not a TIFF picture");
    return {tif, TIFFClose};
}

// This libtiff refuses uncompressed tiles of a size that is no multiple of
// 1 KiB when it reads them into its own buffer, which it rounds up; from a
// mapped file it takes them. Such a file is read whole and opened again.
TiffPointer openReadable(Client& client) {
    TiffPointer tif = open(client);
    std::uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_COMPRESSION, &compression);
    if (!TIFFIsTiled(tif.get()) || compression != COMPRESSION_NONE ||
        TIFFTileSize64(tif.get()) % 1024 == 0 || client.file.size > kMaxPictureBytes)
        return tif;
    tif.reset();
    client.whole = readAt(client.file.fd, 0, client.file.size);
    client.offset = 0;
    return open(client);
}

// 16-bit grey, whose tiles this libtiff misplaces when the last one of a
// row is cut by the picture's edge: the high byte of each sample.
void putGrey16(TIFFRGBAImage* image, std::uint32_t* out, std::uint32_t, std::uint32_t,
               std::uint32_t w, std::uint32_t h, std::int32_t fromSkew, std::int32_t toSkew,
               unsigned char* in) {
    const int samples = image->samplesperpixel;
    for (; h > 0; --h) {
        const auto* sample = reinterpret_cast<const std::uint16_t*>(in);
        for (std::uint32_t x = 0; x < w; ++x)
            out[x] = image->BWmap[sample[std::size_t(x) * samples] >> 8][0];
        in += (std::int64_t(w) + fromSkew) * samples * 2;
        out += std::int64_t(w) + toSkew;
    }
}

class RgbaGuard {
public:
    explicit RgbaGuard(TIFFRGBAImage& image) : image_(image) {}
    ~RgbaGuard() { TIFFRGBAImageEnd(&image_); }
    RgbaGuard(const RgbaGuard&) = delete;
    RgbaGuard& operator=(const RgbaGuard&) = delete;

private:
    TIFFRGBAImage& image_;
};

} // namespace

Picture decodeTiff(const SourceFile& file, const DrawSizeChooser& drawSize,
                   ColourConverter& colours) {
    Client client(file);
    const TiffPointer tif = openReadable(client);

    std::uint32_t width = 0;
    std::uint32_t height = 0;
    if (!TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width) ||
        !TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height) || width == 0 || height == 0)
        throw LoadError("the picture's size cannot be read");
    if (width > INT_MAX || height > INT_MAX)
        throw LoadError("picture of " + std::to_string(width) + " x " + std::to_string(height) +
                        " pixels passes the " + std::to_string(kMaxPictureMegabytes) +
                        " MB memory bound");
    std::uint16_t orientation = ORIENTATION_TOPLEFT;
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_ORIENTATION, &orientation);
    const QImageIOHandler::Transformations turn = orientationTurn(orientation);
    const bool swap = turn.testFlag(QImageIOHandler::TransformationRotate90);
    const QSize stored{int(width), int(height)};
    const QSize own = swap ? stored.transposed() : stored;
    checkDecodedSize(own, own, 32, file.size);

    char message[1024] = {};
    TIFFRGBAImage rgba{};
    if (!TIFFRGBAImageOK(tif.get(), message) || !TIFFRGBAImageBegin(&rgba, tif.get(), 1, message))
        throw LoadError(message[0] != '\0' ? message : "the TIFF's pixels cannot be read");
    const RgbaGuard guard(rgba);
    // Decoded as stored: the turn is the finishing step's.
    rgba.req_orientation = rgba.orientation;

    const QSize target = decodeSize(own, drawSize);
    const QByteArray profile = iccProfile(tif.get());
    const bool cmyk = rgba.photometric == PHOTOMETRIC_SEPARATED;
    if (cmyk && rgba.bitspersample == 8) {
        // TIFF stores ink as it is: 0 for none.
        client.cmykRows = colours.cmykRows(profile, false);
        if (client.cmykRows) {
            if (rgba.isContig)
                rgba.put.contig = putCmykContig;
            else
                rgba.put.separate = putCmykSeparate;
        }
    }
    if (rgba.isContig && rgba.bitspersample == 16 &&
        (rgba.photometric == PHOTOMETRIC_MINISBLACK ||
         rgba.photometric == PHOTOMETRIC_MINISWHITE) &&
        rgba.alpha == 0)
        rgba.put.contig = putGrey16;
    // libtiff hands out alpha premultiplied; planar CMYK claims its ink
    // plane as alpha.
    const bool alpha = rgba.alpha != 0 && !cmyk;
    QImage image(stored, client.cmykRows ? QImage::Format_RGB32
                         : alpha         ? QImage::Format_RGBA8888_Premultiplied
                                         : QImage::Format_RGBX8888);
    if (image.isNull())
        throw LoadError("out of memory for a picture of " + std::to_string(width) + " x " +
                        std::to_string(height) + " pixels");

    const std::uint32_t band = bandRows(tif.get(), height);
    for (std::uint32_t row = 0; row < height; row += band) {
        checkCancelled(file);
        rgba.row_offset = int(row);
        rgba.col_offset = 0;
        auto* raster = reinterpret_cast<std::uint32_t*>(image.scanLine(int(row)));
        if (!TIFFRGBAImageGet(&rgba, raster, width, std::min(band, height - row))) {
            if (row == 0 || client.cancelled)
                fail(client, "the TIFF's pixels cannot be read");
            // Cut short: what arrived shows, the rest is black (opaque
            // black is the same word in libtiff's order and in Qt's).
            for (int y = int(row); y < image.height(); ++y) {
                auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
                std::fill(line, line + image.width(), kBlack);
            }
            break;
        }
    }
    if (!client.cmykRows) {
        // libtiff's pixels are words of red in the lowest byte: bytes in
        // the order red, green, blue, alpha on a little-endian machine.
        if constexpr (Q_BYTE_ORDER == Q_BIG_ENDIAN) {
            for (int y = 0; y < image.height(); ++y) {
                auto* line = reinterpret_cast<std::uint32_t*>(image.scanLine(y));
                for (int x = 0; x < image.width(); ++x)
                    line[x] = qbswap(line[x]);
            }
        }
        image.convertTo(alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    }
    const QSize storedTarget = swap ? target.transposed() : target;
    // CMYK went through its profile as it was decoded, or has none of use.
    return finishPicture(std::move(image), own, storedTarget, cmyk ? QByteArray() : profile, turn,
                         colours);
}

} // namespace pictolune
