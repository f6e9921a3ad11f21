#include "ui/file_port.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

#include "ui/text.h"
#include "ui/ui_thread.h"

namespace ui {
namespace {

std::optional<std::string> Ask(QWidget* parent, const card::FileRequest& r, QFileDialog::AcceptMode mode) {
  std::optional<std::string> chosen;
  QObject* target = parent ? static_cast<QObject*>(parent) : qApp;
  RunOnObjectThread(target, [&] {
    QFileDialog dialog(parent, Q(platform::TrC("file dialog", r.title)), QString::fromStdString(r.startDir),
                       Q(platform::Tr(r.filter)));
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    // Qt's own dialog: its buttons and the overwrite question are the same on every desktop.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    // The overwrite question is asked below, in the tool's language.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.setLabelText(QFileDialog::Accept, mode == QFileDialog::AcceptOpen ? TC("file dialog", "打开") : T("保存"));
    dialog.setLabelText(QFileDialog::Reject, T("取消"));
    dialog.setLabelText(QFileDialog::FileName, T("文件名"));
    dialog.setLabelText(QFileDialog::FileType, T("文件类型"));
    if (!r.proposedName.empty()) dialog.selectFile(QString::fromStdString(r.proposedName));
    while (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
      const QString path = dialog.selectedFiles().first();
      if (mode == QFileDialog::AcceptSave && QFileInfo::exists(path)) {
        QMessageBox ask(QMessageBox::Question, Q(platform::TrC("file dialog", r.title)),
                        T("%1 已存在。\n要替换它吗？").arg(QFileInfo(path).fileName()),
                        QMessageBox::Yes | QMessageBox::No, parent);
        ask.button(QMessageBox::Yes)->setText(T("是"));
        ask.button(QMessageBox::No)->setText(T("否"));
        ask.setDefaultButton(QMessageBox::No);
        if (ask.exec() != QMessageBox::Yes) continue;
      }
      chosen = QDir::toNativeSeparators(path).toStdString();
      break;
    }
  });
  return chosen;
}

}  // namespace

std::optional<std::string> FileDialogs::OpenFile(const card::FileRequest& request) {
  return Ask(parent_, request, QFileDialog::AcceptOpen);
}

std::optional<std::string> FileDialogs::SaveFile(const card::FileRequest& request) {
  return Ask(parent_, request, QFileDialog::AcceptSave);
}

}  // namespace ui
