// "脚本程序": the Qt shell over the script operations. The list is the
// program: what it shows up to its last line with code is what is saved and
// written. Card reads and writes run on the dialog's worker; the dialog
// starts by switching the card's log off and reading its script.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/tool_env.h"
#include "link/channel.h"
#include "ui/tool_dialog.h"

class QLabel;
class QPushButton;

namespace ui {
class EditableList;
}

namespace card {

class Script_Edit : public ui::ToolDialog {
  Q_OBJECT
 public:
  // link: the dialog's own link on the file port; firmwareMajor: from the
  // WorkingRecord, it decides whether the card's script is read.
  Script_Edit(const ToolEnv& env, std::unique_ptr<Channel> link, int firmwareMajor, QWidget* parent = nullptr);
  ~Script_Edit() override;

  ui::EditableList* list() const { return list_; }
  QPushButton* openButton() const { return open_; }
  QPushButton* readButton() const { return read_; }
  QPushButton* writeButton() const { return write_; }
  QPushButton* saveButton() const { return save_; }
  QPushButton* exitButton() const { return exit_; }
  QLabel* statusLabel() const { return status_; }

  // The code cells of every row, a pending edit included.
  std::vector<std::string> Rows();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void ShowProgram(const std::vector<std::string>& lines, bool endedAtEmptyLine);
  void SizeColumns();
  void StartRead(bool opening);
  void OnOpen();
  void OnWrite();
  void OnSave();

  std::unique_ptr<Channel> link_;
  std::string address_;
  int firmwareMajor_;
  ui::EditableList* list_;
  QLabel* status_;
  QPushButton *open_, *read_, *write_, *save_, *exit_;
};

}  // namespace card
