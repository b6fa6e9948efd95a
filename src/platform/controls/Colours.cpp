#include "platform/controls/Colours.h"

#include <QGuiApplication>
#include <QPalette>

namespace pictolune {

QColor resolveColour(std::uint32_t value) {
    if ((value & 0x80000000u) == 0)
        return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
    const QPalette palette = QGuiApplication::palette();
    switch (value & 0xFF) {
    case 7: // menu text
        return palette.color(QPalette::Active, QPalette::WindowText);
    case 14: // highlighted text
        return palette.color(QPalette::Active, QPalette::HighlightedText);
    default:
        return palette.color(QPalette::Active, QPalette::WindowText);
    }
}

} // namespace pictolune
