// The main window's Modbus and RS-485 tools.
#include "app/main_window.h"

namespace card {

void CCardSetupDlg::OnModbusTable() { RequireOpenedCard(); }
void CCardSetupDlg::OnModbusDebug() { RequireOpenedCard(); }
void CCardSetupDlg::OnMonitor() { RequireOpenedCard(); }

}  // namespace card
