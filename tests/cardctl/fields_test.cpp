// Settings by name: what show prints, set takes back unchanged; values
// outside a list or range, and half numbers, are refused.
#include "cardctl/fields.h"

#include <gtest/gtest.h>

#include "support/main_fixture.h"

namespace rec = card::rec;

TEST(Fields, WhatShowPrintsSetTakesBackAndBadValuesAreRefused) {
  card::DeviceStatusRecord r = testing_support::CardRecord("192.168.1.20", 39);
  r.setU8(rec::kScan, 16);
  r.setU8(rec::kFoldWidth, 64);
  r.setU8(rec::kModuleWidth, 32);
  r.setU16(rec::kServerHeartbeatInterval, 1500);
  int settable = 0;
  for (const auto& f : card::cli::Fields()) {
    if (!f.set || f.show(r).find("不在列表中") != std::string::npos) continue;
    ++settable;
    card::DeviceStatusRecord copy = r;
    EXPECT_FALSE(f.set(&copy, f.show(r))) << f.name << " = " << f.show(r);
    EXPECT_EQ(copy, r) << f.name;
    EXPECT_TRUE(f.set(&copy, "12abc")) << f.name;
    EXPECT_TRUE(f.set(&copy, "")) << f.name;
  }
  EXPECT_GT(settable, 50);

  card::DeviceStatusRecord w = r;
  for (const char* bad : {"brightness=40", "width=2001", "scan=10", "card_ip=1.2.3.4.5", "card_ip=10.1.2", "card_ip=10.1.2.300",
                          "counter_start_1=500", "nonsense=1", "serial=x", "brightness"})
    EXPECT_TRUE(card::cli::ApplyAssignment(&w, bad)) << bad;
  EXPECT_EQ(w, r) << "a refused value changes nothing";

  // Lists take a position or the item text; stored values follow the lists.
  ASSERT_FALSE(card::cli::ApplyAssignment(&w, "scan=1/64"));
  ASSERT_FALSE(card::cli::ApplyAssignment(&w, "fold_rows=2"));
  ASSERT_FALSE(card::cli::ApplyAssignment(&w, "server_heartbeat_interval=30"));
  ASSERT_FALSE(card::cli::ApplyAssignment(&w, "display_target=1"));
  ASSERT_FALSE(card::cli::ApplyAssignment(&w, "auto_ip=是"));
  EXPECT_EQ(w.u8(rec::kScan), 64);
  EXPECT_EQ(w.u8(rec::kFoldRows), 4);
  EXPECT_EQ(w.u16(rec::kServerHeartbeatInterval), 3000);
  EXPECT_EQ(w.u16(rec::kCodeWord), 0x8011) << "item 2 keeps both polarities";
  EXPECT_EQ(w.u8(rec::kIpMode), 0);

  // An old card cannot be locked.
  card::DeviceStatusRecord old = testing_support::CardRecord("192.168.1.20", 16);
  EXPECT_TRUE(card::cli::ApplyAssignment(&old, "lock=是"));
  EXPECT_FALSE(card::cli::ApplyAssignment(&old, "lock=否"));
}
