// The main window: the device list, the parameter panel and the buttons that
// start device operations. A thin shell: it fills widgets from values, reads
// them back, and starts the operations of the core on worker threads.
#pragma once

#include <QDialog>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "app/workers.h"
#include "core/main_state.h"
#include "core/panel_values.h"
#include "core/ports.h"
#include "core/siblings.h"
#include "core/syscfg.h"
#include "core/tool_env.h"
#include "link/channel.h"
#include "link/link_factory.h"
#include "params/discovery.h"
#include "params/panel.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "programs/program_slots.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace ui {
class Ipv4Edit;
class MessagePort;
}  // namespace ui

namespace card {

// The driver handles the window works with for the whole run, and the
// factory that makes the tool dialogs' own links.
struct WindowLinks {
  std::unique_ptr<Channel> search;
  std::unique_ptr<Channel> command;
  std::unique_ptr<Channel> file;
  std::unique_ptr<Channel> recovery;
  LinkFactory makeLink;
};

class CCardSetupDlg : public QDialog, public DeviceListPort, public PanelPort {
  Q_OBJECT
 public:
  // clock: the time the operations pause by (the window cancels it when it
  // closes); user: overrides the message boxes (tests). The window owns
  // neither.
  CCardSetupDlg(WindowLinks links, SysCfg cfg, platform::CancellableClock& clock, platform::ProcessPort& processes,
                UserPort* user = nullptr, QWidget* parent = nullptr);
  ~CCardSetupDlg() override;

  static QString windowTitleText();

  // Start-up steps after the driver was bound: the search transport and the
  // first search.
  void Start();
  // Where the sibling programs are when that is not the folder of SysCfg.ini
  // (an installed copy keeps its working files in the user's own folder).
  // Set before Start.
  void setSiblingProgramDir(std::string dir) { siblings_.setProgramDir(std::move(dir)); }

  MainState& state() { return state_; }
  PanelContext& panelContext() { return *panelCtx_; }
  // What the tool dialogs get: links from the loaded driver, the clock, the
  // shared state and SysCfg.ini.
  ToolEnv toolEnv();
  // Shows a modal tool dialog that talks to the card with the window busy,
  // so neither another operation nor an upload of the editor poll drives the
  // card beside it.
  void RunToolDialog(const std::function<void()>& show);
  // The same for a dialog that works on a copy of the WorkingRecord, which
  // is taken back when the dialog closes.
  void RunRecordDialog(const std::function<void(DeviceStatusRecord& copy)>& show);
  const SysCfg& cfg() const { return cfg_; }
  UserPort& user() { return *user_; }
  // Overrides the file dialogs of the window's own buttons (tests).
  void setFilePort(FilePort* files) { files_ = files; }
  WorkerPool& workers() { return workers_; }
  bool busy() const { return busyDepth_ > 0; }
  // The controls disabled while a device operation runs or a tool dialog is
  // open: every control that would talk to a card (the help pages aside).
  const std::vector<QWidget*>& busyControls() const { return busyControls_; }

  // The busy pattern: EnterBusy disables the busy controls and sets the
  // progress to 0; LeaveBusy enables them again, plus the display-mode list.
  // Nested pairs keep the window busy until the outer one ends.
  void EnterBusy();
  void LeaveBusy();

  // DeviceListPort
  void ClearRows() override;
  void AppendRow(const DeviceListEntry& entry) override;
  void InsertFirstRow(const DeviceListEntry& entry) override;
  // PanelPort
  PanelValues Read() override;
  void Write(const PanelValues& values) override;
  void EnableCardAddressField() override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QGroupBox* BuildConfigGroup();
  QGroupBox* BuildScreenGroup();
  QGroupBox* BuildIpGroup();
  QGroupBox* BuildFunctionsLeftGroup();
  QGroupBox* BuildProgramGroup();
  QGroupBox* BuildFunctionsRightGroup();
  QLayout* BuildExtrasRow();
  QGroupBox* BuildDeviceGroup();
  void BuildLayout();
  void FillLists();
  void ConnectSignals();
  // Starts a device operation on a worker; the window counts as busy (its
  // busy controls disabled) from the moment it is started until the body
  // ends. False when another operation still runs: the user is told.
  bool RunDeviceOperation(std::function<void()> body);
  // While busy, tells the user that an operation runs and returns true.
  // Every handler that talks to a card asks first, so that no way around a
  // disabled control (the list, a key, a later button) starts a second one.
  bool SayIfBusy();
  // Tool dialogs open only once a card was opened.
  bool RequireOpenedCard();
  // Dialogs that edit a copy of the WorkingRecord open only while it can be
  // trusted: after a run that lost the link, the card is read again first.
  bool RequireConfirmedRecord();
  // A worker met an error it did not expect: the user is told, the window
  // stays (any thread).
  void ReportWorkerError(const std::string& what);
  void OnSearch();
  void OnDeviceDoubleClicked(int row);
  void OnAddDevice();
  void OnLockToggled(bool checked);

  // The tool buttons, one file per subsystem (main_window_<subsystem>.cpp).
  // Device parameters:
  void OnAdvanced();
  void OnTargetActivated(int index);
  // Programs and firmware:
  void OnEdit();
  void OnUpdate();
  void OnRemove();
  void OnFormat();
  void OnOpenFile();
  void OnSaveFile();
  void OnFirmware();
  void OnDisplayTest();
  void OnSyncDisplay();
  void OnHelp();
  // The editor poll found a pending upload request (UI thread).
  void OnSyncRequest();
  // Modbus and RS-485:
  void OnModbusTable();
  void OnModbusDebug();
  void OnMonitor();
  // Device storage and scripts:
  void OnStorage();
  void OnScript();
  void ShowAbout();
  PanelValues ReadWidgets() const;
  void WriteWidgets(const PanelValues& v);
  void InsertRow(int at, const DeviceListEntry& e);
  void ShutDown();

  WindowLinks links_;
  SysCfg cfg_;
  platform::CancellableClock& clock_;
  std::unique_ptr<ui::MessagePort> messages_;
  UserPort* user_;
  FilePort* files_ = nullptr;
  MainState state_;
  Siblings siblings_;
  std::unique_ptr<PanelContext> panelCtx_;
  std::unique_ptr<OpenContext> openCtx_;
  WorkerPool workers_;
  std::unique_ptr<TickThread> poll_;
  EditorRequests editorRequests_;  // the editor poll's, UI thread only
  std::atomic<bool> closing_{false};
  std::atomic<bool> pollErrorTold_{false};
  int busyDepth_ = 0;
  bool shutDown_ = false;
  bool filling_ = false;  // WriteWidgets is filling the panel
  int targetBefore_ = -1;  // "显示目标" as last filled or chosen (main_window_params.cpp)
  QTimer* syncTimer_ = nullptr;

  std::vector<QWidget*> busyControls_;
  QPushButton *search_, *submit_, *addDevice_;
  QLineEdit *width_, *height_, *serverPort_, *cardPort_, *internalCode_;
  QComboBox *oe_, *data_, *target_, *mode_, *refresh_, *brightness_, *modbus_, *rs485_, *baud_, *devNo_, *service_;
  QComboBox *program_, *dwell_;
  QCheckBox *autoIp_, *serverEnable_, *doubleSided_, *lock_, *broadcast_, *readBack_;
  ui::Ipv4Edit *cardIp_, *serverIp_;
  QPushButton *firmware_, *advanced_, *restart_;
  QPushButton *edit_, *update_, *remove_, *openFile_, *saveFile_, *format_;
  QPushButton *displayTest_, *syncDisplay_, *modbusTable_, *monitor_, *modbusDebug_, *script_, *storage_, *help_;
  QProgressBar* progress_;
  QTableWidget* devices_;
  QLabel* link_;
};

}  // namespace card
