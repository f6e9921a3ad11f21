#include "wizard/wizard_window.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include "ui/text.h"

namespace card {
namespace {

// The result codes of the yes/no windows; a closed window rejects (0).
constexpr int kYes = 1;
constexpr int kNo = 2;

constexpr int kGrid = 4;

QPushButton* Button(const QString& text) {
  auto* b = new QPushButton(text);
  // Enter must not answer for the person: every answer is a click.
  b->setAutoDefault(false);
  b->setDefault(false);
  return b;
}

Qt::WindowFlags WindowFlags(Qt::WindowFlags flags) {
  return (flags & ~Qt::WindowContextHelpButtonHint) | Qt::WindowCloseButtonHint;
}

}  // namespace

YesNoWindow::YesNoWindow(const QString& title, QWidget* parent) : QDialog(parent) {
  setWindowTitle(title);
  setWindowFlags(WindowFlags(windowFlags()));
  question_ = new QLabel;
  question_->setTextFormat(Qt::PlainText);
  question_->setWordWrap(true);
  question_->setAlignment(Qt::AlignCenter);
  question_->setMinimumWidth(300);
  QFont f = question_->font();
  f.setPointSizeF(f.pointSizeF() * 1.2);
  question_->setFont(f);
  auto* yes = Button(ui::T("是"));
  auto* no = Button(ui::T("否"));
  connect(yes, &QPushButton::clicked, this, [this] { done(kYes); });
  connect(no, &QPushButton::clicked, this, [this] { done(kNo); });
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(yes);
  buttons->addWidget(no);
  buttons->addStretch(1);
  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(20, 20, 20, 16);
  root->setSpacing(18);
  root->addWidget(question_);
  root->addLayout(buttons);
}

void YesNoWindow::setQuestion(const QString& text) {
  question_->setText(text);
  setAccessibleDescription(text);
}

WizardAnswer YesNoWindow::Ask(const QString& text) {
  setQuestion(text);
  adjustSize();
  switch (exec()) {
    case kYes: return WizardAnswer::Yes;
    case kNo: return WizardAnswer::No;
    default: return WizardAnswer::Closed;
  }
}

HScan_Regon::HScan_Regon(QWidget* parent) : YesNoWindow(ui::T("屏幕参数识别"), parent) {}
Continue_line::Continue_line(QWidget* parent) : YesNoWindow(ui::T("观察区域的亮点是否连续"), parent) {}
Regonize_DZSU::Regonize_DZSU(QWidget* parent) : YesNoWindow(ui::T("蛇形方向识别"), parent) {}

Regonize_DHS::Regonize_DHS(QWidget* parent) : QDialog(parent) {
  setWindowTitle(ui::T("折线行数识别"));
  setWindowFlags(WindowFlags(windowFlags()));
  count_ = new QComboBox;
  for (const auto& item : PointCountItems()) count_->addItem(ui::Q(platform::Tr(item)));
  auto* label = new QLabel(ui::T(kAskPointCount));
  label->setBuddy(count_);
  auto* ok = Button(ui::T("确定"));
  auto* cancel = Button(ui::T("取消"));
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  auto* row = new QHBoxLayout;
  row->addWidget(label);
  row->addWidget(count_, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(20, 20, 20, 16);
  root->setSpacing(18);
  root->addLayout(row);
  root->addLayout(buttons);
  setMinimumWidth(300);
}

std::optional<int> Regonize_DHS::Choose() {
  count_->setCurrentIndex(0);
  if (exec() != QDialog::Accepted) return std::nullopt;
  return count_->currentIndex();
}

ObservationAreaView::ObservationAreaView(QWidget* parent) : QWidget(parent) {
  setAccessibleName(ui::T("观察区域"));
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize ObservationAreaView::sizeHint() const { return {4 * 44 + 2, 4 * 24 + 2}; }

void ObservationAreaView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing, false);
  const int cellW = (width() - 2) / kGrid, cellH = (height() - 2) / kGrid;
  for (int row = 0; row < kGrid; ++row)
    for (int col = 0; col < kGrid; ++col) {
      const QRect cell(1 + col * cellW, 1 + row * cellH, cellW - 2, cellH - 2);
      const bool observed = row == 0 && col == kGrid - 1;
      p.setPen(QPen(observed ? QColor(0xC0, 0x10, 0x10) : QColor(0x60, 0x60, 0x60), observed ? 2 : 1));
      p.setBrush(observed ? QColor(0xFF, 0x50, 0x30) : QColor(0x30, 0x30, 0x30));
      p.drawRect(cell);
      // A few dots, so the squares read as LED modules.
      p.setPen(Qt::NoPen);
      p.setBrush(observed ? QColor(0xFF, 0xE0, 0x80) : QColor(0x55, 0x55, 0x55));
      for (int y = cell.top() + 5; y < cell.bottom() - 2; y += 6)
        for (int x = cell.left() + 5; x < cell.right() - 2; x += 6) p.drawEllipse(QPoint(x, y), 1, 1);
    }
}

CCountdownDlg::CCountdownDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(ui::T("智能识别中"));
  setWindowFlags(WindowFlags(windowFlags()));
  setWindowModality(Qt::ApplicationModal);
  seconds_ = new QLabel;
  QFont f = seconds_->font();
  f.setPointSizeF(f.pointSizeF() * 1.3);
  seconds_->setFont(f);
  seconds_->setAlignment(Qt::AlignCenter);
  bar_ = new QProgressBar;
  bar_->setRange(0, 100);
  bar_->setAccessibleName(ui::T("智能识别中"));
  auto* note = new QLabel(ui::T("观察区域：屏幕右上角第一块单元板"));
  note->setAlignment(Qt::AlignCenter);
  auto* picture = new ObservationAreaView;
  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(20, 16, 20, 16);
  root->setSpacing(10);
  root->addWidget(seconds_);
  root->addWidget(bar_);
  root->addWidget(note);
  root->addWidget(picture, 0, Qt::AlignHCenter);
  setMinimumWidth(300);
  ShowRemaining();
}

void CCountdownDlg::Start(int seconds) {
  remaining_ = seconds;
  bar_->setValue(0);
  ShowRemaining();
}

void CCountdownDlg::Update(int remaining, int percent) {
  remaining_ = remaining;
  bar_->setValue(percent);
  ShowRemaining();
  if (remaining < 1) hide();
}

void CCountdownDlg::ShowRemaining() { seconds_->setText(ui::T("倒计时：%1秒").arg(remaining_)); }

// The close box and Escape both end up here (QDialog's close handling
// rejects); the countdown's own end only hides the window.
void CCountdownDlg::reject() {
  if (onClosed_) onClosed_();
  hide();
}

}  // namespace card
