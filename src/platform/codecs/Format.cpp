#include "platform/codecs/Format.h"

#include "platform/codecs/FileBytes.h"
#include "platform/wmf/Wmf.h"

#include <QByteArray>

namespace pictolune {

namespace {

// Enough for every signature below and a metafile's two headers.
constexpr qint64 kSniffBytes = 64;

} // namespace

Format formatOf(const SourceFile& file) {
    const QByteArray head = readAt(file.fd, 0, kSniffBytes);
    if (file.namedAsMetafile || looksLikeWmf(head))
        return Format::Metafile;
    if (head.startsWith("\xff\xd8"))
        return Format::Jpeg;
    if (head.startsWith("BM"))
        return Format::Bmp;
    if (head.startsWith("GIF87a") || head.startsWith("GIF89a"))
        return Format::Gif;
    if (head.startsWith(QByteArray("II*\0", 4)) || head.startsWith(QByteArray("MM\0*", 4)) ||
        head.startsWith(QByteArray("II+\0", 4)) || head.startsWith(QByteArray("MM\0+", 4)))
        return Format::Tiff;
    return Format::Unknown;
}

} // namespace pictolune
