#include "e2e/fixture.h"

#include "support/main_fixture.h"

#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/text.h"
#include "link/command_channel.h"

namespace e2e {

Scan ScanAll(card::Channel& search, platform::Clock& clock, const std::string& query) {
  Scan scan;
  scan.result = card::ScanCards(search, clock, query, [&](const card::DeviceStatusRecord& r) { scan.cards.push_back(r); });
  return scan;
}
namespace {
std::string& Problem() {
  static std::string p = "not checked";
  return p;
}
}  // namespace

void SetNamespaceProblem(const std::string& problem) { Problem() = problem; }

int RunCardctl(const std::vector<std::string>& args, std::string* out) {
  std::string cmd = std::string("CARD_CLOCK_SCALE=0.05 ") + CARDCTL_PATH;
  for (const auto& a : args) cmd += " '" + a + "'";
  cmd += " 2>&1";
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return -1;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out->append(buf, n);
  int status = ::pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void CardSimTest::SetUp() {
  if (!Problem().empty())
    GTEST_SKIP() << "end-to-end tests need a private network namespace: " << Problem();
  lib_ = card::DriverLibrary::Load(PCOMM_PATH);
  ASSERT_TRUE(lib_) << "cannot load " << PCOMM_PATH;
}

void CardSimTest::TearDown() { StopSims(); }

void CardSimTest::StartSim(const std::vector<std::string>& extra) {
  dirs_.push_back(std::make_unique<testing_support::TempDir>());
  sims_.push_back(std::make_unique<harness::SimProcess>());
  Launch(sims_.size() - 1, dirs_.back()->path(), extra);
}

void CardSimTest::RestartSim(int sim, const std::vector<std::string>& extra) {
  sims_.at(static_cast<std::size_t>(sim))->Stop();
  Launch(static_cast<std::size_t>(sim), dirs_.at(static_cast<std::size_t>(sim))->path(), extra);
}

void CardSimTest::Launch(std::size_t index, const std::string& dir, const std::vector<std::string>& extra) {
  std::vector<std::string> args = {"--state", dir + "/state", "--wire-log", dir + "/wire.log"};
  args.insert(args.end(), extra.begin(), extra.end());
  auto sim = std::make_unique<harness::SimProcess>();
  std::string error;
  ASSERT_TRUE(sim->Start(CARDSIM_PATH, args, 10000, &error)) << error;
  sims_.at(index) = std::move(sim);
}

bool CardSimTest::Eventually(const std::function<bool()>& what, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (what()) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void CardSimTest::StopSims() {
  for (auto& s : sims_) s->Stop();
  sims_.clear();
}

std::unique_ptr<card::Channel> CardSimTest::Link(int port) {
  auto ch = lib_->CreateLink(port);
  EXPECT_TRUE(ch->exists());
  return ch;
}

std::unique_ptr<card::Channel> CardSimTest::Connected(const char* address, int port) {
  auto ch = Link(port);
  EXPECT_EQ(ch->Connect(address), 0) << address << ":" << port;
  return ch;
}

std::unique_ptr<card::Channel> CardSimTest::Search() {
  auto ch = lib_->CreateSearch();
  EXPECT_TRUE(ch->exists());
  EXPECT_EQ(ch->Connect(kLocal), 0);
  return ch;
}

std::string CardSimTest::ReceiveUntil(card::Channel& link, const std::function<bool(const std::string&)>& done,
                                      int timeoutMs) {
  std::string got;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done(got) && std::chrono::steady_clock::now() < deadline) {
    char buf[8192];
    std::size_t n = 0;
    if (link.Receive(buf, sizeof buf, &n) != 0) break;
    got.append(buf, n);
  }
  return got;
}

std::string CardSimTest::ExchangeUntil(card::Channel& link, const std::string& line, std::size_t expected,
                                       int timeoutMs) {
  card::ExchangeScope exchange(link);
  EXPECT_EQ(link.Send(line), 0) << line;
  return ReceiveUntil(link, [&](const std::string& got) { return got.size() >= expected; }, timeoutMs);
}

card::DeviceStatusRecord CardSimTest::QueryRecord(card::Channel& link) {
  // A stray byte may come first: one more than the record.
  const std::string got = ExchangeUntil(link, "query all_in_struct_tcp \n", card::rec::kSize, 3000);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(got.data());
  auto at = card::LocateRecord(bytes, got.size());
  EXPECT_TRUE(at.has_value()) << "no record in " << got.size() << " bytes";
  if (!at) return {};
  std::string whole = got;
  if (whole.size() < *at + card::rec::kSize)
    whole += ReceiveUntil(link, [&](const std::string& more) { return got.size() + more.size() >= *at + card::rec::kSize; });
  EXPECT_GE(whole.size(), *at + card::rec::kSize) << "the record came back cut";
  return card::CopyRecord(reinterpret_cast<const std::uint8_t*>(whole.data()), whole.size(), *at);
}

void CardSimTest::AnnounceAndSend(card::Channel& link, card::DeviceStatusRecord* mirror, const std::string& line) {
  std::uint32_t crc = mirror->updateChecksum();
  card::SendLine(link, platform::Format("set Sys_Crc %x \n", crc));
  fast_.sleepMs(2000);
  card::SendLine(link, line);
}

std::string CardSimTest::WireLog(int sim) const {
  return testing_support::ReadFile(dirs_.at(static_cast<std::size_t>(sim))->file("wire.log"));
}

namespace {

// Decodes the JSON string that starts at text[at] (the opening quote).
std::string JsonText(const std::string& text, std::size_t at) {
  std::string out;
  for (std::size_t i = at + 1; i < text.size() && text[i] != '"'; ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    char e = text[++i];
    switch (e) {
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 'u': out += static_cast<char>(std::strtol(text.substr(i + 1, 4).c_str(), nullptr, 16)); i += 4; break;
      default: out += e;
    }
  }
  return out;
}

}  // namespace

std::string CardSimTest::Received(const std::string& card, int port, int sim) const {
  const std::string log = WireLog(sim);
  const std::string match = platform::Format("\"card\":\"%s\",\"port\":%d,", card.c_str(), port);
  std::string out;
  std::size_t start = 0;
  while (start < log.size()) {
    std::size_t end = log.find('\n', start);
    if (end == std::string::npos) end = log.size();
    std::string line = log.substr(start, end - start);
    std::size_t rx = line.find("\"rx\":");
    if (line.find(match) != std::string::npos && rx != std::string::npos) out += JsonText(line, rx + 5);
    start = end + 1;
  }
  return out;
}

std::string CardSimTest::StateFile(int card, const std::string& name, int sim) const {
  return dirs_.at(static_cast<std::size_t>(sim))->file(platform::Format("state/card%02d/%s", card, name.c_str()));
}

long CardSimTest::StatusValue(int card, const std::string& key, int sim) const {
  std::string s = testing_support::ReadFile(StateFile(card, "status.json", sim));
  auto at = s.find("\"" + key + "\": ");
  if (at == std::string::npos) return -1;
  return std::strtol(s.c_str() + at + key.size() + 4, nullptr, 10);
}

bool CardSimTest::WaitProcessed(int card, std::size_t bytes, int sim) {
  return Eventually([&] { return StatusValue(card, "bytes_processed", sim) == static_cast<long>(bytes); });
}

card::DeviceStatusRecord CardSimTest::StoredRecord(int card, int sim) const {
  const std::string bytes = testing_support::ReadFile(StateFile(card, "record.bin", sim));
  EXPECT_EQ(bytes.size(), card::rec::kSize);
  return card::CopyRecord(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), 0);
}

void ToolContextTest::SetUp() {
  CardSimTest::SetUp();
  if (IsSkipped()) return;
  testing_support::UseUtc();
  search_ = lib_->CreateSearch();
  command_ = lib_->CreateLink(card::kCommandPort);
  recovery_ = lib_->CreateLink(card::kRecoveryPort);
  ctx_ = std::make_unique<card::PanelContext>(card::PanelContext{*command_, fast_, user_, panel_, state_, cfg_});
  open_ = std::make_unique<card::OpenContext>(
      card::OpenContext{search_.get(), *recovery_, list_, siblings_, [this] { ++timerStarts_; }});
  state_.setLocalAddress(kLocal);
  ASSERT_EQ(search_->Connect(kLocal), 0);
}

void ToolContextTest::SearchAndOpen() { card::SearchBody(*ctx_, *open_, panel_.values.broadcast); }

}  // namespace e2e
