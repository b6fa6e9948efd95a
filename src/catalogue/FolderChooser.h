#pragma once

#include <QString>

class QWidget;

namespace pictolune {

// Asks the user for a directory. Returns its full path ("/" for the root),
// or the empty string when the user cancels.
class FolderChooser {
public:
    virtual ~FolderChooser() = default;
    virtual QString chooseDirectory() = 0;
};

// Qt's directory dialog, modal to `owner`, titled "Select Directory",
// directories only, no starting folder.
class DialogFolderChooser : public FolderChooser {
public:
    explicit DialogFolderChooser(QWidget* owner = nullptr) : owner_(owner) {}
    void setOwner(QWidget* owner) { owner_ = owner; }
    QString chooseDirectory() override;

private:
    QWidget* owner_;
};

} // namespace pictolune
