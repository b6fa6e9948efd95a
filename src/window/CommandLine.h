#pragma once

#include <QString>
#include <QStringList>

namespace pictolune {

struct CommandLine {
    // The folders to scan, each once, in the order first named.
    QStringList folders;
    // The picture to start at, as the scan will store its path; empty when
    // no picture was named.
    QString startPicture;
};

// Parses the arguments: folders and pictures, mixed. A picture stands for
// its folder and names the picture to start at. --help and --version print
// and exit with status 0; a path that does not exist is reported on stderr
// and exits with status 2.
CommandLine parseCommandLine(const QStringList& arguments);

} // namespace pictolune
