#include "window/CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>
#include <cstdlib>

namespace pictolune {

CommandLine parseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QCoreApplication::translate("main", "Shows the pictures of a folder one at a time."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(
        "folder",
        QCoreApplication::translate(
            "main", "Folders whose pictures to show. Without one, a folder dialog asks."),
        "[FOLDER...]");
    parser.process(arguments);

    CommandLine result;
    for (const QString& folder : parser.positionalArguments()) {
        if (!QFileInfo(folder).isDir()) {
            std::fprintf(stderr, "pictolune: %s: no such folder\n", qPrintable(folder));
            std::exit(2);
        }
        result.folders.append(folder);
    }
    return result;
}

} // namespace pictolune
