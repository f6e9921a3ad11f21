// The windows in English, as a user abroad and assistive technology meet
// them: the main window and two dialogs with every control under its English
// name, list items and device rows in English, the message boxes and file
// dialogs of the operations in English, and the language menu.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>

#include <cstdlib>

#include "app/main_window.h"
#include "params/advanced_dialog.h"
#include "platform/i18n.h"
#include "platform/ini.h"
#include "platform/text.h"
#include "platform/version.h"
#include "storage/flash_save_dialog.h"
#include "support/fake_channel.h"
#include "support/fake_ports.h"
#include "support/main_fixture.h"
#include "support/temp_dir.h"
#include "ui/file_port.h"
#include "ui/message_port.h"

namespace {

void Use(const char* language) {
  platform::LanguageSources s;
  s.explicitChoice = language;
  ASSERT_EQ(platform::UseLanguage(s, CARD_LOCALE_DIR), language);
}

// The field a label names, as assistive technology finds it: the label must
// be the field's "labelled by" relation.
QWidget* Labelled(QWidget* window, const QString& text) {
  for (QLabel* l : window->findChildren<QLabel*>()) {
    if (l->text() != text || !l->buddy()) continue;
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(l->buddy());
    if (!a) return nullptr;
    for (const auto& rel : a->relations(QAccessible::Label))
      if (rel.first->text(QAccessible::Name) == text) return l->buddy();
  }
  return nullptr;
}

template <typename W>
W* ByText(QWidget* window, const QString& text) {
  for (W* w : window->findChildren<W*>())
    if (w->text() == text) return w;
  return nullptr;
}

QStringList Items(QComboBox* c) {
  QStringList out;
  for (int i = 0; c && i < c->count(); ++i) out << c->itemText(i);
  return out;
}

// Runs open(), which shows a modal box, and hands the box to look while it
// is on the screen; the box is then dismissed.
void WhileModal(const std::function<void()>& open, const std::function<void(QWidget*)>& look) {
  bool seen = false;
  QTimer::singleShot(0, [&] {
    QWidget* box = QApplication::activeModalWidget();
    seen = box != nullptr;
    if (!box) return;
    look(box);
    if (auto* d = qobject_cast<QDialog*>(box)) d->reject();
  });
  open();
  EXPECT_TRUE(seen) << "no modal box came up";
}

class English : public ::testing::Test {
 protected:
  English() {
    Use("en");
    ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    state.setSelectedAddress("192.168.1.20");
  }
  ~English() override {
    window.reset();
    ::unsetenv("XDG_CONFIG_HOME");
    Use("zh");
  }
  void OpenMainWindow() {
    card::WindowLinks links;
    links.search = std::make_unique<testing_support::FakeChannel>(&clock);
    links.command = std::make_unique<testing_support::FakeChannel>(&clock);
    links.file = std::make_unique<testing_support::FakeChannel>(&clock);
    links.recovery = std::make_unique<testing_support::FakeChannel>(&clock);
    card::SysCfg cfg(dir.file("SysCfg.ini"));
    cfg.setServerIp("192.168.1.5");
    window = std::make_unique<card::CCardSetupDlg>(std::move(links), cfg, cancellable, processes, &user);
  }
  card::ToolEnv Env() { return card::ToolEnv{{}, clock, state, card::SysCfg(dir.file("SysCfg.ini")), siblings, &user, &files}; }

  platform::VirtualClock clock{1765258109000};
  platform::CancellableClock cancellable{clock};
  testing_support::TempDir dir;
  testing_support::TempDir config;
  testing_support::FakeUser user{&clock};
  testing_support::FakeFiles files;
  testing_support::FakeProcesses processes;
  card::MainState state;
  card::Siblings siblings{processes, dir.path() + "/"};
  std::unique_ptr<card::CCardSetupDlg> window;
};

}  // namespace

TEST_F(English, TheMainWindowShowsEveryControlUnderItsEnglishName) {
  OpenMainWindow();
  EXPECT_EQ(window->windowTitle(),
            QStringLiteral("     Korvex controller card setup  V") + QString::fromLatin1(platform::kToolVersion));
  for (const char* label : {"Width (pixels)", "Height (pixels)", "OE polarity", "Data polarity", "Display target",
                            "Display mode", "Refresh rate", "Brightness", "Modbus address", "RS-485 mode", "Baud rate",
                            "Development no.", "Card IP", "Server IP", "Server port", "Service type", "Program",
                            "Dwell time"})
    EXPECT_NE(Labelled(window.get(), QString::fromUtf8(label)), nullptr) << label;
  for (const char* text : {"Search cards", "Submit changes", "Add card", "Firmware upgrade", "Advanced settings",
                           "Restart card", "Edit", "Update", "Delete", "Open file", "Save file as", "Format",
                           "Display test", "Sync display", "Master requests", "RS-485 monitor", "Modbus registers",
                           "Script", "Card storage", "Help"})
    EXPECT_NE(ByText<QPushButton>(window.get(), QString::fromUtf8(text)), nullptr) << text;
  for (const char* text : {"Obtain IP automatically", "Connect to server", "Double-sided", "Lock", "Broadcast", "Read back"})
    EXPECT_NE(ByText<QCheckBox>(window.get(), QString::fromUtf8(text)), nullptr) << text;
  // The list items in English; the position stays what the card stores.
  EXPECT_EQ(Items(qobject_cast<QComboBox*>(Labelled(window.get(), QStringLiteral("OE polarity")))),
            (QStringList{QStringLiteral("1-- Positive"), QStringLiteral("2-- Negative")}));
  auto* target = qobject_cast<QComboBox*>(Labelled(window.get(), QStringLiteral("Display target")));
  ASSERT_NE(target, nullptr);
  EXPECT_EQ(target->itemText(5), QStringLiteral("6-- Row 8S_fold 16"));
  EXPECT_EQ(target->count(), 23);
  EXPECT_EQ(qobject_cast<QComboBox*>(Labelled(window.get(), QStringLiteral("Dwell time")))->itemText(4),
            QStringLiteral(" 4 s"));

  // The device list and a card's row in English, the card's own texts as they are.
  auto* list = window->findChild<QTableWidget*>();
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->accessibleName(), QStringLiteral("Card list"));
  EXPECT_EQ(list->horizontalHeaderItem(1)->text(), QStringLiteral("Serial no."));
  const auto record = testing_support::CardRecord("192.168.1.20");
  window->AppendRow(card::MakeDeviceListEntry(record, 1));
  ASSERT_EQ(list->rowCount(), 1);
  EXPECT_EQ(list->item(0, 2)->text(), QStringLiteral("192.168.1.20"));
  EXPECT_EQ(list->item(0, 4)->text(), QStringLiteral("Normal"));
  EXPECT_TRUE(QStringList({QStringLiteral("Yes"), QStringLiteral("No")}).contains(list->item(0, 3)->text()));
  EXPECT_TRUE(QStringList({QStringLiteral("Connected"), QStringLiteral("Not connected")}).contains(list->item(0, 7)->text()));
}

TEST_F(English, TheOperationsMessagesAndFileDialogsAreInEnglish) {
  OpenMainWindow();
  // Constants reach the message port whole, in Chinese; the box shows them
  // in English.
  ui::MessagePort port(window.get(), QStringLiteral("CardSetup"));
  WhileModal([&] { port.Message(card::kMsgNotConnected, card::kTitleError, card::Icon::Error); },
             [](QWidget* w) {
               auto* box = qobject_cast<QMessageBox*>(w);
               ASSERT_NE(box, nullptr);
               EXPECT_EQ(box->windowTitle(), QStringLiteral("Error"));
               EXPECT_EQ(box->text(), QStringLiteral("No card is open. Search, then double-click a card in the list."));
               EXPECT_EQ(box->button(QMessageBox::Ok)->text(), QStringLiteral("OK"));
             });
  WhileModal([&] { port.Ask(card::kMsgBusy, {}); },
             [](QWidget* w) {
               auto* box = qobject_cast<QMessageBox*>(w);
               ASSERT_NE(box, nullptr);
               EXPECT_EQ(box->windowTitle(), QStringLiteral("CardSetup"));
               EXPECT_EQ(box->button(QMessageBox::Yes)->text(), QStringLiteral("Yes"));
               EXPECT_EQ(box->button(QMessageBox::No)->text(), QStringLiteral("No"));
             });
  // A text formatted in the operation arrives translated and passes as it is.
  WhileModal([&] { port.Message(platform::Format(platform::Tr("成功删除节目%d"), 3), {}, card::Icon::None); },
             [](QWidget* w) { EXPECT_EQ(qobject_cast<QMessageBox*>(w)->text(), QStringLiteral("Program 3 deleted.")); });
  // "打开" opens on a file dialog, though it switches things on in a list.
  ui::FileDialogs dialogs(window.get());
  WhileModal([&] { dialogs.OpenFile({"打开", "Bin Files (*.txt);;All Files (*.*)", dir.path(), {}}); },
             [](QWidget* w) {
               auto* d = qobject_cast<QFileDialog*>(w);
               ASSERT_NE(d, nullptr);
               EXPECT_EQ(d->windowTitle(), QStringLiteral("Open"));
               EXPECT_EQ(d->labelText(QFileDialog::Accept), QStringLiteral("Open"));
               EXPECT_EQ(d->labelText(QFileDialog::Reject), QStringLiteral("Cancel"));
             });
  WhileModal([&] { dialogs.SaveFile({"另存文件", "Bin Files (*.txt);;All Files (*)", dir.path(), "cmd.txt"}); },
             [](QWidget* w) {
               auto* d = qobject_cast<QFileDialog*>(w);
               ASSERT_NE(d, nullptr);
               EXPECT_EQ(d->windowTitle(), QStringLiteral("Save file as"));
               EXPECT_EQ(d->labelText(QFileDialog::Accept), QStringLiteral("Save"));
             });
}

TEST_F(English, TheLanguageMenuSavesTheChoiceForTheNextStart) {
  OpenMainWindow();
  QAction* language = nullptr;
  for (QAction* a : window->actions())
    if (a->text() == QStringLiteral("Language")) language = a;
  ASSERT_NE(language, nullptr) << "beside the About item";
  ASSERT_NE(language->menu(), nullptr);
  QStringList names;
  for (QAction* a : language->menu()->actions()) names << a->text();
  EXPECT_EQ(names, (QStringList{QStringLiteral("System language"), QStringLiteral(u"中文"), QStringLiteral("English")}));
  const auto settings = config.file("cardsetup/settings.ini");
  auto saved = [&] { return platform::ReadIniKey(settings, "General", "Language", "<none>", 64); };

  language->menu()->actions()[1]->trigger();  // 中文
  EXPECT_EQ(saved(), "zh");
  ASSERT_EQ(user.texts().size(), 1u);
  EXPECT_EQ(user.texts()[0], "语言设置已保存，下次启动本软件时生效。");
  EXPECT_TRUE(language->menu()->actions()[1]->isChecked());
  language->menu()->actions()[0]->trigger();  // the system's language again
  EXPECT_EQ(saved(), "");
  EXPECT_EQ(user.texts().size(), 2u);

  // Where the setting cannot be written, the user is told where, and nothing changes.
  ::setenv("XDG_CONFIG_HOME", settings.c_str(), 1);  // a file, not a folder
  language->menu()->actions()[2]->trigger();
  ASSERT_EQ(user.texts().size(), 3u);
  EXPECT_EQ(user.texts()[2].rfind("The language setting could not be saved to ", 0), 0u) << user.texts()[2];
  ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
  EXPECT_EQ(saved(), "");
}

TEST_F(English, TheAdvancedSettingsAndStorageDialogsShowEveryControlUnderItsEnglishName) {
  card::DeviceStatusRecord copy = testing_support::CardRecord("192.168.1.20");
  {
    card::MoreSetting d(Env(), copy, std::make_unique<testing_support::FakeChannel>(&clock));
    EXPECT_EQ(d.windowTitle(), QStringLiteral("Advanced settings"));
    for (const char* label : {"Data bits", "Stop bits", "Parity", "Watch heartbeat", "Heartbeat interval (s)", "Hour",
                              "Minute", "Second", "Gateway", "Subnet mask", "Request interval", "Delay start",
                              "Start delay (s)", "Send heartbeat", "Modbus storage", "Direction", "Start value 1",
                              "Start value 5", "Blue", "Voice", "Script start", "Role", "Master X split",
                              "Master Y split"})
      EXPECT_NE(Labelled(&d, QString::fromUtf8(label)), nullptr) << label;
    for (const char* title : {"RS-485", "Daily restart", "Network", "Service", "Daily counters", "MAC address",
                              "Device name", "Function switches", "Master/slave", "Display on/off timer"}) {
      bool found = false;
      for (QGroupBox* g : d.findChildren<QGroupBox*>()) found = found || g->title() == QString::fromUtf8(title);
      EXPECT_TRUE(found) << title;
    }
    for (const char* box : {"Restart daily", "Use fixed settings"})
      EXPECT_NE(ByText<QCheckBox>(&d, QString::fromUtf8(box)), nullptr) << box;
    // The MAC fields have no label of their own: each is named for assistive technology.
    int named = 0;
    for (QWidget* w : d.findChildren<QWidget*>())
      named += w->accessibleName().startsWith(QStringLiteral("MAC address ")) ? 1 : 0;
    EXPECT_EQ(named, 6);
    EXPECT_EQ(Items(qobject_cast<QComboBox*>(Labelled(&d, QStringLiteral("Blue")))),
              (QStringList{QStringLiteral("On"), QStringLiteral("Off")}));
    EXPECT_EQ(Items(qobject_cast<QComboBox*>(Labelled(&d, QStringLiteral("Role")))),
              (QStringList{QStringLiteral("Stand-alone"), QStringLiteral("Sender"), QStringLiteral("Hidden on the network")}));
    EXPECT_NE(ByText<QPushButton>(&d, QStringLiteral("OK")), nullptr);
    EXPECT_NE(ByText<QPushButton>(&d, QStringLiteral("Cancel")), nullptr);
  }
  {
    card::FlashSave d(Env(), std::make_unique<testing_support::FakeChannel>(&clock));
    EXPECT_EQ(d.windowTitle(), QStringLiteral("Card storage"));
    int regionLists = 0;
    for (QLabel* l : d.findChildren<QLabel*>())
      regionLists += l->text() == QStringLiteral("Region:") && qobject_cast<QComboBox*>(l->buddy()) ? 1 : 0;
    EXPECT_EQ(regionLists, 2) << "the read and the download list";
    auto* regions = qobject_cast<QComboBox*>(Labelled(&d, QStringLiteral("Region:")));
    ASSERT_NE(regions, nullptr);
    EXPECT_EQ(regions->itemText(0), QStringLiteral("0-- All data"));
    EXPECT_EQ(regions->itemText(3), QStringLiteral("3-- Programs"));
    for (const char* text : {"Read", "Cancel", "Download data"})
      EXPECT_NE(ByText<QPushButton>(&d, QString::fromUtf8(text)), nullptr) << text;
  }
}
