// In-place cell editing as a user feels it: keys, focus, Tab wrap-around,
// and commit/cancel around the owner's reads and refills.
#include "ui/editable_list.h"

#include <gtest/gtest.h>

#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QVBoxLayout>

namespace {

class EditableListTest : public ::testing::Test {
 protected:
  EditableListTest() {
    auto* layout = new QVBoxLayout(&window);
    list = new ui::EditableList(30, 12);
    other = new QPushButton(QStringLiteral("other"));
    layout->addWidget(list);
    layout->addWidget(other);
    for (int r = 0; r < 30; ++r)
      for (int c = 0; c < 12; ++c) list->setCellText(r, c, QString::number(r * 100 + c));
    window.resize(600, 300);
    window.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
  }
  void DoubleClick(int row, int column) {
    QRect r = list->visualRect(list->model()->index(row, column));
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, r.center());
  }
  void Type(const QString& text) {
    list->editor()->selectAll();
    QTest::keyClicks(list->editor(), text);
  }
  QWidget window;
  ui::EditableList* list;
  QPushButton* other;
};

}  // namespace

TEST_F(EditableListTest, EnterAndLeavingKeepTheTextEscapeThrowsItAway) {
  DoubleClick(2, 3);
  ASSERT_TRUE(list->editing());
  EXPECT_EQ(list->editor()->text(), QStringLiteral("203"));
  Type(QStringLiteral("12"));
  QTest::keyClick(list->editor(), Qt::Key_Escape);
  QTRY_VERIFY(!list->editing());
  EXPECT_EQ(list->cellText(2, 3), QStringLiteral("203"));

  DoubleClick(2, 3);
  Type(QStringLiteral("12"));
  QTest::keyClick(list->editor(), Qt::Key_Return);
  QTRY_VERIFY(!list->editing());
  EXPECT_EQ(list->cellText(2, 3), QStringLiteral("12"));

  DoubleClick(4, 0);
  Type(QStringLiteral("77"));
  other->setFocus();  // clicking another control
  QTRY_VERIFY(!list->editing());
  EXPECT_EQ(list->cellText(4, 0), QStringLiteral("77"));

  // A press on the header ends the edit and keeps the text.
  DoubleClick(1, 1);
  Type(QStringLiteral("9"));
  QTest::mousePress(list->horizontalHeader()->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
  QTRY_VERIFY(!list->editing());
  EXPECT_EQ(list->cellText(1, 1), QStringLiteral("9"));
}

TEST_F(EditableListTest, TabsWrapAroundKeepTheTextAndReachCellsOutOfView) {
  DoubleClick(0, 11);
  Type(QStringLiteral("x"));
  QTest::keyClick(list->editor(), Qt::Key_Tab);
  EXPECT_EQ(list->cellText(0, 11), QStringLiteral("x")) << "written before the editor moves";
  EXPECT_EQ(std::pair(list->editRow(), list->editColumn()), std::pair(1, 0));

  // Ctrl+Tab down to the last row, which lies far outside the view; then
  // once more to row 0 of the same column.
  for (int i = 0; i < 28; ++i) QTest::keyClick(list->editor(), Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(std::pair(list->editRow(), list->editColumn()), std::pair(29, 0));
  EXPECT_TRUE(list->viewport()->rect().contains(list->editor()->geometry().center())) << "scrolled into view";
  EXPECT_TRUE(list->selectionModel()->isRowSelected(29, {}));
  QTest::keyClick(list->editor(), Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(std::pair(list->editRow(), list->editColumn()), std::pair(0, 0));

  // Shift+Tab at the first cell goes to the last cell; Tab there to the first.
  QTest::keyClick(list->editor(), Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_EQ(std::pair(list->editRow(), list->editColumn()), std::pair(29, 11));
  Type(QStringLiteral("last"));
  QTest::keyClick(list->editor(), Qt::Key_Tab);
  EXPECT_EQ(std::pair(list->editRow(), list->editColumn()), std::pair(0, 0));
  EXPECT_EQ(list->cellText(29, 11), QStringLiteral("last"));
  EXPECT_TRUE(list->editor()->hasFocus()) << "Tab never leaves the list";
}

TEST_F(EditableListTest, OwnersCommitBeforeReadingAndCancelBeforeRefilling) {
  DoubleClick(3, 3);
  Type(QStringLiteral("typed"));
  list->CommitEdit();
  EXPECT_FALSE(list->editing());
  EXPECT_EQ(list->cellText(3, 3), QStringLiteral("typed"));

  DoubleClick(5, 5);
  Type(QStringLiteral("stale"));
  list->CancelEdit();
  list->setCellText(5, 5, QStringLiteral("fresh"));  // the owner's refill
  QTest::qWait(1);  // let a late end request arrive
  EXPECT_EQ(list->cellText(5, 5), QStringLiteral("fresh"));

  // Below the last row there is nothing to edit.
  list->setRowCount(2);
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, QPoint(10, list->viewport()->height() - 3));
  EXPECT_FALSE(list->editing());
}

TEST_F(EditableListTest, F2OrEnterOnTheCurrentCellEditsItFromTheKeyboard) {
  list->setFocus();
  list->setCurrentIndex(list->model()->index(3, 1));
  QTest::keyClick(list, Qt::Key_Right);
  QTest::keyClick(list, Qt::Key_F2);
  ASSERT_TRUE(list->editing());
  EXPECT_EQ(list->editRow() * 100 + list->editColumn(), 302);
  Type(QStringLiteral("77"));
  QTest::keyClick(list->editor(), Qt::Key_Return);
  QTRY_VERIFY(!list->editing());
  EXPECT_EQ(list->cellText(3, 2), QStringLiteral("77"));
  // The keyboard is back on the list, on that cell: down a row and Enter.
  QTRY_VERIFY(list->hasFocus());
  QTest::keyClick(list, Qt::Key_Down);
  QTest::keyClick(list, Qt::Key_Return);
  ASSERT_TRUE(list->editing());
  EXPECT_EQ(list->editRow() * 100 + list->editColumn(), 402);
  QTest::keyClick(list->editor(), Qt::Key_Escape);
  QTRY_VERIFY(!list->editing());
  EXPECT_EQ(list->cellText(4, 2), QStringLiteral("402"));
}
