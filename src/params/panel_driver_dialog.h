// "更多目标设置": the panel driver lists over a copy of the WorkingRecord.
// "固化到设备" writes them on a worker; the copy goes back to the main window
// however the dialog closes.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "core/tool_env.h"
#include "link/channel.h"
#include "link/record.h"
#include "params/panel_driver.h"
#include "ui/tool_dialog.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace card {

class CELL_PARA : public ui::ToolDialog {
  Q_OBJECT
 public:
  // The recognition wizard ("智能识别") comes with its own feature. It gets
  // the dialog: the lists (values/setValues), the record copy
  // (record/setRecord), the link and the card's address; on success it closes
  // the dialog with accept(). Without a hook the button stays disabled.
  using RecognitionHook = std::function<void(CELL_PARA& dialog)>;

  // link: the dialog's own link (not connected); the card is the one whose
  // record copy is edited (env.state.selectedAddress()).
  CELL_PARA(const ToolEnv& env, const DeviceStatusRecord& copy, std::unique_ptr<Channel> link,
            QWidget* parent = nullptr);
  ~CELL_PARA() override;

  void SetRecognitionHook(RecognitionHook hook);
  // Runs the recognition wizard's work on the dialog's worker. Every control
  // is held while it runs, "取消" too (the wizard's own windows stop it); the
  // close box still cancels the run and waits for it before the dialog
  // closes. False when an operation already runs.
  bool RunRecognition(std::function<void(platform::Clock& clock)> body, std::function<void(bool completed)> finished);

  const DeviceStatusRecord& record() const { return record_; }
  void setRecord(const DeviceStatusRecord& record) { record_ = record; }
  PanelDriverValues values() const;
  void setValues(const PanelDriverValues& values);
  Channel& link() { return *link_; }
  const std::string& address() const { return address_; }

 private:
  void Build();
  void OnSave();

  DeviceStatusRecord record_;
  std::unique_ptr<Channel> link_;
  std::string address_;
  RecognitionHook recognition_;
  bool saved_ = false;

  QComboBox *width_, *height_, *scan_, *chip_, *foldWidth_, *uFold_, *dzFold_, *snake_, *foldRows_, *conversion_;
  QPushButton *save_, *cancel_, *recognize_;
  QLabel* status_;
};

}  // namespace card
