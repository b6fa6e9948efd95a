#pragma once

#include <QString>

#include <optional>

class QWidget;

namespace pictolune {

// A modal question with a line of text for the answer. nullopt is a cancel,
// told apart from an empty answer.
class InputBox {
public:
    virtual ~InputBox() = default;
    virtual std::optional<QString> ask(const QString& prompt, const QString& title,
                                       const QString& defaultText) = 0;
};

// Qt's input dialog, modal to `owner`. Timers keep firing while it is open.
class DialogInputBox : public InputBox {
public:
    explicit DialogInputBox(QWidget* owner = nullptr) : owner_(owner) {}
    void setOwner(QWidget* owner) { owner_ = owner; }
    std::optional<QString> ask(const QString& prompt, const QString& title,
                               const QString& defaultText) override;

private:
    QWidget* owner_;
};

} // namespace pictolune
