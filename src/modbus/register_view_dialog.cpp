#include "modbus/register_view_dialog.h"

#include <QComboBox>
#include <QEvent>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableWidgetItem>
#include <QTimer>
#include <QVBoxLayout>

#include "platform/text.h"
#include "ui/editable_list.h"
#include "ui/text.h"

namespace card::modbus {
namespace {

using ui::Q;
using ui::S;
using ui::T;


const QColor kCellBackground(187, 255, 255);
const char* const kHeaders[kGridColumns] = {" 01 ", " 02 ", " 03 ", " 04 ", " 05 ", " 06 ", " 07 ", " 08 ",
                                            " 09 ", " 0A ", " 0B", " 0C", " 0D", " 0E", " 0F", " 10"};
constexpr std::size_t kErrorsShown = 12;


}  // namespace

SingleWriteDialog::SingleWriteDialog(int type, UserPort* user, QWidget* parent) : QDialog(parent), user_(user) {
  setWindowTitle(T("写单个寄存器"));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  address = new QComboBox;
  for (int i = 0; i < kSingleWriteRegisters; ++i) address->addItem(Q(RegisterItem(i)));
  address->setMaxVisibleItems(20);
  typeList = new QComboBox;
  for (const auto& label : TypeLabels()) typeList->addItem(Q(platform::Tr(label)));
  typeList->setCurrentIndex(type >= 0 && type < kTypeCount ? type : 0);
  value = new QLineEdit;
  send = new QPushButton(T("发送"));
  cancel = new QPushButton(T("取消"));
  send->setDefault(true);
  auto* form = new QFormLayout;
  form->addRow(T("地址："), address);
  form->addRow(T("类型："), typeList);
  form->addRow(T("数值："), value);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(send);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addLayout(buttons);
  setMinimumWidth(360);
  connect(send, &QPushButton::clicked, this, &SingleWriteDialog::OnSend);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

int SingleWriteDialog::registerNumber() const { return address->currentIndex(); }
int SingleWriteDialog::type() const { return typeList->currentIndex(); }

void SingleWriteDialog::OnSend() {
  std::string error;
  auto bytes = EncodeSingle(type(), S(value->text()), &error);
  if (!bytes) {
    if (user_) user_->Message(error, kTitleError, Icon::Error);
    return;
  }
  bytes_ = *bytes;
  accept();
}

RegisterViewDialog::RegisterViewDialog(const ToolEnv& env, std::unique_ptr<Channel> link, QWidget* parent)
    : ToolDialog(env, parent), link_(std::move(link)), address_(env.state.selectedAddress()) {
  setWindowTitle(titleText());
  type_ = new QComboBox;
  for (const auto& label : TypeLabels()) type_->addItem(Q(platform::Tr(label)));
  start_ = new QComboBox;
  for (const auto& item : StartAddressItems()) start_->addItem(Q(item));
  start_->setMaxVisibleItems(20);
  auto* read = new QPushButton(T("读取"));
  auto* write = new QPushButton(T("写入"));
  auto* single = new QPushButton(T("写单个寄存器"));
  for (QPushButton* b : {read, write, single}) b->setAutoDefault(false);

  grid_ = new ui::EditableList(kGridRows, kGridColumns);
  grid_->setAccessibleName(titleText());
  QStringList headers;
  for (const char* h : kHeaders) headers << QString::fromLatin1(h);
  grid_->setHorizontalHeaderLabels(headers);
  grid_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  grid_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  QPalette palette = grid_->palette();
  palette.setColor(QPalette::Base, kCellBackground);
  grid_->setPalette(palette);
  for (int r = 0; r < kGridRows; ++r)
    for (int c = 0; c < kGridColumns; ++c) {
      auto* item = new QTableWidgetItem;
      item->setTextAlignment(Qt::AlignCenter);
      grid_->setItem(r, c, item);
    }
  grid_->viewport()->installEventFilter(this);
  grid_->setFixedHeight(grid_->horizontalHeader()->sizeHint().height() +
                        kGridRows * grid_->verticalHeader()->defaultSectionSize() + 2 * grid_->frameWidth());

  // The number of each row's first register, in hex as the headers count.
  auto* rowNumbers = new QVBoxLayout;
  rowNumbers->setSpacing(0);
  rowNumbers->addSpacing(grid_->horizontalHeader()->sizeHint().height());
  for (int r = 0; r < kGridRows; ++r) {
    rowLabels_[r] = new QLabel;
    rowLabels_[r]->setFixedHeight(grid_->verticalHeader()->defaultSectionSize());
    rowLabels_[r]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    rowNumbers->addWidget(rowLabels_[r]);
  }
  rowNumbers->addStretch();

  status_ = new QLabel;
  SetStatusLabel(status_);

  auto* top = new QHBoxLayout;
  top->addWidget(ui::BuddyLabel(T("数据类型"), type_));
  top->addWidget(type_);
  top->addSpacing(16);
  top->addWidget(ui::BuddyLabel(T("起始地址"), start_));
  top->addWidget(start_);
  top->addStretch();
  for (QPushButton* b : {read, write, single}) top->addWidget(b);
  auto* middle = new QHBoxLayout;
  middle->addLayout(rowNumbers);
  middle->addWidget(grid_, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addLayout(middle);
  layout->addWidget(status_);
  layout->addStretch();
  resize(1180, 230);

  connect(read, &QPushButton::clicked, this, &RegisterViewDialog::Read);
  connect(write, &QPushButton::clicked, this, &RegisterViewDialog::Write);
  connect(single, &QPushButton::clicked, this, &RegisterViewDialog::SingleWrite);
  // The user's choices only; a type set by the single write reads on its own.
  connect(type_, &QComboBox::activated, this, [this] { OnChoice(type_, &lastType_); });
  connect(start_, &QComboBox::activated, this, [this] { OnChoice(start_, &lastStart_); });
  Show(kU16, 0);  // the row numbers of the first page
  QTimer::singleShot(0, this, [this] { Start(); });
}

RegisterViewDialog::~RegisterViewDialog() { StopOperation(); }

bool RegisterViewDialog::eventFilter(QObject* watched, QEvent* event) {
  if (watched == grid_->viewport() && (event->type() == QEvent::Resize || event->type() == QEvent::Show))
    ApplyWidths();
  return ToolDialog::eventFilter(watched, event);
}

void RegisterViewDialog::ApplyWidths() {
  const int d = grid_->viewport()->width() / kGridColumns;
  for (int c = 0; c < kGridColumns - 1; ++c) grid_->setColumnWidth(c, d);
  grid_->setColumnWidth(kGridColumns - 1, d * 10 / 9);
}

std::uint32_t RegisterViewDialog::startRegister() const {
  return kPageRegisters * static_cast<std::uint32_t>(std::max(0, start_->currentIndex()));
}

GridTexts RegisterViewDialog::cells() const {
  GridTexts out;
  for (int r = 0; r < kGridRows; ++r)
    for (int c = 0; c < kGridColumns; ++c) out[r][c] = S(grid_->cellText(r, c));
  return out;
}

bool RegisterViewDialog::HasEdits() const { return cells() != shown_; }

bool RegisterViewDialog::MayDropEdits() {
  grid_->CommitEdit();
  return !HasEdits() || user().Ask(kMsgDropEdits, S(titleText()));
}

void RegisterViewDialog::Start() {
  if (started_) return;
  started_ = true;
  RunRead(true);
}

void RegisterViewDialog::OnChoice(QComboBox* combo, int* last) {
  if (!MayDropEdits()) {
    const QSignalBlocker block(combo);
    combo->setCurrentIndex(*last);
    return;
  }
  RunRead(false);
}

void RegisterViewDialog::Read() {
  if (!MayDropEdits()) return;
  RunRead(false);
}

void RegisterViewDialog::RunRead(bool logOffFirst, std::function<bool(platform::Clock&)> before) {
  const int type = type_->currentIndex();
  const std::uint32_t start = startRegister();
  lastType_ = type;
  lastStart_ = start_->currentIndex();
  pending_ = PageRead{};
  auto readDone = std::make_shared<bool>(false);
  RunOperation(
      [this, logOffFirst, before, start, readDone](platform::Clock& clock) {
        if (logOffFirst) SendLogOff(*link_, clock, address_);
        if (before && !before(clock)) return;
        pending_ = ReadPage(*link_, clock, user(), address_, start);
        *readDone = true;
      },
      [this, type, start, readDone](bool completed) {
        if (completed && *readDone) Show(type, start);
      });
}

void RegisterViewDialog::Show(int type, std::uint32_t start) {
  const PageRead& read = pending_;
  if (read.outcome == ReadOutcome::ConnectFailed && type == shownType_ && start == shownStart_) return;
  grid_->CancelEdit();
  // A page that could not be read at all is empty, never the old page
  // under a new type or address.
  image_ = read.outcome == ReadOutcome::ConnectFailed ? PageImage{} : read.page;
  shown_ = DecodePage(type, image_);
  shownType_ = type;
  shownStart_ = start;
  for (int r = 0; r < kGridRows; ++r) {
    rowLabels_[r]->setText(Q(platform::Format("%02X", start + 16 * static_cast<std::uint32_t>(r) + 1)));
    for (int c = 0; c < kGridColumns; ++c) grid_->setCellText(r, c, Q(shown_[r][c]));
  }
  std::string status;
  switch (image_.valid == kPageBytes ? ReadOutcome::Whole : read.outcome) {
    case ReadOutcome::Whole:
      status = platform::Format(platform::Tr("已读取寄存器 %u–%u（%s）"), start, start + kPageRegisters - 1, platform::Tr(TypeLabels()[type]).c_str());
      break;
    case ReadOutcome::Short:
      status = platform::Format(platform::Tr("只读到%zu个字节，空白单元格没有读到"), image_.valid);
      break;
    default:
      status = started_ ? platform::Tr("没有读到数据") : "";
  }
  status_->setText(Q(status));
}

void RegisterViewDialog::Write() {
  grid_->CommitEdit();
  const int type = type_->currentIndex();
  const std::uint32_t start = startRegister();
  if (!image_.whole() || shownType_ != type || shownStart_ != start) {
    user().Message(kMsgWriteNeedsRead, kTitleNotice, Icon::Warning);
    return;
  }
  const PageWrite w = BuildPageWrite(type, image_, shown_, cells());
  if (!w.errors.empty()) {
    std::string text = platform::Tr("以下单元格的数值不对，没有写入：");
    for (std::size_t i = 0; i < w.errors.size() && i < kErrorsShown; ++i) text += "\n" + w.errors[i];
    if (w.errors.size() > kErrorsShown) text += platform::Format(platform::Tr("\n……共%zu处"), w.errors.size());
    user().Message(text, kTitleError, Icon::Error);
    return;
  }
  if (w.edited == 0) {
    user().Message(kMsgNothingEdited, kTitleNotice, Icon::Information);
    return;
  }
  const std::string bytes(w.bytes.begin(), w.bytes.end());
  RunRead(false, [this, bytes, start](platform::Clock& clock) {
    return WriteRegisters(*link_, clock, user(), address_, start, bytes);
  });
}

void RegisterViewDialog::SingleWrite() {
  if (!MayDropEdits()) return;
  SingleWriteDialog dialog(type_->currentIndex(), &user(), this);
  if (dialog.exec() != QDialog::Accepted) return;
  SendSingle(dialog.registerNumber(), dialog.type(), dialog.bytes());
}

void RegisterViewDialog::SendSingle(int registerNumber, int type, const std::string& bytes) {
  {
    const QSignalBlocker block(type_);
    type_->setCurrentIndex(type);
  }
  // The page is read again whether the write went out or not.
  RunRead(false, [this, registerNumber, bytes](platform::Clock& clock) {
    WriteRegisters(*link_, clock, user(), address_, static_cast<std::uint32_t>(registerNumber), bytes);
    return true;
  });
}

}  // namespace card::modbus
