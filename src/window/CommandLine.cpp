#include "window/CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QHash>

#include <cstdio>
#include <cstdlib>

namespace pictolune {

namespace {

[[noreturn]] void failWith(const QString& message) {
    std::fprintf(stderr, "pictolune: %s\n", qPrintable(message));
    std::exit(2);
}

} // namespace

CommandLine parseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QCoreApplication::translate(
        "main", "Shows the pictures of a folder one at a time, fitted to the screen."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(
        "path",
        QCoreApplication::translate("main", "Folders whose pictures to show, or pictures to "
                                            "start at. Without one, a folder dialog asks."),
        "[FOLDER|PICTURE...]");
    // A bad option is a bad command line like a missing path: status 2.
    if (!parser.parse(arguments))
        failWith(parser.errorText());
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();

    CommandLine result;
    // Spelling of each folder as first named, by its canonical path, so that
    // a folder named twice, or through two of its pictures, is scanned once.
    QHash<QString, QString> spellings;
    const auto addFolder = [&](const QString& folder) -> QString {
        const QString canonical = QFileInfo(folder).canonicalFilePath();
        const auto known = spellings.constFind(canonical);
        if (known != spellings.constEnd())
            return *known;
        spellings.insert(canonical, folder);
        result.folders.append(folder);
        return folder;
    };

    for (const QString& path : parser.positionalArguments()) {
        const QFileInfo info(path);
        if (info.isDir()) {
            addFolder(path);
        } else if (info.exists()) {
            const QString folder = addFolder(info.absolutePath());
            if (result.startPicture.isEmpty())
                result.startPicture = folder + QLatin1Char('/') + info.fileName();
        } else {
            failWith(QStringLiteral("%1: no such file or folder").arg(path));
        }
    }
    return result;
}

} // namespace pictolune
