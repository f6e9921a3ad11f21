#include "storage/script_dialog.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/text.h"
#include "platform/workdir.h"
#include "storage/script.h"
#include "ui/editable_list.h"
#include "ui/text.h"

namespace card {

namespace {

using ui::Q;

QString RowNumber(int row) { return Q(platform::Format("%02d", row)); }

// How many lines were loaded; when some show escapes, what they mean.
QString LoadedText(const QString& what, const std::vector<std::string>& lines) {
  QString text = what.arg(lines.size());
  for (const auto& l : lines)
    if (l.find('\\') != std::string::npos)
      return text + QStringLiteral(u"（\\xNN为GBK以外的一个字节，\\\\为一个“\\”，照此输入即可保留）");
  return text;
}

}  // namespace

Script_Edit::Script_Edit(const ToolEnv& env, std::unique_ptr<Channel> link, int firmwareMajor, QWidget* parent)
    : ToolDialog(env, parent),
      link_(std::move(link)),
      address_(env.state.selectedAddress()),
      firmwareMajor_(firmwareMajor) {
  setWindowTitle(QStringLiteral(u"脚本程序"));

  list_ = new ui::EditableList(kScriptRows, 2);
  list_->setHorizontalHeaderLabels({QStringLiteral(u" 行数"), QStringLiteral(u" 代码 ")});
  list_->horizontalHeaderItem(1)->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  list_->setAccessibleName(windowTitle());
  // 256 one-line rows: as high as a line and its editor need, no more.
  list_->verticalHeader()->setDefaultSectionSize(list_->fontMetrics().height() + 10);
  QPalette cells = list_->palette();
  cells.setColor(QPalette::Base, QColor(187, 255, 255));
  list_->setPalette(cells);
  for (int r = 0; r < kScriptRows; ++r) {
    list_->setCellText(r, 0, QStringLiteral(" "));
    list_->item(r, 0)->setTextAlignment(Qt::AlignCenter);
    list_->setCellText(r, 1, QString());
  }

  open_ = new QPushButton(QStringLiteral(u"打开程序"));
  read_ = new QPushButton(QStringLiteral(u"读设备程序"));
  write_ = new QPushButton(QStringLiteral(u"下载到设备"));
  save_ = new QPushButton(QStringLiteral(u"保存程序"));
  exit_ = new QPushButton(QStringLiteral(u"退出"));
  status_ = new QLabel;
  auto* buttons = new QHBoxLayout;
  for (QPushButton* b : {open_, read_, write_, save_}) buttons->addWidget(b);
  buttons->addStretch();
  buttons->addWidget(exit_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(list_, 1);
  layout->addWidget(status_);
  layout->addLayout(buttons);
  resize(640, 560);

  connect(open_, &QPushButton::clicked, this, &Script_Edit::OnOpen);
  connect(read_, &QPushButton::clicked, this, [this] { StartRead(false); });
  connect(write_, &QPushButton::clicked, this, &Script_Edit::OnWrite);
  connect(save_, &QPushButton::clicked, this, &Script_Edit::OnSave);
  connect(exit_, &QPushButton::clicked, this, &QDialog::reject);

  StartRead(true);
}

Script_Edit::~Script_Edit() { StopOperation(); }

void Script_Edit::SizeColumns() {
  const int d = list_->viewport()->width() / 16;
  list_->setColumnWidth(0, d * 10 / 4);
  list_->setColumnWidth(1, d * 14);
}

void Script_Edit::resizeEvent(QResizeEvent* event) {
  ToolDialog::resizeEvent(event);
  SizeColumns();
}

void Script_Edit::showEvent(QShowEvent* event) {
  ToolDialog::showEvent(event);
  SizeColumns();
}

std::vector<std::string> Script_Edit::Rows() {
  list_->CommitEdit();
  std::vector<std::string> rows;
  rows.reserve(kScriptRows);
  for (int r = 0; r < kScriptRows; ++r) rows.push_back(list_->cellText(r, 1).toStdString());
  return rows;
}

void Script_Edit::ShowProgram(const std::vector<std::string>& lines, bool endedAtEmptyLine) {
  list_->CancelEdit();
  const int n = static_cast<int>(lines.size());
  for (int r = 0; r < kScriptRows; ++r) {
    // The row where the card's script ended shows its number, as the card's
    // end; every row after the program is emptied.
    const bool numbered = r < n || (r == n && endedAtEmptyLine);
    list_->setCellText(r, 0, numbered ? RowNumber(r) : QStringLiteral(" "));
    list_->setCellText(r, 1, r < n ? Q(lines[static_cast<std::size_t>(r)]) : QString());
  }
}

void Script_Edit::StartRead(bool opening) {
  auto read = std::make_shared<ScriptRead>();
  status_->clear();
  RunOperation(
      [this, opening, read](platform::Clock& clock) {
        ScriptTools t{*link_, clock, user(), address_, firmwareMajor_};
        // Opening switches the card's log off first; a card that cannot be
        // reached is told once.
        if (opening && !SwitchLogOff(t)) {
          read->outcome = ScriptReadOutcome::NotConnected;
          return;
        }
        *read = ReadScript(t);
      },
      [this, read](bool completed) {
        if (!completed) return;
        switch (read->outcome) {
          case ScriptReadOutcome::Read:
            ShowProgram(read->split.lines, read->split.endedAtEmptyLine);
            status_->setText(LoadedText(QStringLiteral(u"已读取设备程序，共%1行"), read->split.lines));
            break;
          case ScriptReadOutcome::Skipped:
            status_->setText(QStringLiteral(u"此控制卡的固件不读取脚本程序"));
            break;
          case ScriptReadOutcome::NoLines:
            status_->setText(QStringLiteral(u"设备中没有脚本程序"));
            break;
          default:
            break;
        }
      });
}

void Script_Edit::OnWrite() {
  auto rows = std::make_shared<std::vector<std::string>>(Rows());
  auto outcome = std::make_shared<ScriptWriteOutcome>(ScriptWriteOutcome::NotConnected);
  status_->clear();
  RunOperation(
      [this, rows, outcome](platform::Clock& clock) {
        ScriptTools t{*link_, clock, user(), address_, firmwareMajor_};
        *outcome = WriteScript(t, *rows);
      },
      [this, outcome](bool completed) {
        if (completed && *outcome == ScriptWriteOutcome::Sent) status_->setText(QStringLiteral(u"已下载到设备"));
      });
}

void Script_Edit::OnOpen() {
  auto path = files().OpenFile({"打开程序", kScriptFilter, platform::UserFilesDir(), {}});
  if (!path) return;
  ScriptFile file = LoadScriptFile(*path, user());
  if (file.outcome != ScriptFileOutcome::Loaded) return;
  ShowProgram(file.lines, false);
  status_->setText(LoadedText(QStringLiteral(u"已打开程序，共%1行"), file.lines));
}

void Script_Edit::OnSave() {
  const std::vector<std::string> rows = Rows();
  auto path = files().SaveFile({"保存程序", kScriptFilter, platform::UserFilesDir(), kScriptProposedName});
  if (!path) return;
  if (SaveScriptFile(*path, rows, user())) status_->setText(QStringLiteral(u"程序已保存"));
}

}  // namespace card
