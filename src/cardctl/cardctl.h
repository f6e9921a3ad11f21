// The window's operations from a terminal: one card's record read and
// changed through the same submit rules, backups, and restores to one or
// many cards, each with its own links. No Qt.
//
// Every change goes the same way: read the card, plan (the same operations
// run on links that only record, so the plan holds every line and its time,
// the questions the operations ask and any setting no line would carry),
// decide every question, send, then read the card back and compare with what
// was meant. A card that ends up different is a failure naming the fields.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "cardctl/fields.h"
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

// Where a card's run is (and where it stopped, for the summary).
enum class Step {
  Read,            // reading the card
  Plan,            // working out the lines
  Confirm,         // the questions
  Panel,           // the parameter panel's submit
  Advanced,        // "高级设置"
  Driver,          // "更多目标设置"
  Modbus,          // the Modbus requests
  Carried,         // values the dialogs send only with their switch: intervals, restart time, split lines
  Script,          // the script
  DeleteProgram,   // a program slot the backup does not hold (--programs replace)
  Program,         // a program upload, and the restart after it
  Network,         // the network group (a new address restarts the card)
  Clock,           // the card's clock
  Verify,          // reading back and comparing
  WriteFile,       // writing the backup
};
// The step in the chosen language; slot (0-based) for the program steps.
std::string StepName(Step step, int slot = -1);

// The operations' messages on the terminal, one line each, prefixed with the
// card they concern. Questions are answered from what was decided before the
// first line went out: yes to the approved ones, no to any other.
class ConsoleUser : public UserPort {
 public:
  ConsoleUser(std::ostream& out, std::mutex& lock, std::string prefix) : out_(out), lock_(lock), prefix_(std::move(prefix)) {}
  void Message(const std::string& text, const std::string& title, Icon icon) override;
  bool Ask(const std::string& text, const std::string& title) override;
  std::optional<int> Choose(const std::string& text, const std::string& title, const std::vector<std::string>& items,
                            int initial) override;

  // Every question is answered yes (a plan's run, which only records).
  void AnswerAllYes() { allYes_ = true; }
  void Approve(const std::vector<std::string>& questions);
  std::vector<std::string> asked() const;
  // The last error the operations reported.
  std::string lastError() const;
  void clearLastError();

 private:
  std::ostream& out_;
  std::mutex& lock_;
  std::string prefix_;
  bool allYes_ = false;
  mutable std::mutex own_;
  std::set<std::string> approved_;
  std::vector<std::string> asked_;
  std::string lastError_;
};

// Sibling programs are the window's business: a terminal starts none.
class NoProcesses : public platform::ProcessPort {
 public:
  bool IsRunning(std::string_view) override { return false; }
  bool Start(const std::string&) override { return false; }
};

// Where and why a card's run stopped.
struct Failure {
  Step step = Step::Read;
  int slot = -1;
  std::string message;               // in the chosen language
  std::vector<std::string> missing;  // what was meant and is not on the card (field names, "script", "program3")
};

// One card and what the operations need for it: its own command and file
// links (counting what they send), a working folder for program files and
// SysCfg.ini, the shared state holding its record.
class Target {
 public:
  Target(const LinkFactory& makeLink, const std::string& address, platform::Clock& clock, ConsoleUser& user,
         const std::string& workDir);
  ~Target();
  const std::string& address() const { return address_; }
  // The card answers on a new address (it was given one).
  void Readdress(const std::string& address);
  PanelContext& panel() { return *panel_; }
  ProgramContext& programs() { return *programs_; }
  Channel& command() { return *command_; }
  Channel& file() { return *file_; }
  platform::Clock& clock() { return clock_; }
  ConsoleUser& user() { return user_; }
  MainState& state() { return state_; }
  const std::string& workDir() const { return workDir_; }
  // Sends on either link so far.
  int sends() const { return sends_; }

  // The step under way; a failure is noted against it.
  void Enter(Step step, int slot = -1);
  Step step() const { return step_; }
  int slot() const { return slot_; }
  // Notes that the run stopped here: the message given, or the last error
  // the operations told, or a general one.
  void Fail(const std::string& message = {});
  const std::optional<Failure>& failure() const { return failure_; }
  Failure& failureRef();

 private:
  class Counting;
  std::string address_;
  std::string workDir_;
  std::unique_ptr<Channel> command_, file_;
  platform::Clock& clock_;
  ConsoleUser& user_;
  std::atomic<int> sends_{0};
  NoProcesses processes_;
  MainState state_;
  SysCfg cfg_;
  Siblings siblings_;
  std::unique_ptr<PanelContext> panel_;
  std::unique_ptr<ProgramContext> programs_;
  Step step_ = Step::Read;
  int slot_ = -1;
  std::optional<Failure> failure_;
};

// What a backup holds and a restore compares: the record, and, read when
// asked for, the script (nullopt when this firmware's script cannot be read)
// and the programs that the card's directory lists (slot index -> GBK text).
struct CardState {
  DeviceStatusRecord record;
  bool contentsRead = false;
  std::optional<std::string> script;
  std::map<int, std::string> programs;
};

enum class ReadWhat { Record, Contents };
// Reads the card as the window reads it. A script or directory reply that
// cannot be read whole is a failure; a script this firmware keeps nowhere to
// read (major above 128) is left out. nullopt with t.failure() set.
std::optional<CardState> ReadCardState(Target& t, ReadWhat what);
// The record alone (shown by show and set).
std::optional<DeviceStatusRecord> ReadCard(Target& t);

// What a card should hold after a run.
struct Desired {
  DeviceStatusRecord record;
  std::optional<std::string> script;   // none: the card's script stays as it is
  std::map<int, std::string> programs; // these slots get these texts
  bool replacePrograms = false;        // slots the card holds beyond these are deleted
  bool withNetwork = false;            // the card's address, addressing, MAC and name too
};

// What a restore keeps of the card itself unless asked: its address and
// addressing mode, the fixed network settings, its MAC and its name (and
// what it reports of itself: firmware and platform state).
DeviceStatusRecord KeepIdentity(DeviceStatusRecord desired, const DeviceStatusRecord& card);

// The card made to hold the snapshot (its identity kept unless withNetwork).
Desired DesiredFrom(const Snapshot& s, const DeviceStatusRecord& card, bool withNetwork, bool replacePrograms);

Snapshot SnapshotOf(const CardState& card, const std::string& address, const std::string& toolVersion);

// Every line a run would send, with the time it goes out, and what it
// would ask and fail to carry.
struct PlannedLine {
  std::int64_t atMs;
  int port;
  std::string bytes;
};
struct PlannedStep {
  Step step;
  int slot = -1;
  std::int64_t startMs = 0;
  std::int64_t durationMs = 0;
};
struct Plan {
  std::vector<PlannedLine> lines;
  std::vector<PlannedStep> steps;  // the steps that send something, in order
  std::int64_t totalMs = 0;
  bool ok = true;
  std::string failure;                         // why a run would stop, when !ok
  std::vector<std::string> questions;          // what the operations would ask
  std::vector<const Field*> notCarried;        // meant, but no line would carry it
  std::vector<const Field*> changes;           // fields that differ from the card
  bool scriptChanges = false;
  std::vector<int> uploads, deletes;           // program slots (0-based)
  bool empty() const { return lines.empty(); }
};
Plan MakePlan(const std::string& address, const CardState& card, const Desired& d, const std::string& workDir);

// Called as each step starts, with its planned duration.
using StepHook = std::function<void(Step step, int slot, std::int64_t plannedMs)>;

// Sends the plan's steps to the card, then reads it back and compares.
// The questions of the plan must have been approved on t's user. False with
// t.failure() set (for a difference found by the read-back: step Verify and
// the fields, script or programs that differ).
bool Execute(Target& t, const CardState& card, const Desired& d, const Plan& plan, const StepHook& hook = {});

// The address a card answers on after a run: a new one when the run gave it
// one (with the network identity).
std::string FinalAddress(const Target& t, const Desired& d);

// A line for a person: control bytes escaped, GBK shown as UTF-8.
std::string Printable(const std::string& bytes);

// A card comes back after a restart within this time, and goes down within
// the first bound after the line that restarts it.
constexpr int kDownWithinMs = 10000;
constexpr int kBackWithinMs = 30000;
constexpr int kRestartPollMs = 200;

// Waits, by the clock, for the card at address to go down and come back.
bool WaitForRestart(Target& t, const std::string& address);

}  // namespace card::cli
