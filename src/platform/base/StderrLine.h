#pragma once

#include <string>

namespace pictolune {

// Writes one line on stderr for whoever started Pictolune from a terminal:
// "pictolune: ", then `message` with each control character shown as '?', so
// that nothing a file name holds can break the line up. Never throws; a line
// that cannot be made is left unsaid.
void sayOnStderr(std::string message) noexcept;

} // namespace pictolune
