#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace pictolune {

struct CommandLine {
    // The folders to scan, each once, in the order first named.
    QStringList folders;
    // The pictures named, as the scan of their folder will store their
    // paths, each once; the show starts at the first.
    QStringList pictures;
};

// Parses the arguments (the program's name first): folders and pictures,
// mixed. A picture stands for its folder and is shown whatever the case of
// its ending. Everything here answers without a display: --help and
// --version print and exit with status 0; a bad option, a path that does not
// exist and a file that is not a picture Pictolune shows are reported on
// stderr and exit with status 2.
CommandLine parseCommandLine(const QStringList& arguments);

// Whether Qt can open a window: a display is named (DISPLAY or
// WAYLAND_DISPLAY), or QT_QPA_PLATFORM names a platform that needs none.
// Without one Qt aborts the program, so this is asked first.
bool displayAvailable(const QProcessEnvironment& environment);

} // namespace pictolune
