#pragma once

#include <QColor>

#include <cstdint>

namespace pictolune {

// Colour values as the program stores them: 0x00BBGGRR, or with the top bit
// set, 0x80000000 + n for system colour n, resolved from the desktop's palette.
inline constexpr std::uint32_t kMenuTextColour = 0x80000007;
inline constexpr std::uint32_t kHighlightTextColour = 0x8000000E;

QColor resolveColour(std::uint32_t value);

} // namespace pictolune
