#include "e2e/ViewerTest.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

#ifndef PICTOLUNE_BINARY
#error "PICTOLUNE_BINARY must name the program under test"
#endif

namespace pictolune::e2e {

void ViewerTest::SetUp() {
    // Only a machine without an X server at all skips; any other missing tool
    // is a broken set-up and fails.
    if (QStandardPaths::findExecutable("Xvfb").isEmpty()) {
        GTEST_SKIP() << "Xvfb is not installed; scripts/install-deps.sh installs it";
    }
    const QString missing = XSession::missingTool();
    ASSERT_TRUE(missing.isEmpty())
        << missing.toStdString() << " is not installed; scripts/install-deps.sh installs it";
    ASSERT_TRUE(pictures_.isValid());
    x_ = std::make_unique<XSession>();
    QString error;
    ASSERT_TRUE(x_->start(&error)) << error.toStdString();
}

void ViewerTest::TearDown() {
    if (!x_) {
        return;
    }
    const QString log = viewer_ ? x_->programLog(viewer_) : QString();
    if (HasFailure()) {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        const QString dir = QDir::current().filePath("e2e-artifacts");
        QDir().mkpath(dir);
        const QString file =
            QString("%1/%2.%3.png").arg(dir, info->test_suite_name(), info->name());
        const QImage shot = x_->screenshot();
        if (!shot.isNull() && shot.save(file)) {
            std::cerr << "screenshot at failure: " << file.toStdString() << "\n";
        }
        if (!lastShot_.isNull()) {
            const QString last =
                QString("%1/%2.%3.last.png").arg(dir, info->test_suite_name(), info->name());
            lastShot_.save(last);
            std::cerr << "last screenshot analysed: " << last.toStdString() << "\n";
        }
        std::cerr << "program output:\n" << log.right(6000).toStdString() << "\n";
    }
    // Whatever the scenario checked, a sanitizer report is a fault.
    EXPECT_FALSE(log.contains("Sanitizer") || log.contains("runtime error:"))
        << log.right(6000).toStdString();
    x_.reset();
}

QString ViewerTest::makeFolder(const QString& name, const std::vector<TestPicture>& pictures) {
    const QString folder = pictures_.filePath(name);
    QDir().mkpath(folder);
    for (const TestPicture& picture : pictures) {
        const QString path = folder + "/" + picture.name;
        if (!writePicture(path, picture.size, picture.colour)) {
            ADD_FAILURE() << "cannot write " << path.toStdString();
        }
    }
    return folder;
}

void ViewerTest::launchViewer(const QStringList& arguments) {
    // Another build of the program can be tried without rebuilding the tests.
    const QString program = qEnvironmentVariable("PICTOLUNE_E2E_BINARY", PICTOLUNE_BINARY);
    viewer_ = x_->launch(program, arguments);
}

::testing::AssertionResult ViewerTest::startViewer(const QStringList& folders) {
    launchViewer(folders);
    return waitForMainWindow();
}

::testing::AssertionResult ViewerTest::waitForMainWindow() {
    if (viewer_->state() == QProcess::NotRunning) {
        return ::testing::AssertionFailure()
               << "the viewer did not start: " << viewer_->errorString().toStdString();
    }
    window_ = x_->findWindow("^Pictolune$", viewer_->processId(), kWindowTimeoutMs);
    if (window_ == 0) {
        return ::testing::AssertionFailure() << "no window named Pictolune appeared";
    }
    return ::testing::AssertionSuccess();
}

QRect ViewerTest::clientArea() {
    const auto geometry = x_->geometry(window_);
    return geometry ? geometry->client : QRect();
}

QPoint ViewerTest::clientCentre() {
    const QRect client = clientArea();
    return client.topLeft() + QPoint(client.width() / 2, client.height() / 2);
}

QImage ViewerTest::screenshot() {
    lastShot_ = x_->screenshot();
    return lastShot_;
}

QRgb ViewerTest::colourAt(const QImage& shot, QPoint point) const {
    return shot.valid(point) ? shot.pixel(point) : 0;
}

::testing::AssertionResult ViewerTest::waitForCentreColour(const QColor& colour, int timeoutMs) {
    QRgb seen = 0;
    const bool matched = pollUntil(
        [&] {
            const QPoint centre = clientCentre();
            seen = colourAt(screenshot(), centre);
            return nearColour(seen, colour.rgb());
        },
        timeoutMs);
    if (matched) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "the centre of the window shows " << describe(seen).toStdString() << ", not "
           << describe(colour.rgb()).toStdString() << " (waited " << timeoutMs << " ms)";
}

::testing::AssertionResult ViewerTest::press(const QString& keys) {
    if (!x_->activate(window_)) {
        return ::testing::AssertionFailure() << "cannot activate the main window";
    }
    if (!x_->key(keys)) {
        return ::testing::AssertionFailure() << "xdotool key " << keys.toStdString() << " failed";
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult ViewerTest::answerDialog(const QString& title, const QString& text,
                                                    bool replaceDefault) {
    const qulonglong dialog =
        x_->findWindow("^" + title + "$", viewer_->processId(), kWindowTimeoutMs);
    if (dialog == 0) {
        return ::testing::AssertionFailure()
               << "no dialog titled \"" << title.toStdString() << "\" appeared";
    }
    if (!x_->activate(dialog)) {
        return ::testing::AssertionFailure() << "cannot activate the dialog";
    }
    if (replaceDefault && !x_->key("ctrl+a")) {
        return ::testing::AssertionFailure() << "cannot select the dialog's text";
    }
    if (!x_->type(text) || !x_->key("Return")) {
        return ::testing::AssertionFailure() << "cannot type into the dialog";
    }
    const bool closed = pollUntil(
        [&] {
            const auto geometry = x_->geometry(dialog);
            return !geometry || geometry->mapState != "IsViewable";
        },
        kChangeTimeoutMs, 100);
    if (!closed) {
        return ::testing::AssertionFailure()
               << "the dialog \"" << title.toStdString() << "\" stayed open after Return";
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult ViewerTest::viewerAlive() {
    if (viewer_ && viewer_->state() == QProcess::Running) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "the viewer is no longer running";
}

} // namespace pictolune::e2e
