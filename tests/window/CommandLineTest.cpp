#include "window/CommandLine.h"
#include "platform/files/FileNames.h"
#include "window/Application.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <utility>
#include <vector>

using namespace pictolune;

namespace {

struct ProgramRun {
    int status;
    QString out;
    QString err;
};

// The real program in a terminal with no display at all, as over ssh or in
// a package script: everything that can answer without a window does.
// `variables` ("NAME=value") are set on top, and another `binary` may stand
// in for the program built.
ProgramRun runWithoutDisplay(const QStringList& arguments, const QStringList& variables = {},
                             const QString& binary = PICTOLUNE_BINARY) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name :
         {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_SESSION_TYPE", "XDG_RUNTIME_DIR"})
        environment.remove(name);
    for (const QString& variable : variables)
        environment.insert(variable.section(u'=', 0, 0), variable.section(u'=', 1));
    process.setProcessEnvironment(environment);
    process.start(binary, arguments);
    EXPECT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

// The program and its decoders in a folder of their own, with a qt.conf that
// gives Qt a plug-in folder holding every platform but Wayland's: a machine
// without the Wayland plug-in.
QString programWithoutWayland(const QTemporaryDir& dir) {
    const QString platforms = dir.filePath("plugins/platforms");
    EXPECT_TRUE(QDir().mkpath(platforms));
    const QDir installed(QLibraryInfo::path(QLibraryInfo::PluginsPath) + "/platforms");
    for (const QString& plugin : installed.entryList(QDir::Files)) {
        if (!plugin.contains("wayland")) {
            EXPECT_TRUE(QFile::link(installed.filePath(plugin), platforms + "/" + plugin));
        }
    }
    const QString built = QFileInfo(PICTOLUNE_BINARY).absolutePath();
    for (const char* program : {"pictolune", "pictolune-decoder"}) {
        // The program finds qt.conf and its decoder beside its own file,
        // which a symbolic link would not move.
        const QByteArray from = QFile::encodeName(built + "/" + program);
        const QByteArray to = QFile::encodeName(dir.filePath(program));
        if (::link(from.constData(), to.constData()) != 0) {
            EXPECT_TRUE(QFile::copy(from, to));
        }
    }
    QFile conf(dir.filePath("qt.conf"));
    EXPECT_TRUE(conf.open(QIODevice::WriteOnly));
    conf.write("[Paths]\nPlugins = " + QFile::encodeName(dir.filePath("plugins")) + "\n");
    return dir.filePath("pictolune");
}

TEST(CommandLine, AnswersWithoutADisplay) {
    QTemporaryDir dir;
    QTemporaryDir withoutWayland;
    const QString noWayland = programWithoutWayland(withoutWayland);
    // Where decoders and Qt keep their sockets; without it they warn.
    QTemporaryDir runtime;
    const QString runtimeDir = "XDG_RUNTIME_DIR=" + runtime.path();
    for (const char* name : {"a.jpg", "IMG_0002.JPG", "b-kite.png", "notes.txt"}) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    struct Case {
        QStringList arguments;
        int status;
        QStringList out;            // each must appear on stdout
        QStringList err;            // each must appear on stderr
        QStringList variables = {}; // NAME=value set for the run
        QString binary = PICTOLUNE_BINARY;
    };
    const Case cases[] = {
        {{"--version"},
         0,
         {"pictolune " PICTOLUNE_VERSION "\n", "Copyright (C) 2026 The Pictolune developers",
          "License GPLv3+: GNU GPL version 3 or later <https://gnu.org/licenses/gpl.html>.",
          "There is NO WARRANTY"},
         {}},
        // Every key of the key table, and where the manual page lies: the
        // build tree's, beside the program.
        {{"-h"},
         0,
         {"Usage: pictolune", "FOLDER|PICTURE", "--version", "\n  Space ", "\n  1 ", "\n  0 ",
          "\n  Esc ", "\n  Enter ", "\n  P ", "\n  S ", "\n  R ", "\n  A ", "\n  M ", "\n  Right ",
          "\n  Left ", "Mouse: a click",
          "\nThe manual: man " + QFileInfo(PICTOLUNE_BINARY).absolutePath() + "/pictolune.1.gz\n"},
         {}},
        {{"--bogus"}, 2, {}, {"bogus"}},
        {{"/no/such/folder/anywhere"}, 2, {}, {"/no/such/folder/anywhere: no such file or folder"}},
        {{dir.filePath("b-kite.png")}, 2, {}, {dir.filePath("b-kite.png") + ": not a picture"}},
        {{dir.filePath("IMG_0002.JPG"), dir.filePath("notes.txt")},
         2,
         {},
         {dir.filePath("notes.txt") + ": not a picture"}},
        {{"/dev/null"}, 2, {}, {"/dev/null: not a picture"}},
        // A sound command line that needs the window: one line, status 1.
        {{dir.path()}, 1, {}, {"no display", "DISPLAY", "WAYLAND_DISPLAY"}},
        {{dir.filePath("IMG_0002.JPG")}, 1, {}, {"no display"}},
        {{}, 1, {}, {"no display"}},
        // A platform that cannot start ends the same way, never in Qt's abort.
        {{dir.path()},
         1,
         {},
         {"cannot open the window", "\"nosuch\" platform plug-in is not installed"},
         {"QT_QPA_PLATFORM=nosuch", runtimeDir}},
        {{dir.path()},
         1,
         {},
         {"\"wayland\" found no Wayland compositor (WAYLAND_DISPLAY=wayland-none)"},
         {"QT_QPA_PLATFORM=wayland", "WAYLAND_DISPLAY=wayland-none", runtimeDir}},
        {{dir.path()},
         1,
         {},
         {"Qt's \"wayland\" platform plug-in is not installed (Debian package qt6-wayland)"},
         {"QT_QPA_PLATFORM=wayland", "WAYLAND_DISPLAY=wayland-0", runtimeDir},
         noWayland},
        // A Wayland session's choice falls back to X11, which is not there.
        {{dir.path()},
         1,
         {},
         {"\"wayland\" platform plug-in is not installed",
          "; \"xcb\" found no X server (DISPLAY=:99999)"},
         {"XDG_SESSION_TYPE=wayland", "WAYLAND_DISPLAY=wayland-0", "DISPLAY=:99999", runtimeDir},
         noWayland},
    };
    for (const Case& c : cases) {
        const ProgramRun run = runWithoutDisplay(c.arguments, c.variables, c.binary);
        const std::string what =
            c.variables.join(' ').toStdString() + " " + c.arguments.join(' ').toStdString() +
            "\nstdout: " + run.out.toStdString() + "\nstderr: " + run.err.toStdString();
        EXPECT_EQ(run.status, c.status) << what;
        for (const QString& text : c.out)
            EXPECT_TRUE(run.out.contains(text)) << text.toStdString() << " missing in " << what;
        for (const QString& text : c.err)
            EXPECT_TRUE(run.err.contains(text)) << text.toStdString() << " missing in " << what;
        if (c.status != 0) {
            EXPECT_EQ(run.err.count('\n'), 1) << "one line on stderr: " << what;
        }
    }
}

TEST(CommandLine, DisplayIsNamedOrNeededByNoPlatform) {
    struct Case {
        std::vector<std::pair<QString, QString>> variables;
        bool available;
    };
    const Case cases[] = {
        {{}, false},
        {{{"DISPLAY", ":0"}}, true},
        {{{"WAYLAND_DISPLAY", "wayland-0"}}, true},
        {{{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}}, false},
        {{{"QT_QPA_PLATFORM", "offscreen"}}, true},
        {{{"QT_QPA_PLATFORM", "offscreen:configfile=/tmp/screen.json"}}, true},
        {{{"QT_QPA_PLATFORM", "xcb"}}, false},
        {{{"QT_QPA_PLATFORM", "wayland;xcb"}}, false},
        {{{"QT_QPA_PLATFORM", "wayland-egl"}}, false},
        {{{"QT_QPA_PLATFORM", "wayland;eglfs"}}, true},
        {{{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", ":1"}}, true},
    };
    for (const Case& c : cases) {
        QProcessEnvironment environment;
        QString what;
        for (const auto& [name, value] : c.variables) {
            environment.insert(name, value);
            what += name + "=" + value + " ";
        }
        EXPECT_EQ(displayAvailable(environment), c.available) << what.toStdString();
    }
}

TEST(CommandLine, FoldersAndPicturesMixedScanEachFolderOnce) {
    QTemporaryDir a;
    QTemporaryDir b;
    for (const QString& path : {a.filePath("x.jpg"), a.filePath("y.jpg"), b.filePath("z.gif")}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    const CommandLine line =
        parseCommandLine({"pictolune", a.filePath("y.jpg"), b.path(), a.path() + "/.",
                          a.filePath("x.jpg"), b.filePath("z.gif")});
    const QString absolute = QDir(a.path()).absolutePath();
    EXPECT_EQ(line.folders, QStringList({absolute, b.path()}));
    EXPECT_EQ(line.pictures,
              QStringList({absolute + "/y.jpg", absolute + "/x.jpg", b.path() + "/z.gif"}));
}

TEST(CommandLine, PictureInAFolderAlreadyNamedUsesThatSpelling) {
    QTemporaryDir a;
    QFile file(a.filePath("p.bmp"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    const CommandLine line = parseCommandLine({"pictolune", a.path() + "/", a.filePath("p.bmp")});
    EXPECT_EQ(line.folders, QStringList({a.path() + "/"}));
    EXPECT_EQ(line.pictures, QStringList{a.path() + "//p.bmp"});
}

TEST(CommandLine, FolderWhoseNameIsNotUtf8IsFound) {
    QTemporaryDir parent;
    const QByteArray bytes = QFile::encodeName(parent.path()) + "/caf\xe9";
    ASSERT_EQ(::mkdir(bytes.constData(), 0700), 0);
    const QString folder = decodeFileName(bytes.toStdString());
    const CommandLine line = parseCommandLine({"pictolune", folder});
    EXPECT_EQ(line.folders, QStringList{folder});
    EXPECT_EQ(encodeFileName(line.folders.front()), bytes);
}

TEST(UntrappedError, IsNamedInAMessageBoxAndEndsWithStatusOne) {
    QString shown;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shown = box->text();
            box->accept();
        }
    });
    answer.start(10);
    QTimer::singleShot(0, [] { Application::reportUntrappedError("Overflow"); });
    QEventLoop loop;
    EXPECT_EQ(loop.exec(), 1);
    EXPECT_TRUE(shown.contains("Overflow")) << shown.toStdString();
}

} // namespace
