// The main window's storage tools: flash read-out with long texts, and the
// script editor. Both talk to the selected card over a link of their own;
// the window stays busy while one is open, so no other operation (nor an
// upload the editor poll finds) drives the card beside it.
#include "app/main_window.h"

#include "link/driver_binding.h"
#include "storage/flash_save_dialog.h"
#include "storage/script_dialog.h"
#include "ui/tool_dialog.h"

namespace card {

void CCardSetupDlg::OnStorage() {
  if (SayIfBusy() || !RequireOpenedCard()) return;
  const ToolEnv env = toolEnv();
  auto link = ui::MakeDialogLink(env, *user_, kFilePort);
  if (!link) return;
  RunToolDialog([&] {
    FlashSave dialog(env, std::move(link), this);
    dialog.exec();
  });
}

void CCardSetupDlg::OnScript() {
  if (SayIfBusy() || !RequireOpenedCard()) return;
  const ToolEnv env = toolEnv();
  auto link = ui::MakeDialogLink(env, *user_, kFilePort);
  if (!link) return;
  RunToolDialog([&] {
    Script_Edit dialog(env, std::move(link), state_.record().firmwareMajor(), this);
    dialog.exec();
  });
}

}  // namespace card
