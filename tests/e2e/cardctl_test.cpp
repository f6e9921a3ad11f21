// `cardctl` as an installer runs it, against virtual cards: every change is
// decided and checked before it goes out and read back after; a damaged
// backup, a clone giving many cards one address and a card named twice are
// refused; a card that stops mid-way is reported with what it lacks; apply
// run twice sends nothing the second time; a reading that cannot be trusted
// makes no backup; the working folder goes on every signal.
//
// CARDCTL_UNDER_TEST names another cardctl to run these against.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "cardctl/cardctl.h"
#include "cardctl/snapshot.h"
#include "e2e/fixture.h"
#include "platform/codec.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform/version.h"
#include "params/panel_lists.h"
#include "programs/program_slots.h"
#include "storage/script.h"
#include "support/temp_dir.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;
namespace rec = card::rec;
using nlohmann::json;

struct Ran {
  int status = -1;
  int signal = 0;
  std::string out, err;
  std::string all() const { return out + err; }
};

std::string Cardctl() {
  const char* other = std::getenv("CARDCTL_UNDER_TEST");
  return other && *other ? other : CARDCTL_PATH;
}

// Starts cardctl with args, input on its standard input and env added to
// the environment (the pauses a twentieth of their length unless env says).
pid_t Start(const std::vector<std::string>& args, const std::map<std::string, std::string>& env, int* in, int* out,
            int* err) {
  int pin[2], pout[2], perr[2];
  if (::pipe(pin) != 0 || ::pipe(pout) != 0 || ::pipe(perr) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(pin[0], 0);
    ::dup2(pout[1], 1);
    ::dup2(perr[1], 2);
    for (int fd : {pin[0], pin[1], pout[0], pout[1], perr[0], perr[1]}) ::close(fd);
    ::setenv("CARD_CLOCK_SCALE", "0.05", 1);
    for (const auto& [k, v] : env) ::setenv(k.c_str(), v.c_str(), 1);
    const std::string path = Cardctl();
    std::vector<char*> argv = {const_cast<char*>(path.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(path.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(pin[0]);
  ::close(pout[1]);
  ::close(perr[1]);
  *in = pin[1];
  *out = pout[0];
  *err = perr[0];
  return pid;
}

Ran Finish(pid_t pid, int in, int out, int err, const std::string& input) {
  Ran r;
  if (!input.empty() && ::write(in, input.data(), input.size()) < 0) r.err = "(input not written)";
  ::close(in);
  pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
  int open = 2;
  while (open > 0 && ::poll(fds, 2, 60000) > 0) {
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      char buf[4096];
      const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n <= 0) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
        continue;
      }
      (i == 0 ? r.out : r.err).append(buf, static_cast<std::size_t>(n));
    }
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return r;
}

Ran Cardctl(const std::vector<std::string>& args, const std::string& input = {},
            const std::map<std::string, std::string>& env = {}) {
  int in, out, err;
  const pid_t pid = Start(args, env, &in, &out, &err);
  return Finish(pid, in, out, err, input);
}

json Json(const Ran& r) {
  json j = json::parse(r.out, nullptr, false);
  EXPECT_FALSE(j.is_discarded()) << r.all();
  return j;
}

std::vector<std::string> WorkFolders(const std::string& dir) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().filename().string().rfind("cardctl-", 0) == 0) out.push_back(e.path().string());
  return out;
}

class CardctlTest : public CardSimTest {
 protected:
  // Every "set" line, program and script sent to a card since mark (sizes of what it had received).
  struct Mark {
    std::size_t command, file;
  };
  Mark MarkOf(const std::string& card, int sim = 0) {
    return {Received(card, card::kCommandPort, sim).size(), Received(card, card::kFilePort, sim).size()};
  }
  std::string SentSince(const std::string& card, const Mark& m, int sim = 0) {
    return Received(card, card::kCommandPort, sim).substr(m.command) + Received(card, card::kFilePort, sim).substr(m.file);
  }
  // Reading the script switches the card's log off first; that is no change.
  static bool Writes(std::string sent) {
    for (std::size_t at; (at = sent.find("set LOG 0 \n")) != std::string::npos;) sent.erase(at, 11);
    return sent.find("set ") != std::string::npos || sent.find("file cmd") != std::string::npos ||
           sent.find("file program") != std::string::npos || sent.find("reset") != std::string::npos;
  }

  // What a card holds, read through the tool.
  card::cli::CardState Read(const std::string& address) {
    card::cli::ConsoleUser user(log_, lock_, "[" + address + "] ");
    card::cli::Target t([lib = lib_](int port) { return lib->CreateLink(port); }, address, fast_, user,
                        work_.path() + "/" + address);
    auto s = card::cli::ReadCardState(t, card::cli::ReadWhat::Contents);
    EXPECT_TRUE(s.has_value()) << address << ": " << log_.str();
    return s.value_or(card::cli::CardState{});
  }

  // A script and programs put on a card through the window's own operations.
  void Configure(const std::string& address, const std::string& script, const std::map<int, std::string>& programs) {
    card::cli::ConsoleUser user(log_, lock_, "[" + address + "] ");
    user.AnswerAllYes();
    card::cli::Target t([lib = lib_](int port) { return lib->CreateLink(port); }, address, fast_, user,
                        work_.path() + "/configure-" + address);
    auto record = card::cli::ReadCard(t);
    ASSERT_TRUE(record);
    card::ScriptTools tools{t.file(), fast_, user, address, record->firmwareMajor()};
    ASSERT_TRUE(card::SwitchLogOff(tools));
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; (end = script.find("\r\n", at)) != std::string::npos; at = end + 2)
      lines.push_back(script.substr(at, end - at));
    ASSERT_EQ(card::WriteScript(tools, lines), card::ScriptWriteOutcome::Sent);
    for (const auto& [slot, text] : programs) {
      ASSERT_EQ(platform::WriteFileMakingDirs(card::WorkingFilePath(t.programs().subsysDir(), slot + 1), text.data(),
                                              text.size()),
                1);
      ASSERT_TRUE(card::UploadProgram(t.programs(), slot, card::kDefaultDwell));
      ASSERT_TRUE(card::cli::WaitForRestart(t, address));
    }
  }

  // A backup file made in the test: card's record with changes, a script and programs.
  std::string Backup(const std::string& name, const card::DeviceStatusRecord& record, const std::string& script,
                     const std::map<int, std::string>& programs) {
    card::Snapshot s;
    s.toolVersion = platform::kToolVersion;
    s.address = card::AddressText(record);
    s.mac = card::MacText(record);
    s.serial = card::SerialText(record);
    s.firmware = card::FirmwareText(record);
    s.record = record;
    s.script = script;
    s.programs = programs;
    EXPECT_TRUE(card::WriteSnapshot(work_.file(name), s));
    return work_.file(name);
  }

  void TearDown() override {
    if (HasFailure()) std::cerr << "reads said:\n" << log_.str();
    CardSimTest::TearDown();
  }

  std::mutex lock_;
  std::ostringstream log_;
  testing_support::TempDir work_;
};

TEST_F(CardctlTest, SetSendsOnlyWhatItMeansAndADryRunSendsNothing) {
  StartSim({"--cards", "1", "--boot-ms", "200"});
  Mark m = MarkOf(kCard0);
  Ran r = Cardctl({"set", kCard0, "brightness=25", "--dry-run"});
  EXPECT_EQ(r.status, 0) << r.all();
  EXPECT_NE(r.out.find("set ld 25 \\n"), std::string::npos) << r.all();
  EXPECT_FALSE(Writes(SentSince(kCard0, m))) << "a dry run sends nothing: " << SentSince(kCard0, m);
  EXPECT_EQ(StoredRecord(0).u8(rec::kBrightness), 15);
  // An option a command does not take is refused, not ignored.
  EXPECT_EQ(Cardctl({"show", kCard0, "--dry-run"}).status, 2);

  // A number is what show prints, never a list position.
  r = Cardctl({"set", kCard0, "scan=4", "fold_rows=2"});
  ASSERT_EQ(r.status, 0) << r.all();
  EXPECT_EQ(StoredRecord(0).u8(rec::kScan), 4) << "1/4, not the fifth item";
  EXPECT_EQ(StoredRecord(0).u8(rec::kFoldRows), 2);
  m = MarkOf(kCard0);
  r = Cardctl({"--lang", "en", "set", kCard0, "scan=3"});
  EXPECT_EQ(r.status, 2) << r.all();
  EXPECT_NE(r.all().find("not a valid value"), std::string::npos) << r.all();
  EXPECT_FALSE(Writes(SentSince(kCard0, m)));

  // Values whose switch is off reach the card (the record keeps them) or the command fails.
  r = Cardctl({"set", kCard0, "server_heartbeat_interval=20", "rs485_heartbeat_interval=33", "start_delay_seconds=7",
               "split_x=64", "restart_hour=5"});
  EXPECT_EQ(r.status, 0) << r.all();
  const card::DeviceStatusRecord now = StoredRecord(0);
  EXPECT_EQ(now.u16(rec::kServerHeartbeatFlag), 0);
  EXPECT_EQ(now.u16(rec::kServerHeartbeatInterval), 2000);
  EXPECT_EQ(now.u16(rec::kRs485HeartbeatInterval), 33);
  EXPECT_EQ(now.u16(rec::kStartDelay), 7);
  EXPECT_EQ(now.u8(rec::kSplitX), 2);
  EXPECT_EQ(now.u16(rec::kRestartHour), 5);
  EXPECT_EQ(StatusValue(0, "crc_mismatches"), 0);

  // What the card already holds sends nothing at all.
  m = MarkOf(kCard0);
  r = Cardctl({"set", kCard0, "scan=1/4", "brightness=15", "--json"});
  EXPECT_EQ(r.status, 0) << r.all();
  EXPECT_EQ(Json(r)["cards"][0]["result"], "unchanged") << r.out;
  EXPECT_FALSE(Writes(SentSince(kCard0, m))) << SentSince(kCard0, m);
}

TEST_F(CardctlTest, ABackupWithAnyByteChangedIsRefusedAndAGoodOneRestoresToEqual) {
  StartSim({"--cards", "2", "--boot-ms", "200"});
  Configure(kCard0, "a=1\r\nshow a\r\n", {{1, platform::Utf8ToGbk("节目二\n温度 23℃\n")}});
  Ran r = Cardctl({"set", kCard0, "brightness=25", "script_start=打开"});
  ASSERT_EQ(r.status, 0) << r.all();
  const card::DeviceStatusRecord want = Read(kCard0).record;

  // Through a link the link stays; to standard output the same bytes.
  fs::create_directory(work_.file("real"));
  fs::create_symlink(work_.file("real/a.snap"), work_.file("a.snap"));
  r = Cardctl({"backup", kCard0, work_.file("a.snap")});
  ASSERT_EQ(r.status, 0) << r.all();
  EXPECT_TRUE(fs::is_symlink(work_.file("a.snap")));
  EXPECT_TRUE(fs::exists(work_.file("real/a.snap")));
  const std::string file = testing_support::ReadFile(work_.file("a.snap"));
  r = Cardctl({"backup", kCard0, "-"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, file);

  // Read offline: nothing goes to a card.
  const std::string log = WireLog();
  r = Cardctl({"show", work_.file("a.snap")});
  EXPECT_EQ(r.status, 0) << r.all();
  EXPECT_NE(r.out.find("brightness = 25"), std::string::npos) << r.out;
  EXPECT_EQ(WireLog(), log);

  // A flipped bit in a part's header line: "program1" reads as "program0".
  std::string damaged = file;
  ASSERT_NE(damaged.find("part program1"), std::string::npos) << damaged.substr(0, 200);
  damaged[damaged.find("part program1") + 12] ^= 1;
  testing_support::WriteFile(work_.file("d.snap"), damaged);
  Mark m = MarkOf(kCard1);
  r = Cardctl({"restore", work_.file("d.snap"), kCard1, "--yes"});
  EXPECT_EQ(r.status, 2) << r.all();
  EXPECT_FALSE(Writes(SentSince(kCard1, m)));
  r = Cardctl({"restore", work_.file("missing.snap"), kCard1});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.all().find("文件不存在"), std::string::npos) << r.all();

  EXPECT_EQ(Cardctl({"diff", work_.file("a.snap"), kCard1}).status, 1);
  r = Cardctl({"restore", work_.file("a.snap"), kCard1, "--yes"});
  ASSERT_EQ(r.status, 0) << r.all();
  r = Cardctl({"diff", work_.file("a.snap"), kCard1});
  EXPECT_EQ(r.status, 0) << r.all();
  const auto after = Read(kCard1);
  EXPECT_EQ(after.programs, Read(kCard0).programs);
  EXPECT_EQ(after.script, std::string("a=1\r\nshow a\r\n"));
  EXPECT_EQ(card::AddressText(after.record), kCard1) << "its own address";
  EXPECT_NE(card::MacText(after.record), card::MacText(want)) << "its own MAC";
}

TEST_F(CardctlTest, EveryQuestionIsDecidedBeforeTheFirstLineAndProgramsTheBackupLacksStay) {
  StartSim({"--cards", "2", "--boot-ms", "200"});
  Configure(kCard1, "x=1\r\n", {{0, "zero\n"}, {2, "two\n"}});
  Ran r;
  ASSERT_EQ(Cardctl({"set", kCard0, "brightness=30"}).status, 0);
  ASSERT_EQ(Cardctl({"backup", kCard0, work_.file("e.snap")}).status, 0);  // an empty script, no programs

  // Without --yes the empty script is answered no before anything goes out; a dry run says the same.
  Mark m = MarkOf(kCard1);
  r = Cardctl({"restore", work_.file("e.snap"), kCard1});
  EXPECT_EQ(r.status, 1) << r.all();
  EXPECT_FALSE(Writes(SentSince(kCard1, m))) << "half a restore went out: " << SentSince(kCard1, m);
  r = Cardctl({"restore", work_.file("e.snap"), kCard1, "--dry-run"});
  EXPECT_EQ(r.status, 1) << r.all();
  EXPECT_NE(r.out.find("file program 0x6f0000 0"), std::string::npos) << r.out;

  r = Cardctl({"restore", work_.file("e.snap"), kCard1, "--yes"});
  ASSERT_EQ(r.status, 0) << r.all();
  auto now = Read(kCard1);
  EXPECT_EQ(now.record.u8(rec::kBrightness), 30);
  EXPECT_EQ(now.script, std::string());
  EXPECT_EQ(now.programs, (std::map<int, std::string>{{0, "zero\n"}, {2, "two\n"}})) << "kept unless replaced";

  r = Cardctl({"restore", Backup("s2.snap", now.record, "", {{1, "one\n"}}), kCard1, "--programs", "replace"});
  ASSERT_EQ(r.status, 0) << r.all();
  EXPECT_EQ(Read(kCard1).programs, (std::map<int, std::string>{{1, "one\n"}}));
}

TEST_F(CardctlTest, OneAddressIsNeverClonedToManyCardsNorOneCardNamedTwice) {
  StartSim({"--cards", "4", "--boot-ms", "200"});
  ASSERT_EQ(Cardctl({"set", kCard0, "brightness=25"}).status, 0);
  ASSERT_EQ(Cardctl({"backup", kCard0, work_.file("c.snap")}).status, 0);
  const Mark m1 = MarkOf(kCard1), m2 = MarkOf("127.0.0.12");
  Ran r = Cardctl({"clone", work_.file("c.snap"), kCard1, "127.0.0.12", "--with-network", "--yes"});
  EXPECT_EQ(r.status, 2) << r.all();
  r = Cardctl({"clone", work_.file("c.snap"), "127.0.0.11", "127.0.0.011"});
  EXPECT_EQ(r.status, 2) << r.all();
  // Another card's serial: asked first, and without --yes left alone.
  r = Cardctl({"restore", work_.file("c.snap"), kCard1, "--with-network"});
  EXPECT_EQ(r.status, 1) << r.all();
  EXPECT_FALSE(Writes(SentSince(kCard1, m1))) << SentSince(kCard1, m1);
  EXPECT_FALSE(Writes(SentSince("127.0.0.12", m2)));

  testing_support::WriteFile(work_.file("cards.txt"), "127.0.0.13  # by the door\n");
  r = Cardctl({"clone", work_.file("c.snap"), "127.0.0.11-12", "@" + work_.file("cards.txt"), "--json"});
  ASSERT_EQ(r.status, 0) << r.all();
  const json j = Json(r);
  ASSERT_EQ(j["cards"].size(), 3u) << r.out;
  for (int i = 1; i <= 3; ++i) {
    SCOPED_TRACE(i);
    const json& c = j["cards"][static_cast<std::size_t>(i - 1)];
    EXPECT_EQ(c["result"], "changed");
    EXPECT_EQ(c["changed"]["brightness"]["to"], 25);
    EXPECT_TRUE(c["failure"].is_null());
    // The card is the source but for what it is: its address, MAC and name.
    card::DeviceStatusRecord stored;
    const card::DeviceStatusRecord source = StoredRecord(0);
    EXPECT_TRUE(Eventually([&] {
      stored = StoredRecord(i);
      card::DeviceStatusRecord expected = card::cli::KeepIdentity(source, stored);
      // The width copy follows the display mode alone, which the clone left as it was.
      expected.setU16(rec::kWidthCopy, stored.u16(rec::kWidthCopy));
      expected.updateChecksum();
      return stored == expected;
    }));
    EXPECT_EQ(stored.u8(rec::kBrightness), 25);
    EXPECT_EQ(card::AddressText(stored), platform::Format("127.0.0.%d", 10 + i));
    EXPECT_NE(card::MacText(stored), card::MacText(source));
    EXPECT_EQ(StatusValue(i, "crc_mismatches"), 0);
  }
}

TEST_F(CardctlTest, ACardThatStopsMidWayIsReportedFailedWithTheFieldsItLacks) {
  StartSim({"--address", "127.0.0.30", "--freeze-after", "4"});
  // The read is one line; the first field's announcement and line, then the card hangs.
  Ran r = Cardctl({"set", "127.0.0.30", "brightness=25", "refresh_rate=7", "rs485_mode=2", "--json"});
  EXPECT_EQ(r.status, 1) << r.all();
  const json j = Json(r);
  const json& failure = j["cards"][0]["failure"];
  ASSERT_TRUE(failure.is_object()) << r.out;
  for (const char* name : {"refresh_rate", "rs485_mode"})
    EXPECT_NE(std::find(failure["missing"].begin(), failure["missing"].end(), name), failure["missing"].end())
        << name << " " << r.out;
  EXPECT_FALSE(failure["message"].get<std::string>().empty());

  // In a fleet: the card that refuses connections fails with its fields, the other completes.
  StartSim({"--cards", "1"});
  StartSim({"--address", "127.0.0.31", "--refuse-after", "2"});
  testing_support::WriteFile(work_.file("site.json"), R"({"brightness": 25, "refresh_rate": 7})");
  r = Cardctl({"apply", work_.file("site.json"), kCard0, "127.0.0.31", "--yes", "--json"});
  EXPECT_EQ(r.status, 1) << r.all();
  const json a = Json(r);
  ASSERT_EQ(a["cards"].size(), 2u) << r.out;
  EXPECT_EQ(a["cards"][0]["result"], "changed");
  EXPECT_EQ(a["cards"][1]["result"], "failed");
  EXPECT_EQ(a["cards"][1]["failure"]["missing"], json::array({"refresh_rate", "brightness"})) << r.out;
  EXPECT_EQ(StoredRecord(0, 1).u8(rec::kBrightness), 25);
}

TEST_F(CardctlTest, ApplyRunTwiceSendsNothingTheSecondTime) {
  StartSim({"--cards", "3", "--boot-ms", "200"});
  testing_support::WriteFile(work_.file("site.json"),
                             R"({"brightness": 25, "scan": "1/8", "auto_ip": false, "server_heartbeat_interval": 20})");
  const std::vector<std::string> cards = {"127.0.0.10", "127.0.0.11", "127.0.0.12"};
  std::vector<Mark> marks;
  for (const auto& c : cards) marks.push_back(MarkOf(c));

  Ran r = Cardctl({"apply", work_.file("site.json"), "127.0.0.10-12", "--check", "--json"});
  ASSERT_EQ(r.status, 0) << r.all();
  const json checked = Json(r);
  ASSERT_EQ(checked["cards"].size(), 3u) << r.out;
  for (const json& c : checked["cards"]) {
    EXPECT_EQ(c["result"], "would_change");
    EXPECT_EQ(c["changed"]["scan"]["to"], "1/8");
  }
  r = Cardctl({"apply", work_.file("site.json"), "127.0.0.10-12"});
  EXPECT_EQ(r.status, 1) << "not confirmed: " << r.all();
  for (std::size_t i = 0; i < cards.size(); ++i) EXPECT_FALSE(Writes(SentSince(cards[i], marks[i]))) << cards[i];

  r = Cardctl({"apply", work_.file("site.json"), "127.0.0.10-12", "--yes"});
  ASSERT_EQ(r.status, 0) << r.all();
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(StoredRecord(i).u8(rec::kBrightness), 25);
    EXPECT_EQ(StoredRecord(i).u8(rec::kScan), 8);
    EXPECT_EQ(StoredRecord(i).u16(rec::kServerHeartbeatInterval), 2000);
  }
  marks.clear();
  for (const auto& c : cards) marks.push_back(MarkOf(c));
  r = Cardctl({"apply", work_.file("site.json"), "127.0.0.10-12", "--yes", "--json"});
  ASSERT_EQ(r.status, 0) << r.all();
  const json again = Json(r);
  ASSERT_EQ(again["cards"].size(), 3u) << r.out;
  for (const json& c : again["cards"]) EXPECT_EQ(c["result"], "unchanged");
  testing_support::WriteFile(work_.file("site.ini"), "# as show prints it\nbrightness = 25    # 亮度 (panel)\nscan = 1/8\n");
  r = Cardctl({"apply", work_.file("site.ini"), "127.0.0.10-12", "--yes"});
  EXPECT_EQ(r.status, 0) << r.all();
  for (std::size_t i = 0; i < cards.size(); ++i) EXPECT_FALSE(Writes(SentSince(cards[i], marks[i]))) << cards[i];
}

TEST_F(CardctlTest, AReadingThatCannotBeTrustedMakesNoBackupAndSaysWhy) {
  // A card whose firmware keeps no script to read: no failure, a backup without a script.
  StartSim({"--address", "127.0.0.40", "--firmware", "129.1.1"});
  Ran r = Cardctl({"backup", "127.0.0.40", work_.file("f.snap")});
  EXPECT_EQ(r.status, 0) << r.all();
  auto read = card::ReadSnapshot(work_.file("f.snap"));
  EXPECT_TRUE(read.ok()) << r.all();
  EXPECT_FALSE(read.snapshot.script.has_value());
  if (read.ok()) {
    EXPECT_EQ(Cardctl({"restore", work_.file("f.snap"), "127.0.0.40"}).status, 0);
  }

  // Noise on the file port is no script and no directory.
  StartSim({"--address", "127.0.0.41", "--garbage-file-port"});
  r = Cardctl({"backup", "127.0.0.41", work_.file("g.snap")});
  EXPECT_EQ(r.status, 1) << r.all();
  EXPECT_NE(r.err.find("[127.0.0.41] "), std::string::npos) << r.all();
  EXPECT_FALSE(fs::exists(work_.file("g.snap")));

  // A record that fails its own checksum on a card that checks it.
  StartSim({"--address", "127.0.0.42"});
  const std::string path = StateFile(0, "record.bin", 2);
  std::string bytes = testing_support::ReadFile(path);
  bytes[rec::kBrightness] = 33;  // the checksum at 333 still covers 15
  RestartSim(2, {"--address", "127.0.0.42"});
  testing_support::WriteFile(path, bytes);
  RestartSim(2, {"--address", "127.0.0.42"});
  r = Cardctl({"show", "127.0.0.42"});
  EXPECT_NE(r.out.find("checksum = 错误"), std::string::npos) << r.out;
  const json shown = json::parse(Cardctl({"show", "127.0.0.42", "--json"}).out, nullptr, false);
  EXPECT_TRUE(shown.is_object() && shown.value("cards", json::array()).size() == 1 &&
              shown["cards"][0]["fields"]["checksum"] == "bad")
      << shown.dump();
  r = Cardctl({"backup", "127.0.0.42", work_.file("h.snap")});
  EXPECT_EQ(r.status, 1) << r.all();
  EXPECT_NE(r.err.find("CRC"), std::string::npos) << r.all();
  EXPECT_FALSE(fs::exists(work_.file("h.snap")));
}

TEST_F(CardctlTest, TheWorkingFolderIsPrivateInTmpdirAndGoesOnEverySignal) {
  StartSim({"--cards", "1"});
  testing_support::TempDir tmp;
  // At full time a setting takes seconds: long enough to be interrupted.
  const std::map<std::string, std::string> env = {{"TMPDIR", tmp.path()}, {"CARD_CLOCK_SCALE", "1"}};
  auto interrupted = [&](int sig, int brightness) {
    int in, out, err;
    const pid_t pid = Start({"set", kCard0, platform::Format("brightness=%d", brightness)}, env, &in, &out, &err);
    bool seen = false;
    for (int i = 0; i < 300 && !seen; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      for (const auto& f : WorkFolders(tmp.path()))
        if (fs::exists(f + "/card-127.0.0.10")) seen = true;
    }
    EXPECT_TRUE(seen) << "no working folder in TMPDIR";
    if (seen) {
      struct stat st {};
      ::stat(WorkFolders(tmp.path())[0].c_str(), &st);
      EXPECT_EQ(st.st_mode & 0777, 0700u);
    }
    ::kill(pid, sig);
    return Finish(pid, in, out, err, {});
  };
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(sig);
    const Ran r = interrupted(sig, 20 + sig);
    EXPECT_EQ(r.signal, sig) << r.all();
    EXPECT_TRUE(WorkFolders(tmp.path()).empty());
  }
  // kill -9 cannot be caught: the next cardctl clears what it left.
  const Ran killed = interrupted(SIGKILL, 9);
  EXPECT_EQ(killed.signal, SIGKILL);
  EXPECT_EQ(WorkFolders(tmp.path()).size(), 1u);
  EXPECT_EQ(Cardctl({"show", kCard0}, {}, {{"TMPDIR", tmp.path()}}).status, 0);
  EXPECT_TRUE(WorkFolders(tmp.path()).empty());
}

// Several cards in one show or backup, as a fleet's tooling reads them: a
// card that refuses connections fails alone, the others are shown or saved.
TEST_F(CardctlTest, ShowAndBackupTakeSeveralCardsAndOneThatRefusesNeverStopsTheOthers) {
  StartSim({"--cards", "2"});
  StartSim({"--address", "127.0.0.30", "--refuse"});
  ASSERT_EQ(Cardctl({"set", kCard1, "brightness=25"}).status, 0);

  Ran r = Cardctl({"show", "127.0.0.10-11", "127.0.0.30", "--json"});
  EXPECT_EQ(r.status, 1) << r.all();
  json j = Json(r);
  EXPECT_EQ(j["ok"], false);
  ASSERT_EQ(j["cards"].size(), 3u) << r.out;
  EXPECT_EQ(j["cards"][0]["result"], "read");
  EXPECT_EQ(j["cards"][0]["fields"]["brightness"], 15);
  EXPECT_EQ(j["cards"][1]["fields"]["brightness"], 25);
  EXPECT_EQ(j["cards"][1]["fields"]["serial"], card::SerialText(StoredRecord(1)));
  EXPECT_EQ(j["cards"][2]["result"], "failed");
  EXPECT_EQ(j["cards"][2]["failure"]["step"], "read");
  EXPECT_FALSE(j["cards"][2].contains("fields"));
  r = Cardctl({"--lang", "en", "show", "127.0.0.10-11"});
  EXPECT_EQ(r.status, 0) << r.all();
  EXPECT_NE(r.out.find("\n# 127.0.0.11\naddress = 127.0.0.11 "), std::string::npos) << r.out;

  // Several cards need a folder; each lands as ADDRESS.snap.
  r = Cardctl({"backup", "127.0.0.10-11", work_.file("one.snap")});
  EXPECT_EQ(r.status, 2) << r.all();
  EXPECT_FALSE(fs::exists(work_.file("one.snap")));
  fs::create_directory(work_.file("site"));
  r = Cardctl({"backup", "127.0.0.10-11", "127.0.0.30", work_.file("site"), "--json"});
  EXPECT_EQ(r.status, 1) << r.all();
  j = Json(r);
  ASSERT_EQ(j["cards"].size(), 3u) << r.out;
  EXPECT_EQ(j["cards"][1]["result"], "saved");
  EXPECT_EQ(j["cards"][1]["file"], work_.file("site") + "/127.0.0.11.snap");
  EXPECT_EQ(j["cards"][2]["result"], "failed");
  EXPECT_FALSE(fs::exists(work_.file("site") + "/127.0.0.30.snap"));
  r = Cardctl({"show", work_.file("site") + "/127.0.0.11.snap", "--json"});
  ASSERT_EQ(r.status, 0) << r.all();
  EXPECT_EQ(Json(r)["cards"][0]["source"], "file");
  EXPECT_EQ(Json(r)["cards"][0]["fields"]["brightness"], 25);
  EXPECT_EQ(Cardctl({"diff", work_.file("site") + "/127.0.0.10.snap", kCard0}).status, 0);
}

TEST_F(CardctlTest, SearchFindsTheCardsThroughTheAdaptersAndEveryCommandHasItsHelp) {
  StartSim({"--cards", "2"});
  Ran r = Cardctl({"search", "--json"});
  ASSERT_EQ(r.status, 0) << r.all();
  const json j = Json(r);
  ASSERT_EQ(j["cards"].size(), 2u) << r.out;
  EXPECT_EQ(j["cards"][0]["width"], 128);
  EXPECT_EQ(Cardctl({"--version"}).out, std::string("cardctl ") + platform::kToolVersion + "\n");
  for (const char* command : {"search", "show", "diff", "set", "apply", "backup", "restore", "clone"}) {
    r = Cardctl({"help", command});
    EXPECT_EQ(r.status, 0) << command;
    EXPECT_EQ(Cardctl({command, "--help"}).out, r.out) << command;
    EXPECT_EQ(r.out.rfind(std::string("cardctl ") + command, 0), 0u) << r.out;
  }
  r = Cardctl({"--lang", "en", "show", kCard0});
  EXPECT_NE(r.out.find("brightness = 15    # Brightness (panel)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("display_target = 1-- Standard P10"), std::string::npos) << r.out;
  r = Cardctl({"--lang", "en", "help", "set"});
  EXPECT_NE(r.out.find("--dry-run"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Changes go out"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace e2e
