// "智能识别" over the real driver against a card with a module whose wiring
// only the card knows: a person who sees nothing but panel.pgm answers every
// question, the run finds the wiring, and after the main window's follow-on
// submit the card keeps exactly the tool's record with every checksum it was
// announced matching.
#include <cstdio>

#include "e2e/fixture.h"
#include "params/discovery.h"
#include "params/panel.h"
#include "params/panel_driver.h"
#include "support/fake_ports.h"
#include "support/panel_observer.h"
#include "wizard/wizard.h"

namespace e2e {
namespace {

namespace rec = card::rec;
using card::WizardAnswer;
using testing_support::PanelObserver;
using testing_support::Picture;

// Counts the bytes that went out, so a reader knows when the card has acted
// on all of them.
class CountingLink : public card::Channel {
 public:
  explicit CountingLink(std::unique_ptr<card::Channel> link) : link_(std::move(link)) {}
  bool exists() const override { return link_->exists(); }
  int Connect(const std::string& a) override { return link_->Connect(a); }
  void Disconnect() override { link_->Disconnect(); }
  int Send(const void* d, std::size_t n) override {
    const int r = link_->Send(d, n);
    if (r == 0) sent_ += n;
    return r;
  }
  int Receive(void* b, std::size_t c, std::size_t* n) override { return link_->Receive(b, c, n); }
  void BeginExchange() override { link_->BeginExchange(); }
  void EndExchange() override { link_->EndExchange(); }
  std::size_t sent() const { return sent_; }

 private:
  std::unique_ptr<card::Channel> link_;
  std::size_t sent_ = 0;
};

class WizardTest : public ToolContextTest {
 protected:

  // Starts the card with module, opens it as "搜索设备" does and makes the
  // dialog's link. The card boots again quickly after a restart.
  void Open(const std::string& module) {
    StartSim({"--cards", "1", "--firmware", "39.2.1", "--module", module, "--boot-ms", "20"});
    card::SearchBody(*ctx_, *open_, false);
    ASSERT_EQ(state_.selectedAddress(), kCard0);
    before_ = StatusValue(0, "bytes_processed");
    ASSERT_GT(before_, 0);
    link_ = std::make_unique<CountingLink>(Link(card::kFilePort));
  }

  // The person in front of the module: looks only once the card has acted
  // on every byte sent, and only at panel.pgm.
  class Person : public card::WizardPort {
   public:
    explicit Person(WizardTest& t) : t_(t) {}
    WizardAnswer Ask(card::WizardWindow, const std::string& text) override {
      // Closes the window of the first question that begins like closeAt.
      if (!closeAt.empty() && text.compare(0, closeAt.size(), closeAt) == 0) {
        asked.push_back(text);
        return WizardAnswer::Closed;
      }
      const PanelObserver sees(Look());
      int n = 0;
      bool yes = false;
      if (text == card::kAskFullyLit) yes = sees.WholeAreaLit();
      else if (text == card::kAskBrighter) yes = sees.BrighterThan(remembered_);
      else if (text == card::kAskSquare) yes = sees.SquareShown();
      else if (std::sscanf(text.c_str(), card::kAskLineCount, &n) == 1) yes = sees.LineCount() == n;
      else if (std::sscanf(text.c_str(), card::kAskPointsInLine, &n) == 1) yes = sees.PointsInOneLine(n);
      else ADD_FAILURE() << "unexpected question " << text;
      asked.push_back(text);
      return yes ? WizardAnswer::Yes : WizardAnswer::No;
    }
    std::optional<int> ChoosePointCount() override {
      if (closeAt == "points") return std::nullopt;
      const std::string lit = std::to_string(PanelObserver(Look()).PointsLit());
      const auto items = card::PointCountItems();
      for (std::size_t i = 0; i < items.size(); ++i)
        if (items[i] == lit) return static_cast<int>(i);
      ADD_FAILURE() << lit << " points lit: no such item";
      return std::nullopt;
    }
    void ShowCountdown(int) override {}
    void UpdateCountdown(int, int) override {}
    void HideCountdown() override {}
    bool CountdownClosed() override { return false; }
    void Message(const std::string& text, const std::string&, card::Icon) override {
      if (text == card::kMsgRememberBrightness) remembered_ = Look();
      messages.push_back(text);
    }
    void SelectItem(card::WizardList, int) override {}

    std::vector<std::string> asked, messages;
    std::string closeAt;

   private:
    Picture Look() {
      EXPECT_TRUE(t_.WaitProcessed(0, static_cast<std::size_t>(t_.before_) + t_.link_->sent()));
      auto p = testing_support::LoadPgm(t_.StateFile(0, "panel.pgm"));
      EXPECT_TRUE(p.has_value());
      return p.value_or(Picture{});
    }
    WizardTest& t_;
    Picture remembered_;
  };

  // Runs the wizard as the panel driver dialog does, on its copy of the
  // WorkingRecord with the module's size and chip chosen.
  card::WizardOutcome Recognise(Person& person, card::DeviceStatusRecord* copy, int width, int height, int chip) {
    card::PanelDriverValues lists = card::PanelDriverFromRecord(*copy);
    lists.width = width / 8;
    lists.height = height / 4;
    lists.chip = chip;
    return card::RunRecognitionWizard(*link_, quick_, person, state_.selectedAddress(), copy, lists);
  }

  // The whole way: the run, the hand-over, the main window's follow-on
  // submit; then the card's record is the tool's, byte for byte.
  void FindsAndSubmits(const char* module, int width, int height, int chip, const std::vector<int>& found,
                       int checks) {
    Open(module);
    card::DeviceStatusRecord copy = state_.record();
    const int brightness = copy.u8(rec::kBrightness);
    Person person(*this);
    ASSERT_EQ(Recognise(person, &copy, width, height, chip), card::WizardOutcome::Recognised);
    EXPECT_EQ(std::vector<int>({copy.u8(rec::kDataPolarity), copy.u8(rec::kOePolarity), copy.u8(rec::kFoldRows),
                                copy.u8(rec::kFoldWidth), copy.u8(rec::kScan), copy.u8(rec::kSnakeDirection)}),
              found);
    EXPECT_EQ(copy.u8(rec::kModuleWidth) * 1000 + copy.u16(rec::kHeight), width * 1000 + height);
    EXPECT_EQ(copy.u8(rec::kBrightness), brightness);
    state_.setRecord(copy);
    panel_.values = card::PanelAfterPanelDriver(panel_.values, copy);
    panel_.values.target = 22;
    card::SubmitAll(*ctx_);
    EXPECT_TRUE(user_.shown().empty());
    EXPECT_TRUE(Eventually([&] { return StoredRecord() == state_.record(); })) << "the card's record is the tool's";
    EXPECT_EQ(StatusValue(0, "crc_mismatches"), 0);
    EXPECT_EQ(StatusValue(0, "crc_checks"), checks);
  }

  std::unique_ptr<CountingLink> link_;
  long before_ = 0;
  // A run holds about 70 s of countdowns; the card needs none of them, the
  // person waits for the card anyway.
  platform::ScaledClock quick_{platform::ClockScaleFromEnvironment(0.01)};
};

// Data and OE "正" (both polarity rounds, the darker answer); folds with the
// reversed snake and both levels "负" (the square only after the snake
// flipped); a large module on two data lines. Without a fold the chain is
// the module's width and the snake cannot show. found: data, OE, fold rows,
// fold width, scan, snake; checks: the announced lines the card checked.
TEST_F(WizardTest, PlainModule) { FindsAndSubmits("32x16", 32, 16, 0, {0, 0, 1, 32, 16, 0}, 8); }
TEST_F(WizardTest, FoldedModuleReversedSnakeInvertedLevels) {
  FindsAndSubmits("32x16:scan=4:fold-rows=2:fold-width=8:snake=1:data=1:oe=1:chip=2", 32, 16, 2, {1, 1, 2, 8, 4, 1}, 7);
}
TEST_F(WizardTest, LargeModuleOnTwoDataLines) {
  FindsAndSubmits("64x32:scan=16:data=1:chip=5", 64, 32, 5, {1, 0, 1, 64, 16, 0}, 7);
}

// Nothing plugged in: nothing ever lights, the cable message comes, and the
// card is put back as it was, out of recognition mode, every announcement
// matched.
TEST_F(WizardTest, UnpluggedModuleEndsWithTheCableMessageAndTheCardAsItWas) {
  Open("none");
  const card::DeviceStatusRecord start = StoredRecord();
  card::DeviceStatusRecord copy = state_.record();
  Person person(*this);
  EXPECT_EQ(Recognise(person, &copy, 32, 16, 0), card::WizardOutcome::Failed);
  EXPECT_EQ(person.asked, (std::vector<std::string>{card::kAskFullyLit, card::kAskFullyLit}));
  EXPECT_EQ(person.messages, (std::vector<std::string>{card::kMsgCheckCable, card::kMsgRestored}));
  EXPECT_EQ(copy, start);
  EXPECT_TRUE(Eventually([&] { return StoredRecord() == start; }));
  EXPECT_EQ(StatusValue(0, "crc_mismatches"), 0);
  EXPECT_TRUE(Eventually([&] {
    return testing_support::ReadFile(StateFile(0, "status.json")).find("\"recognition\": false") != std::string::npos;
  }));
}

// Closing the window of any question ends the run with the card as it was:
// record.bin is the record before the run, brightness included, every
// announced checksum matched, and the card out of recognition mode.
TEST_F(WizardTest, ACancelAtEveryQuestionLeavesTheCardAsItWas) {
  Open("32x16:fold-rows=2:fold-width=8:scan=4");
  const std::string questions[] = {card::kAskFullyLit, card::kAskBrighter, "points", "观察区是否亮起 [",
                                   "观察区亮起的线条个数", card::kAskSquare};
  for (const std::string& at : questions) {
    SCOPED_TRACE(at);
    const card::DeviceStatusRecord start = StoredRecord();
    const long checksBefore = StatusValue(0, "crc_checks");
    card::DeviceStatusRecord copy = state_.record();
    ASSERT_EQ(copy, start);
    Person person(*this);
    person.closeAt = at;
    EXPECT_EQ(Recognise(person, &copy, 32, 16, 0), card::WizardOutcome::Cancelled);
    ASSERT_FALSE(person.messages.empty());
    EXPECT_EQ(person.messages.back(), card::kMsgRestored);
    EXPECT_EQ(copy, start);
    EXPECT_TRUE(Eventually([&] { return StoredRecord() == start; })) << "record.bin as before the run";
    EXPECT_TRUE(Eventually([&] {
      return testing_support::ReadFile(StateFile(0, "status.json")).find("\"recognition\": false") != std::string::npos;
    }));
    EXPECT_EQ(StatusValue(0, "crc_mismatches"), 0);
    EXPECT_GT(StatusValue(0, "crc_checks"), checksBefore) << "the lines that put it back were announced";
    // The next run counts the card's bytes afresh.
    before_ = StatusValue(0, "bytes_processed");
    link_ = std::make_unique<CountingLink>(Link(card::kFilePort));
  }
}

}  // namespace
}  // namespace e2e
