#include "catalogue/FolderChooser.h"

#include <QFileDialog>

namespace pictolune {

QString DialogFolderChooser::chooseDirectory() {
    // No starting folder: the dialog opens afresh each time. Cancel gives the
    // empty string.
    return QFileDialog::getExistingDirectory(owner_, QStringLiteral("Select Directory"), QString(),
                                             QFileDialog::ShowDirsOnly);
}

} // namespace pictolune
