#include "wizard/wizard_dialog.h"

#include "ui/text.h"
#include "ui/ui_thread.h"

namespace card {

WizardWindows::WizardWindows(QWidget* parent, UserPort& user, SelectFn select)
    : context_(parent), parent_(parent), user_(user), select_(std::move(select)) {}

void WizardWindows::Dispose() {
  disposed_ = true;
  delete countdown_.data();
  delete points_.data();
}

// Throws the run's abort when the dialog stopped the run meanwhile, so no
// window comes up over a dialog that is closing.
void WizardWindows::Checkpoint() {
  if (clock_) clock_->sleepMs(0);
}

WizardAnswer WizardWindows::Ask(WizardWindow window, const std::string& text) {
  Checkpoint();
  WizardAnswer answer = WizardAnswer::Closed;
  ui::RunOnObjectThread(context_, [&] {
    if (disposed_ || !parent_ || !parent_->isVisible()) return;
    const QString question = ui::Q(platform::Tr(text));
    switch (window) {
      case WizardWindow::Screen: answer = HScan_Regon(parent_).Ask(question); break;
      case WizardWindow::PointLine: answer = Continue_line(parent_).Ask(question); break;
      case WizardWindow::Square: answer = Regonize_DZSU(parent_).Ask(question); break;
    }
  });
  return answer;
}

std::optional<int> WizardWindows::ChoosePointCount() {
  Checkpoint();
  std::optional<int> chosen;
  ui::RunOnObjectThread(context_, [&] {
    if (disposed_ || !parent_ || !parent_->isVisible()) return;
    if (!points_) points_ = new Regonize_DHS(parent_);
    chosen = points_->Choose();
  });
  return chosen;
}

CCountdownDlg* WizardWindows::Countdown() {
  if (!countdown_) {
    countdown_ = new CCountdownDlg(parent_);
    countdown_->setOnClosed([closed = countdownClosed_] { *closed = true; });
  }
  return countdown_;
}

void WizardWindows::ShowCountdown(int seconds) {
  Checkpoint();
  ui::PostToUi(context_, [this, self = shared_from_this(), seconds] {
    if (disposed_ || !parent_->isVisible()) return;
    CCountdownDlg* c = Countdown();
    c->Start(seconds);
    c->show();
  });
}

void WizardWindows::UpdateCountdown(int remaining, int percent) {
  ui::PostToUi(context_, [this, self = shared_from_this(), remaining, percent] {
    if (countdown_) countdown_->Update(remaining, percent);
  });
}

void WizardWindows::HideCountdown() {
  ui::PostToUi(context_, [this, self = shared_from_this()] {
    if (countdown_) countdown_->hide();
  });
}

void WizardWindows::Message(const std::string& text, const std::string& title, Icon icon) {
  Checkpoint();
  user_.Message(text, title, icon);
}

void WizardWindows::SelectItem(WizardList list, int item) {
  if (!select_) return;
  ui::PostToUi(context_, [this, self = shared_from_this(), list, item] {
    if (!disposed_) select_(list, item);
  });
}

void StartRecognition(CELL_PARA& dialog) {
  const PanelDriverValues lists = dialog.values();
  auto copy = std::make_shared<DeviceStatusRecord>(dialog.record());
  auto outcome = std::make_shared<WizardOutcome>(WizardOutcome::Cancelled);
  auto windows = std::make_shared<WizardWindows>(&dialog, dialog.user(), [&dialog](WizardList list, int item) {
    PanelDriverValues v = dialog.values();
    switch (list) {
      case WizardList::FoldRows: v.foldRows = item; break;
      case WizardList::FoldWidth: v.foldWidth = item; break;
      case WizardList::Scan: v.scan = item; break;
    }
    dialog.setValues(v);
  });
  dialog.RunRecognition(
      [&dialog, lists, copy, outcome, windows](platform::Clock& clock) {
        windows->setClock(&clock);
        *outcome = RunRecognitionWizard(dialog.link(), clock, *windows, dialog.address(), copy.get(), lists);
      },
      [&dialog, lists, copy, outcome, windows](bool completed) {
        windows->Dispose();
        // Whatever ended the run, the copy holds what the card was sent.
        dialog.setRecord(*copy);
        if (*outcome == WizardOutcome::LinkLost) dialog.env().state.markRecordUnconfirmed();
        if (completed && *outcome == WizardOutcome::Recognised) {
          dialog.accept();
          return;
        }
        // The card is as it was: so are the lists, as the person left them,
        // and where one had no selection, it shows the record's value again.
        const PanelDriverValues shown = PanelDriverFromRecord(*copy);
        PanelDriverValues v = lists;
        for (auto [field, value] : {std::pair{&v.width, shown.width}, {&v.height, shown.height}, {&v.scan, shown.scan},
                                    {&v.chip, shown.chip}, {&v.foldWidth, shown.foldWidth}, {&v.uFold, shown.uFold},
                                    {&v.snake, shown.snake}, {&v.foldRows, shown.foldRows},
                                    {&v.conversion, shown.conversion}})
          if (*field < 0) *field = value;
        dialog.setValues(v);
      });
}

}  // namespace card
