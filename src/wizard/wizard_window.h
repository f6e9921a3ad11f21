// The windows of "智能识别": three yes/no questions, the count of lit points,
// and the countdown "智能识别中" with a picture of where to look.
#pragma once

#include <QDialog>
#include <QWidget>
#include <functional>
#include <optional>

#include "wizard/wizard.h"

class QComboBox;
class QLabel;
class QProgressBar;

namespace card {

// A question answered with "是" or "否"; closing the window answers neither.
class YesNoWindow : public QDialog {
  Q_OBJECT
 public:
  YesNoWindow(const QString& title, QWidget* parent);
  // Shows the question modally and waits for the answer.
  WizardAnswer Ask(const QString& text);
  void setQuestion(const QString& text);

 private:
  QLabel* question_;
};

// "屏幕参数识别": fully lit, brighter, number of lines.
class HScan_Regon : public YesNoWindow {
  Q_OBJECT
 public:
  explicit HScan_Regon(QWidget* parent = nullptr);
};

// "观察区域的亮点是否连续".
class Continue_line : public YesNoWindow {
  Q_OBJECT
 public:
  explicit Continue_line(QWidget* parent = nullptr);
};

// "蛇形方向识别".
class Regonize_DZSU : public YesNoWindow {
  Q_OBJECT
 public:
  explicit Regonize_DZSU(QWidget* parent = nullptr);
};

// "折线行数识别": how many points light up in the observation area.
class Regonize_DHS : public QDialog {
  Q_OBJECT
 public:
  explicit Regonize_DHS(QWidget* parent = nullptr);
  // The chosen position (the first item preselected each time); nothing
  // after "取消" or the close box.
  std::optional<int> Choose();

 private:
  QComboBox* count_;
};

// A 4 × 4 grid of modules with the top-right one marked: where the person
// looks during recognition.
class ObservationAreaView : public QWidget {
  Q_OBJECT
 public:
  explicit ObservationAreaView(QWidget* parent = nullptr);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// "智能识别中": the seconds left, a progress bar and the picture; no
// buttons. Closing it calls onClosed (the run stops); it also hides itself
// once the seconds have run out.
class CCountdownDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CCountdownDlg(QWidget* parent = nullptr);
  void Start(int seconds);
  void Update(int remaining, int percent);
  void setOnClosed(std::function<void()> onClosed) { onClosed_ = std::move(onClosed); }
  int remaining() const { return remaining_; }

 public slots:
  void reject() override;

 private:
  void ShowRemaining();

  QLabel* seconds_;
  QProgressBar* bar_;
  int remaining_ = 0;
  std::function<void()> onClosed_;
};

}  // namespace card
