// The main window's device-parameter tools: "高级设置" and the panel driver
// dialog behind "23--更多目标设置".
#include "app/main_window.h"

namespace card {

void CCardSetupDlg::OnAdvanced() { RequireOpenedCard(); }

void CCardSetupDlg::OnTargetActivated(int) {}

}  // namespace card
