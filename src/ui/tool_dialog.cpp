#include "ui/tool_dialog.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTextEdit>

#include "ui/file_port.h"
#include "ui/message_port.h"
#include "ui/ui_thread.h"

namespace ui {

std::unique_ptr<card::Channel> MakeDialogLink(const card::ToolEnv& env, card::UserPort& user, int port) {
  std::unique_ptr<card::Channel> link = env.makeLink ? env.makeLink(port) : nullptr;
  if (!link || !link->exists()) {
    user.Message(kMsgDriverLoadFailed, card::kTitleError, card::Icon::Error);
    return nullptr;
  }
  return link;
}

// Progress from the worker: posted to the UI thread, never waited for.
class ToolDialog::ProgressSink : public card::ProgressPort {
 public:
  explicit ProgressSink(ToolDialog* dialog) : dialog_(dialog) {}
  void Progress(int percent) override {
    PostToUi(dialog_, [d = dialog_, percent] {
      if (d->bar_) d->bar_->setValue(percent);
    });
  }
  void Status(const std::string& text) override {
    PostToUi(dialog_, [d = dialog_, text] {
      if (d->status_) d->status_->setText(QString::fromStdString(text));
    });
  }

 private:
  ToolDialog* dialog_;
};

ToolDialog::ToolDialog(const card::ToolEnv& env, QWidget* parent)
    : QDialog(parent),
      env_(env),
      messages_(std::make_unique<MessagePort>(this, QStringLiteral("CardSetup"))),
      fileDialogs_(std::make_unique<FileDialogs>(this)),
      progress_(std::make_unique<ProgressSink>(this)) {
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  PrepareUiQueue();
}

ToolDialog::~ToolDialog() {
  // What the derived dialog handed in is gone by now: no callback runs, and
  // a message the worker still asks for is not shown.
  finished_ = nullptr;
  messages_->setClosing();
  StopOperation();
}

card::UserPort& ToolDialog::user() { return env_.user ? *env_.user : *messages_; }
card::FilePort& ToolDialog::files() { return env_.files ? *env_.files : *fileDialogs_; }
card::ProgressPort& ToolDialog::progress() { return *progress_; }

void ToolDialog::KeepEnabledWhileRunning(QWidget* widget) { keepEnabled_.emplace_back(widget); }
void ToolDialog::SetProgressBar(QProgressBar* bar) { bar_ = bar; }
void ToolDialog::SetStatusLabel(QLabel* label) { status_ = label; }

void ToolDialog::HoldInputs() {
  held_.clear();
  for (QWidget* w : findChildren<QWidget*>()) {
    const bool input = qobject_cast<QAbstractButton*>(w) || qobject_cast<QComboBox*>(w) ||
                       qobject_cast<QLineEdit*>(w) || qobject_cast<QAbstractSpinBox*>(w) ||
                       qobject_cast<QAbstractItemView*>(w) || qobject_cast<QTextEdit*>(w) ||
                       qobject_cast<QPlainTextEdit*>(w);
    if (!input || !w->isEnabled()) continue;
    bool keep = false;
    for (const auto& k : keepEnabled_) keep = keep || k == w;
    if (keep) continue;
    // A line edit inside a combo box follows its box.
    if (qobject_cast<QLineEdit*>(w) && qobject_cast<QComboBox*>(w->parentWidget())) continue;
    w->setEnabled(false);
    held_.emplace_back(w);
  }
}

void ToolDialog::ReleaseInputs() {
  for (const auto& w : held_)
    if (w) w->setEnabled(true);
  held_.clear();
}

bool ToolDialog::RunOperation(std::function<void(platform::Clock&)> body, std::function<void(bool)> finished) {
  if (running_ || closing_) return false;
  running_ = true;
  finished_ = std::move(finished);
  runClock_ = std::make_shared<platform::CancellableClock>(env_.clock);
  workerDone_ = false;
  const unsigned run = ++runs_;
  HoldInputs();
  if (bar_) bar_->setValue(0);
  worker_ = std::thread([this, run, clock = runClock_, body = std::move(body)] {
    // An error the operation did not expect is said and ends the run as a
    // cancel would: the dialog and the tool stay.
    const bool completed = platform::RunGuarded([&] { body(*clock); }, [this](const std::string& what) {
                             user().Message(card::OperationErrorText(what), card::kTitleError, card::Icon::Error);
                           }) == platform::RunEnd::Completed;
    workerCompleted_ = completed;
    workerDone_ = true;
    // A wait may have finished this run already and a new one begun: this
    // post then ends nothing.
    PostToUi(this, [this, completed, run] {
      if (run == runs_) Finish(completed);
    });
  });
  return true;
}

void ToolDialog::Finish(bool completed) {
  if (!running_) return;
  if (worker_.joinable()) worker_.join();
  running_ = false;
  runClock_.reset();
  ReleaseInputs();
  auto finished = std::move(finished_);
  finished_ = nullptr;
  if (finished) finished(completed);
}

void ToolDialog::CancelOperation() {
  if (runClock_) runClock_->cancel();
}

void ToolDialog::WaitForOperation() {
  while (running_) {
    if (workerDone_) {
      Finish(workerCompleted_);
      break;
    }
    // The worker may be waiting for the UI thread (a message box).
    RunPendingUiWork();
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
  }
}

void ToolDialog::StopOperation() {
  CancelOperation();
  WaitForOperation();
}

void ToolDialog::done(int result) {
  // "取消", Escape and the close box stop a running operation first; the
  // dialog closes once its worker has ended.
  if (closing_) return;
  if (running_) {
    closing_ = true;
    StopOperation();
    closing_ = false;
  }
  QDialog::done(result);
}

void ToolDialog::closeEvent(QCloseEvent* event) {
  if (closing_) {
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

}  // namespace ui
