#include "platform/controls/InputBox.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QInputDialog>

#include <algorithm>

namespace pictolune {

namespace {

// The title as the window manager shows it: Qt adds the application's
// display name to the title of every window but the main one.
QString shownTitle(const QString& title) {
    const QString name = QGuiApplication::applicationDisplayName();
    if (name.isEmpty() || title.endsWith(name))
        return title;
    return title + QStringLiteral(" \u2014 ") + name;
}

// A width at which the window manager can show the title whole: the title
// in bold, as title bars draw it, and room on either side for an icon or
// the buttons, since some desktops centre the title across the whole bar.
int titleWidth(const QWidget& dialog, const QString& title) {
    QFont bold = dialog.font();
    bold.setBold(true);
    const QFontMetrics metrics(bold);
    return metrics.horizontalAdvance(shownTitle(title)) + 10 * metrics.height();
}

} // namespace

std::optional<QString> DialogInputBox::ask(const QString& prompt, const QString& title,
                                           const QString& defaultText) {
    QInputDialog dialog(owner_);
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setWindowTitle(title);
    dialog.setLabelText(prompt);
    dialog.setTextValue(defaultText);
    const QSize fitted = dialog.sizeHint();
    dialog.resize(std::max(fitted.width(), titleWidth(dialog, title)), fitted.height());
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.textValue();
}

} // namespace pictolune
