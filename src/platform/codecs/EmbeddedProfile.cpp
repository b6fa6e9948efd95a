#include "platform/codecs/EmbeddedProfile.h"

#include <QtEndian>

#include <vector>

namespace pictolune {

namespace {

constexpr qsizetype kIccHeaderBytes = 128;
constexpr qsizetype kIccSignatureOffset = 36;

// "ICC_PROFILE", its NUL, then the piece's number (from 1) and the count.
constexpr QByteArrayView kJpegIccTag("ICC_PROFILE\0", 12);
constexpr qsizetype kJpegIccPrefixBytes = kJpegIccTag.size() + 2;

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

} // namespace pictolune
