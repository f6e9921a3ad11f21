// File dialogs for the tool dialogs: open and save with a filter, a start
// folder and a proposed name; saving asks before replacing a file.
#pragma once

#include <QPointer>
#include <QWidget>

#include "core/ports.h"

namespace ui {

class FileDialogs : public card::FilePort {
 public:
  explicit FileDialogs(QWidget* parent) : parent_(parent) {}
  std::optional<std::string> OpenFile(const card::FileRequest& request) override;
  std::optional<std::string> SaveFile(const card::FileRequest& request) override;

 private:
  QPointer<QWidget> parent_;
};

}  // namespace ui
