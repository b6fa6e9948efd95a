#include "platform/base/StderrLine.h"

#include <algorithm>
#include <cstdio>

namespace pictolune {

void sayOnStderr(std::string message) noexcept {
    try {
        const auto isControl = [](char c) {
            return static_cast<unsigned char>(c) < 0x20 || c == '\x7f';
        };
        std::replace_if(message.begin(), message.end(), isControl, '?');
        const std::string line = "pictolune: " + message + '\n';
        std::fwrite(line.data(), 1, line.size(), stderr);
    } catch (...) {
        // Out of memory for the line: nothing else is hurt by its absence.
    }
}

} // namespace pictolune
