// A MainContext wired to fake channels and ports, a virtual clock and a
// SysCfg.ini in a temporary directory. Worker bodies that start further
// workers run them inline, in order.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "app/main_context.h"
#include "support/fake_channel.h"
#include "support/fake_ports.h"
#include "support/temp_dir.h"

namespace testing_support {

class MainFixture : public ::testing::Test {
 public:
  // A valid record of a card at address with the given firmware major.
  static card::DeviceStatusRecord CardRecord(const std::string& address, int firmwareMajor = 39, int macTail = 1);
  // The record as the card sends it: the 908 bytes as a string.
  static std::string Bytes(const card::DeviceStatusRecord& r);

 protected:
  MainFixture();
  // Makes rec the WorkingRecord, fills the panel from it and selects its address.
  void OpenWith(const card::DeviceStatusRecord& r);
  std::string ini(const std::string& section, const std::string& key) const;

  platform::VirtualClock clock{1765258109000};  // 2025-12-09 05:28:29 UTC
  FakeChannel search{&clock};
  FakeChannel command{&clock};
  FakeChannel file{&clock};
  FakeChannel recovery{&clock};
  FakeUser user{&clock};
  FakeBusy busy;
  FakeList list;
  FakePanel panel;
  FakeProcesses processes;
  TempDir dir;
  std::unique_ptr<card::MainContext> ctx;
  int timerStarts = 0;
};

}  // namespace testing_support
