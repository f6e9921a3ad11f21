// "运行数据监视": the card's RS-485 traffic as it arrives, as hex, as text
// or cut into Modbus RTU frames. A worker receives the blocks over a link of
// the dialog's own into a bounded queue; the dialog's 100 ms timer drains it
// into a log that keeps its newest lines.
#pragma once

#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "link/channel.h"
#include "modbus/monitor.h"
#include "modbus/rtu.h"
#include "ui/text.h"
#include "ui/tool_dialog.h"

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace card::modbus {

class MonitorDialog : public ui::ToolDialog {
  Q_OBJECT
 public:
  MonitorDialog(const ToolEnv& env, std::unique_ptr<Channel> link, QWidget* parent = nullptr);
  ~MonitorDialog() override;

  static QString titleText() { return ui::T("运行数据监视"); }

  // Starts monitoring; runs once the dialog runs, public for tests.
  void Start();
  // One tick of the 100 ms timer: queued blocks into the log, at most
  // kDrainTextPerTick of text.
  void Drain();
  void Clear();        // "清除"
  void TogglePause();  // "暂停" / "继续"
  void SaveLog();      // "保存日志"

  QString logText() const;
  std::uint64_t received() const { return received_; }
  bool monitoring() const { return operationRunning(); }
  QComboBox* typeList() const { return typeList_; }
  QPlainTextEdit* log() const { return log_; }
  BlockQueue& queue() { return queue_; }

 private:
  void Append(const QString& text);
  void ShowCount();

  std::unique_ptr<Channel> link_;
  std::string address_;
  std::atomic<int> type_{kMonitorAscii};
  BlockQueue queue_;
  RtuFramer framer_;
  MonitorEnd end_ = MonitorEnd::LinkClosed;
  std::uint64_t received_ = 0;
  bool paused_ = false;
  bool started_ = false;
  // Why monitoring ended, shown once the queued blocks are.
  QString endNote_;
  QComboBox* typeList_;
  QPlainTextEdit* log_;
  QPushButton* pause_;
  QLabel* count_;
  QTimer* timer_;
};

}  // namespace card::modbus
