#include "platform/crc32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

TEST(Crc32, KnownVectors) {
  EXPECT_EQ(card::Crc32("abc"), 0x352441c2u);
  EXPECT_EQ(card::Crc32("123456789"), 0xcbf43926u);
  EXPECT_EQ(card::Crc32(""), 0u);
  EXPECT_EQ(card::Crc32(nullptr, 0), 0u);
}

TEST(Crc32, AgreesWithZlibOnRandomBuffers) {
  std::mt19937 rng(1234);
  for (int round = 0; round < 200; ++round) {
    std::vector<unsigned char> buf(rng() % 5000);
    for (auto& b : buf) b = static_cast<unsigned char>(rng());
    uLong expected = crc32(0L, buf.data(), static_cast<uInt>(buf.size()));
    ASSERT_EQ(card::Crc32(buf.data(), buf.size()), expected) << "size " << buf.size();
  }
}
