#include "platform/PictureLoader.h"

#include "platform/Errors.h"
#include "platform/FileNames.h"
#include "platform/wmf/Wmf.h"

#include <QByteArray>
#include <QFile>
#include <QImageReader>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pictolune {

namespace {

// Memory bound for one picture: 1 GiB. Qt's reader refuses any buffer it
// would decode above it, and a picture whose header claims a full size above
// it (counted at no less than 4 bytes a pixel, as drawing it scaled costs) is
// refused before anything is decoded, even when it would be decoded reduced:
// a 65535 x 65535 claim is a decompression bomb, not a photo. 1 GiB holds
// 268 million pixels, past every camera sold today.
constexpr qint64 kMaxPictureBytes = qint64(1) << 30;
constexpr int kMaxPictureMegabytes = int(kMaxPictureBytes >> 20);
// Above this decoded size a picture must come from a file of at least
// 1/kMostBytesPerFileByte of it (see checkClaimedSize).
constexpr qint64 kLargeDecodeBytes = qint64(64) << 20;
constexpr qint64 kMostBytesPerFileByte = 16384;

// A metafile is read whole before it is parsed. The parser's own limits
// (48 million bitmap pixels over a file, a million records) keep every
// metafile it accepts well below this, so a larger file is refused unread
// rather than held in memory only to be refused.
constexpr qint64 kMaxMetafileBytes = qint64(256) << 20;

// Enough for a metafile's placeable and standard headers.
constexpr qint64 kMetafileSniffBytes = 64;

[[noreturn]] void fail(const QString& path, const std::string& why) {
    throw LoadError(path.toStdString() + ": " + why);
}

[[noreturn]] void failWithErrno(const QString& path, int error) {
    fail(path, std::strerror(error));
}

// Qt's reader takes its limit process-wide; it is set once, before the first read.
void setReaderLimit() {
    static const bool done = [] {
        QImageReader::setAllocationLimit(kMaxPictureMegabytes);
        return true;
    }();
    (void)done;
}

bool isMetafileName(const QString& path) {
    return path.endsWith(QLatin1String(".wmf"), Qt::CaseInsensitive);
}

bool rotatesQuarter(QImageIOHandler::Transformations t) {
    return t.testFlag(QImageIOHandler::TransformationRotate90);
}

QSize transposedIf(bool swap, QSize size) {
    return swap ? size.transposed() : size;
}

// The size to decode at, upright: the chooser's answer, never larger than
// the picture in either direction. No chooser, or an answer it cannot mean
// (negative), decodes the whole picture.
QSize decodeSize(QSize own, const DrawSizeChooser& drawSize) {
    if (!drawSize)
        return own;
    const QSize wanted = drawSize(own);
    if (wanted.width() < 0 || wanted.height() < 0)
        return own;
    return {std::clamp(wanted.width(), 1, own.width()),
            std::clamp(wanted.height(), 1, own.height())};
}

void checkClaimedSize(const QString& path, QSize own, QImage::Format format,
                      const QByteArray& fileFormat, qint64 fileSize) {
    const int depth = format == QImage::Format_Invalid
                          ? 32
                          : std::max(32, int(QImage::toPixelFormat(format).bitsPerPixel()));
    // Two ints multiply safely in 64 bits; times the bytes per pixel they
    // may not, so the bound is divided instead.
    const qint64 pixels = qint64(own.width()) * own.height();
    const qint64 bytesPerPixel = depth / 8;
    if (pixels > kMaxPictureBytes / bytesPerPixel) {
        fail(path, "picture of " + std::to_string(own.width()) + " x " +
                       std::to_string(own.height()) + " pixels passes the " +
                       std::to_string(kMaxPictureMegabytes) + " MB memory bound");
    }
    // A few bytes that claim a picture of hundreds of megabytes are a bomb
    // too, even under the bound: only a JPEG is decoded at the reduced size
    // it is drawn at; the others would be decoded, and their buffer filled,
    // whole. Even a picture of one flat colour needs one byte of file for a
    // few thousand pixels.
    if (fileFormat != "jpeg" && pixels * bytesPerPixel > kLargeDecodeBytes &&
        pixels * bytesPerPixel / kMostBytesPerFileByte > fileSize) {
        fail(path, "a file of " + std::to_string(fileSize) + " bytes claims a picture of " +
                       std::to_string(own.width()) + " x " + std::to_string(own.height()) +
                       " pixels");
    }
}

// Drawing converts anything but these on every paint; convert once here.
QImage drawable(QImage image) {
    switch (image.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32_Premultiplied:
        return image;
    default:
        return image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                             : QImage::Format_RGB32);
    }
}

bool isAcceptedFormat(const QByteArray& format) {
    // The formats the viewer promises; the reader's other plugins (vector
    // art, icons, odd legacy formats) stay out, since the memory bound is
    // only checked for formats that state their size in a header.
    return format == "jpeg" || format == "bmp" || format == "gif" || format == "tiff";
}

Picture readRaster(const QString& path, QFile& file, const DrawSizeChooser& drawSize) {
    setReaderLimit();
    QImageReader reader(&file);
    reader.setAutoTransform(true);
    if (!reader.canRead())
        fail(path, reader.errorString().toStdString());
    const QByteArray format = reader.format();
    if (!isAcceptedFormat(format))
        fail(path, "unsupported picture format " + format.toStdString());

    QSize stored = reader.size();
    // A BMP stored top down states a negative height; the reader reads it
    // upright but reports the figure as stored.
    if (format == "bmp" && stored.height() < 0 && stored.height() > INT_MIN)
        stored.setHeight(-stored.height());
    if (stored.isEmpty())
        fail(path, "the picture's size cannot be read");
    const bool swap = rotatesQuarter(reader.transformation());
    const QSize own = transposedIf(swap, stored);
    checkClaimedSize(path, own, reader.imageFormat(), format, file.size());

    // The reader scales in the file's stored orientation, before it turns
    // the picture upright. JPEG decodes straight at a reduced DCT scale;
    // the others are decoded whole and smooth-scaled.
    const QSize target = decodeSize(own, drawSize);
    if (target != own)
        reader.setScaledSize(transposedIf(swap, target));

    QImage image;
    if (!reader.read(&image) || image.isNull())
        fail(path, reader.errorString().toStdString());
    return Picture(drawable(std::move(image)), own);
}

Picture readMetafile(const QString& path, QFile& file, qint64 fileSize) {
    if (fileSize > kMaxMetafileBytes)
        fail(path, "metafile passes the memory bound");
    const QByteArray bytes = file.readAll();
    if (bytes.size() != fileSize)
        fail(path, file.errorString().toStdString());
    return loadWmf(bytes);
}

} // namespace

Picture loadPicture(const QString& path, const DrawSizeChooser& drawSize) {
    if (path.isEmpty())
        return {};
    // Names that are not valid UTF-8 arrive with their raw bytes kept as lone
    // surrogates; encodeFileName gives those bytes back.
    const QByteArray name = encodeFileName(path);
    // The system would see only the part before a NUL: another file.
    if (name.contains('\0'))
        fail(path, "file name holds a NUL character");

    // Only regular files are opened: a FIFO, device or socket could block or
    // have side effects on open. The descriptor is checked again after the
    // open in case the name was swapped in between, and O_NONBLOCK keeps even
    // that case from hanging.
    struct stat info {};
    if (::stat(name.constData(), &info) != 0)
        failWithErrno(path, errno);
    if (!S_ISREG(info.st_mode))
        fail(path, "not a regular file");
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        failWithErrno(path, errno);
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        fail(path, "not a regular file");
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        fail(path, file.errorString().toStdString());
    }

    if (isMetafileName(path) || looksLikeWmf(file.peek(kMetafileSniffBytes)))
        return readMetafile(path, file, info.st_size);
    return readRaster(path, file, drawSize);
}

} // namespace pictolune
