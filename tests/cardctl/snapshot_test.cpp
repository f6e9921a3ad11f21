// The backup file: what goes in comes back out; a flipped bit anywhere, a
// repeated or misplaced part, a cut file, a foreign file and a file of the
// first format are refused, with the reason.
#include "cardctl/snapshot.h"

#include <gtest/gtest.h>

#include "platform/crc32.h"
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

// The file with its last line made right again after an edit in front of it:
// only what the edit itself breaks can refuse it.
std::string Resealed(std::string bytes) {
  const std::size_t body = bytes.size() - 13;
  char trailer[16];
  std::snprintf(trailer, sizeof trailer, "end %08x\n", card::Crc32(reinterpret_cast<const std::uint8_t*>(bytes.data()), body));
  return bytes.substr(0, body) + trailer;
}

}  // namespace

TEST(Snapshot, RoundTripsThroughAFileWrittenWholeIdentityLinesIncluded) {
  testing_support::TempDir dir;
  card::Snapshot s = Sample();
  // A name with a line feed or a backslash stays one line of the file.
  s.serial = "name\nwith\\odd\x7f bytes";
  ASSERT_TRUE(card::WriteSnapshot(dir.file("card.snap"), s));
  auto back = card::ReadSnapshot(dir.file("card.snap"));
  ASSERT_TRUE(back.ok()) << back.detail;
  EXPECT_EQ(back.snapshot, s);
  // Without script or programs too.
  card::Snapshot bare = s;
  bare.script.reset();
  bare.programs.clear();
  EXPECT_EQ(card::DecodeSnapshot(card::EncodeSnapshot(bare)).snapshot, bare);
  EXPECT_EQ(card::ReadSnapshot(dir.file("missing.snap")).error, card::SnapshotError::Missing);
  EXPECT_EQ(card::ReadSnapshot(dir.path()).error, card::SnapshotError::Unreadable);
}

TEST(Snapshot, EverySingleBitFlipAnywhereInAFileIsRefused) {
  card::Snapshot s;
  s.toolVersion = "6.2";
  s.address = "10.0.0.1";
  s.mac = "02-00";
  s.serial = "2023";
  s.firmware = "39.1.1";
  s.record = testing_support::CardRecord("10.0.0.1");
  s.script = std::string("x=1\r\n");
  s.programs[1] = "p1\n";
  s.programs[2] = "p2\n";
  const std::string good = card::EncodeSnapshot(s);
  ASSERT_TRUE(card::DecodeSnapshot(good).ok());
  std::size_t accepted = 0;
  for (std::size_t i = 0; i < good.size(); ++i)
    for (int bit = 0; bit < 8; ++bit) {
      std::string bad = good;
      bad[i] = static_cast<char>(bad[i] ^ (1 << bit));
      if (card::DecodeSnapshot(bad).ok()) {
        ++accepted;
        ADD_FAILURE() << "accepted a flip of bit " << bit << " at byte " << i;
      }
    }
  EXPECT_EQ(accepted, 0u) << good.size() * 8 << " flips tried";
}

TEST(Snapshot, PartsOutOfOrderRepeatedUnknownOrCutAreRefusedEvenWithAFreshChecksum) {
  const std::string good = card::EncodeSnapshot(Sample());
  // A damaged part names itself, even when the file's own checksum was made again.
  auto damaged = good;
  damaged[good.find("program one") + 3] ^= 1;
  auto r = card::DecodeSnapshot(Resealed(damaged));
  EXPECT_EQ(r.error, card::SnapshotError::BadChecksum);
  EXPECT_EQ(r.detail, "program0");
  EXPECT_EQ(card::DecodeSnapshot(damaged).error, card::SnapshotError::BadChecksum);

  // The slot of a program is protected: the fault this format was made for.
  auto renamed = good;
  renamed.replace(renamed.find("part program0"), 13, "part program1");
  EXPECT_EQ(card::DecodeSnapshot(renamed).error, card::SnapshotError::BadChecksum);

  // Repeated, out of order, unknown, a ninth slot.
  const std::size_t p5 = good.find("part program5");
  const std::string program5 = good.substr(p5, good.size() - 13 - p5);
  auto repeated = good.substr(0, good.size() - 13) + program5 + good.substr(good.size() - 13);
  EXPECT_EQ(card::DecodeSnapshot(Resealed(repeated)).error, card::SnapshotError::BadPart);
  auto swapped = good;
  const std::size_t p0 = swapped.find("part program0");
  const std::string program0 = swapped.substr(p0, p5 - p0);
  swapped = swapped.substr(0, p0) + program5 + program0 + swapped.substr(swapped.size() - 13);
  EXPECT_EQ(card::DecodeSnapshot(Resealed(swapped)).error, card::SnapshotError::BadPart);
  auto ninth = good;
  ninth.replace(ninth.find("part program5"), 13, "part program9");
  EXPECT_EQ(card::DecodeSnapshot(Resealed(ninth)).error, card::SnapshotError::BadPart);
  auto unknown = good;
  unknown.replace(unknown.find("part script"), 11, "part sCript");
  EXPECT_EQ(card::DecodeSnapshot(Resealed(unknown)).error, card::SnapshotError::BadPart);
  auto noRecord = good;
  const std::size_t rec = noRecord.find("part record"), script = noRecord.find("part script");
  noRecord.erase(rec, script - rec);
  EXPECT_EQ(card::DecodeSnapshot(Resealed(noRecord)).error, card::SnapshotError::BadPart);
  // A length that promises more than the file holds; a length with a leading zero.
  auto longer = good;
  longer.replace(longer.find("part script 15"), 14, "part script 99");
  EXPECT_FALSE(card::DecodeSnapshot(Resealed(longer)).ok());
  auto zero = good;
  zero.replace(zero.find("part script 15"), 14, "part script 015");
  EXPECT_EQ(card::DecodeSnapshot(Resealed(zero)).error, card::SnapshotError::BadPart);

  // Another layout, another file, a cut file.
  auto layout = good;
  layout.replace(layout.find("layout 908"), 10, "layout 912");
  EXPECT_EQ(card::DecodeSnapshot(Resealed(layout)).error, card::SnapshotError::UnknownLayout);
  EXPECT_EQ(card::DecodeSnapshot("PK\x03\x04").error, card::SnapshotError::NotASnapshot);
  for (std::size_t cut : {good.size() - 1, good.size() - 13, good.size() / 2, std::size_t{20}})
    EXPECT_FALSE(card::DecodeSnapshot(good.substr(0, cut)).ok()) << cut;
}

TEST(Snapshot, AFileOfTheFirstFormatIsRefusedSayingWhy) {
  // The first format: header lines no checksum covers.
  const std::string old = "CARDSNAP 1\ntool 6.2\nlayout 908\naddress 1.2.3.4\nmac x\nserial y\nfirmware 39.1.1\n"
                          "part record 908 00000000\n" +
                          std::string(908, '\0') + "\nend\n";
  auto r = card::DecodeSnapshot(old);
  EXPECT_EQ(r.error, card::SnapshotError::OldFormat);
  EXPECT_NE(card::SnapshotErrorText(r).find("CARDSNAP 1"), std::string::npos) << card::SnapshotErrorText(r);
}
