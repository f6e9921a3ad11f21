#include "modbus/monitor_dialog.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QTimer>
#include <QVBoxLayout>

#include <utility>

#include "platform/codec.h"
#include "platform/files.h"
#include "platform/text.h"
#include "ui/text.h"

namespace card::modbus {
namespace {

using ui::Q;
using ui::T;


// The log shows lines; the card's hex lines end with CR LF.
QString LogText(const std::string& s) {
  QString text = Q(s);
  text.remove(QLatin1Char('\r'));
  return text;
}

}  // namespace

MonitorDialog::MonitorDialog(const ToolEnv& env, std::unique_ptr<Channel> link, QWidget* parent)
    : ToolDialog(env, parent), link_(std::move(link)), address_(env.state.selectedAddress()) {
  setWindowTitle(titleText());
  typeList_ = new QComboBox;
  for (const auto& item : MonitorTypeItems()) typeList_->addItem(Q(item));
  typeList_->setCurrentIndex(kMonitorAscii);
  auto* typeLabel = new QLabel(T("显示类型"));
  typeLabel->setBuddy(typeList_);
  auto* clear = new QPushButton(T("清除"));
  pause_ = new QPushButton(T("暂停"));
  auto* save = new QPushButton(T("保存日志"));
  for (QPushButton* b : {clear, pause_, save}) b->setAutoDefault(false);
  log_ = new QPlainTextEdit;
  log_->setReadOnly(true);
  log_->setAccessibleName(titleText());
  log_->setMaximumBlockCount(kLogLines);
  log_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  log_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  count_ = new QLabel;

  auto* top = new QHBoxLayout;
  top->addWidget(typeLabel);
  top->addWidget(typeList_);
  top->addStretch();
  for (QPushButton* b : {clear, pause_, save}) top->addWidget(b);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(log_, 1);
  layout->addWidget(count_);
  resize(900, 600);
  ShowCount();

  // Monitoring runs for as long as the dialog is open: its controls stay usable.
  for (QWidget* w : std::initializer_list<QWidget*>{typeList_, clear, pause_, save, log_}) KeepEnabledWhileRunning(w);
  connect(typeList_, &QComboBox::currentIndexChanged, this, [this](int index) { type_.store(index); });
  connect(clear, &QPushButton::clicked, this, &MonitorDialog::Clear);
  connect(pause_, &QPushButton::clicked, this, &MonitorDialog::TogglePause);
  connect(save, &QPushButton::clicked, this, &MonitorDialog::SaveLog);
  timer_ = new QTimer(this);
  timer_->setInterval(kDrainIntervalMs);
  connect(timer_, &QTimer::timeout, this, &MonitorDialog::Drain);
  QTimer::singleShot(0, this, [this] { Start(); });
}

MonitorDialog::~MonitorDialog() { StopOperation(); }

void MonitorDialog::Start() {
  if (started_) return;
  started_ = true;
  timer_->start();
  RunOperation([this](platform::Clock& clock) { end_ = RunMonitor(*link_, clock, address_, type_, queue_); },
               [this](bool completed) {
                 if (!completed) return;  // the dialog closes
                 // The note follows the blocks still queued, which the
                 // next ticks show.
                 endNote_ = QStringLiteral("\n") +
                            Q(end_ == MonitorEnd::ConnectFailed ? kMsgMonitorNoConnect : kMsgMonitorLinkClosed) +
                            QStringLiteral("\n");
                 Drain();
                 if (end_ == MonitorEnd::ConnectFailed) user().Message(kMsgConnectFailed, kTitleError, Icon::Error);
               });
}

void MonitorDialog::Drain() {
  if (paused_) return;
  // Block by block until this tick's share of text is made; one insertion,
  // so the log lays out its new lines once.
  std::string text;
  bool any = false;
  // Also bounded in time, for a machine slower than the text share assumes.
  QElapsedTimer spent;
  spent.start();
  while (text.size() < kDrainTextPerTick && spent.elapsed() < kDrainTimePerTickMs) {
    BlockQueue::Drained d = queue_.Drain(1);
    if (d.dropped > 0) text += platform::Format(platform::Tr("\n（有%zu个数据块来不及显示，已丢弃）\n"), d.dropped);
    if (d.blocks.empty()) break;
    any = true;
    const MonitorBlock& b = d.blocks.front();
    received_ += b.bytes.size();
    if (b.type == kMonitorRtu) {
      text += FormatRtuBlock(b, framer_);
    } else {
      framer_.Reset();
      text += FormatBlock(b);
    }
  }
  if (!text.empty()) Append(LogText(text));
  if (any) ShowCount();
  // Frames still waiting when the line went quiet are settled after a pause.
  if (!any && type_.load() == kMonitorRtu && framer_.pending() > 0)
    Append(LogText(FormatRtuIdle(env().clock.now(), framer_)));
  if (!endNote_.isEmpty() && queue_.size() == 0) {
    Append(LogText(FormatRtuIdle(env().clock.now(), framer_, true)));
    Append(std::exchange(endNote_, QString()));
  }
}

void MonitorDialog::Append(const QString& text) {
  QTextCursor cursor(log_->document());
  cursor.movePosition(QTextCursor::End);
  cursor.insertText(text);
  log_->verticalScrollBar()->setValue(log_->verticalScrollBar()->maximum());
}

void MonitorDialog::ShowCount() {
  QString text = T("已接收 %1 字节").arg(received_);
  if (paused_) text += T("（已暂停显示）");
  count_->setText(text);
}

void MonitorDialog::Clear() {
  log_->clear();
  received_ = 0;
  ShowCount();
}

void MonitorDialog::TogglePause() {
  paused_ = !paused_;
  pause_->setText(paused_ ? T("继续") : T("暂停"));
  ShowCount();
  if (!paused_) Drain();
}

QString MonitorDialog::logText() const { return log_->toPlainText(); }

void MonitorDialog::SaveLog() {
  std::string dir = env().cfg.path();
  dir = dir.substr(0, dir.rfind('/'));
  dir = dir.substr(0, dir.rfind('/') + 1);
  auto path = files().SaveFile({TR_NOOP("保存日志"), "Text Files (*.txt);;All Files (*)", dir, "485log.txt"});
  if (!path) return;
  const std::string text = platform::Utf8ToGbk(log_->toPlainText().replace(QLatin1Char('\n'), QStringLiteral("\r\n")).toStdString());
  if (!platform::WriteFileAtomic(*path, text.data(), text.size()))
    user().Message(platform::Tr("保存日志失败：文件不能写入。"), kTitleError, Icon::Error);
}

}  // namespace card::modbus
