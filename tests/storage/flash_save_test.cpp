// "读取控制卡存储数据" over a fake link: the chunk requests and where they
// start, the dump file that only ever replaces its target whole, the cancel
// and the kill of a read, and the long-text download line.
#include "storage/flash_save.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <zlib.h>

#include "support/fake_channel.h"
#include "support/fake_ports.h"
#include "support/temp_dir.h"

namespace {

using testing_support::FakeChannel;
using testing_support::ReadFile;
using testing_support::WriteFile;
namespace fs = std::filesystem;

constexpr const char* kCard = "192.168.1.20";

// Flash content that differs from chunk to chunk: byte i is a hash of i.
char FlashByte(std::uint32_t address) { return static_cast<char>((address * 2654435761u) >> 24); }
std::string FlashBytes(std::uint32_t start, std::uint32_t length) {
  std::string s(length, '\0');
  for (std::uint32_t i = 0; i < length; ++i) s[i] = FlashByte(start + i);
  return s;
}

std::string ZlibCrc(const std::string& s) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "%lx", crc32(0L, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
  return hex;
}

std::vector<std::string> DirEntries(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class FlashSaveTest : public ::testing::Test {
 protected:
  FlashSaveTest() {
    // The card answers "file read_raw 0x%x %d\n" with its flash, at most
    // replyLimit bytes (a short reply when below 4096).
    link.onSend([this](const std::string& line) {
      unsigned address = 0;
      int length = 0;
      if (std::sscanf(line.c_str(), "file read_raw 0x%x %d\n", &address, &length) != 2) return;
      int n = replyLimits.empty() ? length : replyLimits.front();
      if (!replyLimits.empty()) replyLimits.pop_front();
      if (n >= 0) link.queueReply(FlashBytes(address, static_cast<std::uint32_t>(n)));
      else link.queueReceiveFailure();
    });
  }
  card::StorageTools tools(platform::Clock& c) { return {link, c, user, files, progress, kCard, dir.path()}; }
  std::vector<std::string> requests() const {
    std::vector<std::string> out;
    for (const auto& s : link.sent())
      if (s.rfind("file read_raw", 0) == 0) out.push_back(s);
    return out;
  }

  platform::VirtualClock clock;
  FakeChannel link{&clock};
  testing_support::FakeUser user{&clock};
  testing_support::FakeFiles files;
  testing_support::FakeProgress progress;
  testing_support::TempDir dir;
  std::deque<int> replyLimits;  // per request: bytes answered, -1 a failed Receive
};

TEST_F(FlashSaveTest, ScriptRegionIsOneRequestIntoAWholeFileChosenBeforeConnecting) {
  files.saves.push_back(dir.file("script.kxdatr"));
  auto t = tools(clock);
  EXPECT_EQ(card::DumpRegion(t, 4), card::DumpOutcome::Saved);
  ASSERT_EQ(files.requests.size(), 1u);
  EXPECT_EQ(files.requests[0].proposedName, "config_script.kxdatr");
  EXPECT_EQ(files.requests[0].filter, "Bin Files (*.kxdatr);;All Files (*.*)");
  EXPECT_EQ(files.requests[0].startDir, dir.path());
  EXPECT_EQ(requests(), std::vector<std::string>{"file read_raw 0x6f0000 4096\n"});
  EXPECT_EQ(ReadFile(dir.file("script.kxdatr")), FlashBytes(0x6f0000, 4096));
  EXPECT_EQ(DirEntries(dir.path()), std::vector<std::string>{"script.kxdatr"}) << "no temporary file is left";
  EXPECT_EQ(clock.sleeps(), (std::vector<int>{100, 100}));
  EXPECT_EQ(link.events().front().kind, testing_support::ChannelEvent::Connect);
  EXPECT_EQ(link.events().front().bytes, kCard);
  EXPECT_FALSE(link.connected());
  EXPECT_EQ(user.texts(), std::vector<std::string>{"读取成功"});
  EXPECT_EQ(progress.percents.back(), 100);
  EXPECT_EQ(progress.statuses.back(), "读取成功");
  EXPECT_EQ(progress.statuses[progress.statuses.size() - 2], "读取：100%");

  // A cancelled file dialog: nothing is connected.
  link.clearEvents();
  EXPECT_EQ(card::DumpRegion(t, 4), card::DumpOutcome::NoFileChosen);
  EXPECT_EQ(link.connectCount(), 0);
}

TEST_F(FlashSaveTest, RequestsStartAfterWhatArrivedShortRepliesIncluded) {
  // Picture data in full replies: 144 requests, the last at start + 143 * 4096.
  files.saves.push_back(dir.file("bmp.kxdatr"));
  auto t = tools(clock);
  ASSERT_EQ(card::DumpRegion(t, 2), card::DumpOutcome::Saved);
  auto r = requests();
  ASSERT_EQ(r.size(), 144u);
  EXPECT_EQ(r.front(), "file read_raw 0x75f000 4096\n");
  EXPECT_EQ(r.back(), "file read_raw 0x7ee000 4096\n");
  EXPECT_EQ(ReadFile(dir.file("bmp.kxdatr")).size(), 589824u);

  // A reply of 1000 bytes, then full ones.
  link.clearEvents();
  replyLimits = {1000, 4096};
  files.saves.push_back(dir.file("sys.kxdatr"));
  ASSERT_EQ(card::DumpRegion(t, 1), card::DumpOutcome::Saved);
  r = requests();
  ASSERT_GE(r.size(), 3u);
  EXPECT_EQ(r[1], "file read_raw 0x3e8 4096\n");
  EXPECT_EQ(r[2], "file read_raw 0x13e8 4096\n");
  EXPECT_EQ(ReadFile(dir.file("sys.kxdatr")), FlashBytes(0, 0x20000));
}

TEST_F(FlashSaveTest, AFailedReadKeepsTheFileTheUserChoseToOverwrite) {
  const std::string target = dir.file("old.kxdatr");
  WriteFile(target, "the installer's earlier dump");
  ::chmod(target.c_str(), 0600);
  auto t = tools(clock);

  replyLimits = {4096, 4096, -1};
  files.saves.push_back(target);
  EXPECT_EQ(card::DumpRegion(t, 1), card::DumpOutcome::ReadFailed);
  EXPECT_EQ(requests().size(), 3u);
  // The card stops answering for good.
  replyLimits.assign(3, 4096);
  replyLimits.insert(replyLimits.end(), 100, 0);
  files.saves.push_back(target);
  EXPECT_EQ(card::DumpRegion(t, 1), card::DumpOutcome::ReadFailed);
  link.queueConnectResult(-1);
  files.saves.push_back(target);
  EXPECT_EQ(card::DumpRegion(t, 1), card::DumpOutcome::NotConnected);

  EXPECT_EQ(ReadFile(target), "the installer's earlier dump");
  EXPECT_EQ(DirEntries(dir.path()), std::vector<std::string>{"old.kxdatr"});
  EXPECT_EQ(user.texts(), (std::vector<std::string>{"读取失败，文件未保存", "读取失败，文件未保存", "连接设备失败"}));
  EXPECT_EQ(progress.statuses.back(), "读取失败");

  // A whole read replaces it and keeps its mode.
  replyLimits.clear();
  files.saves.push_back(target);
  EXPECT_EQ(card::DumpRegion(t, 4), card::DumpOutcome::Saved);
  EXPECT_EQ(ReadFile(target), FlashBytes(0x6f0000, 4096));
  struct stat st {};
  ::stat(target.c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // A folder that does not exist: told before anything is connected.
  link.clearEvents();
  files.saves.push_back(dir.file("missing/x.kxdatr"));
  EXPECT_EQ(card::DumpRegion(t, 4), card::DumpOutcome::FileNotCreated);
  EXPECT_EQ(user.texts().back(), "文件不存在");
  EXPECT_EQ(link.connectCount(), 0);
}

TEST_F(FlashSaveTest, RegionsWithoutAnAddressAreNeverRead) {
  auto t = tools(clock);
  for (int region = 5; region <= 9; ++region) {
    EXPECT_FALSE(card::FlashRegions()[static_cast<std::size_t>(region)].readable());
    EXPECT_EQ(card::DumpRegion(t, region), card::DumpOutcome::NotReadable);
  }
  EXPECT_TRUE(files.requests.empty());
  EXPECT_EQ(link.connectCount(), 0);
  EXPECT_EQ(user.texts().size(), 5u);
  EXPECT_EQ(user.texts()[0], "该数据区没有定义地址，不能读取");
}

TEST_F(FlashSaveTest, CancelStopsWithinOneChunkAndLeavesNoFile) {
  const std::string target = dir.file("old.kxdatr");
  WriteFile(target, "kept");
  platform::CancellableClock run(clock);
  int sends = 0;
  link.onSend([&](const std::string& line) {
    link.queueReply(FlashBytes(0, 4096));
    if (++sends == 3 && line.rfind("file read_raw", 0) == 0) run.cancel();
  });
  files.saves.push_back(target);
  auto t = tools(run);
  EXPECT_THROW(card::DumpRegion(t, 0), platform::OperationAborted);
  EXPECT_EQ(link.sent().size(), 3u) << "no request after the cancel";
  EXPECT_FALSE(link.connected());
  EXPECT_EQ(ReadFile(target), "kept");
  EXPECT_EQ(DirEntries(dir.path()), std::vector<std::string>{"old.kxdatr"});
}

TEST_F(FlashSaveTest, AKilledReadNeverTouchesTheTarget) {
  const std::string target = dir.file("old.kxdatr");
  WriteFile(target, "kept");
  std::fflush(nullptr);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Real 100 ms pauses: 32 chunks take over three seconds.
    platform::RealClock real;
    files.saves.push_back(target);
    auto t = tools(real);
    card::DumpRegion(t, 1);
    ::_exit(0);
  }
  // Kill it once part of the region is on the disk.
  std::string temp;
  for (int i = 0; i < 500 && temp.empty(); ++i) {
    for (const auto& name : DirEntries(dir.path()))
      if (std::error_code ec; name != "old.kxdatr" && fs::file_size(dir.file(name), ec) >= 8192 && !ec) temp = name;
    if (temp.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_FALSE(temp.empty()) << "the read never wrote";
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(ReadFile(target), "kept");
  EXPECT_EQ(temp.rfind("old.kxdatr.tmp", 0), 0u) << "the part lies beside the target under another name";
}

TEST_F(FlashSaveTest, LongTextGoesInOneSendAfterItsFileWasChecked) {
  auto t = tools(clock);
  WriteFile(dir.file("abc.txt"), "abc");
  files.opens.push_back(dir.file("abc.txt"));
  EXPECT_EQ(card::DownloadLongText(t, 0), card::DownloadOutcome::Sent);
  EXPECT_EQ(link.sent(), std::vector<std::string>{"file data 5 3 352441c2 5 \nabc"});
  EXPECT_EQ(files.requests.back().filter, "Bin Files (*.txt);;All Files (*.*)");
  EXPECT_EQ(clock.sleeps(), std::vector<int>{100});
  EXPECT_EQ(user.texts(), std::vector<std::string>{"下载成功"});
  EXPECT_FALSE(link.connected());

  // 14096 bytes go, one more is refused before connecting; a zero byte ends the text.
  link.clearEvents();
  WriteFile(dir.file("full.txt"), std::string(14096, 'x'));
  WriteFile(dir.file("over.txt"), std::string(14097, 'x'));
  WriteFile(dir.file("zero.txt"), std::string("0123456789\0tail", 15));
  files.opens = {dir.file("full.txt"), dir.file("over.txt"), dir.file("zero.txt"), dir.file("none.txt")};
  EXPECT_EQ(card::DownloadLongText(t, 9), card::DownloadOutcome::Sent);
  EXPECT_EQ(card::DownloadLongText(t, 9), card::DownloadOutcome::TooLong);
  EXPECT_EQ(card::DownloadLongText(t, 9), card::DownloadOutcome::Sent);
  EXPECT_EQ(card::DownloadLongText(t, 9), card::DownloadOutcome::FileMissing);
  EXPECT_EQ(card::DownloadLongText(t, 9), card::DownloadOutcome::NoFileChosen);
  auto sent = link.sent();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0], "file data 14 14096 " + ZlibCrc(std::string(14096, 'x')) + " 14 \n" + std::string(14096, 'x'));
  EXPECT_EQ(sent[1], "file data 14 10 " + ZlibCrc("0123456789") + " 14 \n0123456789");
  EXPECT_EQ(link.connectCount(), 2);
  EXPECT_EQ(user.texts(), (std::vector<std::string>{"下载成功", "下载成功", "控制卡存储有限，请升级控制卡", "下载成功",
                                                    "文件不存在"}));

  // "下载成功" only when the send went out.
  link.clearEvents();
  link.failSendsFrom(0);
  files.opens.push_back(dir.file("abc.txt"));
  EXPECT_EQ(card::DownloadLongText(t, 0), card::DownloadOutcome::SendFailed);
  EXPECT_EQ(user.texts().back(), "连接设备失败");
}

}  // namespace
