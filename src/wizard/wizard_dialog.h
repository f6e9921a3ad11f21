// "智能识别" inside "更多目标设置": the run goes on the dialog's worker, its
// questions and countdown are the wizard's windows over the dialog, and its
// list choices land in the dialog's lists.
#pragma once

#include <QPointer>
#include <atomic>
#include <functional>
#include <memory>

#include "params/panel_driver_dialog.h"
#include "wizard/wizard.h"
#include "wizard/wizard_window.h"

namespace card {

// The wizard's windows for a run that goes on a worker: each call is made
// on the worker and shown by the UI thread; questions wait for the answer,
// the countdown is only posted. A run whose clock was cancelled shows no
// further window. Made with std::make_shared: what it posts keeps it alive.
class WizardWindows : public WizardPort, public std::enable_shared_from_this<WizardWindows> {
 public:
  // Selects an item of one of the dialog's lists, on the UI thread.
  using SelectFn = std::function<void(WizardList list, int item)>;
  // user: where the run's messages go (the dialog's message boxes).
  WizardWindows(QWidget* parent, UserPort& user, SelectFn select);
  // The run's clock; a cancelled clock stops the next call.
  void setClock(platform::Clock* clock) { clock_ = clock; }
  // Deletes the windows kept for the run; on the UI thread, after the run.
  void Dispose();

  WizardAnswer Ask(WizardWindow window, const std::string& text) override;
  std::optional<int> ChoosePointCount() override;
  void ShowCountdown(int seconds) override;
  void UpdateCountdown(int remaining, int percent) override;
  void HideCountdown() override;
  bool CountdownClosed() override { return countdownClosed_->load(); }
  void Message(const std::string& text, const std::string& title, Icon icon) override;
  void SelectItem(WizardList list, int item) override;

  // The windows kept for a whole run (tests look at them).
  CCountdownDlg* countdown() const { return countdown_; }

 private:
  void Checkpoint();
  CCountdownDlg* Countdown();

  // The window the run belongs to: it outlives the run (its worker is
  // waited for before it goes). parent_ is its UI-side guard.
  QWidget* const context_;
  QPointer<QWidget> parent_;
  UserPort& user_;
  SelectFn select_;
  platform::Clock* clock_ = nullptr;
  // Set by the countdown window's close box; read by the worker.
  std::shared_ptr<std::atomic<bool>> countdownClosed_ = std::make_shared<std::atomic<bool>>(false);
  // UI thread only.
  bool disposed_ = false;
  QPointer<CCountdownDlg> countdown_;
  QPointer<Regonize_DHS> points_;
};

// The handler of "智能识别" (CELL_PARA's recognition hook): runs the wizard
// on the dialog's lists, record copy and link. Recognised, the dialog closes
// as confirmed once the brightness has been restored; otherwise it stays
// open with the copy as the run left it (the card's settings put back) and
// the lists as they were before the run.
void StartRecognition(CELL_PARA& dialog);

}  // namespace card
