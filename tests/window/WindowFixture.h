#pragma once

#include "catalogue/FolderChooser.h"
#include "platform/controls/InputBox.h"
#include "platform/files/DirectoryListing.h"
#include "window/Form1.h"

#include <QElapsedTimer>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>

namespace pictolune::testing {

// Answers the folder dialog from a queue; an exhausted queue cancels.
class QueuedFolderChooser : public FolderChooser {
public:
    std::deque<QString> answers;
    int asked = 0;
    QString chooseDirectory() override {
        ++asked;
        if (answers.empty())
            return {};
        QString answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

// Answers the input box with a fixed reply, or cancels; `whileOpen` runs
// while the box would be open, as a modal dialog lets the timers run.
class ScriptedInputBox : public InputBox {
public:
    std::optional<QString> reply;
    QString lastDefault;
    std::function<void()> whileOpen;
    std::optional<QString> ask(const QString&, const QString&,
                               const QString& defaultText) override {
        lastDefault = defaultText;
        if (whileOpen)
            whileOpen();
        return reply;
    }
};

// A folder of small pictures, each a solid colour, named so that their
// order is plain.
inline void writePictures(const QTemporaryDir& dir, int count, const QString& prefix = "pic") {
    for (int i = 0; i < count; ++i) {
        QImage image(40 + i, 30, QImage::Format_RGB32);
        image.fill(QColor::fromHsv((i * 37) % 360, 200, 200));
        image.save(dir.filePath(QStringLiteral("%1%2.bmp").arg(prefix).arg(i, 2, 10, QChar('0'))),
                   "BMP");
    }
}

// Runs the event loop until `condition` holds or five seconds have passed.
inline bool waitFor(const std::function<bool()>& condition, int timeoutMs = 5000) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QTest::qWait(5);
    }
    return true;
}

// Drives a real main window on the offscreen platform: an 800 x 600 screen,
// so that the maximised window's inner area is 800 x 600.
class WindowTest : public ::testing::Test {
protected:
    void start(const QStringList& folders) {
        form = std::make_unique<Form1>(Form1::Services{chooser, inputBox, listing}, folders);
        form->setEndProgram([this] { ++endRequests; });
        form->load();
    }
    void startAndShow(const QStringList& folders) {
        start(folders);
        form->showMaximized();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        ASSERT_TRUE(waitFor([this] { return form->width() == 800 && form->height() == 600; }));
        settle();
    }
    // Runs the event loop until the picture on show has come from the
    // decoders, as a person waits to see it.
    void settle() {
        while (form->pictureToCome())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    QString pathOf(int index) const {
        return dir.filePath(QStringLiteral("pic%1.bmp").arg(index, 2, 10, QChar('0')));
    }

    QTemporaryDir dir;
    QueuedFolderChooser chooser;
    ScriptedInputBox inputBox;
    SystemDirectoryListing listing;
    std::unique_ptr<Form1> form;
    int endRequests = 0;
};

} // namespace pictolune::testing
