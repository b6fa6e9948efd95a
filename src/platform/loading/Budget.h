#pragma once

#include <QSize>
#include <QtGlobal>

#include <chrono>
#include <cstdint>
#include <string>

namespace pictolune {

// What a decoder may spend on one picture: processor time, which a busy
// machine does not change, and a ceiling of wall-clock time that only a
// decoder that is stuck meets.
struct Budget {
    std::chrono::nanoseconds processorTime{};
    std::chrono::nanoseconds ceiling{};

    // Until the header is read: by the file's size.
    static Budget forHeader(qint64 fileBytes);
    // For the whole picture once the header is read: by the work it claims
    // (protocol's Header::work) and the pixels it is drawn at.
    static Budget forPixels(std::uint64_t claimedWork, QSize drawn);
};

// "1.2 s".
std::string secondsText(std::chrono::nanoseconds time);

} // namespace pictolune
