#include "platform/controls/NumberList.h"

#include <QListView>
#include <QProxyStyle>

namespace pictolune {

namespace {

// The popup kind of list that some styles use measures the text of every
// entry before it opens: seconds at a million entries. A plain drop-down
// below the box measures nothing.
class DropDownStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == QStyle::SH_ComboBox_Popup)
            return 0;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

} // namespace

int NumberListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count_;
}

QVariant NumberListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= count_)
        return {};
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return QString::number(index.row());
    return {};
}

void NumberListModel::clear() {
    if (count_ == 0)
        return;
    beginResetModel();
    count_ = 0;
    endResetModel();
}

void NumberListModel::append(int entries) {
    if (entries <= 0)
        return;
    beginInsertRows({}, count_, count_ + entries - 1);
    count_ += entries;
    endInsertRows();
}

void NumberList::append(int entries) {
    const bool wasEmpty = count() == 0;
    model_.append(entries);
    // Qt makes the first entry of a list that was empty the current one.
    if (wasEmpty)
        setCurrentIndex(-1);
}

NumberList::NumberList(QWidget* parent) : Control<QComboBox>(parent) {
    setUnitsPerPixel(kTwips);
    setEditable(false);
    // Size from a short minimum text, never by measuring every entry.
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    auto* style = new DropDownStyle;
    style->setParent(this);
    setStyle(style);
    setMinimumContentsLength(3);
    auto* view = new QListView(this);
    view->setUniformItemSizes(true);
    view->setLayoutMode(QListView::Batched);
    setView(view);
    setModel(&model_);
    // A drop-down list is as tall as its font makes it; only its width is
    // ever set.
    setHeight(static_cast<float>(sizeHint().height()) * kTwips);
    connect(this, &QComboBox::activated, this, [this] { Q_EMIT picked(); });
    connect(this, &QComboBox::highlighted, this, &NumberList::pointedAt);
}

void NumberList::hidePopup() {
    QComboBox::hidePopup();
    Q_EMIT pointedAt(-1);
}

} // namespace pictolune
