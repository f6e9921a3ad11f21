// Stand-in for the program editor: it shows what the tool handed it through
// SysCfg.ini (card address, program number, panel size), edits that slot's
// working file and saves it; "保存并更新" also asks the tool to upload it.
#include <QApplication>
#include <QTimer>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdlib>

#include "core/syscfg.h"
#include "platform/workdir.h"
#include "programs/editor_files.h"
#include "programs/program_files.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // The working folder the tool uses too: SysCfg.ini and ledsys/.
  const std::string subsys = platform::WorkingDir();
  card::SysCfg cfg = card::SysCfg::ForTool();
  const int number = card::HandedProgramNumber(cfg);
  auto key = [&](const char* section, const char* name) {
    return QString::fromStdString(cfg.read(section, name, "", 260));
  };

  QWidget window;
  window.setWindowTitle(QStringLiteral(u"节目编辑"));
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral(u"设备IP"), new QLabel(key("RemotIP", "RemotIP")));
  form->addRow(QStringLiteral(u"节目号"), new QLabel(key("LEDPARA", "PROGRAMID")));
  form->addRow(QStringLiteral(u"宽度"), new QLabel(key("LEDPARA", "WIDTH")));
  form->addRow(QStringLiteral(u"高度"), new QLabel(key("LEDPARA", "HEIGHT")));
  auto* path = new QLabel(number > 0 ? QString::fromStdString(card::WorkingFilePath(subsys, number))
                                     : QStringLiteral(u"（未指定节目）"));
  path->setTextInteractionFlags(Qt::TextSelectableByMouse);
  form->addRow(QStringLiteral(u"节目文件"), path);

  auto* text = new QPlainTextEdit;
  text->setPlainText(QString::fromStdString(card::LoadProgramText(subsys, number)));
  auto* textLabel = new QLabel(QStringLiteral(u"节目内容"));
  textLabel->setBuddy(text);

  auto* save = new QPushButton(QStringLiteral(u"保存"));
  auto* saveAndUpload = new QPushButton(QStringLiteral(u"保存并更新"));
  auto* close = new QPushButton(QStringLiteral(u"关闭"));
  for (QPushButton* b : {save, saveAndUpload}) b->setEnabled(number > 0);
  auto store = [&, text](bool upload) {
    if (!card::SaveProgramText(subsys, cfg, number, text->toPlainText().toStdString(), upload))
      QMessageBox::critical(&window, QStringLiteral(u"错误"), QStringLiteral(u"保存节目文件失败！"));
  };
  QObject::connect(save, &QPushButton::clicked, &window, [store] { store(false); });
  QObject::connect(saveAndUpload, &QPushButton::clicked, &window, [store] { store(true); });
  QObject::connect(close, &QPushButton::clicked, &window, &QWidget::close);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  for (QPushButton* b : {save, saveAndUpload, close}) buttons->addWidget(b);
  auto* layout = new QVBoxLayout(&window);
  layout->addLayout(form);
  layout->addWidget(textLabel);
  layout->addWidget(text, 1);
  layout->addLayout(buttons);
  window.resize(520, 420);
  window.show();
  // CARD_SHOT=<png>: render the window, save it and end (screenshots).
  if (const char* shot = std::getenv("CARD_SHOT"))
    QTimer::singleShot(100, &window, [&window, shot] { QApplication::exit(window.grab().save(shot) ? 0 : 1); });
  return app.exec();
}
