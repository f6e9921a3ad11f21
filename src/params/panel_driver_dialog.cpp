#include "params/panel_driver_dialog.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include "ui/text.h"

namespace card {
namespace {

QComboBox* List(const std::vector<std::string>& items) {
  auto* combo = new QComboBox;
  for (const auto& item : items) combo->addItem(ui::Q(platform::Tr(item)));
  combo->setMaxVisibleItems(24);
  return combo;
}

}  // namespace

CELL_PARA::CELL_PARA(const ToolEnv& env, const DeviceStatusRecord& copy, std::unique_ptr<Channel> link,
                     QWidget* parent)
    : ToolDialog(env, parent), record_(copy), link_(std::move(link)), address_(env.state.selectedAddress()) {
  setWindowTitle(ui::T("更多目标设置"));
  Build();
  // Only what the card was sent changes the copy: a module never set shows
  // 64 × 32 here, and keeps 0 until "固化到设备".
  setValues(PanelDriverFromRecord(record_));
}

CELL_PARA::~CELL_PARA() { StopOperation(); }

void CELL_PARA::Build() {
  width_ = List(ModuleWidthItems());
  height_ = List(ModuleHeightItems());
  scan_ = List(ScanItems());
  chip_ = List(RowScanChipItems());
  foldWidth_ = List(FoldWidthItems());
  uFold_ = List(UFoldItems());
  dzFold_ = List(DzFoldItems());
  snake_ = List(SnakeItems());
  foldRows_ = List(FoldRowsItems());
  conversion_ = List(ConversionItems());

  auto* group = new QGroupBox(ui::T("目标属性"));
  auto* grid = new QGridLayout(group);
  const std::pair<QString, QComboBox*> rows[] = {
      {ui::T("单元板长点数"), width_},  {ui::T("单元板高点数"), height_},
      {ui::T("扫描行数"), scan_},       {ui::T("扫描芯片"), chip_},
      {ui::T("折线点数"), foldWidth_},  {ui::T("U型折线"), uFold_},
      {ui::T("DZ型折线"), dzFold_},     {ui::T("蛇形方向"), snake_},
      {ui::T("折线行数"), foldRows_},   {ui::T("行列转换点数"), conversion_},
  };
  // Two columns of five, in the order of the list above, top to bottom.
  for (int i = 0; i < 10; ++i) {
    auto* label = new QLabel(rows[i].first);
    label->setBuddy(rows[i].second);
    const int row = i % 5, col = (i / 5) * 2;
    grid->addWidget(label, row, col);
    grid->addWidget(rows[i].second, row, col + 1);
  }
  grid->setColumnStretch(1, 1);
  grid->setColumnStretch(3, 1);
  grid->setColumnMinimumWidth(2, 0);
  grid->setHorizontalSpacing(12);

  auto* note = new QLabel(ui::T(kPanelDriverNote));
  note->setTextFormat(Qt::PlainText);
  note->setWordWrap(true);

  status_ = new QLabel;
  SetStatusLabel(status_);
  recognize_ = new QPushButton(ui::T("智能识别"));
  recognize_->setEnabled(false);
  save_ = new QPushButton(ui::T("固化到设备"));
  cancel_ = new QPushButton(ui::T("取消"));
  for (QPushButton* b : {recognize_, save_, cancel_}) b->setAutoDefault(false);
  KeepEnabledWhileRunning(cancel_);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(recognize_);
  buttons->addWidget(status_, 1);
  buttons->addWidget(save_);
  buttons->addWidget(cancel_);

  auto* root = new QVBoxLayout(this);
  root->addWidget(group);
  root->addWidget(note);
  root->addLayout(buttons);

  connect(save_, &QPushButton::clicked, this, &CELL_PARA::OnSave);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  connect(recognize_, &QPushButton::clicked, this, [this] {
    if (recognition_ && !operationRunning()) recognition_(*this);
  });
  setMinimumWidth(520);
}

void CELL_PARA::SetRecognitionHook(RecognitionHook hook) {
  recognition_ = std::move(hook);
  recognize_->setEnabled(static_cast<bool>(recognition_));
}

bool CELL_PARA::RunRecognition(std::function<void(platform::Clock&)> body, std::function<void(bool)> finished) {
  if (operationRunning()) return false;
  const bool started = RunOperation(std::move(body), [this, finished = std::move(finished)](bool completed) {
    cancel_->setEnabled(true);
    if (finished) finished(completed);
  });
  if (started) cancel_->setEnabled(false);
  return started;
}

PanelDriverValues CELL_PARA::values() const {
  PanelDriverValues v;
  v.width = width_->currentIndex();
  v.height = height_->currentIndex();
  v.scan = scan_->currentIndex();
  v.chip = chip_->currentIndex();
  v.foldWidth = foldWidth_->currentIndex();
  v.uFold = uFold_->currentIndex();
  v.dzFold = dzFold_->currentIndex();
  v.snake = snake_->currentIndex();
  v.foldRows = foldRows_->currentIndex();
  v.conversion = conversion_->currentIndex();
  return v;
}

void CELL_PARA::setValues(const PanelDriverValues& v) {
  const std::pair<QComboBox*, int> lists[] = {{width_, v.width},         {height_, v.height},   {scan_, v.scan},
                                              {chip_, v.chip},           {foldWidth_, v.foldWidth},
                                              {uFold_, v.uFold},         {dzFold_, v.dzFold},   {snake_, v.snake},
                                              {foldRows_, v.foldRows},   {conversion_, v.conversion}};
  for (const auto& [combo, index] : lists) combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
}

void CELL_PARA::OnSave() {
  const PanelDriverValues v = values();
  saved_ = false;
  status_->setText(ui::T("正在固化到设备..."));
  RunOperation([this, v](platform::Clock& clock) { saved_ = SaveLedPara(*link_, clock, user(), address_, &record_, v); },
               [this](bool completed) {
                 status_->clear();
                 if (completed && saved_) accept();
               });
}

}  // namespace card
