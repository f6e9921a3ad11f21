#include "modbus/master_table_dialog.h"

#include <QComboBox>
#include <QEvent>
#include <QFontDatabase>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QTableWidget>
#include <QVBoxLayout>

#include <filesystem>

#include "modbus/rtu.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform/workdir.h"
#include "ui/editable_list.h"
#include "ui/text.h"

namespace card::modbus {
namespace {

using ui::Q;
using ui::S;
using ui::T;


const QColor kCellBackground(187, 255, 255);
const char* const kFilter = "Bin Files (*.datr);;All Files (*)";
// How many cell errors one message names.
constexpr std::size_t kErrorsShown = 12;

QComboBox* Combo(const std::vector<std::string>& items) {
  auto* c = new QComboBox;
  for (const auto& item : items) c->addItem(Q(platform::Tr(item)));
  c->setCurrentIndex(0);
  c->setMaxVisibleItems(20);
  return c;
}

std::string Joined(const std::vector<std::string>& lines, std::size_t most) {
  std::string out;
  for (std::size_t i = 0; i < lines.size() && i < most; ++i) out += (i ? "\n" : "") + lines[i];
  if (lines.size() > most) out += platform::Format(platform::Tr("\n……共%zu处"), lines.size());
  return out;
}

}  // namespace

AddRequestDialog::AddRequestDialog(UserPort* user, QWidget* parent) : QDialog(parent), user_(user) {
  setWindowTitle(T("添加请求报文"));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  const AddRequestItems& items = AddItems();
  slave = Combo(items.slaves);
  address = Combo(items.addresses);
  function = Combo(items.functions);
  count = Combo(items.counts);
  master = Combo(items.masters);
  delay = Combo(items.delays);
  for (QLineEdit** e : {&multiplier, &divisor, &calPlus, &calMinus, &upper, &lower}) *e = new QLineEdit;
  auto* form = new QFormLayout;
  // QFormLayout makes each label the buddy of its field.
  form->addRow(T("从站地址"), slave);
  form->addRow(T("寄存器地址"), address);
  form->addRow(T("功能码"), function);
  form->addRow(T("请求个数"), count);
  form->addRow(T("乘倍数"), multiplier);
  form->addRow(T("除倍数"), divisor);
  form->addRow(T("校准+"), calPlus);
  form->addRow(T("校准-"), calMinus);
  form->addRow(T("主存储地址"), master);
  form->addRow(T("请求延时ms"), delay);
  form->addRow(T("上限值"), upper);
  form->addRow(T("下限值"), lower);
  const ui::OkCancel buttons = ui::OkCancelRow();
  ok = buttons.ok;
  cancel = buttons.cancel;
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addLayout(buttons.row);
  setMinimumWidth(320);
  connect(ok, &QPushButton::clicked, this, &AddRequestDialog::OnOk);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

AddRequestValues AddRequestDialog::values() const {
  AddRequestValues v;
  v.slave = slave->currentIndex();
  v.address = address->currentIndex();
  v.function = function->currentIndex();
  v.count = count->currentIndex();
  v.master = master->currentIndex();
  v.delay = delay->currentIndex();
  v.multiplier = S(multiplier->text());
  v.divisor = S(divisor->text());
  v.calPlus = S(calPlus->text());
  v.calMinus = S(calMinus->text());
  v.upper = S(upper->text());
  v.lower = S(lower->text());
  return v;
}

void AddRequestDialog::OnOk() {
  std::vector<std::string> errors;
  request_ = AddedRequest(values(), &errors);
  if (!request_) {
    if (user_) user_->Message(Joined(errors, kErrorsShown), kTitleError, Icon::Error);
    return;
  }
  accept();
}

MasterTableDialog::MasterTableDialog(const ToolEnv& env, std::unique_ptr<Channel> link, DeviceStatusRecord& record,
                                     QWidget* parent)
    : ToolDialog(env, parent),
      link_(std::move(link)),
      record_(record),
      address_(env.state.selectedAddress()) {
  setWindowTitle(titleText());
  weighing_ = record_.u8(rec::kRs485Mode) == kWeighingMode;
  headers_ = weighing_ ? &WeighingHeaders() : &NormalHeaders();

  list_ = new ui::EditableList(static_cast<int>(kRequests), static_cast<int>(kColumns));
  list_->setAccessibleName(titleText());
  QStringList headers;
  for (const auto& h : *headers_) headers << Q(platform::Tr(h));
  list_->setHorizontalHeaderLabels(headers);
  // A header longer than its column wraps at its blanks (see ApplyWidths).
  list_->horizontalHeader()->setDefaultAlignment(Qt::Alignment::fromInt(Qt::AlignCenter | Qt::TextWordWrap));
  list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  QPalette palette = list_->palette();
  palette.setColor(QPalette::Base, kCellBackground);
  list_->setPalette(palette);
  for (int r = 0; r < list_->rowCount(); ++r)
    for (int c = 0; c < list_->columnCount(); ++c) {
      auto* item = new QTableWidgetItem;
      item->setTextAlignment(Qt::AlignCenter);
      list_->setItem(r, c, item);
    }
  // Messages name rows by number: the numbers stand at the left.
  list_->verticalHeader()->show();
  list_->viewport()->installEventFilter(this);

  // The frame of each row stands beside it and scrolls with it.
  frames_ = new QTableWidget(static_cast<int>(kRequests), 1);
  frames_->setAccessibleName(T("RTU请求帧"));
  frames_->setHorizontalHeaderLabels({T("RTU请求帧")});
  frames_->verticalHeader()->hide();
  frames_->horizontalHeader()->setStretchLastSection(true);
  frames_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  frames_->setSelectionMode(QAbstractItemView::NoSelection);
  frames_->setFocusPolicy(Qt::NoFocus);
  frames_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  frames_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  frames_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  frames_->verticalHeader()->setDefaultSectionSize(list_->verticalHeader()->defaultSectionSize());
  frames_->setMinimumWidth(330);
  connect(list_->verticalScrollBar(), &QScrollBar::valueChanged, frames_->verticalScrollBar(), &QScrollBar::setValue);
  connect(frames_->verticalScrollBar(), &QScrollBar::valueChanged, list_->verticalScrollBar(), &QScrollBar::setValue);
  connect(list_, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) { UpdateFrame(item->row()); });

  auto* load = new QPushButton(T("加载到设备"));
  auto* readBack = new QPushButton(T("从设备回读"));
  auto* open = new QPushButton(T("从文件打开"));
  auto* save = new QPushButton(T("另存文件"));
  auto* add = new QPushButton(T("添加请求"));
  auto* remove = new QPushButton(T("删除请求"));
  for (QPushButton* b : {load, readBack, open, save, add, remove}) b->setAutoDefault(false);
  connect(load, &QPushButton::clicked, this, &MasterTableDialog::LoadToDevice);
  connect(readBack, &QPushButton::clicked, this, &MasterTableDialog::ReadBack);
  connect(open, &QPushButton::clicked, this, &MasterTableDialog::OpenFromFile);
  connect(save, &QPushButton::clicked, this, &MasterTableDialog::SaveToFile);
  connect(add, &QPushButton::clicked, this, &MasterTableDialog::AddRequest);
  connect(remove, &QPushButton::clicked, this, &MasterTableDialog::DeleteRequest);

  bar_ = new QProgressBar;
  bar_->setRange(0, 100);
  bar_->setValue(0);
  bar_->setAccessibleName(T("加载进度"));
  status_ = new QLabel;
  SetProgressBar(bar_);
  SetStatusLabel(status_);

  auto* tables = new QHBoxLayout;
  tables->setSpacing(0);
  tables->addWidget(list_, 3);
  tables->addWidget(frames_, 1);
  auto* buttons = new QHBoxLayout;
  for (QPushButton* b : {load, readBack, open, save, add, remove}) buttons->addWidget(b);
  auto* progressRow = new QHBoxLayout;
  progressRow->addWidget(status_, 1);
  progressRow->addWidget(bar_, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(tables, 1);
  layout->addLayout(buttons);
  layout->addLayout(progressRow);
  resize(1280, 640);

  ReadBack();
}

MasterTableDialog::~MasterTableDialog() { StopOperation(); }

std::string MasterTableDialog::workingFilePath() const {
  const std::string& cfg = env().cfg.path();
  return cfg.substr(0, cfg.rfind('/') + 1) + kTableFileName;
}

std::string MasterTableDialog::ToolDirPath() const { return platform::UserFilesDir(); }

bool MasterTableDialog::eventFilter(QObject* watched, QEvent* event) {
  // The viewport takes its last width while it is shown, without a resize
  // event of its own.
  if (watched == list_->viewport() && (event->type() == QEvent::Resize || event->type() == QEvent::Show))
    ApplyWidths();
  return ToolDialog::eventFilter(watched, event);
}

void MasterTableDialog::ApplyWidths() {
  // Each column takes its share of the view. A header longer than its share
  // wraps onto more lines; a word longer than the share widens the column,
  // and the table scrolls (longer languages than Chinese need that).
  QHeaderView* header = list_->horizontalHeader();
  const QFontMetrics fm = header->fontMetrics();
  const int margin = 2 * header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
  const int w = list_->viewport()->width() / 6;
  int lines = 0;
  for (std::size_t c = 0; c < kColumns; ++c) {
    const QString text = list_->horizontalHeaderItem(static_cast<int>(c))->text();
    int word = 0;
    for (const QString& part : text.split(QLatin1Char(' '), Qt::SkipEmptyParts))
      word = std::max(word, fm.horizontalAdvance(part));
    const int width = std::max(w * (weighing_ ? kWeighingWidthFifteenths : NormalWidthFifteenths()[c]) / 15, word + margin);
    list_->setColumnWidth(static_cast<int>(c), width);
    lines = std::max(lines, fm.boundingRect(QRect(0, 0, width - margin, 100000), Qt::TextWordWrap, text).height());
  }
  header->setMinimumHeight(lines > fm.height() ? lines + margin : 0);
}

TableTexts MasterTableDialog::rows() const {
  TableTexts out;
  for (std::size_t r = 0; r < kRequests; ++r)
    for (std::size_t c = 0; c < kColumns; ++c) out[r][c] = S(list_->cellText(static_cast<int>(r), static_cast<int>(c)));
  return out;
}

void MasterTableDialog::Fill(const TableTexts& rows, std::size_t from, std::size_t to) {
  for (std::size_t r = from; r < to; ++r)
    for (std::size_t c = 0; c < kColumns; ++c)
      list_->setCellText(static_cast<int>(r), static_cast<int>(c), Q(rows[r][c]));
}

bool MasterTableDialog::RowFilled(int row) const {
  for (int c = 0; c < static_cast<int>(kColumns); ++c)
    if (!list_->cellText(row, c).trimmed().isEmpty()) return true;
  return false;
}

void MasterTableDialog::UpdateFrame(int row) {
  if (row < 0 || row >= static_cast<int>(kRequests)) return;
  auto cell = [&](int c) { return S(list_->cellText(row, c)); };
  QString text;
  if (RowFilled(row)) {
    // The cells as typed, in whatever range: the preview says what is wrong.
    constexpr long long kAny = 100000000000LL;
    auto slave = ParseWhole(cell(0), -kAny, kAny), address = ParseWhole(cell(1), -kAny, kAny),
         function = ParseWhole(cell(2), 0, 255), count = ParseWhole(cell(3), -kAny, kAny);
    if (!slave || !address || !function || !count) {
      text = T("（数值无效）");
    } else if (*function != 0 && *function != kEmptyFunction) {
      text = Q(RequestFrameText(*slave, *function, *address, *count));
      if (text.isEmpty()) text = T("（功能码不能组帧）");
    }
  }
  QTableWidgetItem* it = frames_->item(row, 0);
  if (!it) frames_->setItem(row, 0, it = new QTableWidgetItem);
  it->setText(text);
  // The whole text when the column is too narrow for it.
  it->setToolTip(text);
}

void MasterTableDialog::ShowErrors(const std::vector<std::string>& errors) {
  user().Message(platform::Tr("以下单元格的数值不对，表格没有保存：\n") + Joined(errors, kErrorsShown), kTitleError, Icon::Error);
}

void MasterTableDialog::ReadBack() {
  list_->CancelEdit();
  const RecordTable records = ToRecords(ReadEntries(record_));
  if (!WriteTableFile(workingFilePath(), records)) user().Message(kMsgFileMissing, kTitleError, Icon::Warning);
  Fill(ToRows(records), 0, kRequests);
}

void MasterTableDialog::OpenFromFile() {
  auto path = files().OpenFile({TR_NOOP("从文件打开"), kFilter, ToolDirPath(), ""});
  if (!path) return;
  std::string bytes;
  if (!platform::ReadWholeFile(*path, &bytes, kTableFileSize + 1)) {
    user().Message(kMsgFileMissing, kTitleError, Icon::Warning);
    return;
  }
  // Rows past the end of a short file keep what they hold, typed text included.
  list_->CommitEdit();
  TableFileLoad load = DecodeTableFile(bytes, RecordTable{});
  // Only the table is read, but the notice names the file's whole length.
  std::error_code error;
  const auto length = std::filesystem::file_size(*path, error);
  if (!error) load.bytes = static_cast<std::size_t>(length);
  Fill(ToRows(load.records), 0, load.whole);
  const std::string notice = TableFileNotice(load);
  if (!notice.empty()) user().Message(notice, kTitleNotice, Icon::Warning);
}

void MasterTableDialog::SaveToFile() {
  list_->CommitEdit();
  const TableParse parse = ParseRows(rows(), *headers_);
  if (!parse.ok()) {
    ShowErrors(parse.errors);
    return;
  }
  auto path = files().SaveFile({TR_NOOP("另存文件"), kFilter, ToolDirPath(), kTableFileName});
  if (!path) return;
  if (!WriteTableFile(*path, parse.records)) {
    user().Message(kMsgFileMissing, kTitleError, Icon::Warning);
    return;
  }
  std::vector<std::string> notes = parse.warnings;
  for (auto& w : CheckTable(parse.records)) notes.push_back(std::move(w));
  if (!notes.empty()) user().Message(platform::Tr("表格已保存。请注意：\n") + Joined(notes, kErrorsShown), kTitleNotice, Icon::Warning);
}

bool MasterTableDialog::AddRow(const RequestRecord& r) {
  for (int row = 0; row < static_cast<int>(kRequests); ++row) {
    if (RowFilled(row)) continue;
    const RowTexts texts = AddedRow(r);
    for (std::size_t c = 0; c < kColumns; ++c) list_->setCellText(row, static_cast<int>(c), Q(texts[c]));
    list_->selectRow(row);
    return true;
  }
  return false;
}

void MasterTableDialog::AddRequest() {
  list_->CommitEdit();
  bool free = false;
  for (int row = 0; row < static_cast<int>(kRequests) && !free; ++row) free = !RowFilled(row);
  if (!free) {
    user().Message(platform::Tr("30行都已有请求，不能再添加。请先删除一条请求。"), kTitleNotice, Icon::Information);
    return;
  }
  AddRequestDialog dialog(&user(), this);
  if (dialog.exec() != QDialog::Accepted || !dialog.request()) return;
  AddRow(*dialog.request());
}

void MasterTableDialog::DeleteRequest() {
  // Only the last filled row goes: a click that selected a row to edit it
  // must not make it the one deleted.
  list_->CommitEdit();
  int row = -1;
  for (int r = static_cast<int>(kRequests) - 1; r >= 0 && row < 0; --r)
    if (RowFilled(r)) row = r;
  if (row < 0) return;
  for (int c = 0; c < static_cast<int>(kColumns); ++c) list_->setCellText(row, c, QString());
}

void MasterTableDialog::LoadToDevice() {
  list_->CommitEdit();
  const TableParse parse = ParseRows(rows(), *headers_);
  if (!parse.ok()) {
    ShowErrors(parse.errors);
    return;
  }
  const EntryTable entries = ToEntries(parse.records);
  std::vector<std::string> notes = parse.warnings;
  for (const auto& more : {CheckTable(parse.records), UnsentRequests(entries)})
    notes.insert(notes.end(), more.begin(), more.end());
  if (!notes.empty() && !user().Ask(Joined(notes, kErrorsShown) + platform::Tr("\n\n是否继续加载到设备？"), platform::Tr("加载到设备"))) return;
  // The working file takes the table once the user has said yes to it.
  if (!WriteTableFile(workingFilePath(), parse.records)) user().Message(kMsgFileMissing, kTitleError, Icon::Warning);
  uploaded_ = false;
  report_ = UploadReport{};
  RunOperation(
      [this, entries](platform::Clock& clock) {
        uploaded_ = UploadTable(*link_, clock, user(), progress(), address_, entries, &record_, &report_);
      },
      [this](bool completed) {
        // A line that could not be sent may follow one the card never got.
        if (report_.linkLost) env().state.markRecordUnconfirmed();
        if (!completed && report_.sent < report_.total)
          user().Message(platform::Format(platform::Tr("上传已取消：已发送 %d/%d 项，其余请求没有发送，设备上仍是原来的请求。"),
                                          report_.sent, report_.total),
                         kTitleNotice, Icon::Warning);
        if (completed && uploaded_) accept();
      });
}

}  // namespace card::modbus
