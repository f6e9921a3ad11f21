// The window's operations from a terminal: one card's record read and
// changed through the same submit rules, backups, and restores to one or
// many cards, each with its own links. No Qt.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cardctl/snapshot.h"
#include "core/main_state.h"
#include "core/siblings.h"
#include "core/syscfg.h"
#include "link/link_factory.h"
#include "params/panel.h"
#include "programs/program_slots.h"
#include "platform/clock.h"
#include "platform/process.h"

namespace card::cli {

// The operations' messages on the terminal, one line each, prefixed with
// the card they concern. Questions are answered by --yes.
class ConsoleUser : public UserPort {
 public:
  ConsoleUser(std::ostream& out, std::mutex& lock, std::string prefix, bool yes)
      : out_(out), lock_(lock), prefix_(std::move(prefix)), yes_(yes) {}
  void Message(const std::string& text, const std::string& title, Icon icon) override;
  bool Ask(const std::string& text, const std::string& title) override;
  std::optional<int> Choose(const std::string& text, const std::string& title, const std::vector<std::string>& items,
                            int initial) override;
  // The last error the operations reported, for the summary of a clone.
  std::string lastError() const;

 private:
  std::ostream& out_;
  std::mutex& lock_;
  std::string prefix_;
  bool yes_;
  mutable std::mutex own_;
  std::string lastError_;
};

// Sibling programs are the window's business: a terminal starts none.
class NoProcesses : public platform::ProcessPort {
 public:
  bool IsRunning(std::string_view) override { return false; }
  bool Start(const std::string&) override { return false; }
};

// One card and what the operations need for it: its own command and file
// links, a working folder for program files and SysCfg.ini, the shared
// state holding its record.
class Target {
 public:
  Target(const LinkFactory& makeLink, const std::string& address, platform::Clock& clock, UserPort& user,
         const std::string& workDir);
  const std::string& address() const { return address_; }
  PanelContext& panel() { return *panel_; }
  ProgramContext& programs() { return *programs_; }
  Channel& command() { return *command_; }
  Channel& file() { return *file_; }
  platform::Clock& clock() { return clock_; }
  UserPort& user() { return user_; }
  MainState& state() { return state_; }

 private:
  std::string address_;
  std::unique_ptr<Channel> command_, file_;
  platform::Clock& clock_;
  UserPort& user_;
  NoProcesses processes_;
  MainState state_;
  SysCfg cfg_;
  Siblings siblings_;
  std::unique_ptr<PanelContext> panel_;
  std::unique_ptr<ProgramContext> programs_;
};

// The card's record, read as the window reads it.
std::optional<DeviceStatusRecord> ReadCard(Target& t);

// What a backup holds and a restore compares: the record, and, read when
// asked for, the script (UTF-8 lines with CR LF) and the programs that the
// card's directory lists (slot index -> GBK text).
struct CardState {
  DeviceStatusRecord record;
  std::optional<std::string> script;
  std::map<int, std::string> programs;
};
std::optional<CardState> ReadCardState(Target& t, bool withContents);

struct ApplyOptions {
  bool withNetwork = false;  // also the card's addressing, MAC and name
};

// What a restore keeps of the card itself unless asked: its address and
// addressing mode, the fixed network settings, its MAC and its name (and
// what it reports of itself: firmware and platform state).
DeviceStatusRecord KeepIdentity(DeviceStatusRecord desired, const DeviceStatusRecord& card);

// Sends what differs between the card's record and desired through the
// window's operations: the panel's submit, the advanced settings, the panel
// driver, the Modbus requests, then the network group and the clock. False
// at the first failure (told to the user).
bool ApplyRecord(Target& t, const DeviceStatusRecord& card, const DeviceStatusRecord& desired);

Snapshot SnapshotOf(const CardState& card, const std::string& address, const std::string& toolVersion);

// A restore: the settings (identity kept unless withNetwork), then the
// script and the program slots where they differ (programs after the
// settings, as each upload restarts the card), then the network group.
bool ApplySnapshot(Target& t, const CardState& card, const Snapshot& s, const ApplyOptions& options);

// Every line a restore would send, with the time it goes out, computed by
// running the same operations on links that only record.
struct PlannedLine {
  std::int64_t atMs;
  int port;
  std::string bytes;
};
struct Plan {
  std::vector<PlannedLine> lines;
  std::int64_t totalMs = 0;
  bool ok = true;
};
Plan PlanSnapshot(const std::string& address, const CardState& card, const Snapshot& s, const ApplyOptions& options,
                  const std::string& workDir);

// A line for a person: control bytes escaped, GBK shown as UTF-8.
std::string Printable(const std::string& bytes);

}  // namespace card::cli
