// One connection of a storage tool to its card: connected for one button
// press, disconnected on every way out (a refusal, a failure, a cancel).
#pragma once

#include <string>

#include "core/ports.h"
#include "link/channel.h"
#include "platform/i18n.h"

namespace card {

// A file the user chose cannot be opened or created.
inline constexpr const char* kMsgFileMissing = TR_NOOP("文件不存在");

class CardSession {
 public:
  // Connects link to address; on failure tells the user "连接设备失败".
  CardSession(Channel& link, const std::string& address, UserPort& user) : link_(link) {
    connected_ = link_.Connect(address) == 0;
    if (!connected_) user.Message(kMsgConnectFailed, kTitleError, Icon::Error);
  }
  ~CardSession() {
    if (connected_) link_.Disconnect();
  }
  CardSession(const CardSession&) = delete;
  CardSession& operator=(const CardSession&) = delete;

  bool connected() const { return connected_; }

 private:
  Channel& link_;
  bool connected_ = false;
};

}  // namespace card
