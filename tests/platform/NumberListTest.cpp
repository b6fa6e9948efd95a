#include "platform/controls/NumberList.h"

#include <QAbstractItemView>
#include <QTest>
#include <gtest/gtest.h>

using namespace pictolune;

namespace {

TEST(NumberList, EntriesReadTheirOwnPosition) {
    NumberList list;
    list.append(3);
    list.append(10);
    ASSERT_EQ(list.count(), 13);
    EXPECT_EQ(list.itemText(0), "0");
    EXPECT_EQ(list.itemText(12), "12");
    EXPECT_EQ(list.itemText(13), QString());
    list.clear();
    EXPECT_EQ(list.count(), 0);
    list.append(0);
    EXPECT_EQ(list.count(), 0);
}

TEST(NumberList, ReadsTheEntryLastPickedAndNothingBefore) {
    NumberList list;
    list.append(5);
    EXPECT_EQ(list.currentText(), ""); // appending picks nothing
    list.setCurrentIndex(3);
    list.append(5);
    EXPECT_EQ(list.currentText(), "3");
    list.clear();
    list.append(2);
    EXPECT_EQ(list.currentText(), "");
}

TEST(NumberList, AMillionEntriesOpenAndPick) {
    QWidget window;
    window.resize(400, 300);
    auto* list = new NumberList(&window);
    list->setWidth(1000);
    list->append(1'000'000);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    int picked = 0;
    QObject::connect(list, &NumberList::picked, [&] { ++picked; });
    list->showPopup();
    QAbstractItemView* view = list->view();
    ASSERT_TRUE(view->isVisible());
    EXPECT_EQ(view->model()->rowCount(), 1'000'000);

    const QModelIndex last = view->model()->index(999'999, 0);
    view->scrollTo(last);
    view->setCurrentIndex(last);
    QTest::keyClick(view, Qt::Key_Return);
    EXPECT_EQ(picked, 1);
    EXPECT_EQ(list->currentText(), "999999");
    EXPECT_FALSE(view->isVisible());
}

} // namespace
