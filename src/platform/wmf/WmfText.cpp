#include "platform/wmf/WmfText.h"

#include <QFontMetricsF>
#include <QStringDecoder>

#include <array>

namespace pictolune::wmf {

namespace {

// The Western code page differs from Latin-1 only in 0x80..0x9F.
constexpr std::array<char16_t, 32> kWestern = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

const char* encodingName(std::uint8_t charset) {
    switch (charset) {
    case 128:
        return "Shift_JIS";
    case 129:
        return "EUC-KR";
    case 134:
        return "GBK";
    case 136:
        return "Big5";
    case 161:
        return "windows-1253";
    case 162:
        return "windows-1254";
    case 163:
        return "windows-1258";
    case 177:
        return "windows-1255";
    case 178:
        return "windows-1256";
    case 186:
        return "windows-1257";
    case 204:
        return "windows-1251";
    case 222:
        return "windows-874";
    case 238:
        return "windows-1250";
    default:
        return nullptr;
    }
}

} // namespace

QString decodeText(const QByteArray& bytes, std::uint8_t charset) {
    if (const char* name = encodingName(charset)) {
        QStringDecoder decoder(name);
        if (decoder.isValid()) {
            QString text = decoder.decode(bytes);
            if (!decoder.hasError())
                return text;
        }
    }
    QString text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (charset != 2 && b >= 0x80 && b < 0xA0)
            text.append(QChar(kWestern[b - 0x80]));
        else
            text.append(QChar(b));
    }
    return text;
}

QFont makeFont(const FontDef& def, double emPixels, double dpi) {
    QFont font;
    if (!def.face.isEmpty())
        font.setFamily(def.face);
    switch (def.pitchAndFamily >> 4) {
    case 1:
        font.setStyleHint(QFont::Serif);
        break;
    case 2:
        font.setStyleHint(QFont::SansSerif);
        break;
    case 3:
        font.setStyleHint(QFont::Monospace);
        break;
    case 4:
        font.setStyleHint(QFont::Cursive);
        break;
    case 5:
        font.setStyleHint(QFont::Decorative);
        break;
    default:
        font.setStyleHint((def.pitchAndFamily & 3) == 1 ? QFont::Monospace : QFont::SansSerif);
    }
    font.setPointSizeF(emPixels * 72.0 / dpi);
    font.setWeight(
        static_cast<QFont::Weight>(def.weight <= 0 ? 400 : std::clamp(def.weight, 1, 1000)));
    font.setItalic(def.italic);
    font.setUnderline(def.underline);
    font.setStrikeOut(def.strikeOut);
    font.setKerning(false);
    return font;
}

double cellToEmRatio(const QFont& font) {
    QFont probe = font;
    probe.setPixelSize(200);
    const QFontMetricsF fm(probe);
    const double ratio = (fm.ascent() + fm.descent()) / 200.0;
    return ratio > 0.5 && ratio < 3 ? ratio : 1.0;
}

} // namespace pictolune::wmf
