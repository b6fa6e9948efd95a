#include "platform/wmf/WmfText.h"

#include <QFontInfo>
#include <QFontMetricsF>
#include <QStringDecoder>

#include <array>
#include <optional>

namespace pictolune::wmf {

namespace {

// Has the characters of every picture font's table (the fonts-symbola
// package).
constexpr auto kPictureFontFamily = "Symbola";

constexpr const char* kFamiliesTextReliesOn[] = {
    "sans-serif", "serif",           "monospace",   "cursive", "fantasy",
    "Arial",      "Times New Roman", "Courier New", "Symbol",  kPictureFontFamily};

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

namespace {

// Whether the record's pitch-and-family byte asks for characters all as wide.
bool fixedPitch(std::uint8_t pitchAndFamily) {
    return (pitchAndFamily & 3) == 1;
}

// The kind of face the byte's family bits name, if any.
std::optional<QFont::StyleHint> familyHint(std::uint8_t pitchAndFamily) {
    switch (pitchAndFamily >> 4) {
    case 1:
        return QFont::Serif;
    case 2:
        return QFont::SansSerif;
    case 3:
        return QFont::Monospace;
    case 4:
        return QFont::Cursive;
    case 5:
        return QFont::Decorative;
    default:
        return std::nullopt;
    }
}

QString matchedFamily(const QString& family) {
    QFont font;
    font.setFamily(family);
    return QFontInfo(font).family();
}

// The font matcher stands in for many faces it does not have with one of
// their kind (a metric clone, or at least a serif face for a serif one), and
// a family hint would override that choice; a face it does not know at all
// gets its default sans face, and only then do the family bits decide.
bool matchedBlindly(const QString& face) {
    return matchedFamily(face) == matchedFamily(QStringLiteral("sans-serif"));
}

} // namespace

QFont makeFont(const FontDef& def, double emPixels, double dpi) {
    QFont font;
    if (symbolFont(def.face) != SymbolFont::None) {
        font.setFamily(kPictureFontFamily);
    } else {
        if (!def.face.isEmpty())
            font.setFamily(def.face);
        const auto hint = familyHint(def.pitchAndFamily);
        if (fixedPitch(def.pitchAndFamily)) {
            // A fixed pitch outweighs the face, as Windows weighs them: a face
            // that is not installed draws in a fixed-pitch one, even where
            // the matcher knows a proportional stand-in for it. A face that
            // is another name for an installed one stays.
            font.setStyleHint(QFont::Monospace);
        } else if (hint && (def.face.isEmpty() || matchedBlindly(def.face))) {
            font.setStyleHint(*hint);
        }
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

std::span<const char* const> familiesTextReliesOn() {
    return kFamiliesTextReliesOn;
}

double cellToEmRatio(const QFont& font) {
    QFont probe = font;
    probe.setPixelSize(200);
    const QFontMetricsF fm(probe);
    const double ratio = (fm.ascent() + fm.descent()) / 200.0;
    return ratio > 0.5 && ratio < 3 ? ratio : 1.0;
}

} // namespace pictolune::wmf
