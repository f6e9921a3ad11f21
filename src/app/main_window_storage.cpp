// The main window's storage tools: flash read-out with long texts, and the
// script editor.
#include "app/main_window.h"

namespace card {

void CCardSetupDlg::OnStorage() { RequireOpenedCard(); }
void CCardSetupDlg::OnScript() { RequireOpenedCard(); }

}  // namespace card
