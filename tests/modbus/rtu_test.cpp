// Modbus RTU: the CRC-16 against published example frames, the request
// frames of master entries, and the framer over whole, split, damaged and
// noisy streams.
#include "modbus/rtu.h"

#include <gtest/gtest.h>

namespace mb = card::modbus;

namespace {

std::string Hex(const char* text) {
  std::string out;
  for (const char* p = text; *p;) {
    if (*p == ' ') {
      ++p;
      continue;
    }
    out.push_back(static_cast<char>(std::stoi(std::string(p, 2), nullptr, 16)));
    p += 2;
  }
  return out;
}

std::vector<mb::RtuFrame> FeedAll(mb::RtuFramer& f, const std::string& bytes, std::int64_t at = 0) {
  return f.Feed(bytes, at);
}

}  // namespace

TEST(Rtu, CrcMatchesPublishedFramesAndMasterEntriesMakeThem) {
  // Frames from the published Modbus examples, CRC low byte first.
  const char* frames[] = {"01 03 00 00 00 0A C5 CD", "01 03 00 00 00 01 84 0A", "11 03 00 6B 00 03 76 87",
                          "01 06 00 01 00 03 98 0B", "11 03 06 AE 41 56 52 43 40 49 AD"};
  for (const char* f : frames) {
    const std::string bytes = Hex(f);
    EXPECT_TRUE(mb::CrcOk(bytes)) << f;
    EXPECT_EQ(mb::WithCrc(bytes.substr(0, bytes.size() - 2)), bytes) << f;
    std::string damaged = bytes;
    damaged[2] ^= 0x01;
    EXPECT_FALSE(mb::CrcOk(damaged)) << f;
    EXPECT_EQ(mb::HexText(bytes), f);
  }
  EXPECT_EQ(mb::Crc16(Hex("01 03 00 00 00 0A")), 0xCDC5);
  EXPECT_FALSE(mb::CrcOk(Hex("01 03 C5")));

  EXPECT_EQ(mb::RequestFrameText(1, 3, 0, 10), "01 03 00 00 00 0A C5 CD");
  EXPECT_EQ(mb::RequestFrameText(17, 3, 107, 3), "11 03 00 6B 00 03 76 87");
  EXPECT_EQ(mb::RequestFrameText(1, 16, 16, 2), "01 10 00 10 00 02 04 [4字节数据] [CRC]");
  EXPECT_EQ(mb::RequestFrameText(2, 15, 0, 9), "02 0F 00 00 00 09 02 [2字节数据] [CRC]");
  EXPECT_EQ(mb::RequestFrameText(1, 6, 1, 0), "01 06 00 01 [数值] [CRC]");
  EXPECT_EQ(mb::RequestFrameText(1, 7, 0, 1), "");
}

TEST(Rtu, FramerPairsRequestsWithResponsesWholeOrInPieces) {
  const std::string request = Hex("11 03 00 6B 00 03 76 87");
  const std::string response = Hex("11 03 06 AE 41 56 52 43 40 49 AD");
  const std::string write = mb::WithCrc(Hex("01 10 00 10 00 02 04 00 0A 01 02"));
  const std::string writeAck = mb::WithCrc(Hex("01 10 00 10 00 02"));
  const std::string stream = request + response + write + writeAck;

  // Whole, and byte by byte: the same four frames.
  for (std::size_t piece : {stream.size(), std::size_t{1}, std::size_t{3}}) {
    mb::RtuFramer f;
    std::vector<mb::RtuFrame> frames;
    for (std::size_t at = 0; at < stream.size(); at += piece)
      for (auto& fr : f.Feed(stream.substr(at, piece), static_cast<std::int64_t>(at))) frames.push_back(fr);
    ASSERT_EQ(frames.size(), 4u) << piece;
    EXPECT_EQ(f.pending(), 0u);
    EXPECT_EQ(frames[0].kind, mb::RtuFrame::Request);
    EXPECT_EQ(frames[0].bytes, request);
    EXPECT_EQ(frames[1].kind, mb::RtuFrame::Response);
    EXPECT_EQ(frames[1].bytes, response);
    EXPECT_TRUE(frames[1].answersRequest);
    EXPECT_EQ(frames[2].kind, mb::RtuFrame::Request);
    EXPECT_EQ(frames[2].bytes, write);
    EXPECT_FALSE(frames[2].previousUnanswered);
    EXPECT_EQ(frames[3].kind, mb::RtuFrame::Response);
    EXPECT_TRUE(frames[3].answersRequest);
    for (const auto& fr : frames) EXPECT_TRUE(fr.crcOk);
  }
  mb::RtuFramer f;
  auto frames = FeedAll(f, request + response);
  EXPECT_EQ(mb::DescribeFrame(frames[0]), "11 03 00 6B 00 03 76 87  → 请求 从站17 功能码03(读保持寄存器) 地址107 数量3  CRC正确");
  EXPECT_EQ(mb::DescribeFrame(frames[1]),
            "11 03 06 AE 41 56 52 43 40 49 AD  ← 应答 从站17 功能码03(读保持寄存器) 6字节 数值 44609 22098 17216  CRC正确");
}

TEST(Rtu, FramerNamesDamagedFramesNoiseExceptionsAndSilence) {
  const std::string request = Hex("01 03 00 00 00 0A C5 CD");
  std::string damaged = mb::WithCrc(Hex("01 03 04 00 01 00 02"));
  damaged[4] ^= 0x40;
  const std::string exception = mb::WithCrc(Hex("01 83 02"));

  // A response damaged on the line keeps its length and is marked bad; the
  // next frame is found after it.
  mb::RtuFramer f;
  auto frames = FeedAll(f, request + damaged + request + exception);
  ASSERT_EQ(frames.size(), 4u);
  EXPECT_EQ(frames[1].kind, mb::RtuFrame::Response);
  EXPECT_FALSE(frames[1].crcOk);
  EXPECT_NE(mb::DescribeFrame(frames[1]).find("CRC错误"), std::string::npos);
  EXPECT_EQ(frames[2].bytes, request);
  EXPECT_EQ(frames[3].kind, mb::RtuFrame::Exception);
  EXPECT_TRUE(frames[3].answersRequest);
  EXPECT_NE(mb::DescribeFrame(frames[3]).find("异常码2(非法数据地址)"), std::string::npos);

  // Noise before a frame comes out on its own.
  mb::RtuFramer g;
  frames = FeedAll(g, Hex("FF 00 07") + request);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].kind, mb::RtuFrame::Unknown);
  EXPECT_EQ(frames[0].bytes, Hex("FF 00 07"));
  EXPECT_EQ(frames[1].bytes, request);

  // A request without its answer, then another: marked. A piece left when
  // the line goes quiet is let go as unknown at the next block.
  mb::RtuFramer h;
  frames = FeedAll(h, request + request + request.substr(0, 5), 0);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_TRUE(frames[1].previousUnanswered);
  EXPECT_EQ(h.pending(), 5u);
  frames = h.Feed(request, 0 + mb::RtuFramer::kGapMs + 1);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].kind, mb::RtuFrame::Unknown);
  EXPECT_EQ(frames[0].bytes, request.substr(0, 5));
  EXPECT_EQ(frames[1].bytes, request);

  // Bytes that never make a frame are given up once longer than any frame.
  mb::RtuFramer k;
  std::size_t out = 0;
  for (int i = 0; i < 300; ++i) out += k.Feed(std::string(1, '\x07'), i).size();
  EXPECT_LT(k.pending(), mb::RtuFramer::kMaxFrame);
  EXPECT_GT(out, 0u);
}
