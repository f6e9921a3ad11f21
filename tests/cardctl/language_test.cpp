// cardctl in English: a list setting takes its item by the English text as
// well as by the Chinese text and the position, stores the same number
// either way, and a refused value is explained in English with English items.
#include <gtest/gtest.h>

#include "cardctl/fields.h"
#include "platform/i18n.h"
#include "support/main_fixture.h"

namespace rec = card::rec;

namespace {

class InEnglish : public ::testing::Test {
 protected:
  InEnglish() { Use("en"); }
  ~InEnglish() override { Use("zh"); }
  static void Use(const char* language) {
    platform::LanguageSources s;
    s.explicitChoice = language;
    ASSERT_EQ(platform::UseLanguage(s, CARD_LOCALE_DIR), language);
  }
  static std::string Shown(const char* name, const card::DeviceStatusRecord& r) {
    return card::cli::FindField(name)->show(r);
  }
};

}  // namespace

TEST_F(InEnglish, ListItemsAreTakenByEitherTextOrPositionAndStoreTheSameNumber) {
  const card::DeviceStatusRecord r = testing_support::CardRecord("192.168.1.20", 39);
  for (const char* mode : {"display_mode=3-- Portrait", "display_mode=3-- 竖屏显示", "display_mode=3", "display_mode=#2"}) {
    card::DeviceStatusRecord w = r;
    ASSERT_FALSE(card::cli::ApplyAssignment(&w, mode)) << mode;
    EXPECT_EQ(w.u8(rec::kDisplayMode), 2) << mode;
    // show gives the item as the card's record names it; the output translates it.
    EXPECT_EQ(Shown("display_mode", w), "3-- 竖屏显示");
    EXPECT_STREQ(platform::Tr(Shown("display_mode", w).c_str()), "3-- Portrait");
  }
  // The polarity lists and the yes/no switches, in English.
  card::DeviceStatusRecord w = r;
  ASSERT_FALSE(card::cli::ApplyAssignment(&w, "oe_polarity=2-- Negative"));
  ASSERT_FALSE(card::cli::ApplyAssignment(&w, "double_sided=Yes"));
  ASSERT_FALSE(card::cli::ApplyAssignment(&w, "blue_switch=Off"));
  EXPECT_EQ(Shown("oe_polarity", w), "2-- 负");
  EXPECT_EQ(w.u8(rec::kDoubleSided), 1);
  EXPECT_EQ(w.u8(rec::kBlueSwitch), 85);  // "关闭": the blue channel switched off
}

TEST_F(InEnglish, RefusedValuesAreExplainedInEnglish) {
  card::DeviceStatusRecord w = testing_support::CardRecord("192.168.1.20", 39);
  const card::DeviceStatusRecord before = w;
  auto refused = card::cli::ApplyAssignment(&w, "display_mode=Sideways");
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->rfind("Display mode: \"Sideways\" is not a valid value; choose from: 1-- Landscape, 2-- ", 0), 0u)
      << *refused;
  refused = card::cli::ApplyAssignment(&w, "brightness");
  ASSERT_TRUE(refused);
  EXPECT_EQ(*refused, "\"brightness\" is not of the form NAME=VALUE");
  refused = card::cli::ApplyAssignment(&w, "nonsense=1");
  ASSERT_TRUE(refused);
  EXPECT_EQ(*refused, "There is no setting named nonsense (cardctl show lists every name).");
  EXPECT_EQ(w, before);
}
