// "Modbus数据读写": one page of 64 of the card's Modbus registers decoded
// as one of eleven types, edited in place and written back, and the
// single-register write "写单个寄存器". Every exchange runs on the dialog's
// worker over a link of its own, connected per operation.
#pragma once

#include <QDialog>

#include <array>
#include <memory>
#include <string>

#include "link/channel.h"
#include "modbus/register_view.h"
#include "ui/text.h"
#include "ui/tool_dialog.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace ui {
class EditableList;
}

namespace card::modbus {

// "写单个寄存器": a register, a type and a value; "发送" takes the value
// only when it is a whole value of the type.
class SingleWriteDialog : public QDialog {
  Q_OBJECT
 public:
  SingleWriteDialog(int type, UserPort* user, QWidget* parent = nullptr);
  int registerNumber() const;
  int type() const;
  const std::string& bytes() const { return bytes_; }

  QComboBox *address, *typeList;
  QLineEdit* value;
  QPushButton *send, *cancel;

 private:
  void OnSend();
  UserPort* user_;
  std::string bytes_;
};

class RegisterViewDialog : public ui::ToolDialog {
  Q_OBJECT
 public:
  RegisterViewDialog(const ToolEnv& env, std::unique_ptr<Channel> link, QWidget* parent = nullptr);
  ~RegisterViewDialog() override;

  static QString titleText() { return ui::T("Modbus数据读写"); }

  // The opening: "set LOG 0 \n", then the first page. Started once the
  // dialog runs; public for tests.
  void Start();
  void Read();         // "读取"
  void Write();        // "写入"
  void SingleWrite();  // "写单个寄存器"
  // The single write without its dialog.
  void SendSingle(int registerNumber, int type, const std::string& bytes);

  GridTexts cells() const;
  ui::EditableList* grid() const { return grid_; }
  QComboBox* typeList() const { return type_; }
  QComboBox* startList() const { return start_; }
  QLabel* statusLabel() const { return status_; }
  const PageImage& page() const { return image_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void OnChoice(QComboBox* combo, int* last);
  void RunRead(bool logOffFirst, std::function<bool(platform::Clock&)> before = {});
  void Show(int type, std::uint32_t start);
  bool HasEdits() const;
  bool MayDropEdits();
  void ApplyWidths();
  std::uint32_t startRegister() const;

  std::unique_ptr<Channel> link_;
  std::string address_;
  QComboBox* type_;
  QComboBox* start_;
  ui::EditableList* grid_;
  std::array<QLabel*, kGridRows> rowLabels_{};
  QLabel* status_;
  int lastType_ = 0;
  int lastStart_ = 0;
  // The page as last read and the texts it gave; what a write starts from.
  PageImage image_;
  GridTexts shown_{};
  int shownType_ = -1;
  std::uint32_t shownStart_ = 0;
  PageRead pending_;  // the worker's read, taken over once it has ended
  bool started_ = false;
};

}  // namespace card::modbus
