// The main window's Modbus and RS-485 tools.
#include "app/main_window.h"
#include "link/driver_binding.h"
#include "modbus/master_table_dialog.h"
#include "modbus/monitor_dialog.h"
#include "modbus/register_view_dialog.h"
#include "ui/tool_dialog.h"

namespace card {

// The request table's upload goes over a link of the dialog's own to the
// card's command port, so it can run on the dialog's worker with its
// progress, and a failed upload leaves the edited table open for another try.
void CCardSetupDlg::OnModbusTable() {
  if (SayIfBusy() || !RequireOpenedCard() || !RequireConfirmedRecord()) return;
  const ToolEnv env = toolEnv();
  std::unique_ptr<Channel> link = ui::MakeDialogLink(env, *user_, kCommandPort);
  if (!link) return;
  RunRecordDialog([&](DeviceStatusRecord& copy) {
    modbus::MasterTableDialog dialog(env, std::move(link), copy, this);
    dialog.exec();
  });
}

// The register view and the monitor talk to the card over links of their
// own on the file port.
void CCardSetupDlg::OnModbusDebug() {
  if (SayIfBusy() || !RequireOpenedCard()) return;
  const ToolEnv env = toolEnv();
  std::unique_ptr<Channel> link = ui::MakeDialogLink(env, *user_, kFilePort);
  if (!link) return;
  RunToolDialog([&] {
    modbus::RegisterViewDialog dialog(env, std::move(link), this);
    dialog.exec();
  });
}

void CCardSetupDlg::OnMonitor() {
  if (SayIfBusy() || !RequireOpenedCard()) return;
  const ToolEnv env = toolEnv();
  std::unique_ptr<Channel> link = ui::MakeDialogLink(env, *user_, kFilePort);
  if (!link) return;
  RunToolDialog([&] {
    modbus::MonitorDialog dialog(env, std::move(link), this);
    dialog.exec();
  });
}

}  // namespace card
