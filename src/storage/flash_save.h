// "读取控制卡存储数据": a region of the card's flash copied into a dump file
// (*.kxdatr, the region's bytes as the card returns them, nothing else), and
// a text file sent to one of the card's ten long-text slots.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "core/ports.h"
#include "link/channel.h"
#include "link/command_channel.h"
#include "platform/clock.h"
#include "storage/session.h"

namespace card {

struct FlashRegion {
  const char* item;          // the drop-down text
  const char* proposedName;  // the dump file name offered; empty without a region
  std::uint32_t start;
  std::uint32_t size;        // 0: the card names no region for the item
  bool readable() const { return size != 0; }
};

inline constexpr int kFlashRegionCount = 10;
const std::array<FlashRegion, kFlashRegionCount>& FlashRegions();

inline constexpr int kLongTextSlotCount = 10;
// "0-- Id_0_长文本" ... "9-- Id_9_长文本".
std::vector<std::string> LongTextSlotItems();
// The card numbers its long texts 5..14.
inline constexpr int LongTextDataId(int slot) { return slot + 5; }
inline constexpr std::size_t kMaxLongTextBytes = 14096;

inline constexpr const char* kDumpFilter = "Bin Files (*.kxdatr);;All Files (*.*)";
inline constexpr const char* kDumpSuffix = ".kxdatr";
inline constexpr const char* kLongTextFilter = "Bin Files (*.txt);;All Files (*.*)";
inline constexpr int kLongTextSendPauseMs = 100;

inline constexpr const char* kMsgReadSucceeded = "读取成功";
inline constexpr const char* kMsgDownloadSucceeded = "下载成功";
inline constexpr const char* kMsgReadFailed = "读取失败，文件未保存";
inline constexpr const char* kMsgDumpNotSaved = "文件保存失败，原文件未改动";
inline constexpr const char* kMsgRegionUndefined = "该数据区没有定义地址，不能读取";
inline constexpr const char* kStatusReadFailed = "读取失败";

// A dump on its way to the disk: the bytes go to a temporary file beside the
// target, and only Commit() puts it in the target's place. A read that fails
// or is cancelled (the object goes without Commit) removes the temporary file
// and leaves whatever file the user chose to overwrite as it was.
class DumpFile : public ByteSink {
 public:
  explicit DumpFile(std::string target);
  ~DumpFile() override;
  DumpFile(const DumpFile&) = delete;
  DumpFile& operator=(const DumpFile&) = delete;

  // False when the temporary file could not be created.
  bool ok() const { return file_ != nullptr || committed_; }
  bool Append(const std::uint8_t* data, std::size_t length) override;
  // Closes the temporary file; the target is not touched yet.
  bool Close() override;
  // Renames the closed temporary file over the target. False (and the target
  // untouched) when any write or the rename failed.
  bool Commit();
  const std::string& temporaryPath() const { return temp_; }

 private:
  std::string target_;
  std::string temp_;
  std::FILE* file_ = nullptr;
  bool failed_ = false;
  bool committed_ = false;
};

// What the storage tool works with: its own link, the clock of the run, the
// user, the file dialogs, the progress bar, the selected card's address and
// the folder the file dialogs open in.
struct StorageTools {
  Channel& link;
  platform::Clock& clock;
  UserPort& user;
  FilePort& files;
  ProgressPort& progress;
  std::string address;
  std::string startDir;
};

enum class DumpOutcome { Saved, NotReadable, NoFileChosen, FileNotCreated, NotConnected, ReadFailed, SaveFailed };

// "读取": asks for the dump file, then connects and reads the region in
// 4096-byte chunks with progress ("读取：%d%%"). The file takes the target's
// place only once the whole region has arrived; every failure is told.
// A cancel of the clock unwinds (platform::OperationAborted) within one chunk
// and leaves no file behind.
DumpOutcome DumpRegion(StorageTools& t, int region);

// The long text in a file's bytes: everything before the first zero byte.
std::string_view LongTextOf(std::string_view fileBytes);
// "file data %d %d %x %d \n" followed by the text, for one Send.
std::string LongTextCommand(int slot, std::string_view text);

enum class DownloadOutcome { Sent, NoFileChosen, FileMissing, TooLong, NotConnected, SendFailed };

// "下载数据": asks for the text file, checks it, then connects and sends it to
// the slot; "下载成功" only when the send went out.
DownloadOutcome DownloadLongText(StorageTools& t, int slot);

}  // namespace card
