// "MODBUS 主站请求配置": the card's 30 master requests as an editable list,
// row i for request i, with the RTU frame each row makes beside it; file
// open and save, and the upload of the first 20 requests on a worker. The
// dialog edits a copy of the card's record: a request goes into it as its
// line goes out to the card.
#pragma once

#include <QDialog>

#include <memory>
#include <optional>

#include "link/channel.h"
#include "link/record.h"
#include "modbus/master_table.h"
#include "ui/text.h"
#include "ui/tool_dialog.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace ui {
class EditableList;
}

namespace card::modbus {

// "添加请求报文": one request from drop-downs and number fields.
class AddRequestDialog : public QDialog {
  Q_OBJECT
 public:
  AddRequestDialog(UserPort* user, QWidget* parent = nullptr);
  const std::optional<RequestRecord>& request() const { return request_; }
  AddRequestValues values() const;

  QComboBox *slave, *address, *function, *count, *master, *delay;
  QLineEdit *multiplier, *divisor, *calPlus, *calMinus, *upper, *lower;
  QPushButton *ok, *cancel;

 private:
  void OnOk();
  UserPort* user_;
  std::optional<RequestRecord> request_;
};

class MasterTableDialog : public ui::ToolDialog {
  Q_OBJECT
 public:
  // link: a link of the dialog's own to the card's command port; record:
  // the copy of the card's record the dialog edits.
  MasterTableDialog(const ToolEnv& env, std::unique_ptr<Channel> link, DeviceStatusRecord& record,
                    QWidget* parent = nullptr);
  ~MasterTableDialog() override;

  static QString titleText() { return ui::T("MODBUS 主站请求配置"); }
  std::string workingFilePath() const;

  // The buttons.
  void LoadToDevice();  // "加载到设备"
  void ReadBack();      // "从设备回读"
  void OpenFromFile();  // "从文件打开"
  void SaveToFile();    // "另存文件"
  void AddRequest();    // "添加请求"
  void DeleteRequest(); // "删除请求"
  // The add step without its dialog: the request goes into the first free
  // row; false when all 30 rows are taken.
  bool AddRow(const RequestRecord& r);

  TableTexts rows() const;
  ui::EditableList* list() const { return list_; }
  QTableWidget* frames() const { return frames_; }
  const std::array<std::string, kColumns>& headers() const { return *headers_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Fill(const TableTexts& rows, std::size_t from, std::size_t to);
  void UpdateFrame(int row);
  void ApplyWidths();
  bool RowFilled(int row) const;
  void ShowErrors(const std::vector<std::string>& errors);
  std::string ToolDirPath() const;

  std::unique_ptr<Channel> link_;
  DeviceStatusRecord& record_;
  std::string address_;
  const std::array<std::string, kColumns>* headers_;
  bool weighing_ = false;
  bool uploaded_ = false;
  UploadReport report_;
  ui::EditableList* list_;
  QTableWidget* frames_;
  QProgressBar* bar_;
  QLabel* status_;
};

}  // namespace card::modbus
