// The program tools as the user meets them: the password form, the help
// dialog and its pages, and the main window's program buttons and editor
// poll over fake links.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTextBrowser>
#include <QTableWidget>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "app/main_window.h"
#include "params/discovery.h"
#include "params/panel_lists.h"
#include "platform/ini.h"
#include "programs/firmware.h"
#include "programs/firmware_dialog.h"
#include "programs/help_dialog.h"
#include "programs/program_slots.h"
#include "support/fake_channel.h"
#include "support/fake_ports.h"
#include "support/main_fixture.h"
#include "support/temp_dir.h"

namespace {

template <typename W>
W* ByText(QWidget* root, const QString& text) {
  for (W* w : root->findChildren<W*>())
    if (w->text() == text) return w;
  return nullptr;
}

// Saves a rendering of w when CARD_SHOTS_DIR names a folder; either way the
// rendering must not be empty.
void Shoot(QWidget* w, const char* name, bool fit = true) {
  if (fit) w->adjustSize();
  w->show();
  QTest::qWait(50);
  QPixmap shot = w->grab();
  EXPECT_FALSE(shot.isNull());
  if (const char* dir = std::getenv("CARD_SHOTS_DIR")) {
    EXPECT_TRUE(shot.save(QDir(QString::fromUtf8(dir)).filePath(QString::fromUtf8(name))));
  }
}

TEST(PasswordForm, MaskedAndOnlyKeptWhenConfirmed) {
  card::PSW dialog;
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral(u"管理员（密码是826）"));
  QLabel* label = ByText<QLabel>(&dialog, QStringLiteral(u"请输入管理员密码："));
  ASSERT_NE(label, nullptr);
  auto* field = qobject_cast<QLineEdit*>(label->buddy());
  ASSERT_NE(field, nullptr);
  EXPECT_EQ(field->echoMode(), QLineEdit::Password);
  auto* ok = ByText<QPushButton>(&dialog, QStringLiteral(u"确定"));
  auto* cancel = ByText<QPushButton>(&dialog, QStringLiteral(u"取消"));
  ASSERT_TRUE(ok && cancel);
  EXPECT_TRUE(ok->isDefault());
  dialog.show();
  QTest::keyClicks(field, QStringLiteral("826abc"));
  Shoot(&dialog, "password.png");
  QTest::mouseClick(ok, Qt::LeftButton);
  EXPECT_EQ(dialog.typed(), "826abc");
  EXPECT_EQ(card::ClassifyPassword(dialog.typed()), card::AccessPath::Upgrade);
  // Enter confirms; "取消" and Escape leave nothing.
  dialog.show();
  field->setText(QString(400, QLatin1Char('7')));
  EXPECT_EQ(field->text().size(), card::PSW::kMaxTyped);
  QTest::keyClick(field, Qt::Key_Return);
  EXPECT_EQ(dialog.typed(), std::string(259, '7'));
  dialog.show();
  QTest::mouseClick(cancel, Qt::LeftButton);
  EXPECT_EQ(dialog.typed(), "");
  dialog.show();
  field->setText(QStringLiteral("827"));
  QTest::keyClick(field, Qt::Key_Escape);
  EXPECT_EQ(dialog.typed(), "");
}

TEST(HelpDialog, EveryTopicOpensItsShippedPage) {
  platform::VirtualClock clock;
  testing_support::FakeUser user(&clock);
  std::vector<QUrl> opened;
  card::Help dialog(QStringLiteral(CARD_HELP_DIR), user, nullptr, [&](const QUrl& url) {
    opened.push_back(url);
    return true;
  });
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral(u"帮助"));
  EXPECT_NE(ByText<QPushButton>(&dialog, QStringLiteral(u"确定")), nullptr);
  EXPECT_NE(ByText<QPushButton>(&dialog, QStringLiteral(u"取消")), nullptr);
  const auto& topics = card::Help::topics();
  ASSERT_EQ(topics.size(), 9u);
  QString ipVideo, identifyVideo;
  for (const auto& topic : topics) {
    const QString text = QString::fromUtf8(topic.button);
    auto* button = ByText<QPushButton>(&dialog, text);
    ASSERT_NE(button, nullptr) << topic.button;
    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_FALSE(opened.empty());
    EXPECT_EQ(opened.back(), QUrl::fromLocalFile(dialog.pagePath(topic))) << topic.button;
    // The page is in Chinese, about its own task, with a video link.
    QFile page(dialog.pagePath(topic));
    ASSERT_TRUE(page.open(QIODevice::ReadOnly)) << topic.button;
    const QString html = QString::fromUtf8(page.readAll());
    EXPECT_TRUE(html.contains(QStringLiteral("<h1>") + text + QStringLiteral("</h1>"))) << topic.button;
    QRegularExpressionMatch video = QRegularExpression(QStringLiteral("<a href=\"(https://[^\"]+\\.mp4)\"")).match(html);
    ASSERT_TRUE(video.hasMatch()) << topic.button;
    if (text == QStringLiteral(u"如何修改IP地址")) ipVideo = video.captured(1);
    if (text == QStringLiteral(u"如何识别目标显示板")) identifyVideo = video.captured(1);
  }
  EXPECT_EQ(opened.size(), 9u);
  EXPECT_EQ(ipVideo, identifyVideo);
  EXPECT_TRUE(user.shown().empty());

  // No handler for pages: the user gets the page's path instead.
  card::Help bare(QStringLiteral(CARD_HELP_DIR), user, nullptr, [](const QUrl&) { return false; });
  QTest::mouseClick(ByText<QPushButton>(&bare, QStringLiteral(u"如何修改IP地址")), Qt::LeftButton);
  ASSERT_EQ(user.shown().size(), 1u);
  EXPECT_NE(user.shown()[0].text.find(bare.pagePath(topics[1]).toStdString()), std::string::npos);
  // A page missing from the installation is said as such.
  card::Help empty(QStringLiteral("/nonexistent/help/"), user, nullptr, [&](const QUrl&) { return true; });
  QTest::mouseClick(ByText<QPushButton>(&empty, QStringLiteral(u"如何修改IP地址")), Qt::LeftButton);
  ASSERT_EQ(user.shown().size(), 2u);
  EXPECT_EQ(user.shown()[1].icon, card::Icon::Error);

  Shoot(&dialog, "help.png");
  QTextBrowser browser;
  browser.setSource(QUrl::fromLocalFile(dialog.pagePath(topics[3])));
  browser.resize(760, 560);
  Shoot(&browser, "help_page.png", false);
  EXPECT_TRUE(browser.toPlainText().contains(QStringLiteral(u"826")));
}

class ProgramButtons : public ::testing::Test {
 protected:
  ProgramButtons() {
    card::WindowLinks links;
    auto search = std::make_unique<testing_support::FakeChannel>(&clock);
    auto command = std::make_unique<testing_support::FakeChannel>(&clock);
    auto file = std::make_unique<testing_support::FakeChannel>(&clock);
    search->setDatagrams(true);
    search_ = search.get();
    command_ = command.get();
    file_ = file.get();
    links.search = std::move(search);
    links.command = std::move(command);
    links.file = std::move(file);
    links.recovery = std::make_unique<testing_support::FakeChannel>(&clock);
    card::SysCfg cfg(dir.file("SysCfg.ini"));
    cfg.setServerIp("192.168.1.5");
    window = std::make_unique<card::CCardSetupDlg>(std::move(links), cfg, cancellable, processes, &user);
    window->setFilePort(&files);
  }
  ~ProgramButtons() override { window.reset(); }

  // Searches and opens a card, as the start of the tool does; the editor
  // poll runs from then on.
  void OpenCard() {
    const std::string bytes = testing_support::Bytes(record);
    search_->onSend([this, bytes](const std::string& line) {
      if (line == "query all_in_strut \n") search_->queueReply(bytes);
    });
    command_->onSend([this, bytes](const std::string& line) {
      if (line == "query all_in_struct_tcp \n") command_->queueReply(bytes);
    });
    window->show();
    window->Start();
    QTRY_VERIFY(window->state().cardOpened());
    QTRY_VERIFY(window->workers().WaitIdle(0) && !window->busy());
    command_->clearEvents();
    file_->clearEvents();
  }
  void PutWorkingFile(int number, const std::string& text) {
    std::filesystem::create_directories(dir.file("ledsys/CMD" + std::to_string(number)));
    testing_support::WriteFile(dir.file("ledsys/CMD" + std::to_string(number) + "/CMD.txt"), text);
  }
  void Click(const char* text) {
    QPushButton* b = ByText<QPushButton>(window.get(), QString::fromUtf8(text));
    ASSERT_NE(b, nullptr) << text;
    QTest::mouseClick(b, Qt::LeftButton);
  }
  std::string ini(const char* section, const char* key) {
    return platform::ReadIniKey(dir.file("SysCfg.ini"), section, key, "<none>", 260);
  }

  card::DeviceStatusRecord record = testing_support::CardRecord("192.168.1.20", 39);
  platform::VirtualClock clock{1765258109000};
  platform::CancellableClock cancellable{clock};
  testing_support::TempDir dir;
  testing_support::FakeUser user{&clock};
  testing_support::FakeProcesses processes;
  testing_support::FakeFiles files;
  testing_support::FakeChannel* search_ = nullptr;
  testing_support::FakeChannel* command_ = nullptr;
  testing_support::FakeChannel* file_ = nullptr;
  std::unique_ptr<card::CCardSetupDlg> window;
};

TEST_F(ProgramButtons, TheEditorsRequestWaitsForAnIdleWindowAndUploadsTheEditorsSlot) {
  OpenCard();
  PutWorkingFile(3, "from the editor\n");
  platform::WriteIniKey(dir.file("SysCfg.ini"), "LEDPARA", "PROGRAMID", "3");
  // The list shows slot 1; the editor was given slot 3.
  ASSERT_EQ(window->Read().program, 0);

  window->EnterBusy();
  platform::WriteIniKey(dir.file("SysCfg.ini"), "NetSyc", "Syc_Update", "1");
  QTest::qWait(500);
  EXPECT_EQ(ini("NetSyc", "Syc_Update"), "1");
  EXPECT_TRUE(file_->sent().empty());
  window->LeaveBusy();

  QTRY_COMPARE(ini("NetSyc", "Syc_Update"), std::string("0"));
  QTRY_VERIFY(window->workers().WaitIdle(0) && !window->busy());
  QTest::qWait(300);
  EXPECT_EQ(file_->sent(), (std::vector<std::string>{card::UploadCommand(2, "from the editor\n", 4), "reset \n"}));
  EXPECT_TRUE(user.shown().empty());

  // A request that cannot be reset is not taken tick after tick: no upload,
  // one message.
  file_->clearEvents();
  platform::WriteIniKey(dir.file("SysCfg.ini"), "NetSyc", "Syc_Update", "1");
  std::filesystem::permissions(dir.file("SysCfg.ini"), std::filesystem::perms::owner_read);
  QTRY_COMPARE(user.texts().size(), std::size_t{1});
  QTest::qWait(500);
  EXPECT_EQ(user.texts(), std::vector<std::string>{card::kMsgSyncResetFailed});
  EXPECT_TRUE(file_->sent().empty());
  EXPECT_EQ(ini("NetSyc", "Syc_Update"), "1");
  std::filesystem::permissions(dir.file("SysCfg.ini"),
                               std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST_F(ProgramButtons, DuringAnUploadEveryControlThatTalksToACardIsHeldAndAPressSaysSo) {
  OpenCard();
  PutWorkingFile(1, "program\n");
  std::atomic<bool> uploading{false}, release{false};
  file_->onSend([&](const std::string& bytes) {
    if (bytes.rfind("file cmd ", 0) != 0) return;
    uploading = true;
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  Click("更新");
  QTRY_VERIFY(uploading);

  // A press that got through would open its dialog: close and remember it.
  QStringList opened;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || modal == window.get()) return;
    opened << modal->windowTitle();
    modal->close();
  });
  closer.start(10);
  // Every button of the window, whenever it was added, except those that
  // never reach a card.
  const QStringList offTheCard = {QStringLiteral(u"使用帮助")};
  int pressed = 0;
  for (QAbstractButton* b : window->findChildren<QAbstractButton*>()) {
    if (!b->isVisibleTo(window.get()) || offTheCard.contains(b->text())) continue;
    EXPECT_FALSE(b->isEnabled()) << b->text().toStdString();
    // Past a disabled button (a key, assistive technology, a later path):
    // the handler itself refuses and says why.
    if (qobject_cast<QPushButton*>(b)) {
      emit b->clicked();
      ++pressed;
    }
  }
  ASSERT_GE(pressed, 19);
  EXPECT_TRUE(ByText<QPushButton>(window.get(), QStringLiteral(u"使用帮助"))->isEnabled());
  // The device list and "23--更多目标设置" are refused the same way.
  emit window->findChild<QTableWidget*>()->cellDoubleClicked(0, 2);
  auto* target = qobject_cast<QComboBox*>(ByText<QLabel>(window.get(), QStringLiteral(u"显示目标"))->buddy());
  const int before = target->currentIndex();
  target->setCurrentIndex(card::kMoreTargetsIndex);
  emit target->activated(card::kMoreTargetsIndex);
  EXPECT_EQ(target->currentIndex(), before);
  QTest::qWait(50);
  closer.stop();
  EXPECT_TRUE(opened.isEmpty()) << opened.join(QStringLiteral(", ")).toStdString();
  EXPECT_EQ(user.texts(), std::vector<std::string>(static_cast<std::size_t>(pressed + 2), card::kMsgBusy));
  EXPECT_EQ(window->workers().running(), 1);

  // Only the upload reached the card.
  release = true;
  QTRY_VERIFY(window->workers().WaitIdle(0) && !window->busy());
  EXPECT_EQ(file_->sent(), (std::vector<std::string>{card::UploadCommand(0, "program\n", 4), "reset \n"}));
  EXPECT_TRUE(command_->sent().empty());
  EXPECT_TRUE(ByText<QPushButton>(window.get(), QStringLiteral(u"脚本程序"))->isEnabled());
}

TEST_F(ProgramButtons, ButtonsRunTheirOperationsOnTheSelectedSlot) {
  OpenCard();
  auto* program = qobject_cast<QComboBox*>(
      ByText<QLabel>(window.get(), QStringLiteral(u"当前节目"))->buddy());
  program->setCurrentIndex(2);
  Click("删除");
  QTRY_VERIFY(window->workers().WaitIdle(0) && !window->busy());
  EXPECT_EQ(command_->sent(), (std::vector<std::string>{"file cmdremove 2\n"}));
  EXPECT_EQ(user.texts(), (std::vector<std::string>{"成功删除节目3"}));

  // "编辑" without read-back hands slot 3 to the editor.
  ByText<QCheckBox>(window.get(), QStringLiteral(u"是否回读"))->setChecked(false);
  Click("编辑");
  QTRY_VERIFY(window->workers().WaitIdle(0) && !window->busy());
  EXPECT_EQ(ini("LEDPARA", "PROGRAMID"), "3");
  EXPECT_EQ(processes.started, (std::vector<std::string>{dir.path() + "/progedit"}));

  // "另存文件": the file is chosen here, written by the worker.
  PutWorkingFile(3, "line\r\n");
  files.saves.push_back(dir.file("saved.txt"));
  Click("另存文件");
  QTRY_VERIFY(window->workers().WaitIdle(0) && !window->busy());
  EXPECT_EQ(testing_support::ReadFile(dir.file("saved.txt")), "line\n");
  EXPECT_EQ(files.requests.back().proposedName, "cmd.txt");
}

TEST_F(ProgramButtons, FirmwarePasswordDecidesThePath) {
  OpenCard();
  auto answer = [](const QString& typed) {
    QTimer::singleShot(0, [typed] {
      auto* dialog = qobject_cast<card::PSW*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      dialog->findChild<QLineEdit*>()->setText(typed);
      ByText<QPushButton>(dialog, QStringLiteral(u"确定"))->click();
    });
  };
  answer(QStringLiteral("123"));
  Click("固件升级");
  EXPECT_EQ(user.texts(), (std::vector<std::string>{card::kMsgWrongPassword}));
  EXPECT_EQ(user.shown()[0].title, "");  // the application's own title

  answer(QStringLiteral("827"));
  Click("固件升级");
  QTRY_VERIFY(window->workers().WaitIdle(0) && !window->busy());
  EXPECT_EQ(processes.started, (std::vector<std::string>{dir.path() + "/fwloader"}));
  EXPECT_TRUE(command_->sent().empty());
  EXPECT_EQ(ini("LEDPARA", "Restore_En"), "0");
}

}  // namespace
