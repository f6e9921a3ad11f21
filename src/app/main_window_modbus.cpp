// The main window's Modbus and RS-485 tools.
#include "app/main_window.h"
#include "link/driver_binding.h"
#include "modbus/master_table_dialog.h"
#include "ui/tool_dialog.h"

namespace card {

// The request table's upload goes over a link of the dialog's own to the
// card's command port, so it can run on the dialog's worker with its
// progress, and a failed upload leaves the edited table open for another try.
void CCardSetupDlg::OnModbusTable() {
  if (!RequireOpenedCard()) return;
  const ToolEnv env = toolEnv();
  std::unique_ptr<Channel> link = ui::MakeDialogLink(env, *user_, kCommandPort);
  if (!link) return;
  RunRecordDialog([&](DeviceStatusRecord& copy) {
    modbus::MasterTableDialog dialog(env, std::move(link), copy, this);
    dialog.exec();
  });
}

void CCardSetupDlg::OnModbusDebug() { RequireOpenedCard(); }
void CCardSetupDlg::OnMonitor() { RequireOpenedCard(); }

}  // namespace card
