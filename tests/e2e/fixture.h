// A fixture that runs cardsim for a test and talks to it through the real
// pcomm library: start with the options a test needs, open links and the
// search, read the wire log and the state directory.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "harness/sim_process.h"
#include "link/channel.h"
#include "link/driver_binding.h"
#include "link/record.h"
#include "link/scan.h"
#include "platform/clock.h"
#include "core/main_state.h"
#include "core/siblings.h"
#include "params/discovery.h"
#include "params/panel.h"
#include "support/fake_ports.h"
#include "support/temp_dir.h"

namespace e2e {

// The tool's broadcast scan, with the cards it found collected.
struct Scan {
  std::vector<card::DeviceStatusRecord> cards;
  card::ScanResult result;
};
Scan ScanAll(card::Channel& search, platform::Clock& clock, const std::string& query = card::kSearchQuery);

void SetNamespaceProblem(const std::string& problem);

// cardctl as an installer runs it (on the tests' shortened clock): its exit
// status, with stdout and stderr together in *out.
int RunCardctl(const std::vector<std::string>& args, std::string* out);

constexpr const char* kCard0 = "127.0.0.10";
constexpr const char* kCard1 = "127.0.0.11";
constexpr const char* kLocal = "127.0.0.1";

class CardSimTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts a cardsim with --state and --wire-log in a fresh directory plus
  // extra. Each call starts another process (for a second fault setting).
  void StartSim(const std::vector<std::string>& extra = {});
  // Starts cardsim again on the state directory and wire log of sim.
  void RestartSim(int sim, const std::vector<std::string>& extra = {});
  void StopSims();

  std::unique_ptr<card::Channel> Link(int port = card::kCommandPort);
  // A link already connected to address (fails the test otherwise).
  std::unique_ptr<card::Channel> Connected(const char* address = kCard0, int port = card::kCommandPort);
  std::unique_ptr<card::Channel> Search();

  // "query all_in_struct_tcp \n" with the tool's 500 ms pause (scaled), then
  // LocateRecord; fails the test when no record comes.
  card::DeviceStatusRecord QueryRecord(card::Channel& link);
  // Sends line inside one exchange and gathers the reply until it holds
  // `expected` bytes or timeoutMs passed: a reading helper for tests, which
  // must not depend on how fast a loaded machine serves the card.
  std::string ExchangeUntil(card::Channel& link, const std::string& line, std::size_t expected, int timeoutMs = 3000);
  // Receives until done(bytes so far) holds or timeoutMs passed.
  static std::string ReceiveUntil(card::Channel& link, const std::function<bool(const std::string&)>& done,
                                  int timeoutMs = 3000);
  // The set line with its checksum announcement before it, as the tool sends
  // them: the change is made to *mirror first, then announced.
  void AnnounceAndSend(card::Channel& link, card::DeviceStatusRecord* mirror, const std::string& line);

  // Polls what until it holds or timeoutMs pass.
  static bool Eventually(const std::function<bool()>& what, int timeoutMs = 3000);

  std::string WireLog(int sim = 0) const;
  // Every byte the tool sent to card (its address) on port, in order, decoded
  // from the wire log.
  std::string Received(const std::string& card, int port, int sim = 0) const;
  std::string StateFile(int card, const std::string& name, int sim = 0) const;
  // The card's record as the virtual card keeps it (its record.bin).
  card::DeviceStatusRecord StoredRecord(int card = 0, int sim = 0) const;
  // A number from a card's status.json ("crc_checks" and so on), -1 if missing.
  long StatusValue(int card, const std::string& key, int sim = 0) const;
  // Waits until card has acted on bytes bytes from its TCP ports in all (its
  // status.json says bytes_processed); its state files are current then.
  bool WaitProcessed(int card, std::size_t bytes, int sim = 0);

  std::shared_ptr<card::DriverLibrary> lib_;
  // The tool's pauses, shortened in proportion; CARD_CLOCK_SCALE overrides the scale.
  platform::ScaledClock fast_{platform::ClockScaleFromEnvironment(0.05)};
  platform::RealClock real_;

 private:
  void Launch(std::size_t index, const std::string& dir, const std::vector<std::string>& extra);
  std::vector<std::unique_ptr<harness::SimProcess>> sims_;
  std::vector<std::unique_ptr<testing_support::TempDir>> dirs_;
};

// The main window's collaborators over the real driver: its links, fake
// ports for the user, list and panel, the shared state and SysCfg.ini.
class ToolContextTest : public CardSimTest {
 protected:
  void SetUp() override;
  // Searches like "搜索设备" and opens the last card found.
  void SearchAndOpen();

  testing_support::TempDir dir_;
  platform::VirtualClock stamps_;
  testing_support::FakeUser user_{&stamps_};
  testing_support::FakeList list_;
  testing_support::FakePanel panel_;
  testing_support::FakeProcesses processes_;
  card::MainState state_;
  card::SysCfg cfg_{dir_.file("SysCfg.ini")};
  card::Siblings siblings_{processes_, dir_.path() + "/"};
  std::unique_ptr<card::Channel> search_, command_, recovery_;
  std::unique_ptr<card::PanelContext> ctx_;
  std::unique_ptr<card::OpenContext> open_;
  int timerStarts_ = 0;
};

}  // namespace e2e
