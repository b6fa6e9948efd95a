#include "window/CommandLine.h"

#include "catalogue/DirectoryScan.h"
#include "platform/files/FileNames.h"
#include "window/Form1.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace pictolune {

namespace {

// The manual page: once installed man finds it by name; in a build tree it
// lies beside the program.
std::string manualCommand() {
    char self[PATH_MAX] = {};
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    std::string page = length > 0 ? std::string(self, std::size_t(length)) : std::string();
    page.resize(page.rfind('/') + 1);
    page += "pictolune.1.gz";
    if (length <= 0 || ::access(page.c_str(), R_OK) != 0)
        return "man pictolune";
    const bool plain = std::all_of(page.begin(), page.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || std::strchr("/._-+", c);
    });
    return plain ? "man " + page : "man '" + page + "'";
}

std::string helpText() {
    return "Usage: pictolune [OPTION]... [FOLDER|PICTURE]...\n"
           "Shows the pictures of folders one at a time, fitted to a window that fills\n"
           "the screen, in order, at random or as a slideshow.\n"
           "\n"
           "Without an argument a folder dialog asks for the folder. The pictures of\n"
           "each FOLDER are listed in turn: the files whose names end, in exactly this\n"
           "case, in " +
           imageEndingsText().toStdString() +
           ".\n"
           "A PICTURE lists the pictures of its folder, itself included whatever the\n"
           "case of its ending, and the show starts at it.\n"
           "\n"
           "  -h, --help     print this help and exit\n"
           "  -v, --version  print the version and licence and exit\n"
           "\n"
           "Keys (letters in either case; digits of the main row, not the keypad):\n" +
           keyCommandsHelp() +
           "\n"
           "Mouse: a click on the picture or the window shows the next picture. Near\n"
           "the bottom edge the options panel slides up: Play, Stop, Previous Image,\n"
           "Next Image, Random, Add a Directory, Change Directory, and the numbers of\n"
           "the pictures to jump to.\n"
           "\n"
           "Exit status: 0 when the window is closed; 1 after an error the program did\n"
           "not trap, or when no window can be opened (no display, or none that\n"
           "answers); 2 for a wrong command line: a bad option, a path that does not\n"
           "exist, or a file that is not a picture Pictolune shows.\n"
           "\n"
           "The manual: " +
           manualCommand() + "\n";
}

constexpr const char* kVersion =
    "pictolune " PICTOLUNE_VERSION "\n"
    "Copyright (C) 2026 The Pictolune developers\n"
    "License GPLv3+: GNU GPL version 3 or later <https://gnu.org/licenses/gpl.html>.\n"
    "This is free software: you are free to change and redistribute it.\n"
    "There is NO WARRANTY, to the extent permitted by law.\n";

[[noreturn]] void printAndExit(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::exit(0);
}

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
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, {});
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")}, {});
    parser.addOption(help);
    parser.addOption(version);
    if (!parser.parse(arguments))
        failWith(parser.errorText() + QStringLiteral(" Try 'pictolune --help'."));
    if (parser.isSet(help))
        printAndExit(helpText());
    if (parser.isSet(version))
        printAndExit(kVersion);

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
        } else if (!S_ISREG(status.st_mode) ||
                   !isImageFileName(info.fileName(), Qt::CaseInsensitive)) {
            failWith(QStringLiteral("%1: not a picture Pictolune shows (a name ending in %2, "
                                    "in any case)")
                         .arg(path, imageEndingsText()));
        } else {
            const QString picture = addFolder(info.absolutePath()) + u'/' + info.fileName();
            if (!result.pictures.contains(picture))
                result.pictures.append(picture);
        }
    }
    return result;
}

bool displayAvailable(const QProcessEnvironment& environment) {
    if (!environment.value(QStringLiteral("DISPLAY")).isEmpty() ||
        !environment.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty())
        return true;
    // A list of platforms to try, each perhaps with options after a colon:
    // "offscreen:configfile=...", "wayland;xcb". The window systems need a
    // display; any other platform (offscreen, eglfs, vnc...) draws without.
    const QStringList platforms =
        environment.value(QStringLiteral("QT_QPA_PLATFORM")).split(u';', Qt::SkipEmptyParts);
    for (const QString& platform : platforms) {
        const QString name = platform.section(u':', 0, 0).trimmed();
        if (!name.isEmpty() && name != u"xcb" && !name.startsWith(u"wayland"))
            return true;
    }
    return false;
}

} // namespace pictolune
