// The common ground of every tool dialog: its card operations run on a
// worker with a clock of their own, its inputs are held meanwhile, progress
// reaches its progress bar, and "取消" or the close box cancels the run and
// waits for the worker before the dialog closes. Nothing of the card work
// runs on the UI thread.
#pragma once

#include <QDialog>
#include <QPointer>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "core/ports.h"
#include "core/tool_env.h"
#include "link/channel.h"
#include "platform/clock.h"

class QProgressBar;
class QLabel;

namespace ui {

class MessagePort;
class FileDialogs;

inline constexpr const char* kMsgDriverLoadFailed = "加载pcomm.dll失败";

// A link of the dialog's own from the driver the tool loaded. Null, after
// "加载pcomm.dll失败" was shown, when the driver gives none: the caller then
// does not open the dialog.
std::unique_ptr<card::Channel> MakeDialogLink(const card::ToolEnv& env, card::UserPort& user, int port);

class ToolDialog : public QDialog {
  Q_OBJECT
 public:
  explicit ToolDialog(const card::ToolEnv& env, QWidget* parent = nullptr);
  // Dialogs whose operations use their own members call StopOperation() in
  // their destructor, before those members go.
  ~ToolDialog() override;

  bool operationRunning() const { return running_; }
  // Waits until a running operation has ended; events are served meanwhile,
  // so message boxes the worker asks for still appear.
  void WaitForOperation();
  // Cancels a running operation and waits for it.
  void StopOperation();

  card::UserPort& user();
  card::FilePort& files();
  card::ProgressPort& progress();
  const card::ToolEnv& env() const { return env_; }

 protected:
  // Runs body on a worker with a clock that this run's cancel stops.
  // finished runs on the UI thread afterwards with whether body ran to its
  // end (false after a cancel, or an error it did not expect, which the user
  // is told). False when an operation already runs.
  bool RunOperation(std::function<void(platform::Clock& clock)> body,
                    std::function<void(bool completed)> finished = {});
  void CancelOperation();
  // Stays enabled while an operation runs (the dialog's "取消").
  void KeepEnabledWhileRunning(QWidget* widget);
  void SetProgressBar(QProgressBar* bar);
  void SetStatusLabel(QLabel* label);

  void done(int result) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  class ProgressSink;
  void HoldInputs();
  void ReleaseInputs();
  void Finish(bool completed);

  card::ToolEnv env_;
  std::unique_ptr<MessagePort> messages_;
  std::unique_ptr<FileDialogs> fileDialogs_;
  std::unique_ptr<ProgressSink> progress_;
  QPointer<QProgressBar> bar_;
  QPointer<QLabel> status_;
  std::vector<QPointer<QWidget>> keepEnabled_;
  std::vector<QPointer<QWidget>> held_;
  std::shared_ptr<platform::CancellableClock> runClock_;
  std::thread worker_;
  std::function<void(bool)> finished_;
  // Set by the worker as its last act, so a wait need not rely on the
  // posted Finish being delivered.
  std::atomic<bool> workerDone_{false};
  std::atomic<bool> workerCompleted_{false};
  bool running_ = false;
  bool closing_ = false;
  unsigned runs_ = 0;  // counts runs begun (UI thread)
};

}  // namespace ui
