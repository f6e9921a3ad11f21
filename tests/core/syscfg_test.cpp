#include "core/syscfg.h"

#include <gtest/gtest.h>

#include "platform/ini.h"
#include "support/temp_dir.h"

using card::SysCfg;
using platform::ReadIniKey;
using testing_support::TempDir;
using testing_support::WriteFile;

TEST(SysCfg, DefaultsWithoutAFile) {
  TempDir dir;
  SysCfg cfg(dir.file("SysCfg.ini"));
  EXPECT_FALSE(cfg.showAdapterDialog());
  EXPECT_EQ(cfg.serverIp(), "Error");
  EXPECT_EQ(cfg.remoteIp(), "Error");
  EXPECT_EQ(cfg.syncUpdate(), 0);
}

TEST(SysCfg, AdapterDialogOnlyForExactlyOne) {
  TempDir dir;
  SysCfg cfg(dir.file("SysCfg.ini"));
  for (const char* v : {"abc", "0", "2", "", "-1"}) {
    WriteFile(cfg.path(), std::string("[IsShowMulNetCard]\nIsShowMulNetCard=") + v + "\n");
    EXPECT_FALSE(cfg.showAdapterDialog()) << v;
  }
  WriteFile(cfg.path(), "[IsShowMulNetCard]\nIsShowMulNetCard=1\n");
  EXPECT_TRUE(cfg.showAdapterDialog());
  cfg.hideAdapterDialogFromNowOn();
  EXPECT_FALSE(cfg.showAdapterDialog());
}

TEST(SysCfg, PanelSizeFollowsTheViewerInVerticalModes) {
  TempDir dir;
  SysCfg cfg(dir.file("SysCfg.ini"));
  auto width = [&] { return ReadIniKey(cfg.path(), "LEDPARA", "WIDTH", "", 260); };
  auto height = [&] { return ReadIniKey(cfg.path(), "LEDPARA", "HEIGHT", "", 260); };
  for (int mode : {0, 1, 4, 5, 8}) {
    cfg.setViewedPanelSize(mode, "256", "64");
    EXPECT_EQ(width(), "256") << mode;
    EXPECT_EQ(height(), "64") << mode;
  }
  for (int mode : {2, 3, 6, 7}) {
    cfg.setViewedPanelSize(mode, "256", "64");
    EXPECT_EQ(width(), "64") << mode;
    EXPECT_EQ(height(), "256") << mode;
  }
  cfg.setPanelSize("10", "20");
  EXPECT_EQ(width(), "10");
  EXPECT_EQ(height(), "20");
}

TEST(SysCfg, SyncRequestKeyAndRecoveryKeys) {
  TempDir dir;
  SysCfg cfg(dir.file("SysCfg.ini"));
  WriteFile(cfg.path(), "[NetSyc]\nSyc_Update=1\n");
  EXPECT_EQ(cfg.syncUpdate(), 1);
  cfg.clearSyncUpdate();
  EXPECT_EQ(cfg.syncUpdate(), 0);
  WriteFile(cfg.path(), "[NetSyc]\nSyc_Update=junk\n");
  EXPECT_EQ(cfg.syncUpdate(), 0);
  // Read into 10 bytes: nine digits at most.
  WriteFile(cfg.path(), "[NetSyc]\nSyc_Update=12345678901\n");
  EXPECT_EQ(cfg.syncUpdate(), 123456789);
  cfg.setRestoreEn(true);
  cfg.setRemoteIp("10.0.0.9");
  cfg.setProgramId(3);
  EXPECT_EQ(ReadIniKey(cfg.path(), "LEDPARA", "Restore_En", "", 260), "1");
  EXPECT_EQ(cfg.remoteIp(), "10.0.0.9");
  EXPECT_EQ(ReadIniKey(cfg.path(), "LEDPARA", "PROGRAMID", "", 260), "3");
}
