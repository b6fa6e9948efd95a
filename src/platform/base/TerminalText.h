#pragma once

#include <string>
#include <string_view>

namespace pictolune {

// `text` made fit for one line of a terminal: every control character, C0
// (below 0x20), DEL and C1 (U+0080 to U+009F, and the single bytes 0x80 to
// 0x9F that are not part of a UTF-8 character, which some terminals obey as
// controls), becomes '?'. Other bytes, valid UTF-8 or not, pass unchanged,
// so that a file name whose bytes are not UTF-8 stays recognisable.
std::string forTerminal(std::string_view text);

// Writes one line on stderr for whoever started Pictolune from a terminal:
// "pictolune: ", then `message` fit for a terminal, so that nothing a file
// name holds can break the line up. Never throws; a line that cannot be
// made is left unsaid.
void sayOnStderr(std::string_view message) noexcept;

} // namespace pictolune
