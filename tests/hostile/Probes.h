#pragma once

#include "support/ProcessMemory.h"
#include "window/Form1.h"

#include <cstdint>
#include <optional>

// What the hostile tests watch: the process's memory, and whether one show
// kept the display's rules.
namespace pictolune::testing {

// Heap memory in use by live allocations, in KiB: what leaks would swell.
// Under AddressSanitizer it leaves out the freed memory the sanitizer holds
// back to catch late uses, which resident memory counts.
long heapInUseKb();

struct ShowResult {
    bool shown = false;
    double milliseconds = 0;
};

// Shows the picture at `index` and checks, with gtest expectations, that the
// show either completed (the picture visible, captioned with its path, fitted
// from its own size inside the window) or failed quietly (the picture area
// hidden and empty, the caption as before). Paints what was shown.
ShowResult showAndCheck(Form1& form, std::int32_t index);

// Checks the display's state after a show that nobody timed, such as one
// made by a tick: a visible picture has a caption of its path and lies
// inside the window; a hidden one holds no picture.
void checkDisplayState(const Form1& form);

} // namespace pictolune::testing
