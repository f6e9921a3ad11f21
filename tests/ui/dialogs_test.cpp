// The adapter choice and the add-device dialog: the rules a user feels.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>

#include "app/adapter_dialog.h"
#include "app/connect_ip_dialog.h"
#include "platform/ini.h"
#include "support/fake_ports.h"
#include "support/temp_dir.h"
#include "support/widgets.h"
#include "ui/ipv4_edit.h"

namespace {

class FakeAdapters : public platform::AdapterSource {
 public:
  bool List(std::vector<platform::Adapter>* out) override {
    *out = adapters;
    return ok;
  }
  std::vector<platform::Adapter> adapters;
  bool ok = true;
};

class AdapterDialog : public ::testing::Test {
 protected:
  AdapterDialog() {
    source.adapters = {
        {"eth0", {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}, {"192.168.1.5", "10.0.0.7"}},
        {"wlan0", {0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0x0F}, {"0.0.0.0"}},
    };
  }
  std::string key(const char* section, const char* name) {
    return platform::ReadIniKey(dir.file("SysCfg.ini"), section, name, "<none>", 260);
  }
  QPushButton* okButton(card::NetSelect& d) { return testing_support::FindButton(&d, QStringLiteral(u"确定")); }
  testing_support::TempDir dir;
  platform::VirtualClock clock;
  testing_support::FakeUser user{&clock};
  FakeAdapters source;
};

}  // namespace

TEST_F(AdapterDialog, ListsEveryAdapterWithItsLastAddress) {
  card::NetSelect d(source, card::SysCfg(dir.file("SysCfg.ini")), user);
  QTableWidget* list = d.list();
  ASSERT_EQ(list->rowCount(), 2);
  EXPECT_EQ(list->item(0, 0)->text(), QStringLiteral(" 1"));
  EXPECT_EQ(list->item(0, 1)->text(), QStringLiteral("eth0"));
  EXPECT_EQ(list->item(0, 2)->text(), QStringLiteral("10.0.0.7"));
  EXPECT_EQ(list->item(0, 3)->text(), QStringLiteral("00-1A-2B-3C-4D-5E"));
  EXPECT_EQ(list->columnWidth(3), 280);
}

TEST_F(AdapterDialog, AnAdapterWithoutAddressIsRefusedThenAValidChoiceGoesOn) {
  card::NetSelect d(source, card::SysCfg(dir.file("SysCfg.ini")), user);
  d.show();
  emit d.list()->cellDoubleClicked(1, 0);
  EXPECT_EQ(user.texts(), (std::vector<std::string>{"无效网卡，请确认网卡连接正常"}));
  EXPECT_TRUE(d.cancelled());
  EXPECT_TRUE(d.isVisible());
  EXPECT_EQ(key("ServerIP", "ServerIP"), "<none>");

  d.list()->selectRow(0);
  QTest::mouseClick(okButton(d), Qt::LeftButton);
  EXPECT_FALSE(d.cancelled());
  EXPECT_EQ(d.result(), QDialog::Accepted);
  EXPECT_EQ(key("ServerIP", "ServerIP"), "10.0.0.7");
  EXPECT_EQ(key("IsShowMulNetCard", "IsShowMulNetCard"), "<none>");  // box not ticked: ask again next time
}

TEST_F(AdapterDialog, DontShowAgainAndDoubleClick) {
  card::NetSelect d(source, card::SysCfg(dir.file("SysCfg.ini")), user);
  d.show();
  d.dontShowAgain()->setChecked(true);
  emit d.list()->cellDoubleClicked(0, 2);
  EXPECT_EQ(d.result(), QDialog::Accepted);
  EXPECT_EQ(key("ServerIP", "ServerIP"), "10.0.0.7");
  EXPECT_EQ(key("IsShowMulNetCard", "IsShowMulNetCard"), "0");
}

TEST_F(AdapterDialog, OkWithoutSelectionAsksAndEscapeCancels) {
  source.ok = false;  // a failing adapter query leaves the list empty
  card::NetSelect d(source, card::SysCfg(dir.file("SysCfg.ini")), user);
  d.show();
  EXPECT_EQ(d.list()->rowCount(), 0);
  QTest::mouseClick(okButton(d), Qt::LeftButton);
  EXPECT_EQ(user.texts(), (std::vector<std::string>{"请选择一个网卡！"}));
  EXPECT_TRUE(d.isVisible());
  QTest::keyClick(&d, Qt::Key_Escape);
  EXPECT_TRUE(d.cancelled());
  EXPECT_FALSE(d.isVisible());
}

TEST_F(AdapterDialog, OkStoresZeroAddressToo) {
  card::NetSelect d(source, card::SysCfg(dir.file("SysCfg.ini")), user);
  d.show();
  d.list()->selectRow(1);
  QTest::mouseClick(okButton(d), Qt::LeftButton);
  EXPECT_EQ(key("ServerIP", "ServerIP"), "0.0.0.0");
  EXPECT_FALSE(d.cancelled());
}

TEST(ConnectIpDialog, PrefilledFromTheLastAddressAndStoresTheNewOne) {
  testing_support::TempDir dir;
  card::SysCfg cfg(dir.file("SysCfg.ini"));
  {
    card::Connect_IP d(cfg);
    EXPECT_EQ(d.addressField()->text(), QString());  // "Error" is no address
  }
  cfg.setRemoteIp("10.20.30.40");
  card::Connect_IP d(cfg);
  d.show();
  EXPECT_EQ(d.addressField()->text(), QStringLiteral("10.20.30.40"));
  d.addressField()->clear();
  QTest::keyClicks(d.addressField(), QStringLiteral("192.168.7.8"));
  QTest::mouseClick(testing_support::FindButton(&d, QStringLiteral(u"确定")), Qt::LeftButton);
  EXPECT_EQ(d.result(), QStringLiteral("192.168.7.8"));
  EXPECT_EQ(cfg.remoteIp(), "192.168.7.8");
}

TEST(Ipv4Edit, AcceptsOnlyAddressesAndReadsBlankAsZeros) {
  ui::Ipv4Edit e;
  EXPECT_EQ(e.address(), QStringLiteral("0.0.0.0"));
  QTest::keyClicks(&e, QStringLiteral("192.168.1"));
  EXPECT_EQ(e.address(), QStringLiteral("192.168.1.0"));
  e.clear();
  QTest::keyClicks(&e, QStringLiteral("300.1.2.3"));  // the third 0 is refused as typed
  EXPECT_EQ(e.address(), QStringLiteral("30.1.2.3"));
  e.setAddress(QStringLiteral("Error"));
  EXPECT_EQ(e.text(), QString());
  e.setAddress(QStringLiteral("10.0.0.1"));
  EXPECT_EQ(e.address(), QStringLiteral("10.0.0.1"));
}
