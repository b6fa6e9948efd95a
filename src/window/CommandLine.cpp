#include "window/CommandLine.h"

#include "platform/FileNames.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QHash>

#include <climits>
#include <cstdio>
#include <cstdlib>

#include <sys/stat.h>

namespace pictolune {

namespace {

[[noreturn]] void failWith(const QString& message) {
    std::fprintf(stderr, "pictolune: %s\n", qPrintable(message));
    std::exit(2);
}

// The file system is asked with the name's own bytes, so that names which
// are not valid UTF-8 are found too.
bool statPath(const QString& path, struct stat& info) {
    return ::stat(encodeFileName(path).constData(), &info) == 0;
}

QString canonicalPath(const QString& path) {
    char resolved[PATH_MAX];
    if (::realpath(encodeFileName(path).constData(), resolved) == nullptr)
        return path;
    return decodeFileName(resolved);
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
        const QString canonical = canonicalPath(folder);
        const auto known = spellings.constFind(canonical);
        if (known != spellings.constEnd())
            return *known;
        spellings.insert(canonical, folder);
        result.folders.append(folder);
        return folder;
    };

    for (const QString& path : parser.positionalArguments()) {
        const QFileInfo info(path);
        struct stat status {};
        if (!statPath(path, status)) {
            failWith(QStringLiteral("%1: no such file or folder").arg(path));
        } else if (S_ISDIR(status.st_mode)) {
            addFolder(path);
        } else {
            const QString folder = addFolder(info.absolutePath());
            if (result.startPicture.isEmpty())
                result.startPicture = folder + QLatin1Char('/') + info.fileName();
        }
    }
    return result;
}

} // namespace pictolune
