#include "platform/files/FileNames.h"

namespace pictolune {

namespace {

constexpr char16_t kEscapeBase = 0xDC00; // byte b (>= 0x80) escapes to U+DC00 + b

bool isContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// Length of the valid UTF-8 sequence at the start of `bytes`, 0 if invalid.
// Overlong forms, encoded surrogates and code points above U+10FFFF are
// invalid, so every valid sequence has exactly one meaning.
int validSequenceLength(const unsigned char* p, std::size_t available, char32_t& codePoint) {
    const unsigned char lead = p[0];
    int length;
    char32_t minimum;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        codePoint = lead & 0x1F;
        minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        codePoint = lead & 0x0F;
        minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        codePoint = lead & 0x07;
        minimum = 0x10000;
    } else {
        return 0;
    }
    if (available < static_cast<std::size_t>(length))
        return 0;
    for (int i = 1; i < length; ++i) {
        if (!isContinuation(p[i]))
            return 0;
        codePoint = (codePoint << 6) | (p[i] & 0x3F);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
        return 0;
    return length;
}

} // namespace

qsizetype decodeFileNameInto(std::string_view bytes, char16_t* out) {
    char16_t* const begin = out;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* const end = p + bytes.size();
    while (p < end) {
        if (*p < 0x80) {
            *out++ = *p++;
            continue;
        }
        char32_t codePoint = 0;
        const int length = validSequenceLength(p, static_cast<std::size_t>(end - p), codePoint);
        if (length == 0) {
            *out++ = static_cast<char16_t>(kEscapeBase + *p++);
        } else if (codePoint >= 0x10000) {
            *out++ = QChar::highSurrogate(codePoint);
            *out++ = QChar::lowSurrogate(codePoint);
            p += length;
        } else {
            *out++ = static_cast<char16_t>(codePoint);
            p += length;
        }
    }
    return out - begin;
}

QString decodeFileName(std::string_view bytes) {
    QString result(static_cast<qsizetype>(bytes.size()), Qt::Uninitialized);
    result.truncate(decodeFileNameInto(bytes, reinterpret_cast<char16_t*>(result.data())));
    return result;
}

QByteArray encodeFileName(QStringView name) {
    QByteArray result;
    result.reserve(name.size() * 3);
    const qsizetype n = name.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t unit = name[i].unicode();
        char32_t codePoint = unit;
        if (unit < 0x80) {
            result.append(static_cast<char>(unit));
            continue;
        }
        if (QChar::isHighSurrogate(unit) && i + 1 < n &&
            QChar::isLowSurrogate(name[i + 1].unicode())) {
            codePoint = QChar::surrogateToUcs4(unit, name[i + 1].unicode());
            ++i;
        } else if (unit >= kEscapeBase + 0x80 && unit <= kEscapeBase + 0xFF) {
            result.append(static_cast<char>(unit - kEscapeBase));
            continue;
        } else if (QChar::isSurrogate(unit)) {
            codePoint = 0xFFFD;
        }
        if (codePoint < 0x800) {
            result.append(static_cast<char>(0xC0 | (codePoint >> 6)));
        } else if (codePoint < 0x10000) {
            result.append(static_cast<char>(0xE0 | (codePoint >> 12)));
            result.append(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        } else {
            result.append(static_cast<char>(0xF0 | (codePoint >> 18)));
            result.append(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
            result.append(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        }
        result.append(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
    return result;
}

} // namespace pictolune
