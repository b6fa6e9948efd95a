#pragma once

#include "platform/controls/Control.h"

#include <QAbstractListModel>
#include <QComboBox>

namespace pictolune {

// The entries 0, 1, 2, ... count - 1, each text computed when asked for, so
// a million entries cost neither a million strings nor a million inserts.
class NumberListModel : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    int count() const { return count_; }
    void clear();
    void append(int entries);

private:
    int count_ = 0;
};

// A non-editable drop-down list of image numbers, placed in twips inside the
// options panel. `picked` is the user's choice of an entry; `pointedAt`
// tells which entry the user is about to choose.
class NumberList : public Control<QComboBox> {
    Q_OBJECT
public:
    explicit NumberList(QWidget* parent = nullptr);

    int count() const { return model_.count(); }
    // Empties the list.
    void clear() { model_.clear(); }
    // Appends the next `entries` numbers at the end in one step. The list's
    // text is the entry last picked: appending picks nothing, so a list that
    // was empty reads blank until the user picks.
    void append(int entries);

    void hidePopup() override;

Q_SIGNALS:
    void picked();
    // While the list is open: the entry under the pointer or the keyboard's
    // highlight, or -1 once it is closed.
    void pointedAt(int entry);

private:
    NumberListModel model_;
};

} // namespace pictolune
