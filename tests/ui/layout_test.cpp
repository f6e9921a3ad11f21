// Every window and dialog fits its texts: nothing clipped, overlapping or
// outside its parent, no window larger than the screen; in English none
// shows a Chinese text. Runs once per
// language and scale (tests/CMakeLists.txt); the check itself is proven on
// small windows made to fail it.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "platform/i18n.h"
#include "support/gallery.h"
#include "support/layout_check.h"

namespace {

bool Names(const std::vector<std::string>& problems, const std::string& what) {
  for (const auto& p : problems)
    if (p.find(what) != std::string::npos) return true;
  return false;
}

}  // namespace

TEST(LayoutCheck, FindsClippedTextsOverlapsAndWidgetsOutsideTheirParent) {
  QWidget fits;
  auto* row = new QHBoxLayout(&fits);
  row->addWidget(new QLabel(QStringLiteral("A label that fits")));
  row->addWidget(new QPushButton(QStringLiteral("Button")));
  row->addWidget(new QCheckBox(QStringLiteral("Check box")));
  fits.show();
  EXPECT_EQ(testing_support::LayoutProblems(&fits), std::vector<std::string>{});

  // Fixed sizes that are too small for their texts.
  QWidget clipped;
  auto* label = new QLabel(QStringLiteral("A label much longer than its room"), &clipped);
  label->setGeometry(0, 0, 40, 30);
  auto* button = new QPushButton(QStringLiteral("Submit all changes"), &clipped);
  button->setGeometry(0, 40, 30, 30);
  auto* box = new QCheckBox(QStringLiteral("Obtain the address automatically"), &clipped);
  box->setGeometry(0, 80, 50, 30);
  auto* wrapped = new QLabel(QStringLiteral("A wrapping label may be narrow"), &clipped);
  wrapped->setWordWrap(true);
  wrapped->setGeometry(0, 120, 60, 80);
  clipped.resize(300, 220);
  clipped.show();
  auto problems = testing_support::LayoutProblems(&clipped);
  EXPECT_TRUE(Names(problems, "QLabel \"A label much longer"));
  EXPECT_TRUE(Names(problems, "QPushButton \"Submit all changes\": text clipped"));
  EXPECT_TRUE(Names(problems, "QCheckBox \"Obtain the address automatically\": text clipped"));
  EXPECT_FALSE(Names(problems, "A wrapping label"));

  // Siblings on top of each other, and a child hanging out of its group.
  QWidget crowded;
  auto* a = new QPushButton(QStringLiteral("A"), &crowded);
  a->setGeometry(0, 0, 80, 30);
  auto* b = new QPushButton(QStringLiteral("B"), &crowded);
  b->setGeometry(40, 10, 80, 30);
  auto* group = new QGroupBox(QStringLiteral("Group"), &crowded);
  group->setGeometry(0, 60, 200, 100);
  auto* outside = new QPushButton(QStringLiteral("C"), group);
  outside->setGeometry(150, 20, 80, 30);
  crowded.resize(300, 200);
  crowded.show();
  problems = testing_support::LayoutProblems(&crowded);
  EXPECT_TRUE(Names(problems, "QPushButton \"A\" overlaps QPushButton \"B\""));
  EXPECT_TRUE(Names(problems, "QPushButton \"C\": leaves QGroupBox \"Group\""));

  // A table column too narrow for its header.
  QTableWidget table(1, 2);
  table.setHorizontalHeaderLabels({QStringLiteral("No."), QStringLiteral("Obtain IP automatically")});
  table.setColumnWidth(1, 40);
  table.resize(400, 200);
  table.show();
  problems = testing_support::LayoutProblems(&table);
  EXPECT_TRUE(Names(problems, "header \"Obtain IP automatically\" clipped"));
  EXPECT_FALSE(Names(problems, "header \"No.\""));

  // A text that bypassed the catalogue: a label, a list item, a cell.
  EXPECT_EQ(testing_support::ChineseTexts(&fits), std::vector<std::string>{});
  auto* combo = new QComboBox;
  combo->addItems({QStringLiteral("On"), QStringLiteral(u"关闭")});
  row->addWidget(combo);
  auto* chinese = new QLabel(QStringLiteral(u"亮度"));
  row->addWidget(chinese);
  combo->show();  // added to a window already on the screen
  chinese->show();
  table.setItem(0, 0, new QTableWidgetItem(QStringLiteral(u"正常")));
  problems = testing_support::ChineseTexts(&fits);
  EXPECT_TRUE(Names(problems, "item: \"关闭\""));
  EXPECT_TRUE(Names(problems, "QLabel \"亮度\" text"));
  EXPECT_EQ(problems.size(), 2u);
  EXPECT_TRUE(Names(testing_support::ChineseTexts(&table), "cell: \"正常\""));
}

TEST(Layout, EveryWindowFitsItsTexts) {
  testing_support::Gallery gallery;
  int windows = 0;
  gallery.Walk([&](const QString& name, QWidget& window) {
    ++windows;
    for (const std::string& p : testing_support::LayoutProblems(&window))
      ADD_FAILURE() << platform::CurrentLanguage() << " " << name.toStdString() << ": " << p;
    // In another language no Chinese is left on the screen: a text that
    // reaches a window without passing the catalogue shows here.
    if (platform::CurrentLanguage() != platform::kSourceLanguage)
      for (const std::string& t : testing_support::ChineseTexts(&window))
        ADD_FAILURE() << platform::CurrentLanguage() << " " << name.toStdString() << ": " << t;
  });
  // Every window of the tool was on the screen.
  EXPECT_EQ(windows, 24);
}
