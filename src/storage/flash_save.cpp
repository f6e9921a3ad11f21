#include "storage/flash_save.h"

#include <filesystem>
#include <random>
#include <system_error>

#include "platform/crc32.h"
#include "platform/files.h"
#include "platform/i18n.h"
#include "platform/text.h"
#include "storage/session.h"

namespace card {

const std::array<FlashRegion, kFlashRegionCount>& FlashRegions() {
  static const std::array<FlashRegion, kFlashRegionCount> regions = {{
      {TR_NOOP("0-- 所有数据"), "config_all_user", 0x000000, 0x800000},
      {TR_NOOP("1-- 系统配置"), "config_sys", 0x000000, 0x020000},
      {TR_NOOP("2-- 图片数据"), "config_bmp", 0x75F000, 0x090000},
      {TR_NOOP("3-- 节目数据"), "config_program", 0x600000, 0x0D0000},
      {TR_NOOP("4-- 脚本数据"), "config_script", 0x6F0000, 0x001000},
      // The card names no address or size for these: they are listed, never read.
      {TR_NOOP("5-- 校验区数据"), "", 0, 0},
      {TR_NOOP("6-- 日志数据"), "", 0, 0},
      {TR_NOOP("7-- WEB服务数据"), "", 0, 0},
      {TR_NOOP("8-- 英文字体"), "", 0, 0},
      {TR_NOOP("9-- 中文字体"), "", 0, 0},
  }};
  return regions;
}

std::vector<std::string> LongTextSlotItems() {
  std::vector<std::string> items;
  for (int i = 0; i < kLongTextSlotCount; ++i) items.push_back(platform::Format(platform::Tr("%d-- Id_%d_长文本"), i, i));
  return items;
}

namespace {

namespace fs = std::filesystem;

fs::path PathOf(const std::string& s) { return fs::path(reinterpret_cast<const char8_t*>(s.c_str())); }

}  // namespace

DumpFile::DumpFile(std::string target) : target_(std::move(target)) {
  // Beside the target, so the final rename stays on one file system.
  std::random_device random;
  for (int attempt = 0; attempt < 16 && !file_; ++attempt) {
    temp_ = target_ + platform::Format(".tmp%06x", random() & 0xFFFFFF);
    file_ = std::fopen(temp_.c_str(), "wbx");
  }
  if (!file_) temp_.clear();
}

DumpFile::~DumpFile() {
  if (file_) std::fclose(file_);
  if (!committed_ && !temp_.empty()) {
    std::error_code ec;
    fs::remove(PathOf(temp_), ec);
  }
}

bool DumpFile::Append(const std::uint8_t* data, std::size_t length) {
  if (!file_ || failed_) return false;
  if (length > 0 && std::fwrite(data, 1, length, file_) != length) failed_ = true;
  return !failed_;
}

bool DumpFile::Close() {
  if (!file_) return !failed_ && !temp_.empty();
  if (std::fclose(file_) != 0) failed_ = true;
  file_ = nullptr;
  return !failed_;
}

bool DumpFile::Commit() {
  if (committed_) return true;
  if (!Close() || temp_.empty()) return false;
  std::error_code ec;
  // A file the user chose to replace keeps its permissions.
  const fs::path target = PathOf(target_), temp = PathOf(temp_);
  if (fs::is_regular_file(target, ec)) {
    fs::perms p = fs::status(target, ec).permissions();
    if (!ec) fs::permissions(temp, p, ec);
  }
  ec.clear();
  fs::rename(temp, target, ec);
  if (ec) return false;
  committed_ = true;
  return true;
}

DumpOutcome DumpRegion(StorageTools& t, int region) {
  if (region < 0 || region >= kFlashRegionCount || !FlashRegions()[static_cast<std::size_t>(region)].readable()) {
    t.user.Message(kMsgRegionUndefined, kTitleNotice, Icon::Information);
    return DumpOutcome::NotReadable;
  }
  const FlashRegion& r = FlashRegions()[static_cast<std::size_t>(region)];
  // The file first: nothing is connected while the user picks it.
  auto path = t.files.SaveFile({TR_NOOP("保存"), kDumpFilter, t.startDir, std::string(r.proposedName) + kDumpSuffix});
  if (!path) return DumpOutcome::NoFileChosen;
  DumpFile dump(*path);
  if (!dump.ok()) {
    t.user.Message(kMsgFileMissing, kTitleError, Icon::Error);
    return DumpOutcome::FileNotCreated;
  }
  CardSession session(t.link, t.address, t.user);
  if (!session.connected()) return DumpOutcome::NotConnected;

  t.progress.Progress(0);
  t.progress.Status(platform::Format(platform::Tr("读取：%d%%"), 0));
  ChunkedResult result = ReadRawChunked(t.link, t.clock, r.start, r.size, dump, [&](int percent) {
    t.progress.Progress(percent);
    t.progress.Status(platform::Format(platform::Tr("读取：%d%%"), percent));
  });
  if (result.status == ChunkedStatus::SinkFailed || (result.status == ChunkedStatus::Complete && !dump.Commit())) {
    t.progress.Status(kStatusReadFailed);
    t.user.Message(kMsgDumpNotSaved, kTitleError, Icon::Error);
    return DumpOutcome::SaveFailed;
  }
  if (result.status != ChunkedStatus::Complete) {
    t.progress.Status(kStatusReadFailed);
    t.user.Message(kMsgReadFailed, kTitleError, Icon::Error);
    return DumpOutcome::ReadFailed;
  }
  t.progress.Status(kMsgReadSucceeded);
  t.user.Message(kMsgReadSucceeded, kTitleNotice, Icon::Information);
  return DumpOutcome::Saved;
}

std::string_view LongTextOf(std::string_view fileBytes) {
  return fileBytes.substr(0, std::min(fileBytes.find('\0'), fileBytes.size()));
}

std::string LongTextCommand(int slot, std::string_view text) {
  const int id = LongTextDataId(slot);
  return platform::Format("file data %d %d %x %d \n", id, static_cast<int>(text.size()), Crc32(text), id) +
         std::string(text);
}

DownloadOutcome DownloadLongText(StorageTools& t, int slot) {
  auto path = t.files.OpenFile({TR_NOOP("打开"), kLongTextFilter, t.startDir, {}});
  if (!path) return DownloadOutcome::NoFileChosen;
  std::string bytes;
  // One byte past the limit is enough to tell a text that is too long.
  if (!platform::ReadWholeFile(*path, &bytes, kMaxLongTextBytes + 1)) {
    t.user.Message(kMsgFileMissing, kTitleError, Icon::Error);
    return DownloadOutcome::FileMissing;
  }
  const std::string_view text = LongTextOf(bytes);
  if (text.size() > kMaxLongTextBytes) {
    t.user.Message(kMsgStorageLimited, kTitleNotice, Icon::Information);
    return DownloadOutcome::TooLong;
  }
  CardSession session(t.link, t.address, t.user);
  if (!session.connected()) return DownloadOutcome::NotConnected;
  int sent = 0;
  {
    ExchangeScope exchange(t.link);
    sent = t.link.Send(LongTextCommand(slot, text));
    t.clock.sleepMs(kLongTextSendPauseMs);
  }
  if (sent != 0) {
    t.user.Message(kMsgConnectFailed, kTitleError, Icon::Error);
    return DownloadOutcome::SendFailed;
  }
  t.user.Message(kMsgDownloadSucceeded, kTitleNotice, Icon::Information);
  return DownloadOutcome::Sent;
}

}  // namespace card
