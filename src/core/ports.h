// What device operations tell or ask the user, and how they reach the main
// window's device list. Operations run on workers; the Qt implementations of
// these ports marshal every call to the UI thread and wait for the answer.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace card {

enum class Icon { None, Information, Warning, Error, Question };

// Texts shared by many operations.
inline constexpr const char* kTitleError = "错误";
inline constexpr const char* kTitleNotice = "提示";
inline constexpr const char* kTitleSuccess = "成功";
inline constexpr const char* kMsgConnectFailed = "连接设备失败";
inline constexpr const char* kMsgNotConnected = "设备未连接,请搜卡后双击列表中设备";
inline constexpr const char* kMsgStorageLimited = "控制卡存储有限，请升级控制卡";
inline constexpr const char* kMsgOperationError = "操作出错，已停止";

// What the user is told of an error a worker did not expect: the message and
// the error's own words, when it has any.
inline std::string OperationErrorText(const std::string& what) {
  return what.empty() ? std::string(kMsgOperationError) : std::string(kMsgOperationError) + "：" + what;
}

class UserPort {
 public:
  virtual ~UserPort() = default;
  // A modal message box; returns once the user has closed it. An empty title
  // stands for the application's own title.
  virtual void Message(const std::string& text, const std::string& title = {}, Icon icon = Icon::None) = 0;
  // A yes/no question; true only when the user answered "是". Closing the
  // box any other way counts as no.
  virtual bool Ask(const std::string& text, const std::string& title = {}) = 0;
  // A choice from a list; the chosen position, or nullopt when the user
  // cancelled.
  virtual std::optional<int> Choose(const std::string& text, const std::string& title,
                                    const std::vector<std::string>& items, int initial = 0) = 0;
};

// Progress of a long operation: a position 0..100 and a status line.
class ProgressPort {
 public:
  virtual ~ProgressPort() = default;
  virtual void Progress(int percent) = 0;
  virtual void Status(const std::string& text) { (void)text; }
};

// What a file dialog asks: its title, the filter ("节目文件 (*.txt)"), the
// folder it starts in and, when saving, the proposed name.
struct FileRequest {
  std::string title;
  std::string filter;
  std::string startDir;
  std::string proposedName;
};

// File choices stay with the user interface; operations take the chosen
// path as a parameter. Saving asks before an existing file is replaced.
class FilePort {
 public:
  virtual ~FilePort() = default;
  virtual std::optional<std::string> OpenFile(const FileRequest& request) = 0;
  virtual std::optional<std::string> SaveFile(const FileRequest& request) = 0;
};

// One row of the device list, as texts.
struct DeviceListEntry {
  std::string number;    // " %d"
  std::string serial;
  std::string address;
  std::string autoIp;    // "是" / "否"
  std::string status;    // "正常"
  std::string mac;
  std::string firmware;
  std::string platform;  // "已连接" / "未连接"
  bool operator==(const DeviceListEntry&) const = default;
};

class DeviceListPort {
 public:
  virtual ~DeviceListPort() = default;
  virtual void ClearRows() = 0;
  virtual void AppendRow(const DeviceListEntry& entry) = 0;
  virtual void InsertFirstRow(const DeviceListEntry& entry) = 0;
};

}  // namespace card
