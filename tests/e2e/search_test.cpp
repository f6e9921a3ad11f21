// The broadcast search through the real SearchTable against several virtual
// cards, and the broadcast lines that act on every card at once.
#include <set>

#include "e2e/fixture.h"
#include "link/command_channel.h"
#include "platform/text.h"

namespace e2e {
namespace {

class SearchTest : public CardSimTest {};

TEST_F(SearchTest, FindsEveryCardExactlyOnce) {
  StartSim({"--cards", "5"});
  auto search = Search();
  auto found = ScanAll(*search, real_);
  ASSERT_FALSE(found.result.sendFailed || found.result.receiveFailed);
  ASSERT_EQ(found.cards.size(), 5u);
  EXPECT_EQ(found.result.replies, 5) << "each card answers once";
  EXPECT_EQ(found.result.receives, 15) << "ten receives past the bound, one per reply";
  std::set<std::string> addresses, serials;
  for (const auto& r : found.cards) {
    addresses.insert(card::AddressText(r));
    serials.insert(r.serialBytes());
    EXPECT_EQ(r.serialBytes().substr(0, 4), "2023");
    EXPECT_EQ(r.serialBytes().size(), 24u);
  }
  EXPECT_EQ(addresses, (std::set<std::string>{"127.0.0.10", "127.0.0.11", "127.0.0.12", "127.0.0.13", "127.0.0.14"}));
  EXPECT_EQ(serials.size(), 5u);
  EXPECT_NE(WireLog().find("\"from\":\"127.0.0.1:8800\",\"rx\":\"query all_in_strut \\n\""), std::string::npos);
}

TEST_F(SearchTest, WithoutRepliesTheSearchEndsAfterTenReceives) {
  StartSim({"--drop-replies"});
  auto search = Search();
  auto found = ScanAll(*search, real_);
  EXPECT_TRUE(found.cards.empty());
  EXPECT_EQ(found.result.receives, 10);
}

TEST_F(SearchTest, ASerialQueryIsAnsweredByThatCardOnly) {
  StartSim({"--cards", "3"});
  auto search = Search();
  auto all = ScanAll(*search, real_);
  ASSERT_EQ(all.cards.size(), 3u);
  std::string serial = all.cards[1].serialBytes();
  auto one = ScanAll(*search, real_, "query all_in_strut " + serial + " \n");
  ASSERT_EQ(one.cards.size(), 1u);
  EXPECT_EQ(one.cards[0].serialBytes(), serial);
  EXPECT_TRUE(ScanAll(*search, real_, "query all_in_strut 2023000000000000000000XX \n").cards.empty());
}

TEST_F(SearchTest, FactoryByteAndResetOpenTheBootWindow) {
  StartSim({"--cards", "2", "--boot-ms", "200", "--boot-window-ms", "4000"});
  auto search = Search();
  EXPECT_TRUE(ScanAll(*search, real_, "query all_in_boot\n").cards.empty()) << "no card is booting";
  search->Send(std::string_view("set S_Foctory 0x80 \n"));
  real_.sleepMs(50);
  search->Send(std::string_view("reset \n"));
  ASSERT_TRUE(Eventually([&] { return StatusValue(0, "restarts") == 1 && StatusValue(1, "restarts") == 1; }));
  real_.sleepMs(400);
  auto booting = ScanAll(*search, real_, "query all_in_boot\n");
  ASSERT_EQ(booting.cards.size(), 2u);
  EXPECT_EQ(booting.cards[0].u8(card::rec::kFactoryByte), 0x80);
  // Clearing the flag ends the window.
  search->Send(std::string_view("set S_Foctory 0x00 \n"));
  real_.sleepMs(50);
  EXPECT_TRUE(ScanAll(*search, real_, "query all_in_boot\n").cards.empty());
}

TEST_F(SearchTest, BroadcastRestartMovesTheCardToItsNewAddress) {
  StartSim({"--boot-ms", "200"});
  auto search = Search();
  auto before = ScanAll(*search, real_);
  ASSERT_EQ(before.cards.size(), 1u);
  // The broadcast restart as the tool sends it: 50 ms apart.
  // The search reply is cut to 500 bytes; the tool's copy is the whole record.
  card::DeviceStatusRecord mirror = QueryRecord(*Connected(kCard0));
  for (int i = 0; i < 4; ++i) mirror.setU8(card::rec::kCardAddress + i, std::uint8_t(i == 3 ? 50 : i == 0 ? 127 : 0));
  mirror.setU8(card::rec::kIpMode, 1);
  search->Send(platform::Format("set Sys_Crc %x \n", mirror.updateChecksum()));
  real_.sleepMs(50);
  search->Send(std::string_view("set local_ip 127 0 0 50 \n"));
  real_.sleepMs(50);
  search->Send(std::string_view("set dhcp_diable 1 \n"));
  real_.sleepMs(50);
  search->Send(std::string_view("reset \n"));
  real_.sleepMs(600);
  auto after = ScanAll(*search, real_);
  ASSERT_EQ(after.cards.size(), 1u);
  EXPECT_EQ(card::AddressText(after.cards[0]), "127.0.0.50");
  EXPECT_EQ(card::MacText(after.cards[0]), card::MacText(before.cards[0]));
  EXPECT_NE(Link()->Connect(kCard0), 0) << "the old address is gone";
  auto link = Connected("127.0.0.50");
  EXPECT_TRUE(QueryRecord(*link) == mirror);
  EXPECT_EQ(StatusValue(0, "crc_checks"), 1);
  EXPECT_EQ(StatusValue(0, "crc_mismatches"), 0);
}

}  // namespace
}  // namespace e2e
