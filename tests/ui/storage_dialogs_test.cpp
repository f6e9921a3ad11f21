// The storage dialogs as the user meets them: their controls under their
// texts, a dump whose "取消" stops it at once and leaves no file, a script
// list that is the program, and both opening from the main window only once
// a card was opened.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTest>
#include <QTimer>

#include <filesystem>

#include "app/main_window.h"
#include "storage/flash_save_dialog.h"
#include "storage/script_dialog.h"
#include "support/fake_channel.h"
#include "support/fake_ports.h"
#include "support/temp_dir.h"
#include "ui/editable_list.h"
#include "support/widgets.h"

namespace {

using testing_support::FakeChannel;
using Lines = std::vector<std::string>;

// A card's flash that answers every read_raw in full, and a script region.
void ServeFlash(FakeChannel* link, const std::string& script = {}) {
  link->onSend([link, script](const std::string& line) {
    unsigned address = 0;
    int length = 0;
    if (std::sscanf(line.c_str(), "file read_raw 0x%x %d\n", &address, &length) != 2) return;
    std::string bytes(static_cast<std::size_t>(length), '\x5a');
    if (address == 0x6f0000 && !script.empty()) {
      bytes = script;
      bytes.resize(4096, '\0');
    }
    link->queueReply(bytes);
  });
}

class StorageDialogs : public ::testing::Test {
 protected:
  StorageDialogs() { state.setSelectedAddress("192.168.1.20"); }
  card::ToolEnv Env(platform::Clock& c) {
    return card::ToolEnv{{}, c, state, card::SysCfg(dir.file("SysCfg.ini")), siblings, &user, &files};
  }

  platform::VirtualClock clock;
  platform::RealClock real;
  testing_support::TempDir dir;
  card::MainState state;
  testing_support::FakeProcesses processes;
  card::Siblings siblings{processes, dir.path() + "/"};
  testing_support::FakeUser user{&clock};
  testing_support::FakeFiles files;
};

TEST_F(StorageDialogs, FlashSaveListsItsRegionsReadsIntoAFileAndShowsTheOutcomeInTheBar) {
  auto owned = std::make_unique<FakeChannel>(&clock);
  FakeChannel* link = owned.get();
  ServeFlash(link);
  card::FlashSave d(Env(clock), std::move(owned));
  EXPECT_EQ(d.windowTitle(), QStringLiteral(u"读取控制卡存储数据"));
  // Both drop-downs are labelled "选择数据区:" inside their groups.
  int labelled = 0;
  for (QLabel* l : d.findChildren<QLabel*>())
    if (l->text() == QStringLiteral(u"选择数据区:")) labelled += l->buddy() == d.regionList() || l->buddy() == d.slotList();
  EXPECT_EQ(labelled, 2);
  ASSERT_EQ(d.regionList()->count(), 10);
  ASSERT_EQ(d.slotList()->count(), 10);
  auto* model = qobject_cast<QStandardItemModel*>(d.regionList()->model());
  for (int i = 0; i < 10; ++i) EXPECT_EQ(model->item(i)->isEnabled(), i < 5) << i;

  files.saves.push_back(dir.file("script.kxdatr"));
  d.regionList()->setCurrentIndex(4);
  QTest::mouseClick(d.readButton(), Qt::LeftButton);
  d.WaitForOperation();
  QTRY_COMPARE(d.progressBar()->text(), QStringLiteral(u"读取成功"));
  EXPECT_EQ(d.progressBar()->value(), 100);
  EXPECT_EQ(user.texts(), Lines{"读取成功"});
  EXPECT_TRUE(d.readButton()->isEnabled());
}

TEST_F(StorageDialogs, CancelStopsADumpWithinAChunkClosesAndLeavesNoFile) {
  auto owned = std::make_unique<FakeChannel>(&clock);
  ServeFlash(owned.get());
  // Real 100 ms pauses: all 8 MiB would take more than three minutes.
  card::FlashSave d(Env(real), std::move(owned));
  d.show();
  files.saves.push_back(dir.file("all.kxdatr"));
  QTest::mouseClick(d.readButton(), Qt::LeftButton);
  EXPECT_FALSE(d.regionList()->isEnabled());
  EXPECT_TRUE(d.cancelButton()->isEnabled());
  QTRY_VERIFY(d.progressBar()->text().startsWith(QStringLiteral(u"读取：")));
  QElapsedTimer t;
  t.start();
  QTest::mouseClick(d.cancelButton(), Qt::LeftButton);
  EXPECT_LT(t.elapsed(), 1500);
  EXPECT_FALSE(d.operationRunning());
  EXPECT_FALSE(d.isVisible());
  for (const auto& e : std::filesystem::directory_iterator(dir.path()))
    EXPECT_EQ(e.path().filename().string().find("all.kxdatr"), std::string::npos) << e.path();
  EXPECT_TRUE(user.shown().empty());
}

TEST_F(StorageDialogs, ScriptListIsTheProgramFromOpeningToWriting) {
  auto owned = std::make_unique<FakeChannel>(&clock);
  FakeChannel* link = owned.get();
  ServeFlash(link, "a=1\r\nb=2\r\n\r\n");
  card::Script_Edit d(Env(clock), std::move(owned), 39);
  d.WaitForOperation();
  EXPECT_EQ(link->sent(), (Lines{"set LOG 0 \n", "file read_raw 0x6f0000 4096\n"}));
  EXPECT_EQ(clock.sleeps(), (std::vector<int>{800, 100, 100}));
  ui::EditableList* list = d.list();
  EXPECT_EQ(list->rowCount(), 256);
  EXPECT_EQ(list->horizontalHeaderItem(0)->text(), QStringLiteral(u" 行数"));
  EXPECT_EQ(list->horizontalHeaderItem(1)->text(), QStringLiteral(u" 代码 "));
  EXPECT_EQ(list->cellText(1, 0), QStringLiteral("01"));
  EXPECT_EQ(list->cellText(1, 1), QStringLiteral("b=2"));
  EXPECT_EQ(list->cellText(2, 0), QStringLiteral("02")) << "the card's end shows its number";
  EXPECT_EQ(list->cellText(3, 0), QStringLiteral(" "));
  EXPECT_EQ(list->item(0, 0)->textAlignment(), int(Qt::AlignCenter));
  d.show();
  d.resize(800, 560);
  QApplication::processEvents();
  const int dw = list->viewport()->width() / 16;
  EXPECT_EQ(list->columnWidth(0), dw * 10 / 4);
  EXPECT_EQ(list->columnWidth(1), dw * 14);

  // A line typed below the program, still in its editor, is written with it.
  link->clearEvents();
  list->BeginEdit(2, 1);
  list->editor()->setText(QStringLiteral("c=3"));
  QTest::mouseClick(d.writeButton(), Qt::LeftButton);
  d.WaitForOperation();
  EXPECT_EQ(link->sent(), Lines{"file program 0x6f0000 15  \na=1\r\nb=2\r\nc=3\r\n"});
  EXPECT_EQ(d.statusLabel()->text(), QStringLiteral(u"已下载到设备"));

  // A failed read leaves the list; a gap inside the program is refused.
  link->clearEvents();
  link->onSend({});
  link->queueReceiveFailure();
  QTest::mouseClick(d.readButton(), Qt::LeftButton);
  d.WaitForOperation();
  EXPECT_EQ(list->cellText(2, 1), QStringLiteral("c=3"));
  list->setCellText(5, 1, QStringLiteral("far"));
  QTest::mouseClick(d.writeButton(), Qt::LeftButton);
  d.WaitForOperation();
  EXPECT_EQ(link->sent(), Lines{"file read_raw 0x6f0000 4096\n"});
  EXPECT_EQ(user.texts(), (Lines{"读取设备程序失败", "第03行是空行，控制卡读到空行就停止，请删除空行后再下载"}));

  // A file replaces the program and clears the rows after it.
  testing_support::WriteFile(dir.file("s.kxdatr"), "x\r\n\r\ny\r\n");
  files.opens.push_back(dir.file("s.kxdatr"));
  QTest::mouseClick(d.openButton(), Qt::LeftButton);
  EXPECT_EQ(d.Rows()[0], "x");
  EXPECT_EQ(d.Rows()[1], "");
  EXPECT_EQ(d.Rows()[2], "y");
  EXPECT_EQ(d.Rows()[5], "");
  EXPECT_EQ(list->cellText(1, 0), QStringLiteral("01"));
}

TEST_F(StorageDialogs, ScriptOpeningWithoutTheCardSaysSoOnceAndSendsNothing) {
  auto owned = std::make_unique<FakeChannel>(&clock);
  FakeChannel* link = owned.get();
  link->queueConnectResult(-1);
  card::Script_Edit d(Env(clock), std::move(owned), 39);
  d.WaitForOperation();
  EXPECT_TRUE(link->sent().empty());
  EXPECT_EQ(link->connectCount(), 1);
  EXPECT_EQ(user.texts(), Lines{"连接设备失败"});
}

// Both dialogs open from the main window over its driver, once a card was
// opened, with the window busy meanwhile.
TEST_F(StorageDialogs, TheMainWindowOpensThemOnlyForAnOpenedCard) {
  std::vector<FakeChannel*> made;
  card::WindowLinks links;
  for (auto* l : {&links.search, &links.command, &links.file, &links.recovery})
    *l = std::make_unique<FakeChannel>(&clock);
  links.makeLink = [&](int port) {
    EXPECT_EQ(port, 1002);
    auto ch = std::make_unique<FakeChannel>(&clock);
    made.push_back(ch.get());
    return ch;
  };
  platform::CancellableClock windowClock(clock);
  card::CCardSetupDlg window(std::move(links), card::SysCfg(dir.file("SysCfg.ini")), windowClock, processes, &user);
  auto button = [&](const char* text) { return testing_support::FindButton(&window, QString::fromUtf8(text)); };
  QTest::mouseClick(button("读写设备数据"), Qt::LeftButton);
  EXPECT_EQ(user.texts(), Lines{"设备未连接,请搜卡后双击列表中设备"});
  EXPECT_TRUE(made.empty());

  window.state().setSelectedAddress("192.168.1.20");
  window.state().setCardOpened();
  std::string connectedTo, firstLine;
  for (const char* text : {"读写设备数据", "脚本程序"}) {
    QString title;
    bool busy = false;
    // A timer, not a posted call: the dialog's worker reports back through
    // posted calls, which a handler of a posted call would hold up.
    QTimer::singleShot(10, [&] {
      QWidget* modal = QApplication::activeModalWidget();
      if (auto* tool = qobject_cast<ui::ToolDialog*>(modal)) {
        tool->WaitForOperation();
        title = tool->windowTitle();
        busy = window.busy();
        // The dialog owns its link: look at it while the dialog is open.
        if (!made.empty() && !made.back()->events().empty()) {
          connectedTo = made.back()->events().front().bytes;
          firstLine = made.back()->sent().empty() ? "" : made.back()->sent().front();
        }
        tool->reject();
      }
    });
    QTest::mouseClick(button(text), Qt::LeftButton);
    EXPECT_EQ(title, QString::fromUtf8(text == std::string("脚本程序") ? "脚本程序" : "读取控制卡存储数据"));
    EXPECT_TRUE(busy);
    EXPECT_FALSE(window.busy());
  }
  ASSERT_EQ(made.size(), 2u);
  EXPECT_EQ(connectedTo, "192.168.1.20");
  EXPECT_EQ(firstLine, "set LOG 0 \n");
}

}  // namespace
