#pragma once

#include <string>

namespace pictolune::testing {

// Holds what is written to stderr (file descriptor 2) while it lives, in
// memory instead of the terminal. Keep it short-lived: a sanitizer report
// written meanwhile would be caught too.
class StderrCapture {
public:
    StderrCapture();
    ~StderrCapture();
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    // What was written since the capture began or was last taken.
    std::string take();

private:
    int saved_ = -1;
    int file_ = -1;
};

} // namespace pictolune::testing
