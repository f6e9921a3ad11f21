// Modbus RTU: the CRC-16 against published example frames, the request
// frames of master entries, and the framer over whole, split, damaged and
// noisy streams.
#include "modbus/rtu.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>

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
  EXPECT_EQ(mb::RequestFrameText(1, 16, 0, 123), "01 10 00 00 00 7B F6 [246字节数据] [CRC]");
  EXPECT_EQ(mb::RequestFrameText(1, 15, 0, 255), "01 0F 00 00 00 FF 20 [32字节数据] [CRC]");
}

TEST(Rtu, ARequestNoFrameCanCarryIsExplainedNotWrapped) {
  // A count of 128 registers would need a byte count of 256; file values far
  // past any field must not wrap or overflow on the way.
  const struct {
    long long slave, function, address, count;
    const char* says;
  } cases[] = {
      {1, 16, 0, 128, "（功能码16请求个数128超出1–123，不能组帧）"},
      {1, 15, 0, 2147483647, "功能码15请求个数2147483647超出1–1968"},
      {1, 3, 65530, 10, "地址65530起10个超出65535"},
      {1, 4, -1, 1, "寄存器地址-1超出0–65535"},
      {-2147483648LL, 6, 0, 0, "从站地址-2147483648超出0–247"},
  };
  for (const auto& c : cases) {
    const std::string text = mb::RequestFrameText(c.slave, c.function, c.address, c.count);
    EXPECT_NE(text.find(c.says), std::string::npos) << text;
    EXPECT_EQ(text.find("字节数据"), std::string::npos) << text;
  }
  EXPECT_EQ(mb::RequestFrameText(1, 4294967299LL, 0, 1), "") << "function 3 only in its low byte";
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
  // next frame is found after it. Its inside could start a long frame, which
  // the quiet line settles.
  mb::RtuFramer f;
  auto frames = FeedAll(f, request + damaged + request + exception);
  for (auto& fr : f.Idle(mb::RtuFramer::kGapMs + 1)) frames.push_back(fr);
  ASSERT_EQ(frames.size(), 4u);
  EXPECT_EQ(frames[1].kind, mb::RtuFrame::Response);
  EXPECT_FALSE(frames[1].crcOk);
  EXPECT_NE(mb::DescribeFrame(frames[1]).find("CRC错误"), std::string::npos);
  EXPECT_EQ(frames[2].bytes, request);
  EXPECT_EQ(frames[3].kind, mb::RtuFrame::Exception);
  EXPECT_TRUE(frames[3].answersRequest);
  EXPECT_NE(mb::DescribeFrame(frames[3]).find("异常码2(非法数据地址)"), std::string::npos);
  EXPECT_TRUE(f.Idle(2 * mb::RtuFramer::kGapMs).empty());

  // Noise before a frame comes out on its own, in one piece; five noise
  // bytes with FF where an exception's function code would be are noise.
  for (const char* noise : {"FF 00 07", "00 FF 00 00 00"}) {
    mb::RtuFramer g;
    frames = FeedAll(g, Hex(noise) + request);
    ASSERT_EQ(frames.size(), 2u) << noise;
    EXPECT_EQ(frames[0].kind, mb::RtuFrame::Unknown);
    EXPECT_EQ(frames[0].bytes, Hex(noise));
    EXPECT_EQ(frames[1].bytes, request);
  }

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

  // A coil is switched on with FF00 and off with 0000.
  mb::RtuFramer c;
  frames = FeedAll(c, mb::WithCrc(Hex("01 05 00 02 FF 00")) + mb::WithCrc(Hex("01 05 00 02 FF 00")) +
                          mb::WithCrc(Hex("01 05 00 03 00 00")) + mb::WithCrc(Hex("01 05 00 04 12 34")));
  ASSERT_EQ(frames.size(), 4u);
  EXPECT_NE(mb::DescribeFrame(frames[0]).find("请求 从站1 功能码05(写单个线圈) 地址2 数值ON"), std::string::npos);
  EXPECT_NE(mb::DescribeFrame(frames[1]).find("应答 从站1 功能码05(写单个线圈) 地址2 数值ON"), std::string::npos);
  EXPECT_NE(mb::DescribeFrame(frames[2]).find("地址3 数值OFF"), std::string::npos);
  EXPECT_NE(mb::DescribeFrame(frames[3]).find("地址4 数值1234(无效)"), std::string::npos);
}

namespace {

// Modbus RTU written here from the protocol, apart from the tool's framer
// and its CRC table: frames of every public function code, and their answers.
std::string Crc(std::string body) {
  unsigned crc = 0xFFFF;
  for (unsigned char c : body) {
    crc ^= c;
    for (int i = 0; i < 8; ++i) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  body.push_back(static_cast<char>(crc & 0xFF));
  body.push_back(static_cast<char>(crc >> 8));
  return body;
}

struct Genuine {
  std::string bytes;
  mb::RtuFrame::Kind kind;
};

class Traffic {
 public:
  explicit Traffic(unsigned seed) : rng_(seed) {}
  // One exchange: a request and its answer (now and then an exception).
  std::vector<Genuine> Exchange() {
    const int codes[] = {1, 2, 3, 4, 5, 6, 15, 16};
    const int fc = codes[Pick(0, 7)];
    const int slave = Pick(1, 247), address = Pick(0, 60000);
    std::string head{static_cast<char>(slave), static_cast<char>(fc)};
    Put16(head, address);
    std::string request = head, response = head;
    const int n = fc == 16 ? Pick(1, 123) : fc == 15 ? Pick(1, 1968) : fc <= 2 ? Pick(1, 2000) : Pick(1, 125);
    switch (fc) {
      case 1: case 2: case 3: case 4: {
        Put16(request, n);
        const int bytes = fc <= 2 ? (n + 7) / 8 : 2 * n;
        response = {static_cast<char>(slave), static_cast<char>(fc), static_cast<char>(bytes)};
        response += Random(bytes);
        break;
      }
      case 5:
        Put16(request, Pick(0, 1) ? 0xFF00 : 0x0000);
        response = request;
        break;
      case 6:
        Put16(request, Pick(0, 65535));
        response = request;
        break;
      default: {
        const int bytes = fc == 15 ? (n + 7) / 8 : 2 * n;
        Put16(request, n);
        request.push_back(static_cast<char>(bytes));
        request += Random(bytes);
        Put16(response, n);
      }
    }
    if (Pick(0, 9) == 0) response = {static_cast<char>(slave), static_cast<char>(fc | 0x80), static_cast<char>(Pick(1, 4))};
    const auto answer = response[1] & 0x80 ? mb::RtuFrame::Exception : mb::RtuFrame::Response;
    return {{Crc(request), mb::RtuFrame::Request}, {Crc(response), answer}};
  }
  std::string Noise(int most) { return Random(Pick(0, most)); }
  int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng_); }

 private:
  static void Put16(std::string& s, int v) {
    s.push_back(static_cast<char>((v >> 8) & 0xFF));
    s.push_back(static_cast<char>(v & 0xFF));
  }
  std::string Random(int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out.push_back(static_cast<char>(Pick(0, 255)));
    return out;
  }
  std::mt19937 rng_;
};

std::vector<mb::RtuFrame> Frame(const std::string& stream, const std::vector<std::size_t>& cuts) {
  mb::RtuFramer f;
  std::vector<mb::RtuFrame> out;
  std::size_t at = 0;
  for (std::size_t cut : cuts) {
    for (auto& fr : f.Feed(stream.substr(at, cut - at), 0)) out.push_back(fr);
    EXPECT_LT(f.pending(), mb::RtuFramer::kMaxPending);
    at = cut;
  }
  for (auto& fr : f.Feed(stream.substr(at), 0)) out.push_back(fr);
  for (auto& fr : f.Flush()) out.push_back(fr);
  return out;
}

}  // namespace

TEST(Rtu, GenuineFramesAmidNoiseAreFoundWhateverTheReadSplits) {
  Traffic t(20240611);
  std::string stream;
  std::vector<std::pair<std::size_t, Genuine>> genuine;  // offset, frame
  while (genuine.size() < 3200) {
    stream += t.Noise(5);
    for (const Genuine& g : t.Exchange()) {
      genuine.push_back({stream.size(), g});
      stream += g.bytes;
    }
  }
  std::vector<std::size_t> cuts;
  for (std::size_t at = static_cast<std::size_t>(t.Pick(1, 40)); at < stream.size(); at += static_cast<std::size_t>(t.Pick(1, 40)))
    cuts.push_back(at);

  const auto whole = Frame(stream, {});
  const auto split = Frame(stream, cuts);
  for (const auto* frames : {&whole, &split}) {
    std::string again;
    std::size_t found = 0, next = 0;
    for (const mb::RtuFrame& f : *frames) {
      EXPECT_LE(f.bytes.size(), mb::RtuFramer::kMaxFrame);
      if (f.kind == mb::RtuFrame::Unknown) {
        EXPECT_LE(f.bytes.size(), mb::RtuFramer::kMaxUnknownRun);
      }
      while (next < genuine.size() && genuine[next].first < again.size()) ++next;
      if (next < genuine.size() && genuine[next].first == again.size() && f.bytes == genuine[next].second.bytes &&
          f.kind == genuine[next].second.kind && f.crcOk &&
          (f.kind == mb::RtuFrame::Request || f.answersRequest))
        ++found;
      again += f.bytes;
    }
    EXPECT_EQ(again, stream) << "no byte lost or repeated";
    EXPECT_EQ(found, genuine.size()) << (frames == &whole ? "in one read" : "in split reads");
  }
  ASSERT_EQ(split.size(), whole.size());
  for (std::size_t i = 0; i < whole.size(); ++i)
    ASSERT_EQ(mb::DescribeFrame(split[i]), mb::DescribeFrame(whole[i])) << "frame " << i;
}

TEST(Rtu, AStrayByteBeforeAFrameSplitAcrossReadsIsNoiseAndTheFrameWaits) {
  // The stray 00 and the request's first seven bytes in one read, the rest
  // with the answer in the next: the same as in one read.
  const std::string first = Hex("00 01 03 00 00 00 02 C4"), second = Hex("0B 01 03 04 03 E8 03 F2 FB 36");
  for (bool split : {true, false}) {
    mb::RtuFramer f;
    auto frames = split ? f.Feed(first, 0) : std::vector<mb::RtuFrame>{};
    EXPECT_TRUE(frames.empty()) << "nothing judged while the request may be completing";
    for (auto& fr : f.Feed(split ? second : first + second, 1)) frames.push_back(fr);
    ASSERT_EQ(frames.size(), 3u) << split;
    EXPECT_EQ(frames[0].kind, mb::RtuFrame::Unknown);
    EXPECT_EQ(frames[0].bytes, Hex("00"));
    EXPECT_EQ(mb::DescribeFrame(frames[1]), "01 03 00 00 00 02 C4 0B  → 请求 从站1 功能码03(读保持寄存器) 地址0 数量2  CRC正确");
    EXPECT_TRUE(frames[2].answersRequest);
    EXPECT_TRUE(frames[2].crcOk);
  }
}

TEST(Rtu, AMebibyteOfTextComesOutInBoundedPiecesAtOnce) {
  std::string text;
  while (text.size() < (1u << 20)) text += "TX: temperature=23.5C humidity=41% ok\r\n";
  text.resize(1u << 20);
  auto check = [&](const std::vector<mb::RtuFrame>& frames) {
    std::string again;
    for (const auto& f : frames) {
      EXPECT_EQ(f.kind, mb::RtuFrame::Unknown);
      EXPECT_LE(f.bytes.size(), mb::RtuFramer::kMaxUnknownRun);
      again += f.bytes;
    }
    EXPECT_EQ(again, text);
    // Whole runs of 256, whatever the reads.
    EXPECT_EQ(frames.size(), text.size() / mb::RtuFramer::kMaxUnknownRun);
  };
  // In 4 KiB reads, as the card forwards them, and in one call: each call
  // returns at once (a bound that only catches a rescan of the whole buffer).
  mb::RtuFramer f;
  std::vector<mb::RtuFrame> frames;
  auto longest = std::chrono::steady_clock::duration::zero();
  for (std::size_t at = 0; at < text.size(); at += 4096) {
    const auto start = std::chrono::steady_clock::now();
    for (auto& fr : f.Feed(std::string_view(text).substr(at, 4096), 0)) frames.push_back(fr);
    longest = std::max(longest, std::chrono::steady_clock::now() - start);
    EXPECT_LE(f.pending(), mb::RtuFramer::kMaxUnknownRun);
  }
  for (auto& fr : f.Flush()) frames.push_back(fr);
  check(frames);
  EXPECT_LT(longest, std::chrono::seconds(10));
  mb::RtuFramer g;
  const auto start = std::chrono::steady_clock::now();
  frames = g.Feed(text, 0);
  for (auto& fr : g.Flush()) frames.push_back(fr);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  check(frames);
}
