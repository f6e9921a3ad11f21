// Settings by name: what show prints, set takes back unchanged; a list item
// is reached by its text, its English name, the number it shows or its
// #position and by nothing else; values outside a list or range, half
// numbers and values other settings decide are refused; JSON values are typed.
#include "cardctl/fields.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "cardctl/texts.h"
#include "support/main_fixture.h"

namespace rec = card::rec;
using card::cli::ApplyAssignment;

namespace {

card::DeviceStatusRecord Sample() {
  card::DeviceStatusRecord r = testing_support::CardRecord("192.168.1.20", 39);
  r.setU8(rec::kScan, 16);
  r.setU8(rec::kFoldWidth, 64);
  r.setU8(rec::kModuleWidth, 32);
  r.setU16(rec::kServerHeartbeatInterval, 1500);
  r.setU8(rec::kModbusTable, 3);  // request 1: function 3
  r.updateChecksum();
  return r;
}

struct English {
  English() { card::cli::SetEnglish(true); }
  ~English() { card::cli::SetEnglish(false); }
};

}  // namespace

TEST(Fields, WhatShowPrintsSetTakesBackAndBadValuesAreRefused) {
  const card::DeviceStatusRecord r = Sample();
  int settable = 0;
  for (const auto& f : card::cli::Fields()) {
    if (!f.set || f.show(r).find("不在列表中") != std::string::npos) continue;
    ++settable;
    card::DeviceStatusRecord copy = r;
    EXPECT_FALSE(card::cli::ApplyValue(&copy, f.name, f.show(r))) << f.name << " = " << f.show(r);
    EXPECT_EQ(copy, r) << f.name;
    {
      English en;
      EXPECT_FALSE(card::cli::ApplyValue(&copy, f.name, f.Shown(r))) << f.name << " = " << f.Shown(r);
      EXPECT_EQ(copy, r) << f.name << " in English";
    }
    for (const char* bad : {"12abc", "", "+5", " 5", "5 ", "-1", "#999"}) EXPECT_TRUE(f.set(&copy, bad)) << f.name << " " << bad;
  }
  EXPECT_GT(settable, 50);

  card::DeviceStatusRecord w = r;
  for (const char* bad : {"brightness=40", "width=2001", "scan=10x", "card_ip=1.2.3.4.5", "card_ip=10.1.2",
                          "card_ip=10.1.2.300", "card_ip=10.1.2.0003", "counter_start_1=500", "nonsense=1", "serial=x",
                          "brightness", "=5", "modbus_request_1=3"})
    EXPECT_TRUE(ApplyAssignment(&w, bad)) << bad;
  EXPECT_EQ(w, r) << "a refused value changes nothing";

  ASSERT_FALSE(ApplyAssignment(&w, "server_heartbeat_interval=30"));
  ASSERT_FALSE(ApplyAssignment(&w, "auto_ip=是"));
  EXPECT_EQ(w.u16(rec::kServerHeartbeatInterval), 3000);
  EXPECT_EQ(w.u8(rec::kIpMode), 0);

  // An old card cannot be locked; unlocking is fine.
  card::DeviceStatusRecord old = testing_support::CardRecord("192.168.1.20", 16);
  EXPECT_TRUE(ApplyAssignment(&old, "lock=是"));
  EXPECT_FALSE(ApplyAssignment(&old, "lock=否"));
}

TEST(Fields, EveryListItemIsReachedByEachOfItsNamesAndANumberIsNeverAPosition) {
  const card::DeviceStatusRecord r = Sample();
  for (const auto& f : card::cli::Fields()) {
    if (!f.set || f.items.empty()) continue;
    for (std::size_t i = 0; i < f.items.size(); ++i) {
      card::DeviceStatusRecord byPosition = r;
      ASSERT_FALSE(card::cli::ApplyValue(&byPosition, f.name, "#" + std::to_string(i))) << f.name << " #" << i;
      const std::string item = f.show(byPosition);
      // The display target's item 23 and the polarities depend on each other; the item is what #i gave.
      card::DeviceStatusRecord byText = r;
      ASSERT_FALSE(card::cli::ApplyValue(&byText, f.name, item)) << f.name << " " << item;
      EXPECT_EQ(f.show(byText), item) << f.name;
      English en;
      const std::string english = f.Shown(byPosition);
      card::DeviceStatusRecord byEnglish = r;
      EXPECT_FALSE(card::cli::ApplyValue(&byEnglish, f.name, english)) << f.name << " " << english;
      EXPECT_EQ(f.show(byEnglish), item) << f.name << " " << english;
    }
  }

  // The faults these rules end: a number that names no item was taken as a position.
  card::DeviceStatusRecord w = r;
  EXPECT_TRUE(ApplyAssignment(&w, "scan=3"));
  EXPECT_TRUE(ApplyAssignment(&w, "fold_width=5"));
  EXPECT_TRUE(ApplyAssignment(&w, "data_bits=0"));
  EXPECT_EQ(w, r);
  struct Case {
    const char* assignment;
    const char* shows;
  };
  for (const Case& c : {Case{"scan=4", "1/4"}, Case{"scan=1/8", "1/8"}, Case{"scan=#3", "1/8"}, Case{"fold_rows=2", "2行折"},
                        Case{"fold_rows=1", "无折线"}, Case{"fold_rows=#2", "4行折"}, Case{"fold_width=16", "16折宽点数"},
                        Case{"display_target=6", "6-- 行8S_折16"}, Case{"display_target=#5", "6-- 行8S_折16"},
                        Case{"oe_polarity=1", "1-- 正"}, Case{"baud_rate=19200", "5-- 19200"},
                        Case{"baud_rate=5", "5-- 19200"}, Case{"module_width=64", "64"}, Case{"split_x=0", "00"},
                        Case{"split_x=64", "64"}, Case{"card_role=Sending", "发送模式"}, Case{"u_fold=u fold", "U型折"},
                        Case{"rs485_heartbeat=on", "启动"}, Case{"stop_bits=1.5", "1.5"}, Case{"brightness=07", "7"}}) {
    card::DeviceStatusRecord v = r;
    ASSERT_FALSE(ApplyAssignment(&v, c.assignment)) << c.assignment;
    const std::string name = std::string(c.assignment).substr(0, std::string(c.assignment).find('='));
    EXPECT_EQ(card::cli::FindField(name)->show(v), c.shows) << c.assignment;
  }
}

TEST(Fields, AValueOtherSettingsDecideIsRefusedAndNamesTheValueShown) {
  // Below firmware 36 a fixed display target's code word carries the polarities.
  card::DeviceStatusRecord r = testing_support::CardRecord("192.168.1.20", 35);
  ASSERT_FALSE(ApplyAssignment(&r, "display_target=6"));
  const card::DeviceStatusRecord before = r;
  auto error = ApplyAssignment(&r, "oe_polarity=1-- 正");
  ASSERT_TRUE(error);
  EXPECT_NE(error->find("oe_polarity"), std::string::npos) << *error;
  EXPECT_EQ(r, before);
  // From 36 on the polarity has its own field.
  card::DeviceStatusRecord n = testing_support::CardRecord("192.168.1.20", 36);
  ASSERT_FALSE(ApplyAssignment(&n, "display_target=6"));
  EXPECT_FALSE(ApplyAssignment(&n, "oe_polarity=2-- 负"));
  EXPECT_EQ(n.u8(rec::kOePolarity), 1);
}

TEST(Fields, JsonValuesAreTypedAndTurnBackIntoWhatSetTakes) {
  card::DeviceStatusRecord r = Sample();
  auto value = [&](const char* name) { return card::cli::FindField(name)->Value(r); };
  EXPECT_EQ(value("brightness"), 20);
  EXPECT_EQ(value("width"), 128);
  EXPECT_EQ(value("auto_ip"), true);
  EXPECT_EQ(value("scan"), "1/16");
  EXPECT_EQ(value("display_target").get<std::string>(), card::cli::FindField("display_target")->show(r));
  EXPECT_EQ(value("card_ip"), "192.168.1.20");
  EXPECT_EQ(value("checksum"), "ok");
  EXPECT_TRUE(value("modbus_request_30").is_null());
  EXPECT_TRUE(value("modbus_request_1").is_object());
  r.setU8(rec::kBrightness, 77);
  EXPECT_EQ(value("brightness"), 77) << "a value beyond the list keeps its number";
  r.setU8(0, static_cast<std::uint8_t>(r.u8(0) ^ 1));
  EXPECT_EQ(value("checksum"), "bad");
  EXPECT_EQ(card::cli::FindField("checksum")->Value(testing_support::CardRecord("1.2.3.4", 16)), "untested");

  std::string error;
  const auto* autoIp = card::cli::FindField("auto_ip");
  const auto* brightness = card::cli::FindField("brightness");
  EXPECT_EQ(card::cli::ValueText(*autoIp, true, &error), "是");
  EXPECT_EQ(card::cli::ValueText(*brightness, 25, &error), "25");
  EXPECT_EQ(card::cli::ValueText(*brightness, "25", &error), "25");
  EXPECT_FALSE(card::cli::ValueText(*brightness, true, &error));
  EXPECT_FALSE(card::cli::ValueText(*brightness, 2.5, &error));
  EXPECT_FALSE(card::cli::ValueText(*brightness, nlohmann::ordered_json::array(), &error));
  EXPECT_NE(error.find("brightness"), std::string::npos);
}

TEST(Fields, InEnglishEveryLabelAndShownValueIsEnglish) {
  English en;
  card::DeviceStatusRecord r = Sample();
  auto english = [](const std::string& text) {
    return std::none_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
  };
  for (const auto& f : card::cli::Fields()) {
    EXPECT_TRUE(english(f.Label())) << f.name << ": " << f.Label();
    EXPECT_TRUE(english(f.Shown(r))) << f.name << ": " << f.Shown(r);
    // Every item, and a value beyond the list.
    for (std::size_t i = 0; i < f.items.size(); ++i) {
      card::DeviceStatusRecord v = r;
      if (card::cli::ApplyValue(&v, f.name, "#" + std::to_string(i))) continue;
      EXPECT_TRUE(english(f.Shown(v))) << f.name << " #" << i << ": " << f.Shown(v);
    }
  }
  r.setU8(rec::kBrightness, 99);
  EXPECT_EQ(card::cli::FindField("brightness")->Shown(r), "99 (not in the list)");
  EXPECT_TRUE(english(card::cli::ApplyAssignment(&r, "brightness=99").value()));
}
