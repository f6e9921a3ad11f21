// The language is only what the user reads: the same work done in English
// and in Chinese sends the card the same bytes. One run per language against
// a fresh virtual card: search and open, submit the panel, the advanced
// settings (with a Chinese device name), the panel driver, the Modbus
// requests, the script, and cardctl set with a list item named in the run's
// language; the two wire logs must be equal byte for byte, the card clock's
// line aside.

#include <cstdio>
#include <regex>

#include "e2e/fixture.h"
#include "modbus/master_table.h"
#include "params/advanced.h"
#include "params/panel_driver.h"
#include "platform/i18n.h"
#include "storage/script.h"
#include "support/fake_ports.h"

namespace e2e {
namespace {

namespace rec = card::rec;

void Use(const char* language) {
  platform::LanguageSources s;
  s.explicitChoice = language;
  ASSERT_EQ(platform::UseLanguage(s, CARD_LOCALE_DIR), language);
}

class LanguageTest : public ToolContextTest {
 protected:
  void TearDown() override {
    Use("zh");
    ToolContextTest::TearDown();
  }

  // The run in language; returns what the card received on its command and
  // file ports. cardctl's own output goes to *terminal.
  std::string Run(int sim, const char* language, const std::string& modeItem, std::string* terminal) {
    Use(language);
    StartSim({"--cards", "1", "--firmware", "39.2.1"});
    SearchAndOpen();
    EXPECT_TRUE(state_.cardOpened());

    card::PanelValues& p = panel_.values;
    p.widthText = "256";
    p.target = 5;
    p.brightness = 25;
    p.rs485 = 1;
    p.devNo = 2;
    card::SubmitAll(*ctx_);

    card::DeviceStatusRecord copy = state_.record();
    card::AdvancedValues v = card::AdvancedFromRecord(copy);
    v.dataBits = 1;
    v.dailyRestart = true;
    v.hour = 4;
    v.counterDirection = 1;
    v.counterStart[0] = "12";
    v.deviceName = "2023显示屏一号0000000000";
    v.role = 1;
    testing_support::FakeProgress progress;
    auto file = Link(card::kFilePort);
    EXPECT_EQ(card::SaveAdvanced(*file, fast_, user_, &progress, state_.selectedAddress(), &copy, v),
              card::AdvancedOutcome::Confirmed);
    const card::PanelDriverValues d{.width = 8, .height = 8, .scan = 6, .chip = 5, .foldWidth = 4, .uFold = 1,
                                    .dzFold = 0, .snake = 1, .foldRows = 2, .conversion = 1};
    EXPECT_TRUE(card::SaveLedPara(*file, fast_, user_, state_.selectedAddress(), &copy, d));
    auto table = card::modbus::ReadEntries(copy);
    table[0].function = 3;
    table[0].slave = 9;
    table[0].count = 2;
    table[0].divisor = 1;
    auto command = Link(card::kCommandPort);
    EXPECT_TRUE(card::modbus::UploadTable(*command, fast_, user_, progress, state_.selectedAddress(), table, &copy));
    card::ScriptTools tools{*file, fast_, user_, state_.selectedAddress(), 39};
    EXPECT_TRUE(card::SwitchLogOff(tools));
    EXPECT_EQ(card::WriteScript(tools, {"a=1", "显示 a"}), card::ScriptWriteOutcome::Sent);
    file->Disconnect();

    EXPECT_EQ(RunCardctl({"--lang", language, "set", kCard0, "brightness=30", "display_mode=" + modeItem}, terminal), 0)
        << *terminal;
    EXPECT_TRUE(Eventually([&] { return StoredRecord(0, sim).u8(rec::kDisplayMode) == 2; })) << "the item named in " << language;
    EXPECT_EQ(RunCardctl({"--lang", language, "show", kCard0}, terminal), 0) << *terminal;

    const std::string wire = Received(kCard0, card::kCommandPort, sim) + "\n=== file port ===\n" +
                             Received(kCard0, card::kFilePort, sim);
    StopSims();
    // The card's clock is set to the time of the run.
    return std::regex_replace(wire, std::regex("set time [0-9 ]*\n"), "set time (now)\n");
  }
};

TEST_F(LanguageTest, EnglishSendsTheCardTheSameBytesAsChinese) {
  std::string chineseTerminal, englishTerminal;
  const std::string chinese = Run(0, "zh", "3-- 竖屏显示", &chineseTerminal);
  const std::string english = Run(1, "en", "3-- Portrait", &englishTerminal);
  ASSERT_NE(chinese.find("set SN "), std::string::npos) << "the advanced settings went out";
  EXPECT_NE(chinese.find("set C_DD"), std::string::npos) << "the Modbus requests went out";
  EXPECT_EQ(english, chinese);

  // Each run spoke its own language on the terminal.
  EXPECT_NE(chineseTerminal.find("完成：display_mode"), std::string::npos) << chineseTerminal;
  EXPECT_NE(chineseTerminal.find("display_mode = 3-- 竖屏显示    # 显示模式 (panel)"), std::string::npos);
  EXPECT_NE(englishTerminal.find("done: display_mode"), std::string::npos) << englishTerminal;
  EXPECT_NE(englishTerminal.find("display_mode = 3-- Portrait    # Display mode (panel)"), std::string::npos)
      << englishTerminal;
  EXPECT_EQ(englishTerminal.find("参数"), std::string::npos) << englishTerminal;
}

}  // namespace
}  // namespace e2e
