#include "window/CommandLine.h"
#include "platform/FileNames.h"
#include "window/Application.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace pictolune;

namespace {

struct ProgramRun {
    int status;
    QString out;
    QString err;
};

ProgramRun runProgram(const QStringList& arguments) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    process.setProcessEnvironment(environment);
    process.start(PICTOLUNE_BINARY, arguments);
    EXPECT_TRUE(process.waitForFinished(30000));
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

TEST(CommandLine, VersionAndHelpPrintAndSucceed) {
    const ProgramRun version = runProgram({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(version.out.contains(PICTOLUNE_VERSION)) << version.out.toStdString();

    const ProgramRun help = runProgram({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.contains("FOLDER")) << help.out.toStdString();
}

TEST(CommandLine, MissingPathIsAClearErrorWithStatusTwo) {
    const ProgramRun run = runProgram({"/no/such/folder/anywhere"});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.err.contains("/no/such/folder/anywhere")) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("no such file or folder")) << run.err.toStdString();
}

TEST(CommandLine, UnknownOptionIsABadCommandLineToo) {
    const ProgramRun run = runProgram({"--bogus"});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.err.contains("bogus")) << run.err.toStdString();
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
    EXPECT_EQ(line.folders, QStringList({QDir(a.path()).absolutePath(), b.path()}));
    EXPECT_EQ(line.startPicture, QDir(a.path()).absolutePath() + "/y.jpg");
}

TEST(CommandLine, PictureInAFolderAlreadyNamedUsesThatSpelling) {
    QTemporaryDir a;
    QFile file(a.filePath("p.bmp"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    const CommandLine line = parseCommandLine({"pictolune", a.path() + "/", a.filePath("p.bmp")});
    EXPECT_EQ(line.folders, QStringList({a.path() + "/"}));
    EXPECT_EQ(line.startPicture, a.path() + "//p.bmp");
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
