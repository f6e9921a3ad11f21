// The backup file: what goes in comes back out, and a damaged or foreign
// file is refused with the part named.
#include "cardctl/snapshot.h"

#include <gtest/gtest.h>

#include "support/main_fixture.h"
#include "support/temp_dir.h"

namespace {

card::Snapshot Sample() {
  card::Snapshot s;
  s.toolVersion = "6.2";
  s.address = "192.168.1.20";
  s.mac = "02-4B-56-00-01-01";
  s.serial = "2023000000000000000000011";
  s.firmware = "39.1.7";
  s.record = testing_support::CardRecord("192.168.1.20");
  s.script = std::string("a=1\r\nb=2\r\n") + std::string(1, '\0') + "end\n";
  s.programs[0] = "program one\nwith \xb2\xe2 GBK";
  s.programs[5] = std::string(5000, 'x');
  return s;
}

}  // namespace

TEST(Snapshot, RoundTripsThroughAFileWrittenWhole) {
  testing_support::TempDir dir;
  const auto s = Sample();
  ASSERT_TRUE(card::WriteSnapshot(dir.file("card.snap"), s));
  auto back = card::ReadSnapshot(dir.file("card.snap"));
  ASSERT_TRUE(back.ok()) << back.detail;
  EXPECT_EQ(back.snapshot, s);
  // Without script or programs too.
  card::Snapshot bare = s;
  bare.script.reset();
  bare.programs.clear();
  EXPECT_EQ(card::DecodeSnapshot(card::EncodeSnapshot(bare)).snapshot, bare);
}

TEST(Snapshot, DamagedForeignOrCutFilesAreRefusedWithThePartNamed) {
  const std::string good = card::EncodeSnapshot(Sample());
  auto damaged = good;
  damaged[good.find("program one") + 3] ^= 1;
  auto r = card::DecodeSnapshot(damaged);
  EXPECT_EQ(r.error, card::SnapshotError::BadChecksum);
  EXPECT_EQ(r.detail, "program0");

  auto layout = good;
  layout.replace(layout.find("layout 908"), 10, "layout 912");
  EXPECT_EQ(card::DecodeSnapshot(layout).error, card::SnapshotError::UnknownLayout);
  EXPECT_EQ(card::DecodeSnapshot("PK\x03\x04").error, card::SnapshotError::NotASnapshot);
  for (std::size_t cut : {good.size() - 1, good.size() / 2, std::size_t{20}})
    EXPECT_FALSE(card::DecodeSnapshot(good.substr(0, cut)).ok()) << cut;
  // A length that promises more than the file holds, or a ninth slot.
  auto longer = good;
  longer.replace(longer.find("part script 15"), 14, "part script 99");
  EXPECT_FALSE(card::DecodeSnapshot(longer).ok());
  auto slot = good;
  slot.replace(slot.find("part program5"), 13, "part program9");
  EXPECT_EQ(card::DecodeSnapshot(slot).error, card::SnapshotError::BadPart);
}
