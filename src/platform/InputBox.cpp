#include "platform/InputBox.h"

#include <QInputDialog>

namespace pictolune {

std::optional<QString> DialogInputBox::ask(const QString& prompt, const QString& title,
                                           const QString& defaultText) {
    bool accepted = false;
    const QString answer =
        QInputDialog::getText(owner_, title, prompt, QLineEdit::Normal, defaultText, &accepted);
    if (!accepted)
        return std::nullopt;
    return answer;
}

} // namespace pictolune
