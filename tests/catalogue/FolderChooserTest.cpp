#include "catalogue/FolderChooser.h"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

#include <functional>

namespace pictolune {
namespace {

// Runs `answer` on the folder dialog once it is open, from inside its own
// event loop.
void whenDialogOpens(std::function<void(QFileDialog&)> answer) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, answer] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            poll->stop();
            poll->deleteLater();
            answer(*dialog);
        }
    });
    poll->start(10);
}

void choose(QFileDialog& dialog, const QString& path) {
    auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(edit, nullptr);
    edit->setText(path);
    static_cast<QDialog&>(dialog).accept(); // public there, protected in QFileDialog
}

TEST(DialogFolderChooser, AsksForADirectoryOnlyAndReturnsItsPath) {
    QWidget owner;
    QTemporaryDir folder;
    DialogFolderChooser chooser(&owner);
    bool seen = false;
    whenDialogOpens([&](QFileDialog& dialog) {
        seen = true;
        EXPECT_EQ(dialog.windowTitle(), "Select Directory");
        EXPECT_EQ(dialog.fileMode(), QFileDialog::Directory);
        EXPECT_TRUE(dialog.testOption(QFileDialog::ShowDirsOnly));
        EXPECT_TRUE(dialog.isModal());
        EXPECT_EQ(dialog.parentWidget(), &owner);
        choose(dialog, folder.path());
    });
    EXPECT_EQ(chooser.chooseDirectory(), folder.path());
    EXPECT_TRUE(seen);
}

TEST(DialogFolderChooser, TheRootComesBackAsASlash) {
    DialogFolderChooser chooser;
    whenDialogOpens([](QFileDialog& dialog) { choose(dialog, "/"); });
    EXPECT_EQ(chooser.chooseDirectory(), "/");
}

TEST(DialogFolderChooser, CancelGivesTheEmptyString) {
    DialogFolderChooser chooser;
    whenDialogOpens([](QFileDialog& dialog) { dialog.reject(); });
    EXPECT_EQ(chooser.chooseDirectory(), "");
}

} // namespace
} // namespace pictolune
