#include "platform/codecs/Decode.h"

#include "platform/base/Errors.h"
#include "platform/codecs/Bmp.h"
#include "platform/codecs/Bounds.h"
#include "platform/codecs/FileBytes.h"
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

// Enough for every signature below and a metafile's two headers.
constexpr qint64 kSniffBytes = 64;

enum class Kind { Jpeg, Bmp, Gif, Tiff, Metafile, Unknown };

// The format by the file's own signature, as each format's reader checks it.
Kind kindOf(const QByteArray& head, bool namedAsMetafile) {
    if (namedAsMetafile || looksLikeWmf(head))
        return Kind::Metafile;
    if (head.startsWith("\xff\xd8"))
        return Kind::Jpeg;
    if (head.startsWith("BM"))
        return Kind::Bmp;
    if (head.startsWith("GIF87a") || head.startsWith("GIF89a"))
        return Kind::Gif;
    if (head.startsWith(QByteArray("II*\0", 4)) || head.startsWith(QByteArray("MM\0*", 4)) ||
        head.startsWith(QByteArray("II+\0", 4)) || head.startsWith(QByteArray("MM\0+", 4)))
        return Kind::Tiff;
    return Kind::Unknown;
}

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
    switch (kindOf(readAt(file.fd, 0, kSniffBytes), file.namedAsMetafile)) {
    case Kind::Metafile:
        return decodeMetafile(file, drawSize);
    case Kind::Jpeg:
        return decodeJpeg(file, drawSize, colours);
    case Kind::Bmp:
        return decodeBmp(file, drawSize, colours);
    case Kind::Gif:
        return decodeGif(file, drawSize, colours);
    case Kind::Tiff:
        return decodeTiff(file, drawSize, colours);
    case Kind::Unknown:
        break;
    }
    throw LoadError("not a JPEG, BMP, GIF, TIFF or metafile picture");
}

} // namespace pictolune
