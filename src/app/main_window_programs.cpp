// The main window's program tools: the "节目" group, the firmware upgrade,
// the display test, the synchronised display, help, and the upload the
// program editor asks for.
#include "app/main_window.h"

namespace card {

void CCardSetupDlg::OnEdit() {}
void CCardSetupDlg::OnUpdate() {}
void CCardSetupDlg::OnRemove() {}
void CCardSetupDlg::OnFormat() {}
void CCardSetupDlg::OnOpenFile() {}
void CCardSetupDlg::OnSaveFile() {}
void CCardSetupDlg::OnFirmware() {}
void CCardSetupDlg::OnDisplayTest() {}
void CCardSetupDlg::OnSyncDisplay() {}
void CCardSetupDlg::OnHelp() {}
// A pending request stays pending until the program upload takes it.
void CCardSetupDlg::OnSyncRequest() {}

}  // namespace card
