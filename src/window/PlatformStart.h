#pragma once

namespace pictolune {

// Watches the QApplication take its window system. Qt aborts the program
// when no platform plug-in starts (status 134, a screenful of advice); while
// this lives, that ends instead with one line saying which plug-in is missing
// or which window system did not answer, and status 1. Whatever is written
// on stderr meanwhile is held back, and passed on by finish().
class PlatformStart {
public:
    PlatformStart();
    ~PlatformStart();
    PlatformStart(const PlatformStart&) = delete;
    PlatformStart& operator=(const PlatformStart&) = delete;

    // The platform started: stderr is the terminal's again, with what was
    // held back.
    void finish();
};

} // namespace pictolune
