#include "platform/codecs/QtReader.h"

#include "platform/base/Errors.h"
#include "platform/codecs/Bounds.h"
#include "platform/codecs/Finish.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>

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

Picture decodeGif(const SourceFile& file, const DrawSizeChooser& drawSize,
                  ColourConverter& colours) {
    setReaderLimit();
    CancellableFile device(file.cancelled);
    if (!device.open(file.fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle) || !device.seek(0))
        throw LoadError(device.errorString().toStdString());
    // Only the GIF reader is asked: none of Qt's other plugins gets to
    // parse the file.
    QImageReader reader(&device, "gif");
    reader.setAutoDetectImageFormat(false);
    if (!reader.canRead())
        fail(reader);

    const QSize own = reader.size();
    if (own.isEmpty())
        throw LoadError("the picture's size cannot be read");
    // Decoded whole, however small it is drawn.
    const QImage::Format pixelFormat = reader.imageFormat();
    checkDecodedSize(own, own,
                     pixelFormat == QImage::Format_Invalid
                         ? 32
                         : int(QImage::toPixelFormat(pixelFormat).bitsPerPixel()),
                     file.size);

    const QSize target = decodeSize(own, drawSize);
    QImage image;
    if (!reader.read(&image) || image.isNull()) {
        checkCancelled(file);
        fail(reader);
    }
    // GIF has no orientation, and Qt reads no colour profile from one.
    return finishPicture(std::move(image), own, target, QByteArray(),
                         QImageIOHandler::TransformationNone, colours);
}

void loadQtReaders() {
    setReaderLimit();
    // Qt writes no GIF: one pixel of one, made by hand.
    QByteArray bytes("GIF89a\x01\x00\x01\x00\x80\x00\x00\x00\x00\x00\xff\xff\xff"
                     "\x2c\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00\x3b",
                     35);
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "gif");
    reader.setAutoDetectImageFormat(false);
    reader.read();
}

} // namespace pictolune
