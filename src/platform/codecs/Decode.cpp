#include "platform/codecs/Decode.h"

#include "platform/base/Errors.h"
#include "platform/codecs/Bmp.h"
#include "platform/codecs/Bounds.h"
#include "platform/codecs/FileBytes.h"
#include "platform/codecs/Format.h"
#include "platform/codecs/Jpeg.h"
#include "platform/codecs/QtReader.h"
#include "platform/codecs/Tiff.h"
#include "platform/wmf/Wmf.h"

#include <QByteArray>

#include <string>

namespace pictolune {

namespace {

// A metafile is read whole before it is parsed. The parser's own limits
// (48 million bitmap pixels over a file, a million records) keep every
// metafile it accepts well below this, so a larger file is refused unread
// rather than held in memory only to be refused.
constexpr qint64 kMaxMetafileBytes = qint64(256) << 20;

Picture decodeMetafile(const SourceFile& file, const DrawSizeChooser& drawSize) {
    if (file.size > kMaxMetafileBytes)
        throw LoadError("metafile passes the memory bound");
    const QByteArray bytes = readAt(file.fd, 0, file.size);
    if (bytes.size() != file.size)
        throw LoadError("the metafile changed while it was read");
    const Picture art = loadWmf(bytes);
    const QSize own = art.size();
    const QSize target = decodeSize(own, drawSize);
    checkMemoryBound(own, target, 32);
    QImage image = art.render(target);
    if (image.isNull())
        throw LoadError("the metafile cannot be drawn at " + std::to_string(target.width()) +
                        " x " + std::to_string(target.height()) + " pixels");
    return Picture(drawable(std::move(image)), own);
}

} // namespace

Picture decodePicture(const SourceFile& file, const DrawSizeChooser& drawSize,
                      ColourConverter& colours) {
    if (file.size == 0)
        throw LoadError("the file is empty");
    switch (formatOf(file)) {
    case Format::Metafile:
        return decodeMetafile(file, drawSize);
    case Format::Jpeg:
        return decodeJpeg(file, drawSize, colours);
    case Format::Bmp:
        return decodeBmp(file, drawSize, colours);
    case Format::Gif:
        return decodeGif(file, drawSize, colours);
    case Format::Tiff:
        return decodeTiff(file, drawSize, colours);
    case Format::Unknown:
        break;
    }
    throw LoadError("not a JPEG, BMP, GIF, TIFF or metafile picture");
}

} // namespace pictolune
