#include "params/advanced_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "platform/text.h"
#include "ui/ipv4_edit.h"
#include "ui/text.h"

namespace card {
namespace {

using platform::Format;
using platform::Tr;
using ui::Q;
using ui::S;
using ui::T;


QComboBox* List(const std::vector<std::string>& items = {}) {
  auto* combo = new QComboBox;
  for (const auto& item : items) combo->addItem(Q(platform::Tr(item)));
  combo->setMaxVisibleItems(20);
  combo->setMinimumContentsLength(4);
  combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  return combo;
}

QLineEdit* Edit(const QString& pattern) {
  auto* e = new QLineEdit;
  e->setValidator(new QRegularExpressionValidator(QRegularExpression(pattern), e));
  return e;
}

// Label and field in one grid row; the buddy names the field for assistive
// technology.
void AddRow(QGridLayout* grid, int row, const QString& text, QWidget* field, int col = 0) {
  auto* label = new QLabel(text);
  label->setBuddy(field);
  grid->addWidget(label, row, col);
  grid->addWidget(field, row, col + 1);
}

void Select(QComboBox* combo, int index) { combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1); }

}  // namespace

MoreSetting::MoreSetting(const ToolEnv& env, const DeviceStatusRecord& copy, std::unique_ptr<Channel> link,
                         QWidget* parent)
    : ToolDialog(env, parent), record_(copy), link_(std::move(link)), address_(env.state.selectedAddress()) {
  setWindowTitle(T("高级设置"));

  auto* left = new QVBoxLayout;
  left->addWidget(BuildRs485Group());
  left->addWidget(BuildRestartGroup());
  left->addWidget(BuildNetworkGroup());
  left->addStretch(1);
  auto* middle = new QVBoxLayout;
  middle->addWidget(BuildServiceGroup());
  middle->addWidget(BuildModbusGroup());
  middle->addWidget(BuildCounterGroup());
  middle->addStretch(1);
  auto* right = new QVBoxLayout;
  right->addWidget(BuildMacGroup());
  right->addWidget(BuildNameGroup());
  right->addWidget(BuildSwitchGroup());
  right->addWidget(BuildRoleGroup());
  right->addStretch(1);
  auto* columns = new QHBoxLayout;
  columns->addLayout(left, 1);
  columns->addLayout(middle, 1);
  columns->addLayout(right, 1);

  progress_ = new QProgressBar;
  progress_->setRange(0, 100);
  progress_->setValue(0);
  progress_->setAccessibleName(T("进度"));
  status_ = new QLabel;
  SetProgressBar(progress_);
  SetStatusLabel(status_);
  ok_ = new QPushButton(T("确定"));
  cancel_ = new QPushButton(T("取消"));
  for (QPushButton* b : {ok_, cancel_}) b->setAutoDefault(false);
  KeepEnabledWhileRunning(cancel_);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(status_);
  bottom->addWidget(progress_, 1);
  bottom->addWidget(ok_);
  bottom->addWidget(cancel_);

  auto* root = new QVBoxLayout(this);
  root->addLayout(columns);
  root->addWidget(BuildTimerGroup());
  root->addLayout(bottom);

  connect(ok_, &QPushButton::clicked, this, &MoreSetting::OnOk);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  // However the box is ticked (mouse, keyboard, assistive technology), the
  // change goes to the card; the dialog's own setting of it does not.
  connect(fixed_, &QCheckBox::toggled, this, [this](bool checked) {
    if (!settingFixed_) OnFixedClicked(checked);
  });

  setValues(AdvancedFromRecord(record_));
}

MoreSetting::~MoreSetting() { StopOperation(); }

QGroupBox* MoreSetting::BuildRs485Group() {
  dataBits_ = List(DataBitsItems());
  stopBits_ = List(StopBitsItems());
  parity_ = List(ParityItems());
  rs485Heartbeat_ = List(OffOnItems());
  rs485Interval_ = List(TwoDigitItems(60));
  auto* group = new QGroupBox(T("485设置"));
  auto* grid = new QGridLayout(group);
  AddRow(grid, 0, T("数据位"), dataBits_);
  AddRow(grid, 1, T("停止位"), stopBits_);
  AddRow(grid, 2, T("校验位"), parity_);
  AddRow(grid, 3, T("是否监测心跳"), rs485Heartbeat_);
  AddRow(grid, 4, T("心跳间隔(秒）"), rs485Interval_);
  grid->setColumnStretch(1, 1);
  return group;
}

QGroupBox* MoreSetting::BuildRestartGroup() {
  dailyRestart_ = new QCheckBox(T("启用日重启"));
  hour_ = List(TwoDigitItems(24));
  minute_ = List(TwoDigitItems(60));
  second_ = List(TwoDigitItems(60));
  auto* group = new QGroupBox(T("设定每日重启"));
  auto* grid = new QGridLayout(group);
  grid->addWidget(dailyRestart_, 0, 0, 1, 2);
  AddRow(grid, 1, T("小时"), hour_);
  AddRow(grid, 2, T("分钟"), minute_);
  AddRow(grid, 3, T("秒数"), second_);
  grid->setColumnStretch(1, 1);
  return group;
}

QGroupBox* MoreSetting::BuildNetworkGroup() {
  fixed_ = new QCheckBox(T("启用固定设置"));
  gateway_ = new ui::Ipv4Edit;
  mask_ = new ui::Ipv4Edit;
  dns_ = new ui::Ipv4Edit;
  auto* group = new QGroupBox(T("网卡设置"));
  auto* grid = new QGridLayout(group);
  grid->addWidget(fixed_, 0, 0, 1, 2);
  AddRow(grid, 1, T("网关"), gateway_);
  AddRow(grid, 2, T("子网掩码"), mask_);
  AddRow(grid, 3, QStringLiteral(u"DNS"), dns_);
  grid->setColumnStretch(1, 1);
  return group;
}

QGroupBox* MoreSetting::BuildServiceGroup() {
  // Shown as the card's dialog has it, but nothing uses it.
  serviceInterval_ = List();
  serviceInterval_->setEnabled(false);
  startDelay_ = List(OffOnItems());
  startDelaySeconds_ = List(TwoDigitItems(60));
  serverHeartbeat_ = List(OffOnItems());
  serverInterval_ = List(TwoDigitItems(60));
  auto* group = new QGroupBox(T("服务设置"));
  auto* grid = new QGridLayout(group);
  AddRow(grid, 0, T("服务请求间隔"), serviceInterval_);
  AddRow(grid, 1, T("启动是否延时"), startDelay_);
  AddRow(grid, 2, T("启动延时(秒)"), startDelaySeconds_);
  AddRow(grid, 3, T("是否启动心跳"), serverHeartbeat_);
  AddRow(grid, 4, T("心跳包间隔(秒)"), serverInterval_);
  grid->setColumnStretch(1, 1);
  return group;
}

QGroupBox* MoreSetting::BuildModbusGroup() {
  modbusStorage_ = List(ModbusStorageItems());
  auto* group = new QGroupBox(QStringLiteral(u"Modbus"));
  auto* grid = new QGridLayout(group);
  AddRow(grid, 0, T("modbus存储"), modbusStorage_);
  grid->setColumnStretch(1, 1);
  return group;
}

QGroupBox* MoreSetting::BuildCounterGroup() {
  direction_ = List(DirectionItems());
  auto* group = new QGroupBox(T("日累加设置"));
  auto* grid = new QGridLayout(group);
  AddRow(grid, 0, T("正反向选择"), direction_);
  for (int i = 0; i < kCounterCount; ++i) {
    counters_[static_cast<std::size_t>(i)] = Edit(QStringLiteral("\\d{0,3}"));
    AddRow(grid, i + 1, T("起始计数值%1").arg(i + 1), counters_[static_cast<std::size_t>(i)]);
  }
  grid->setColumnStretch(1, 1);
  return group;
}

QGroupBox* MoreSetting::BuildMacGroup() {
  auto* group = new QGroupBox(T("MAC设置"));
  auto* row = new QHBoxLayout(group);
  for (int i = 0; i < kMacFields; ++i) {
    QLineEdit* e = Edit(QStringLiteral("[0-9A-Fa-f]{0,2}"));
    e->setAccessibleName(T("MAC设置 %1").arg(i + 1));
    e->setAlignment(Qt::AlignCenter);
    e->setMinimumWidth(e->fontMetrics().horizontalAdvance(QStringLiteral("WWW")) + 8);
    mac_[static_cast<std::size_t>(i)] = e;
    if (i > 0) row->addWidget(new QLabel(QStringLiteral("-")));
    row->addWidget(e, 1);
  }
  return group;
}

QGroupBox* MoreSetting::BuildNameGroup() {
  name_ = new QLineEdit;
  name_->setAccessibleName(T("设备名设置"));
  auto* note = new QLabel(T(kDeviceNameNote));
  note->setWordWrap(true);
  auto* group = new QGroupBox(T("设备名设置"));
  auto* column = new QVBoxLayout(group);
  column->addWidget(name_);
  column->addWidget(note);
  return group;
}

QGroupBox* MoreSetting::BuildSwitchGroup() {
  blue_ = List(BlueItems());
  voice_ = List(OffOpenItems());
  script_ = List(OffOpenItems());
  auto* group = new QGroupBox(T("功能使能"));
  auto* grid = new QGridLayout(group);
  AddRow(grid, 0, T("蓝色开关"), blue_);
  AddRow(grid, 1, T("语音开关"), voice_);
  AddRow(grid, 2, T("脚本启动"), script_);
  grid->setColumnStretch(1, 1);
  return group;
}

QGroupBox* MoreSetting::BuildRoleGroup() {
  role_ = List(RoleItems());
  splitX_ = List(TwoDigitItems(kSplitItems, kSplitXStep));
  splitY_ = List(TwoDigitItems(kSplitItems, kSplitYStep));
  auto* group = new QGroupBox(T("主从卡模式"));
  auto* grid = new QGridLayout(group);
  AddRow(grid, 0, T("主从模式"), role_);
  AddRow(grid, 1, T("主X分割线"), splitX_);
  AddRow(grid, 2, T("主Y分割线"), splitY_);
  grid->setColumnStretch(1, 1);
  return group;
}

QGroupBox* MoreSetting::BuildTimerGroup() {
  // Present as on the card's own dialog, but not used by the card: shown
  // disabled so that nobody expects it to work.
  timer_ = new QGroupBox(T("显示定时开关"));
  auto* row = new QHBoxLayout(timer_);
  row->addWidget(new QCheckBox(T("启用开关屏")));
  for (const QString& label : {T("开启时间"), T("关闭时间")}) {
    QComboBox* parts[3] = {List(), List(), List()};
    auto* text = new QLabel(label);
    text->setBuddy(parts[0]);
    row->addSpacing(12);
    row->addWidget(text);
    const QString units[3] = {T("时"), T("分"), T("秒")};
    for (int i = 0; i < 3; ++i) {
      parts[i]->setAccessibleName(label + QLatin1Char(' ') + units[i]);
      row->addWidget(parts[i]);
    }
  }
  row->addStretch(1);
  timer_->setEnabled(false);
  return timer_;
}

AdvancedValues MoreSetting::values() const {
  AdvancedValues v;
  v.dataBits = dataBits_->currentIndex();
  v.stopBits = stopBits_->currentIndex();
  v.parity = parity_->currentIndex();
  v.rs485Heartbeat = rs485Heartbeat_->currentIndex();
  v.rs485Interval = rs485Interval_->currentIndex();
  v.dailyRestart = dailyRestart_->isChecked();
  v.hour = hour_->currentIndex();
  v.minute = minute_->currentIndex();
  v.second = second_->currentIndex();
  v.fixedAllowed = !IpIsAutomatic(record_);
  v.fixedNetwork = fixed_->isChecked();
  // As typed: an emptied or half-typed field is refused, not read as 0s.
  v.gateway = S(gateway_->text().trimmed());
  v.mask = S(mask_->text().trimmed());
  v.dns = S(dns_->text().trimmed());
  v.startDelay = startDelay_->currentIndex();
  v.startDelaySeconds = startDelaySeconds_->currentIndex();
  v.serverHeartbeat = serverHeartbeat_->currentIndex();
  v.serverInterval = serverInterval_->currentIndex();
  v.modbusStorage = modbusStorage_->currentIndex();
  v.counterDirection = direction_->currentIndex();
  for (int i = 0; i < kCounterCount; ++i)
    v.counterStart[static_cast<std::size_t>(i)] = S(counters_[static_cast<std::size_t>(i)]->text());
  for (int i = 0; i < kMacFields; ++i) v.mac[static_cast<std::size_t>(i)] = S(mac_[static_cast<std::size_t>(i)]->text());
  v.deviceName = S(name_->text());
  v.blue = blue_->currentIndex();
  v.voice = voice_->currentIndex();
  v.script = script_->currentIndex();
  v.role = role_->currentIndex();
  v.splitX = splitX_->currentIndex();
  v.splitY = splitY_->currentIndex();
  return v;
}

void MoreSetting::setValues(const AdvancedValues& v) {
  Select(dataBits_, v.dataBits);
  Select(stopBits_, v.stopBits);
  Select(parity_, v.parity);
  Select(rs485Heartbeat_, v.rs485Heartbeat);
  Select(rs485Interval_, v.rs485Interval);
  dailyRestart_->setChecked(v.dailyRestart);
  Select(hour_, v.hour);
  Select(minute_, v.minute);
  Select(second_, v.second);
  fixed_->setEnabled(v.fixedAllowed);
  SetFixedChecked(v.fixedAllowed && v.fixedNetwork);
  gateway_->setAddress(Q(v.gateway));
  mask_->setAddress(Q(v.mask));
  dns_->setAddress(Q(v.dns));
  UpdateAddressFields();
  Select(startDelay_, v.startDelay);
  Select(startDelaySeconds_, v.startDelaySeconds);
  Select(serverHeartbeat_, v.serverHeartbeat);
  Select(serverInterval_, v.serverInterval);
  Select(modbusStorage_, v.modbusStorage);
  Select(direction_, v.counterDirection);
  for (int i = 0; i < kCounterCount; ++i)
    counters_[static_cast<std::size_t>(i)]->setText(Q(v.counterStart[static_cast<std::size_t>(i)]));
  for (int i = 0; i < kMacFields; ++i) mac_[static_cast<std::size_t>(i)]->setText(Q(v.mac[static_cast<std::size_t>(i)]));
  name_->setText(Q(v.deviceName));
  Select(blue_, v.blue);
  Select(voice_, v.voice);
  Select(script_, v.script);
  Select(role_, v.role);
  Select(splitX_, v.splitX);
  Select(splitY_, v.splitY);
}

void MoreSetting::UpdateAddressFields() {
  for (QWidget* w : std::initializer_list<QWidget*>{gateway_, mask_, dns_}) w->setEnabled(fixed_->isChecked());
}

void MoreSetting::SetFixedChecked(bool checked) {
  settingFixed_ = true;
  fixed_->setChecked(checked);
  settingFixed_ = false;
}

void MoreSetting::OnOk() {
  const AdvancedValues v = values();
  outcome_ = AdvancedOutcome::Failed;
  report_ = AdvancedReport{};
  RunOperation(
      [this, v](platform::Clock& clock) {
        outcome_ = SaveAdvanced(*link_, clock, user(), &progress(), address_, &record_, v, &report_);
      },
      [this](bool completed) {
        status_->clear();
        // A line that could not be sent may follow one the card never got.
        if (report_.linkLost) env().state.markRecordUnconfirmed();
        // "取消" or the close box in the middle: the card is part new, part old.
        if (!completed && report_.sent < report_.total)
          user().Message(Format(Tr("设置已取消：已发送 %d/%d 项，其余设置没有发送。"), report_.sent, report_.total),
                         kTitleNotice, Icon::Warning);
        if (completed && outcome_ == AdvancedOutcome::Confirmed) accept();
      });
}

void MoreSetting::OnFixedClicked(bool checked) {
  if (IpIsAutomatic(record_)) {
    SetFixedChecked(!checked);
    user().Message(kMsgFixedNeedsManualIp, kTitleNotice, Icon::Information);
    return;
  }
  fixedSent_ = false;
  const bool started = RunOperation(
      [this, checked](platform::Clock& clock) {
        fixedSent_ = SwitchFixedNetwork(*link_, clock, user(), address_, &record_, checked);
      },
      [this, checked](bool) {
        // The box shows what the card was told; after a failure it goes back.
        if (!fixedSent_) SetFixedChecked(!checked);
        UpdateAddressFields();
      });
  if (!started) SetFixedChecked(!checked);
}

}  // namespace card
