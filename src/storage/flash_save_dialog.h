// "读取控制卡存储数据": the Qt shell over DumpRegion and DownloadLongText.
// Both run on the dialog's worker; "取消" stops a running read within one
// chunk (the dump file is then not written) and closes the dialog.
#pragma once

#include <memory>
#include <string>

#include "core/tool_env.h"
#include "link/channel.h"
#include "ui/tool_dialog.h"

class QComboBox;
class QProgressBar;
class QPushButton;

namespace card {

class FlashSave : public ui::ToolDialog {
  Q_OBJECT
 public:
  // link: the dialog's own link on the file port (ui::MakeDialogLink); it
  // talks to the selected card.
  FlashSave(const ToolEnv& env, std::unique_ptr<Channel> link, QWidget* parent = nullptr);
  ~FlashSave() override;

  QComboBox* regionList() const { return regions_; }
  QComboBox* slotList() const { return slots_; }
  QProgressBar* progressBar() const { return bar_; }
  QPushButton* readButton() const { return read_; }
  QPushButton* cancelButton() const { return cancel_; }
  QPushButton* downloadButton() const { return download_; }

 private:
  class BarPort;
  void OnRead();
  void OnDownload();

  std::unique_ptr<Channel> link_;
  std::string address_;
  std::unique_ptr<BarPort> barPort_;
  QComboBox* regions_;
  QComboBox* slots_;
  QProgressBar* bar_;
  QPushButton *read_, *cancel_, *download_;
};

}  // namespace card
