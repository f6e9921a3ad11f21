// The main window's program tools: the "节目" group, the firmware upgrade,
// the display test, the synchronised display, help, and the upload the
// program editor asks for. The card work runs on workers; file and password
// choices are made here, on the UI thread, and handed over as values.
#include <QApplication>

#include "app/main_window.h"
#include "params/network.h"
#include "platform/tooldir.h"
#include "programs/display_test.h"
#include "programs/firmware.h"
#include "programs/firmware_dialog.h"
#include "programs/help_dialog.h"
#include "programs/program_slots.h"
#include "ui/file_port.h"

namespace card {
namespace {

// The filter of "打开文件" and "另存文件": text files first, then all files.
constexpr const char* kProgramFileFilter = "Bin Files (*.txt);;All Files (*)";

ProgramContext MakeProgramContext(WindowLinks& links, platform::Clock& clock, UserPort& user, MainState& state,
                                  const SysCfg& cfg, Siblings& siblings) {
  return ProgramContext{*links.file, *links.command, clock, user, state, cfg, siblings};
}

ProgramChoice ChoiceFrom(const PanelValues& v) {
  ProgramChoice c;
  c.slot = v.program;
  c.dwell = v.dwell;
  c.readBack = v.readBack;
  c.cardIp = v.cardIp;
  c.widthText = v.widthText;
  c.heightText = v.heightText;
  return c;
}

}  // namespace

void CCardSetupDlg::OnEdit() {
  const ProgramChoice choice = ChoiceFrom(ReadWidgets());
  RunDeviceOperation([this, choice] {
    ProgramContext ctx = MakeProgramContext(links_, clock_, *user_, state_, cfg_, siblings_);
    EditBody(ctx, choice);
  });
}

void CCardSetupDlg::OnUpdate() {
  const ProgramChoice choice = ChoiceFrom(ReadWidgets());
  RunDeviceOperation([this, choice] {
    ProgramContext ctx = MakeProgramContext(links_, clock_, *user_, state_, cfg_, siblings_);
    UploadProgram(ctx, choice.slot, choice.dwell);
  });
}

void CCardSetupDlg::OnRemove() {
  const int slot = ReadWidgets().program;
  RunDeviceOperation([this, slot] {
    ProgramContext ctx = MakeProgramContext(links_, clock_, *user_, state_, cfg_, siblings_);
    DeleteProgram(ctx, slot);
  });
}

void CCardSetupDlg::OnFormat() {
  RunDeviceOperation([this] {
    ProgramContext ctx = MakeProgramContext(links_, clock_, *user_, state_, cfg_, siblings_);
    FormatPrograms(ctx);
  });
}

void CCardSetupDlg::OnOpenFile() {
  if (SayIfBusy()) return;
  const ProgramChoice choice = ChoiceFrom(ReadWidgets());
  if (choice.slot < 0) {
    user_->Message(kMsgNoProgramSelected, kTitleNotice, Icon::Warning);
    return;
  }
  ui::FileDialogs dialogs(this);
  FilePort& files = files_ ? *files_ : dialogs;
  // Busy while the dialog is open: the editor poll waits for it.
  std::optional<std::string> source;
  RunToolDialog([&] { source = files.OpenFile({"打开文件", kProgramFileFilter, {}, {}}); });
  RunDeviceOperation([this, choice, source] {
    ProgramContext ctx = MakeProgramContext(links_, clock_, *user_, state_, cfg_, siblings_);
    ImportBody(ctx, choice, source);
  });
}

void CCardSetupDlg::OnSaveFile() {
  if (SayIfBusy()) return;
  const int slot = ReadWidgets().program;
  if (slot < 0) {
    user_->Message(kMsgNoProgramSelected, kTitleNotice, Icon::Warning);
    return;
  }
  ui::FileDialogs dialogs(this);
  FilePort& files = files_ ? *files_ : dialogs;
  std::optional<std::string> target;
  RunToolDialog([&] { target = files.SaveFile({"另存文件", kProgramFileFilter, {}, "cmd.txt"}); });
  if (!target) return;
  RunDeviceOperation([this, slot, target = *target] {
    ProgramContext ctx = MakeProgramContext(links_, clock_, *user_, state_, cfg_, siblings_);
    ExportProgramFile(ctx, slot, target);
  });
}

void CCardSetupDlg::OnFirmware() {
  if (SayIfBusy()) return;
  PSW dialog(this);
  RunToolDialog([&] { dialog.exec(); });
  switch (ClassifyPassword(dialog.typed())) {
    case AccessPath::Upgrade:
      RunDeviceOperation([this] { FirmwareUpgrade(*panelCtx_, *openCtx_); });
      break;
    case AccessPath::LoaderOnly:
      RunDeviceOperation([this] { LoaderOnly(*panelCtx_, siblings_); });
      break;
    case AccessPath::Wrong:
      user_->Message(kMsgWrongPassword, {}, Icon::Warning);
      break;
  }
}

void CCardSetupDlg::OnDisplayTest() {
  RunDeviceOperation([this] { DisplayTest(*links_.file, clock_, *user_, state_); });
}

void CCardSetupDlg::OnSyncDisplay() {
  const std::string cardIp = ReadWidgets().cardIp;
  RunDeviceOperation([this, cardIp] { SyncDisplay(state_, cfg_, siblings_, *user_, cardIp); });
}

void CCardSetupDlg::OnHelp() {
  Help dialog(QString::fromStdString(platform::ToolDir() + "help/"), *user_, this);
  dialog.exec();
}

// The editor asked for an upload. While an operation or a modal dialog runs
// the request stays pending and is taken on the first idle tick, so two
// operations never share a link and the upload's closing reset never lands
// inside another operation. The slot is the one the editor saved.
void CCardSetupDlg::OnSyncRequest() {
  if (closing_ || busy()) return;
  if (QWidget* modal = QApplication::activeModalWidget(); modal && modal != this) return;
  // A tick queued before the last request was taken finds the key at 0.
  if (!SyncRequestPending(state_, cfg_)) return;
  const PanelValues v = ReadWidgets();
  const std::optional<int> slot = editorRequests_.Take(cfg_, v.program, *user_);
  if (!slot) return;
  RunDeviceOperation([this, slot = *slot, dwell = v.dwell] {
    ProgramContext ctx = MakeProgramContext(links_, clock_, *user_, state_, cfg_, siblings_);
    UploadProgram(ctx, slot, dwell);
  });
}

}  // namespace card
