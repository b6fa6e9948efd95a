#include "platform/decode/EmbeddedProfile.h"

#include <QIODevice>
#include <QScopeGuard>
#include <QtEndian>

#include <optional>
#include <vector>

namespace pictolune {

namespace {

constexpr qsizetype kIccHeaderBytes = 128;
constexpr qsizetype kIccSignatureOffset = 36;

// "ICC_PROFILE", its NUL, then the piece's number (from 1) and the count.
constexpr QByteArrayView kJpegIccTag("ICC_PROFILE\0", 12);
constexpr qsizetype kJpegIccPrefixBytes = kJpegIccTag.size() + 2;

constexpr quint16 kTiffIccTag = 34675;
constexpr quint16 kTiffTypeByte = 1;
constexpr quint16 kTiffTypeUndefined = 7;
// A directory of more entries than this is damaged, not rich.
constexpr quint64 kMaxTiffEntries = 4096;

// The fields of a TIFF directory, classic (32-bit offsets) or BigTIFF.
struct TiffLayout {
    bool littleEndian = true;
    bool big = false;
    qsizetype countBytes() const { return big ? 8 : 2; }
    qsizetype entryBytes() const { return big ? 20 : 12; }
    qsizetype valueBytes() const { return big ? 8 : 4; }

    quint64 number(QByteArrayView bytes, qsizetype at, qsizetype width) const {
        const char* p = bytes.data() + at;
        switch (width) {
        case 2:
            return littleEndian ? qFromLittleEndian<quint16>(p) : qFromBigEndian<quint16>(p);
        case 4:
            return littleEndian ? qFromLittleEndian<quint32>(p) : qFromBigEndian<quint32>(p);
        default:
            return littleEndian ? qFromLittleEndian<quint64>(p) : qFromBigEndian<quint64>(p);
        }
    }
};

// `length` bytes at `offset`, or nothing when they do not all lie inside the file.
std::optional<QByteArray> readAt(QIODevice& file, qint64 fileSize, quint64 offset, quint64 length) {
    if (offset > quint64(fileSize) || length > quint64(fileSize) - offset)
        return std::nullopt;
    if (!file.seek(qint64(offset)))
        return std::nullopt;
    QByteArray bytes = file.read(qint64(length));
    if (bytes.size() != qsizetype(length))
        return std::nullopt;
    return bytes;
}

std::optional<TiffLayout> tiffLayout(QByteArrayView header) {
    TiffLayout layout;
    if (header.startsWith("II"))
        layout.littleEndian = true;
    else if (header.startsWith("MM"))
        layout.littleEndian = false;
    else
        return std::nullopt;
    const quint64 version = layout.number(header, 2, 2);
    if (version == 43) {
        // BigTIFF: offsets are 8 bytes wide, and the header says so.
        if (layout.number(header, 4, 2) != 8 || layout.number(header, 6, 2) != 0)
            return std::nullopt;
        layout.big = true;
    } else if (version != 42) {
        return std::nullopt;
    }
    return layout;
}

} // namespace

QByteArray checkedIccProfile(QByteArray bytes) {
    if (bytes.size() < kIccHeaderBytes || bytes.size() > kMaxIccProfileBytes)
        return {};
    if (QByteArrayView(bytes).sliced(kIccSignatureOffset, 4) != "acsp")
        return {};
    const quint32 declared = qFromBigEndian<quint32>(bytes.constData());
    if (declared < quint32(kIccHeaderBytes) || declared > quint32(bytes.size()))
        return {};
    bytes.truncate(qsizetype(declared));
    return bytes;
}

QByteArray iccProfileFromJpegMarkers(std::span<const QByteArrayView> app2Payloads) {
    std::vector<QByteArrayView> pieces;
    std::vector<bool> seen;
    for (const QByteArrayView payload : app2Payloads) {
        if (!payload.startsWith(kJpegIccTag))
            continue;
        if (payload.size() < kJpegIccPrefixBytes)
            return {};
        const int number = uchar(payload[kJpegIccTag.size()]);
        const int count = uchar(payload[kJpegIccTag.size() + 1]);
        if (pieces.empty()) {
            pieces.resize(std::size_t(count));
            seen.resize(std::size_t(count));
        }
        if (count != int(pieces.size()) || number < 1 || number > count || seen[number - 1])
            return {};
        seen[number - 1] = true;
        pieces[number - 1] = payload.sliced(kJpegIccPrefixBytes);
    }
    qsizetype total = 0;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (!seen[i])
            return {};
        total += pieces[i].size();
    }
    if (total == 0 || total > kMaxIccProfileBytes)
        return {};
    QByteArray profile;
    profile.reserve(total);
    for (const QByteArrayView piece : pieces)
        profile.append(piece);
    return checkedIccProfile(std::move(profile));
}

QByteArray iccProfileFromTiff(QIODevice& file) {
    if (!file.isOpen() || file.isSequential())
        return {};
    const qint64 position = file.pos();
    const auto restore = qScopeGuard([&file, position] { file.seek(position); });
    const qint64 size = file.size();

    const std::optional<QByteArray> header = readAt(file, size, 0, 16);
    if (!header)
        return {};
    const std::optional<TiffLayout> layout = tiffLayout(*header);
    if (!layout)
        return {};
    const quint64 directory =
        layout->big ? layout->number(*header, 8, 8) : layout->number(*header, 4, 4);

    const std::optional<QByteArray> countField =
        readAt(file, size, directory, quint64(layout->countBytes()));
    if (!countField)
        return {};
    const quint64 entries = layout->number(*countField, 0, layout->countBytes());
    if (entries == 0 || entries > kMaxTiffEntries)
        return {};
    const std::optional<QByteArray> table =
        readAt(file, size, directory + quint64(layout->countBytes()),
               entries * quint64(layout->entryBytes()));
    if (!table)
        return {};

    for (quint64 i = 0; i < entries; ++i) {
        const qsizetype at = qsizetype(i) * layout->entryBytes();
        if (layout->number(*table, at, 2) != kTiffIccTag)
            continue;
        const quint64 type = layout->number(*table, at + 2, 2);
        if (type != kTiffTypeByte && type != kTiffTypeUndefined)
            return {};
        const qsizetype countWidth = layout->valueBytes();
        const quint64 count = layout->number(*table, at + 4, countWidth);
        // A count that fits the entry's own value field is far too short
        // for a profile; anything else sits at the offset the field holds.
        if (count <= quint64(layout->valueBytes()) || count > quint64(kMaxIccProfileBytes))
            return {};
        const quint64 offset = layout->number(*table, at + 4 + countWidth, layout->valueBytes());
        const std::optional<QByteArray> bytes = readAt(file, size, offset, count);
        return bytes ? checkedIccProfile(*bytes) : QByteArray();
    }
    return {};
}

} // namespace pictolune
