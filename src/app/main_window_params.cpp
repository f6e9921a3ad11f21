// The main window's device-parameter tools: "高级设置" and the panel driver
// dialog behind "23--更多目标设置" with its recognition wizard.
#include <QComboBox>

#include "app/main_window.h"
#include "link/driver_binding.h"
#include "params/advanced_dialog.h"
#include "params/panel_driver.h"
#include "params/panel_driver_dialog.h"
#include "params/panel_lists.h"
#include "wizard/wizard_dialog.h"

namespace card {

void CCardSetupDlg::OnAdvanced() {
  if (SayIfBusy() || !RequireOpenedCard() || !RequireConfirmedRecord()) return;
  const ToolEnv env = toolEnv();
  std::unique_ptr<Channel> link = ui::MakeDialogLink(env, *user_, kFilePort);
  if (!link) return;
  RunRecordDialog([&](DeviceStatusRecord& copy) {
    MoreSetting dialog(env, copy, std::move(link), this);
    dialog.exec();
    copy = dialog.record();
  });
}

void CCardSetupDlg::OnTargetActivated(int index) {
  const int before = targetBefore_;
  if (index != kMoreTargetsIndex) {
    targetBefore_ = index;
    return;
  }
  // While an operation runs the choice does not count: the list shows what
  // it showed before, and the user is told why.
  auto refuse = [this, before] { target_->setCurrentIndex(before); };
  if (SayIfBusy()) return refuse();
  if (!RequireOpenedCard() || !RequireConfirmedRecord()) return refuse();
  const ToolEnv env = toolEnv();
  std::unique_ptr<Channel> link = ui::MakeDialogLink(env, *user_, kFilePort);
  if (!link) return refuse();
  targetBefore_ = index;
  RunRecordDialog([&](DeviceStatusRecord& copy) {
    CELL_PARA dialog(env, copy, std::move(link), this);
    // "智能识别": recognised, the dialog closes as confirmed and the submit
    // below follows.
    dialog.SetRecognitionHook(&StartRecognition);
    dialog.exec();
    copy = dialog.record();
  });
  // However the dialog closed: the panel takes the module's size and
  // polarity from the record, and a submit sends "23--更多目标设置"'s code
  // word with whatever else differs.
  WriteWidgets(PanelAfterPanelDriver(ReadWidgets(), state_.record()));
  RunDeviceOperation([this] { SubmitAll(*panelCtx_); });
}

}  // namespace card
