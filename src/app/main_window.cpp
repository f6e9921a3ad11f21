#include "app/main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/connect_ip_dialog.h"
#include "params/discovery.h"
#include "params/network.h"
#include "params/panel.h"
#include "params/panel_lists.h"
#include "platform/text.h"
#include "platform/version.h"
#include "ui/ipv4_edit.h"
#include "ui/language_menu.h"
#include "ui/message_port.h"
#include "ui/ui_thread.h"
#include "ui/text.h"

namespace card {
namespace {

using ui::Q;
using ui::S;
using ui::T;


void FillCombo(QComboBox* combo, const std::vector<std::string>& items) {
  combo->clear();
  for (const auto& item : items) combo->addItem(Q(platform::Tr(item)));
}

QComboBox* Combo() {
  auto* c = new QComboBox;
  c->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  c->setMinimumContentsLength(10);
  c->setMaxVisibleItems(20);
  return c;
}

QLineEdit* NumberEdit(int maxDigits) {
  auto* e = new QLineEdit;
  e->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("\\d{0,%1}").arg(maxDigits)), e));
  return e;
}

const char* const kDeviceColumns[] = {TR_NOOP("序号"), TR_NOOP("设备SN"), TR_NOOP("IP地址"), TR_NOOP("IP自动获取"), TR_NOOP("设备状态"), TR_NOOP("MAC地址"), TR_NOOP("固件版本"), TR_NOOP("平台")};
const int kDeviceColumnWidths[] = {60, 300, 180, 120, 120, 200, 150, 130};

}  // namespace

QString CCardSetupDlg::windowTitleText() {
  return T("     Korvex控制卡参数配置  V%1").arg(QString::fromLatin1(platform::kToolVersion));
}

CCardSetupDlg::CCardSetupDlg(WindowLinks links, SysCfg cfg, platform::CancellableClock& clock,
                             platform::ProcessPort& processes, UserPort* user, QWidget* parent)
    : QDialog(parent),
      links_(std::move(links)),
      cfg_(std::move(cfg)),
      clock_(clock),
      messages_(std::make_unique<ui::MessagePort>(this, QStringLiteral("CardSetup"))),
      user_(user ? user : messages_.get()),
      siblings_(processes, cfg_.path().substr(0, cfg_.path().rfind('/') + 1)),
      workers_([this](const std::string& what) { ReportWorkerError(what); }) {
  ui::PrepareUiQueue();
  setWindowTitle(windowTitleText());
  setWindowFlags(windowFlags() | Qt::WindowMinMaxButtonsHint);
  panelCtx_ = std::make_unique<PanelContext>(PanelContext{*links_.command, clock_, *user_, *this, state_, cfg_});

  // The program-editor poll runs on one thread, once per timer tick, and
  // only after a card was opened. A pending request stays pending until the
  // program upload takes it.
  poll_ = std::make_unique<TickThread>(
      [this] {
        if (SyncRequestPending(state_, cfg_)) ui::PostToUi(this, [this] { OnSyncRequest(); });
      },
      // The poll runs again 100 ms later: an error that stays is said once.
      [this](const std::string& what) {
        if (!pollErrorTold_.exchange(true)) ReportWorkerError(what);
      });
  syncTimer_ = new QTimer(this);
  syncTimer_->setInterval(100);
  connect(syncTimer_, &QTimer::timeout, this, [this] {
    poll_->tick();
    cardIp_->setEnabled(true);
  });
  openCtx_ = std::make_unique<OpenContext>(OpenContext{links_.search.get(), *links_.recovery, *this, siblings_, [this] {
    ui::PostToUi(syncTimer_, [timer = syncTimer_] { timer->start(); });
  }});

  BuildLayout();
  FillLists();
  ConnectSignals();
}

CCardSetupDlg::~CCardSetupDlg() { ShutDown(); }

QGroupBox* CCardSetupDlg::BuildConfigGroup() {
  search_ = new QPushButton(T("搜索设备"));
  submit_ = new QPushButton(T("提交更改"));
  addDevice_ = new QPushButton(T("添加设备"));
  auto* group = new QGroupBox(T("配置"));
  auto* row = new QHBoxLayout(group);
  for (QPushButton* b : {search_, submit_, addDevice_}) row->addWidget(b);
  return group;
}

QGroupBox* CCardSetupDlg::BuildScreenGroup() {
  width_ = NumberEdit(5);
  height_ = NumberEdit(5);
  for (QComboBox** c : {&oe_, &data_, &target_, &mode_, &refresh_, &brightness_, &modbus_, &rs485_, &baud_, &devNo_})
    *c = Combo();
  auto* group = new QGroupBox(T("屏参数设置"));
  auto* grid = new QGridLayout(group);
  const std::pair<QString, QWidget*> fields[] = {
      {T("像素宽点数"), width_},  {T("像素高点数"), height_},
      {T("OE信号"), oe_},         {T("数据高低"), data_},
      {T("显示目标"), target_},   {T("显示模式"), mode_},
      {T("刷屏率"), refresh_},    {T("亮度"), brightness_},
      {T("ModBus地址"), modbus_}, {T("485模式"), rs485_},
      {T("波特率"), baud_},       {T("开发编号"), devNo_},
  };
  for (int i = 0; i < 12; ++i) {
    int row = i / 2, col = (i % 2) * 2;
    grid->addWidget(ui::BuddyLabel(fields[i].first, fields[i].second), row, col);
    grid->addWidget(fields[i].second, row, col + 1);
  }
  grid->setColumnStretch(1, 1);
  grid->setColumnStretch(3, 1);
  return group;
}

QGroupBox* CCardSetupDlg::BuildIpGroup() {
  autoIp_ = new QCheckBox(T("自动获取IP"));
  serverEnable_ = new QCheckBox(T("是否连接服务器"));
  cardIp_ = new ui::Ipv4Edit;
  serverIp_ = new ui::Ipv4Edit;
  serverPort_ = NumberEdit(10);
  service_ = Combo();
  auto* group = new QGroupBox(T("IP设置"));
  auto* grid = new QGridLayout(group);
  grid->addWidget(autoIp_, 0, 0, 1, 2);
  grid->addWidget(serverEnable_, 0, 2, 1, 2);
  grid->addWidget(ui::BuddyLabel(T("控制卡IP"), cardIp_), 1, 0);
  grid->addWidget(cardIp_, 1, 1);
  grid->addWidget(ui::BuddyLabel(T("服务器IP"), serverIp_), 1, 2);
  grid->addWidget(serverIp_, 1, 3);
  grid->addWidget(ui::BuddyLabel(T("服务器端口"), serverPort_), 2, 0);
  grid->addWidget(serverPort_, 2, 1);
  grid->addWidget(ui::BuddyLabel(T(" 服务类型"), service_), 2, 2);
  grid->addWidget(service_, 2, 3);
  grid->setColumnStretch(1, 1);
  grid->setColumnStretch(3, 1);
  // The two fields that are never shown.
  cardPort_ = new QLineEdit(this);
  cardPort_->hide();
  internalCode_ = new QLineEdit(this);
  internalCode_->hide();
  return group;
}

QGroupBox* CCardSetupDlg::BuildFunctionsLeftGroup() {
  firmware_ = new QPushButton(T("固件升级"));
  advanced_ = new QPushButton(T("高级设置"));
  restart_ = new QPushButton(T("重启设备"));
  auto* group = new QGroupBox(T("功能"));
  auto* row = new QHBoxLayout(group);
  for (QPushButton* b : {firmware_, advanced_, restart_}) row->addWidget(b);
  return group;
}

QGroupBox* CCardSetupDlg::BuildProgramGroup() {
  program_ = Combo();
  dwell_ = Combo();
  readBack_ = new QCheckBox(T("是否回读"));
  edit_ = new QPushButton(T("编辑"));
  update_ = new QPushButton(T("更新"));
  remove_ = new QPushButton(T("删除"));
  openFile_ = new QPushButton(T("打开文件"));
  saveFile_ = new QPushButton(T("另存文件"));
  format_ = new QPushButton(T("格式化"));
  auto* group = new QGroupBox(T("节目"));
  auto* grid = new QGridLayout(group);
  grid->addWidget(ui::BuddyLabel(T("当前节目"), program_), 0, 0);
  grid->addWidget(program_, 0, 1);
  grid->addWidget(ui::BuddyLabel(T("停留时长"), dwell_), 0, 2);
  grid->addWidget(dwell_, 0, 3);
  grid->addWidget(readBack_, 0, 4, 1, 2);
  QPushButton* buttons[] = {edit_, update_, remove_, openFile_, saveFile_, format_};
  for (int i = 0; i < 6; ++i) grid->addWidget(buttons[i], 1, i);
  return group;
}

QGroupBox* CCardSetupDlg::BuildFunctionsRightGroup() {
  displayTest_ = new QPushButton(T("显示测试"));
  syncDisplay_ = new QPushButton(T("同步显示"));
  modbusTable_ = new QPushButton(T("主站请求配置"));
  monitor_ = new QPushButton(T("运行数据监视"));
  modbusDebug_ = new QPushButton(T("modbus调试"));
  script_ = new QPushButton(T("脚本程序"));
  storage_ = new QPushButton(T("读写设备数据"));
  auto* group = new QGroupBox(T("功能"));
  auto* grid = new QGridLayout(group);
  QPushButton* buttons[] = {displayTest_, syncDisplay_, modbusTable_, monitor_, modbusDebug_, script_, storage_};
  for (int i = 0; i < 7; ++i) grid->addWidget(buttons[i], i / 4, i % 4);
  return group;
}

QLayout* CCardSetupDlg::BuildExtrasRow() {
  doubleSided_ = new QCheckBox(T("双面"));
  lock_ = new QCheckBox(T("锁定"));
  broadcast_ = new QCheckBox(T("广播"));
  help_ = new QPushButton(T("使用帮助"));
  link_ = new QLabel(T("<a href=\"https://www.korvex.cn\">Korvex 官方网站</a>"));
  link_->setTextFormat(Qt::RichText);
  link_->setOpenExternalLinks(true);
  link_->setTextInteractionFlags(Qt::TextBrowserInteraction);
  auto* row = new QHBoxLayout;
  for (QWidget* w : std::initializer_list<QWidget*>{doubleSided_, lock_, broadcast_, help_, link_}) row->addWidget(w);
  row->addStretch(1);
  return row;
}

QGroupBox* CCardSetupDlg::BuildDeviceGroup() {
  devices_ = new QTableWidget(0, 8);
  devices_->setAccessibleName(T("设备列表"));
  QStringList headers;
  for (const char* h : kDeviceColumns) headers << T(h);
  devices_->setHorizontalHeaderLabels(headers);
  for (int c = 0; c < 8; ++c) devices_->setColumnWidth(c, kDeviceColumnWidths[c]);
  devices_->verticalHeader()->hide();
  devices_->setSelectionBehavior(QAbstractItemView::SelectRows);
  devices_->setSelectionMode(QAbstractItemView::SingleSelection);
  devices_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  devices_->setShowGrid(true);
  devices_->horizontalHeader()->setHighlightSections(false);
  auto* group = new QGroupBox(T("设备列表"));
  auto* layout = new QVBoxLayout(group);
  layout->addWidget(devices_);
  return group;
}

void CCardSetupDlg::BuildLayout() {
  auto* left = new QVBoxLayout;
  for (QGroupBox* g : {BuildConfigGroup(), BuildScreenGroup(), BuildIpGroup(), BuildFunctionsLeftGroup(),
                       BuildProgramGroup()})
    left->addWidget(g);
  left->addStretch(1);
  auto* right = new QVBoxLayout;
  right->addWidget(BuildDeviceGroup(), 1);
  right->addWidget(BuildFunctionsRightGroup());
  right->addLayout(BuildExtrasRow());
  auto* root = new QHBoxLayout(this);
  root->addLayout(left, 0);
  root->addLayout(right, 1);

  // The progress bar exists and follows the operations, but is not shown.
  progress_ = new QProgressBar(this);
  progress_->setRange(0, 100);
  progress_->hide();

  // The order in which the busy pattern disables them; a button added later
  // that talks to a card goes at the end.
  busyControls_ = {search_,   submit_,      modbusDebug_,  addDevice_, edit_,     restart_, advanced_,
                   firmware_, update_,      remove_,       modbusTable_, syncDisplay_, displayTest_, monitor_,
                   saveFile_, openFile_,    autoIp_,       serverEnable_, doubleSided_, readBack_, lock_,
                   broadcast_, program_,    dwell_,        storage_,  format_,       script_};

  // Enter in a field must not press a button.
  for (QPushButton* b : findChildren<QPushButton*>()) b->setAutoDefault(false);

  // The About item: the window's context menu stands in for the system menu.
  auto* about = new QAction(T("关于 CardSetup(&A)..."), this);
  connect(about, &QAction::triggered, this, &CCardSetupDlg::ShowAbout);
  addAction(about);
  // Beside it, the language of the next start.
  addAction(ui::LanguageMenuAction(this, *user_, platform::LocaleDir()));
  setContextMenuPolicy(Qt::ActionsContextMenu);
  // As large as the list's columns want, but never beyond the screen.
  QSize wanted(1500, 820);
  if (QScreen* screen = QGuiApplication::primaryScreen())
    wanted = wanted.boundedTo(screen->availableGeometry().size() * 0.95);
  resize(wanted);
}

void CCardSetupDlg::FillLists() {
  FillCombo(target_, DisplayTargetItems());
  FillCombo(mode_, DisplayModeItems());
  FillCombo(data_, PolarityItems());
  FillCombo(oe_, PolarityItems());
  FillCombo(rs485_, Rs485ModeItems());
  FillCombo(service_, ServiceTypeItems());
  FillCombo(baud_, BaudRateItems());
  FillCombo(devNo_, DevelopmentItems());
  FillCombo(program_, ProgramItems());
  program_->setCurrentIndex(0);
  readBack_->setChecked(true);
  FillCombo(brightness_, NumberItems(kBrightnessItems));
  FillCombo(refresh_, NumberItems(kRefreshItems));
  FillCombo(modbus_, ModbusAddressItems());
  FillCombo(dwell_, DwellItems());
  // Nothing is selected until a card was read.
  for (QComboBox* c : {target_, mode_, data_, oe_, rs485_, service_, baud_, devNo_, brightness_, refresh_, modbus_, dwell_})
    c->setCurrentIndex(-1);
}

void CCardSetupDlg::ConnectSignals() {
  connect(search_, &QPushButton::clicked, this, &CCardSetupDlg::OnSearch);
  connect(devices_, &QTableWidget::cellDoubleClicked, this, [this](int row, int) { OnDeviceDoubleClicked(row); });
  connect(addDevice_, &QPushButton::clicked, this, &CCardSetupDlg::OnAddDevice);
  connect(submit_, &QPushButton::clicked, this, [this] { RunDeviceOperation([this] { SubmitAll(*panelCtx_); }); });
  connect(restart_, &QPushButton::clicked, this,
          [this] { RunDeviceOperation([this] { RestartCard(*panelCtx_, links_.search.get()); }); });
  connect(lock_, &QCheckBox::toggled, this, &CCardSetupDlg::OnLockToggled);
  // "显示目标" reacts to the user's choice only, never to a fill.
  connect(target_, &QComboBox::activated, this, &CCardSetupDlg::OnTargetActivated);
  connect(target_, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (filling_) targetBefore_ = index;
  });
  const std::pair<QPushButton*, void (CCardSetupDlg::*)()> tools[] = {
      {advanced_, &CCardSetupDlg::OnAdvanced},       {edit_, &CCardSetupDlg::OnEdit},
      {update_, &CCardSetupDlg::OnUpdate},           {remove_, &CCardSetupDlg::OnRemove},
      {format_, &CCardSetupDlg::OnFormat},           {openFile_, &CCardSetupDlg::OnOpenFile},
      {saveFile_, &CCardSetupDlg::OnSaveFile},       {firmware_, &CCardSetupDlg::OnFirmware},
      {displayTest_, &CCardSetupDlg::OnDisplayTest}, {syncDisplay_, &CCardSetupDlg::OnSyncDisplay},
      {help_, &CCardSetupDlg::OnHelp},               {modbusTable_, &CCardSetupDlg::OnModbusTable},
      {modbusDebug_, &CCardSetupDlg::OnModbusDebug}, {monitor_, &CCardSetupDlg::OnMonitor},
      {storage_, &CCardSetupDlg::OnStorage},         {script_, &CCardSetupDlg::OnScript}};
  for (const auto& [button, handler] : tools) connect(button, &QPushButton::clicked, this, handler);
}

void CCardSetupDlg::Start() {
  EnterBusy();
  state_.setLocalAddress(cfg_.serverIp());
  ConnectSearch(links_.search.get(), state_.localAddress());
  LeaveBusy();
  OnSearch();
}

bool CCardSetupDlg::SayIfBusy() {
  if (busyDepth_ == 0) return false;
  user_->Message(kMsgBusy, kTitleNotice, Icon::Information);
  return true;
}

bool CCardSetupDlg::RunDeviceOperation(std::function<void()> body) {
  if (closing_) return false;
  // The list and the timer can ask while the buttons are disabled; a second
  // operation on the same links must not start beside the first.
  if (SayIfBusy()) return false;
  EnterBusy();
  workers_.Run([this, body = std::move(body)] {
    struct Leave {
      CCardSetupDlg* self;
      ~Leave() { self->LeaveBusy(); }
    } leave{this};
    body();
  });
  return true;
}

void CCardSetupDlg::ReportWorkerError(const std::string& what) {
  if (closing_) return;
  user_->Message(OperationErrorText(what), kTitleError, Icon::Error);
}

bool CCardSetupDlg::RequireOpenedCard() {
  if (state_.cardOpened()) return true;
  user_->Message(kMsgNotConnected, kTitleError, Icon::Error);
  return false;
}

bool CCardSetupDlg::RequireConfirmedRecord() {
  if (!state_.recordUnconfirmed()) return true;
  user_->Message(kMsgReadRecordAgain, kTitleNotice, Icon::Warning);
  return false;
}

ToolEnv CCardSetupDlg::toolEnv() {
  return ToolEnv{links_.makeLink, clock_, state_, cfg_, siblings_, user_ == messages_.get() ? nullptr : user_, nullptr};
}

void CCardSetupDlg::RunToolDialog(const std::function<void()>& show) {
  EnterBusy();
  show();
  LeaveBusy();
}

void CCardSetupDlg::RunRecordDialog(const std::function<void(DeviceStatusRecord& copy)>& show) {
  RunToolDialog([&] {
    DeviceStatusRecord copy = state_.record();
    show(copy);
    state_.setRecord(copy);
  });
}

void CCardSetupDlg::OnSearch() {
  const bool broadcast = broadcast_->isChecked();
  RunDeviceOperation([this, broadcast] { SearchBody(*panelCtx_, *openCtx_, broadcast); });
}

void CCardSetupDlg::OnDeviceDoubleClicked(int row) {
  auto text = [&](int col) {
    QTableWidgetItem* item = devices_->item(row, col);
    return item ? S(item->text()) : std::string();
  };
  const std::string address = text(2), serial = text(1);
  RunDeviceOperation([this, address, serial] {
    state_.setSelectedAddress(address);
    state_.setSelectedSerial(serial);
    OpenCard(*panelCtx_, *openCtx_);
  });
}

void CCardSetupDlg::OnAddDevice() {
  if (SayIfBusy()) return;
  Connect_IP dialog(cfg_, this);
  if (dialog.exec() != QDialog::Accepted) return;
  const std::string address = S(dialog.result());
  RunDeviceOperation([this, address] {
    state_.setSelectedAddress(address);
    OpenCard(*panelCtx_, *openCtx_);
  });
}

void CCardSetupDlg::OnLockToggled(bool checked) {
  // Cards before 17 know how to unlock, not how to lock. The box follows the
  // record when the panel is filled; only the user's tick is refused.
  if (!checked || filling_ || LockCanBeSwitchedOn(state_.record())) return;
  lock_->setChecked(false);
  user_->Message(kMsgLockUnsupported, kTitleNotice, Icon::Information);
}

void CCardSetupDlg::ShowAbout() {
  messages_->Message(platform::Format(platform::Tr("CardSetup 控制卡参数配置 V%s\n\n查找局域网中的LED控制卡，读取并修改其参数。"),
                                      platform::kToolVersion),
                     TR_NOOP("关于 CardSetup"), Icon::Information);
}

void CCardSetupDlg::EnterBusy() {
  if (closing_) return;
  ui::RunOnObjectThread(this, [this] {
    ++busyDepth_;
    for (QWidget* w : busyControls_) w->setEnabled(false);
    progress_->setValue(0);
  });
}

void CCardSetupDlg::LeaveBusy() {
  if (closing_) return;
  ui::RunOnObjectThread(this, [this] {
    if (busyDepth_ > 0) --busyDepth_;
    if (busyDepth_ > 0) return;
    for (QWidget* w : busyControls_) w->setEnabled(true);
    mode_->setEnabled(true);
  });
}

void CCardSetupDlg::EnableCardAddressField() {
  if (closing_) return;
  ui::RunOnObjectThread(this, [this] { cardIp_->setEnabled(true); });
}

void CCardSetupDlg::InsertRow(int at, const DeviceListEntry& e) {
  devices_->insertRow(at);
  const std::string* texts[] = {&e.number, &e.serial, &e.address, &e.autoIp, &e.status, &e.mac, &e.firmware, &e.platform};
  for (int c = 0; c < 8; ++c) devices_->setItem(at, c, new QTableWidgetItem(Q(platform::Tr(*texts[c]))));
}

void CCardSetupDlg::ClearRows() {
  if (closing_) return;
  ui::RunOnObjectThread(this, [this] { devices_->setRowCount(0); });
}

void CCardSetupDlg::AppendRow(const DeviceListEntry& entry) {
  if (closing_) return;
  ui::RunOnObjectThread(this, [&] { InsertRow(devices_->rowCount(), entry); });
}

void CCardSetupDlg::InsertFirstRow(const DeviceListEntry& entry) {
  if (closing_) return;
  ui::RunOnObjectThread(this, [&] { InsertRow(0, entry); });
}

PanelValues CCardSetupDlg::Read() {
  // A worker still running while the tool closes has nothing left to read.
  if (closing_) throw platform::OperationAborted{};
  PanelValues v;
  ui::RunOnObjectThread(this, [&] { v = ReadWidgets(); });
  return v;
}

void CCardSetupDlg::Write(const PanelValues& values) {
  if (closing_) return;
  ui::RunOnObjectThread(this, [&] { WriteWidgets(values); });
}

PanelValues CCardSetupDlg::ReadWidgets() const {
  PanelValues v;
  v.widthText = S(width_->text());
  v.heightText = S(height_->text());
  v.oe = oe_->currentIndex();
  v.data = data_->currentIndex();
  v.target = target_->currentIndex();
  v.mode = mode_->currentIndex();
  v.refresh = refresh_->currentIndex();
  v.brightness = brightness_->currentIndex();
  v.modbus = modbus_->currentIndex();
  v.rs485 = rs485_->currentIndex();
  v.baud = baud_->currentIndex();
  v.devNo = devNo_->currentIndex();
  v.autoIp = autoIp_->isChecked();
  v.serverEnable = serverEnable_->isChecked();
  v.cardIp = S(cardIp_->address());
  v.serverIp = S(serverIp_->address());
  v.serverPort = S(serverPort_->text());
  v.service = service_->currentIndex();
  v.doubleSided = doubleSided_->isChecked();
  v.lock = lock_->isChecked();
  v.broadcast = broadcast_->isChecked();
  v.program = program_->currentIndex();
  v.dwell = dwell_->currentIndex();
  v.readBack = readBack_->isChecked();
  v.cardPortText = S(cardPort_->text());
  v.internalCode = S(internalCode_->text());
  return v;
}

void CCardSetupDlg::WriteWidgets(const PanelValues& v) {
  filling_ = true;
  width_->setText(Q(v.widthText));
  height_->setText(Q(v.heightText));
  const std::pair<QComboBox*, int> lists[] = {
      {oe_, v.oe},         {data_, v.data},     {target_, v.target}, {mode_, v.mode},       {refresh_, v.refresh},
      {brightness_, v.brightness}, {modbus_, v.modbus}, {rs485_, v.rs485}, {baud_, v.baud}, {devNo_, v.devNo},
      {service_, v.service}, {program_, v.program}, {dwell_, v.dwell}};
  for (const auto& [combo, index] : lists) combo->setCurrentIndex(index < combo->count() ? index : -1);
  autoIp_->setChecked(v.autoIp);
  serverEnable_->setChecked(v.serverEnable);
  cardIp_->setAddress(Q(v.cardIp));
  serverIp_->setAddress(Q(v.serverIp));
  serverPort_->setText(Q(v.serverPort));
  doubleSided_->setChecked(v.doubleSided);
  lock_->setChecked(v.lock);
  broadcast_->setChecked(v.broadcast);
  readBack_->setChecked(v.readBack);
  cardPort_->setText(Q(v.cardPortText));
  internalCode_->setText(Q(v.internalCode));
  filling_ = false;
}

void CCardSetupDlg::ShutDown() {
  if (shutDown_) return;
  shutDown_ = true;
  closing_ = true;
  messages_->setClosing();
  syncTimer_->stop();
  // Workers stop at their next pause; blocked calls to the window still get
  // served while we wait.
  clock_.cancel();
  while (!workers_.WaitIdle(20)) {
    ui::RunPendingUiWork();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  poll_.reset();
  links_.command->Disconnect();
  links_.search.reset();
}

void CCardSetupDlg::closeEvent(QCloseEvent* event) {
  if (!shutDown_ && workers_.running() > 0 && !user_->Ask(platform::Tr("设备操作正在进行，确定要退出吗？"), "CardSetup")) {
    event->ignore();
    return;
  }
  ShutDown();
  QDialog::closeEvent(event);
}

void CCardSetupDlg::keyPressEvent(QKeyEvent* event) {
  // Escape does not close the main window; the close box does.
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

}  // namespace card
