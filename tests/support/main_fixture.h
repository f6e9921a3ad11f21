// The main window's collaborators as fakes: channels, ports, a virtual clock,
// the shared state and a SysCfg.ini in a temporary directory, wired into the
// contexts the panel and discovery operations take.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "core/main_state.h"
#include "core/siblings.h"
#include "params/discovery.h"
#include "params/panel.h"
#include "support/fake_channel.h"
#include "support/fake_ports.h"
#include "support/temp_dir.h"

namespace testing_support {

// A valid record of a card at address with the given firmware major.
card::DeviceStatusRecord CardRecord(const std::string& address, int firmwareMajor = 39, int macTail = 1);
// The record as the card sends it: the 908 bytes as a string.
std::string Bytes(const card::DeviceStatusRecord& r);

// Lines that carry the PC's local time are checked in UTC.
void UseUtc();

// The lines sent, without the checksum announcements; every "set" line that
// changes a record field must have had its announcement right before it.
std::vector<std::string> FieldLinesOf(const std::vector<std::string>& sent);

class MainFixture : public ::testing::Test {
 public:
  static card::DeviceStatusRecord CardRecord(const std::string& address, int firmwareMajor = 39, int macTail = 1) {
    return testing_support::CardRecord(address, firmwareMajor, macTail);
  }
  static std::string Bytes(const card::DeviceStatusRecord& r) { return testing_support::Bytes(r); }

 protected:
  MainFixture();
  // Makes rec the WorkingRecord read from its card, fills the panel from it
  // and selects its address.
  void OpenWith(const card::DeviceStatusRecord& r);
  std::string ini(const std::string& section, const std::string& key) const;
  std::vector<std::string> FieldLines() const { return FieldLinesOf(command.sent()); }

  platform::VirtualClock clock{1765258109000};  // 2025-12-09 05:28:29 UTC
  FakeChannel search{&clock};
  FakeChannel command{&clock};
  FakeChannel file{&clock};
  FakeChannel recovery{&clock};
  FakeUser user{&clock};
  FakeList list;
  FakePanel panel;
  FakeProcesses processes;
  TempDir dir;
  card::MainState state;
  card::SysCfg cfg{dir.file("SysCfg.ini")};
  card::Siblings siblings{processes, dir.path() + "/"};
  card::PanelContext ctx{command, clock, user, panel, state, cfg};
  int timerStarts = 0;
  card::OpenContext open{&search, recovery, list, siblings, [this] { ++timerStarts; }};
};

}  // namespace testing_support
