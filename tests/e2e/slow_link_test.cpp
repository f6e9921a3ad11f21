// Flash dumps over a slow or congested link: each reply in TCP segments
// that arrive tens of ms apart, or cut short by the card. The dump equals
// the card's flash or the read says it failed; never a wrong file with
// "读取成功".
#include "e2e/fixture.h"
#include "link/command_channel.h"
#include "platform/crc32.h"
#include "platform/text.h"
#include "storage/flash_save.h"

namespace e2e {
namespace {

using testing_support::ReadFile;

class SlowLinkTest : public CardSimTest {
 protected:
  // Programs in all six directory slots, so that a shifted chunk anywhere
  // in the program region shows.
  void FillProgramRegion() {
    auto link = Connected(kCard0, card::kFilePort);
    for (int slot = 0; slot < 6; ++slot) {
      std::string text;
      for (int line = 0; text.size() < 1000; ++line) text += platform::Format("slot %d line %d\r\n", slot, line);
      card::SendLine(*link, platform::Format("file cmd %d %zu %x 4 \n", slot, text.size(), card::Crc32(text)) + text);
    }
    ASSERT_TRUE(Eventually([&] { return StatusValue(0, "programs_stored") == 6; }));
  }
  // The region as the card keeps it in its flash.bin.
  std::string CardFlash(const card::FlashRegion& r) {
    std::string image = ReadFile(StateFile(0, "flash.bin"));
    EXPECT_EQ(image.size(), 8u << 20);
    return image.size() < r.start + r.size ? std::string() : image.substr(r.start, r.size);
  }
  // Dumps region through the tool's own "读取" and compares it with the card.
  void ExpectDumpIsTheCardsFlash(int region, const std::string& how) {
    const card::FlashRegion& r = card::FlashRegions()[static_cast<std::size_t>(region)];
    auto link = Link(card::kFilePort);
    testing_support::FakeUser user(&stamps_);
    card::StorageTools tools{*link, fast_, user, files_, progress_, kCard0, out_.path()};
    const std::string path = out_.file(how + ".kxdatr");
    files_.saves = {path};
    const card::DumpOutcome outcome = card::DumpRegion(tools, region);
    ASSERT_EQ(outcome, card::DumpOutcome::Saved) << how << ": " << testing::PrintToString(user.texts());
    EXPECT_EQ(user.texts(), (std::vector<std::string>{card::kMsgReadSucceeded})) << how;
    EXPECT_TRUE(ReadFile(path) == CardFlash(r)) << how << ": the dump differs from the card's flash";
  }

  platform::VirtualClock stamps_;
  testing_support::FakeFiles files_;
  testing_support::FakeProgress progress_;
  testing_support::TempDir out_;
};

TEST_F(SlowLinkTest, TheProgramRegionThroughACongestedLinkIsTheCardsFlash) {
  StartSim();
  FillProgramRegion();
  // Each 4096-byte reply in 1460-byte segments 60 ms apart: most of it
  // arrives after the pause before the receive.
  RestartSim(0, {"--split-bytes", "1460", "--split-gap-ms", "60"});
  ExpectDumpIsTheCardsFlash(3, "split-60");
}

TEST_F(SlowLinkTest, TheScriptRegionThroughSlowAndShortRepliesIsTheCardsFlash) {
  StartSim();
  {
    auto link = Connected(kCard0, card::kFilePort);
    std::string script;
    for (int line = 0; script.size() < 4000; ++line) script += platform::Format("a%d=%d\r\n", line, line * 7);
    card::SendLine(*link, platform::Format("file program 0x6f0000 %zu  \n", script.size()) + script);
    ASSERT_TRUE(Eventually([&] { return CardFlash(card::FlashRegions()[4]).rfind("a0=0\r\n", 0) == 0; }));
  }
  const std::vector<std::pair<std::string, std::vector<std::string>>> links = {
      {"split-60", {"--split-bytes", "1460", "--split-gap-ms", "60"}},
      {"split-150", {"--split-bytes", "1460", "--split-gap-ms", "150"}},
      {"short-1000", {"--short-reads", "1000"}},
  };
  for (const auto& [how, faults] : links) {
    RestartSim(0, faults);
    ExpectDumpIsTheCardsFlash(4, how);
  }
}

}  // namespace
}  // namespace e2e
