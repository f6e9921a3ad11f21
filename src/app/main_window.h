// The main window: the device list, the parameter panel and the buttons that
// start device operations. A thin shell: it fills widgets from values, reads
// them back, and starts the operations of the core on worker threads.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QTimer>

#include <atomic>
#include <memory>
#include <vector>

#include "app/main_context.h"
#include "app/workers.h"
#include "link/channel.h"
#include "params/panel_values.h"
#include "platform/clock.h"
#include "platform/process.h"

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

// The driver handles the window works with for the whole run.
struct WindowLinks {
  std::unique_ptr<Channel> search;
  std::unique_ptr<Channel> command;
  std::unique_ptr<Channel> file;
  std::unique_ptr<Channel> recovery;
};

class CCardSetupDlg : public QDialog, public BusyPort, public DeviceListPort, public PanelPort {
  Q_OBJECT
 public:
  // clock: the time the operations pause by; user: overrides the message
  // boxes (tests); the window owns neither.
  CCardSetupDlg(WindowLinks links, SysCfg cfg, platform::Clock& clock, platform::ProcessPort& processes,
                UserPort* user = nullptr, QWidget* parent = nullptr);
  ~CCardSetupDlg() override;

  static QString windowTitleText();

  // Start-up steps after the driver was bound: search transport, link
  // configuration, and the first search.
  void Start();

  MainContext& context() { return *ctx_; }
  WorkerPool& workers() { return workers_; }
  // The controls disabled while a device operation runs, in their order.
  const std::vector<QWidget*>& busyControls() const { return busyControls_; }

  // BusyPort
  void EnterBusy() override;
  void LeaveBusy() override;
  void EnableCardAddressField() override;
  // DeviceListPort
  void ClearRows() override;
  void AppendRow(const DeviceListEntry& entry) override;
  void InsertFirstRow(const DeviceListEntry& entry) override;
  // PanelPort
  PanelValues Read() override;
  void Write(const PanelValues& values) override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void BuildLayout();
  void FillLists();
  void ConnectSignals();
  // Starts a device operation on a worker; the window counts as busy from
  // the moment it is started until the body ends.
  void RunDeviceOperation(std::function<void()> body);
  // Tool dialogs open only once a card was opened.
  bool RequireOpenedCard();
  void OnSearch();
  void OnDeviceDoubleClicked(int row);
  void OnAddDevice();
  void OnLockClicked(bool checked);
  void ShowAbout();
  PanelValues ReadWidgets() const;
  void WriteWidgets(const PanelValues& v);
  void InsertRow(int at, const DeviceListEntry& e);
  bool ShutDown();

  WindowLinks links_;
  std::unique_ptr<ui::MessagePort> messages_;
  std::unique_ptr<MainContext> ctx_;
  WorkerPool workers_;
  std::unique_ptr<TickThread> poll_;
  std::atomic<bool> closing_{false};
  int busyDepth_ = 0;
  bool shutDown_ = false;
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
