#include "platform/base/TerminalText.h"

#include <cstdio>

namespace pictolune {

namespace {

// The length of the UTF-8 character that starts at `at`, or 0 where the
// bytes there are not one.
std::size_t characterLength(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = lead < 0x80                   ? 1
                               : lead >= 0xc2 && lead < 0xe0 ? 2
                               : lead >= 0xe0 && lead < 0xf0 ? 3
                               : lead >= 0xf0 && lead < 0xf5 ? 4
                                                             : 0;
    if (length == 0 || at + length > text.size())
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((static_cast<unsigned char>(text[at + i]) & 0xc0) != 0x80)
            return 0;
    }
    return length;
}

} // namespace

std::string forTerminal(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const auto byte = static_cast<unsigned char>(text[at]);
        const std::size_t length = characterLength(text, at);
        const bool c1 =
            length == 2 && byte == 0xc2 && static_cast<unsigned char>(text[at + 1]) < 0xa0;
        if (byte < 0x20 || byte == 0x7f || c1 || (length == 0 && byte >= 0x80 && byte < 0xa0)) {
            out += '?';
            at += c1 ? 2 : 1;
            continue;
        }
        const std::size_t taken = length == 0 ? 1 : length;
        out.append(text.substr(at, taken));
        at += taken;
    }
    return out;
}

void sayOnStderr(std::string_view message) noexcept {
    try {
        const std::string line = "pictolune: " + forTerminal(message) + '\n';
        std::fwrite(line.data(), 1, line.size(), stderr);
    } catch (...) {
        // Out of memory for the line: nothing else is hurt by its absence.
    }
}

} // namespace pictolune
