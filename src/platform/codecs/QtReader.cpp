#include "platform/codecs/QtReader.h"

#include "platform/base/Errors.h"
#include "platform/codecs/Bounds.h"
#include "platform/codecs/ColourConverter.h"
#include "platform/codecs/EmbeddedProfile.h"
#include "platform/codecs/Finish.h"

#include <QBuffer>
#include <QColorSpace>
#include <QFile>
#include <QImageReader>

#include <climits>
#include <functional>

namespace pictolune {

namespace {

// Qt's reader takes its limit process-wide; it is set once, before the first read.
void setReaderLimit() {
    static const bool done = [] {
        QImageReader::setAllocationLimit(kMaxPictureMegabytes);
        return true;
    }();
    (void)done;
}

// The picture's file, whose reads fail once the picture is no longer
// wanted: the reader then gives up at its next read.
class CancellableFile : public QFile {
public:
    explicit CancellableFile(const std::function<bool()>& cancelled) : cancelled_(cancelled) {}

protected:
    qint64 readData(char* data, qint64 size) override {
        if (cancelled_ && cancelled_())
            return -1;
        return QFile::readData(data, size);
    }

private:
    const std::function<bool()>& cancelled_;
};

[[noreturn]] void fail(const QImageReader& reader) {
    // Qt's reader says "Unknown error" when, for one, memory ran out.
    if (reader.error() == QImageReader::UnknownError)
        throw LoadError("the picture cannot be decoded, and the reader gives no reason");
    throw LoadError(reader.errorString().toStdString());
}

} // namespace

Picture decodeWithQt(const SourceFile& file, const QByteArray& format,
                     const DrawSizeChooser& drawSize, ColourConverter& colours) {
    setReaderLimit();
    CancellableFile device(file.cancelled);
    if (!device.open(file.fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle) || !device.seek(0))
        throw LoadError(device.errorString().toStdString());
    // Only the reader for the format the file's signature names is asked:
    // none of Qt's other plugins gets to parse it.
    QImageReader reader(&device, format);
    reader.setAutoDetectImageFormat(false);
    reader.setAutoTransform(true);
    if (!reader.canRead())
        fail(reader);

    QSize stored = reader.size();
    // A BMP stored top down states a negative height; the reader reads it
    // upright but reports the figure as stored.
    if (format == "bmp" && stored.height() < 0 && stored.height() > INT_MIN)
        stored.setHeight(-stored.height());
    if (stored.isEmpty())
        throw LoadError("the picture's size cannot be read");
    const bool swap = reader.transformation().testFlag(QImageIOHandler::TransformationRotate90);
    const QSize own = swap ? stored.transposed() : stored;
    // These formats are decoded whole, however small they are drawn.
    const QImage::Format pixelFormat = reader.imageFormat();
    checkDecodedSize(own, own,
                     pixelFormat == QImage::Format_Invalid
                         ? 32
                         : int(QImage::toPixelFormat(pixelFormat).bitsPerPixel()),
                     file.size);

    const QSize target = decodeSize(own, drawSize);
    QImage image;
    if (!reader.read(&image) || image.isNull()) {
        if (file.cancelled && file.cancelled())
            throw LoadError("cancelled");
        fail(reader);
    }
    // The reader keeps the profile's bytes even where Qt cannot use them.
    // Decoded pictures are in the display's space and claim none.
    const QByteArray profile = checkedIccProfile(image.colorSpace().iccProfile());
    image.setColorSpace(QColorSpace());
    // Read upright already.
    return finishPicture(std::move(image), own, target, profile,
                         QImageIOHandler::TransformationNone, colours);
}

void loadQtReaders() {
    setReaderLimit();
    QImage tiny(2, 2, QImage::Format_RGB32);
    tiny.fill(Qt::gray);
    for (const char* format : {"gif", "tiff", "bmp"}) {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        // Qt writes no GIF: one pixel of one, made by hand.
        if (qstrcmp(format, "gif") == 0) {
            bytes = QByteArray("GIF89a\x01\x00\x01\x00\x80\x00\x00\x00\x00\x00\xff\xff\xff"
                               "\x2c\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00\x3b",
                               35);
        } else {
            tiny.save(&buffer, format);
        }
        buffer.close();
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer, format);
        reader.setAutoDetectImageFormat(false);
        reader.read();
    }
}

} // namespace pictolune
