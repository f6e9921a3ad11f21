// "高级设置": the card's less common parameters over a copy of the
// WorkingRecord. "确定" and "启用固定设置" talk to the card on a worker; the
// copy goes back to the main window however the dialog closes.
#pragma once

#include <array>
#include <memory>
#include <string>

#include "core/tool_env.h"
#include "link/channel.h"
#include "link/record.h"
#include "params/advanced.h"
#include "ui/tool_dialog.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace ui {
class Ipv4Edit;
}

namespace card {

class MoreSetting : public ui::ToolDialog {
  Q_OBJECT
 public:
  // link: the dialog's own link (not connected); the card is the one whose
  // record copy is edited (env.state.selectedAddress()).
  MoreSetting(const ToolEnv& env, const DeviceStatusRecord& copy, std::unique_ptr<Channel> link,
              QWidget* parent = nullptr);
  ~MoreSetting() override;

  const DeviceStatusRecord& record() const { return record_; }
  AdvancedValues values() const;
  void setValues(const AdvancedValues& values);

 private:
  QGroupBox* BuildRs485Group();
  QGroupBox* BuildRestartGroup();
  QGroupBox* BuildNetworkGroup();
  QGroupBox* BuildServiceGroup();
  QGroupBox* BuildModbusGroup();
  QGroupBox* BuildCounterGroup();
  QGroupBox* BuildMacGroup();
  QGroupBox* BuildNameGroup();
  QGroupBox* BuildSwitchGroup();
  QGroupBox* BuildRoleGroup();
  QGroupBox* BuildTimerGroup();
  void OnOk();
  void OnFixedClicked(bool checked);
  // Sets the box without sending anything.
  void SetFixedChecked(bool checked);
  void UpdateAddressFields();

  DeviceStatusRecord record_;
  std::unique_ptr<Channel> link_;
  std::string address_;
  AdvancedOutcome outcome_ = AdvancedOutcome::Failed;
  AdvancedReport report_;
  bool fixedSent_ = false;
  bool settingFixed_ = false;

  QComboBox *dataBits_, *stopBits_, *parity_, *rs485Heartbeat_, *rs485Interval_;
  QCheckBox* dailyRestart_;
  QComboBox *hour_, *minute_, *second_;
  QCheckBox* fixed_;
  ui::Ipv4Edit *gateway_, *mask_, *dns_;
  QComboBox *serviceInterval_, *startDelay_, *startDelaySeconds_, *serverHeartbeat_, *serverInterval_;
  QComboBox* modbusStorage_;
  QComboBox* direction_;
  std::array<QLineEdit*, kCounterCount> counters_;
  std::array<QLineEdit*, kMacFields> mac_;
  QLineEdit* name_;
  QComboBox *blue_, *voice_, *script_;
  QComboBox *role_, *splitX_, *splitY_;
  QGroupBox* timer_;
  QPushButton *ok_, *cancel_;
  QProgressBar* progress_;
  QLabel* status_;
};

}  // namespace card
