#pragma once

#include <QStringList>

namespace pictolune {

struct CommandLine {
    QStringList folders;
};

// Parses the arguments. --help and --version print and exit with status 0;
// a folder that does not exist is reported on stderr and exits with status 2.
CommandLine parseCommandLine(const QStringList& arguments);

} // namespace pictolune
