#include "storage/flash_save_dialog.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardItemModel>
#include <QVBoxLayout>

#include "platform/workdir.h"
#include "storage/flash_save.h"
#include "ui/ui_thread.h"
#include "ui/text.h"

namespace card {

namespace {

using ui::Q;
}  // namespace

// The read's progress from the worker: the position and the status text
// ("读取：%d%%", "读取成功") inside the bar, posted to the UI thread. Only the
// read drives the bar; a download leaves it showing the last read.
class FlashSave::BarPort : public ProgressPort {
 public:
  explicit BarPort(QProgressBar* bar) : bar_(bar) {}
  // Posted through the tool's one queue to the UI thread; the bar is only
  // touched there, and not at all once it is gone.
  void Progress(int percent) override {
    ui::PostToUi(bar_, [bar = bar_, percent] { bar->setValue(percent); });
  }
  void Status(const std::string& text) override {
    ui::PostToUi(bar_, [bar = bar_, text] { bar->setFormat(Q(text)); });
  }

 private:
  QProgressBar* bar_;
};

FlashSave::FlashSave(const ToolEnv& env, std::unique_ptr<Channel> link, QWidget* parent)
    : ToolDialog(env, parent), link_(std::move(link)), address_(env.state.selectedAddress()) {
  setWindowTitle(QStringLiteral(u"读取控制卡存储数据"));

  auto* readGroup = new QGroupBox(QStringLiteral(u"读取"));
  auto* readLabel = new QLabel(QStringLiteral(u"选择数据区:"));
  regions_ = new QComboBox;
  auto* model = qobject_cast<QStandardItemModel*>(regions_->model());
  for (const FlashRegion& r : FlashRegions()) {
    regions_->addItem(QString::fromUtf8(r.item));
    // Listed as the card names them; the ones without an address cannot be read.
    if (!r.readable() && model) {
      QStandardItem* item = model->item(regions_->count() - 1);
      item->setEnabled(false);
      item->setToolTip(QString::fromUtf8(kMsgRegionUndefined));
    }
  }
  regions_->setCurrentIndex(0);
  readLabel->setBuddy(regions_);
  bar_ = new QProgressBar;
  bar_->setRange(0, 100);
  bar_->setValue(0);
  bar_->setTextVisible(true);
  bar_->setAlignment(Qt::AlignCenter);
  bar_->setFormat(QString());
  read_ = new QPushButton(QStringLiteral(u"读取"));
  cancel_ = new QPushButton(QStringLiteral(u"取消"));
  auto* readGrid = new QGridLayout(readGroup);
  readGrid->addWidget(readLabel, 0, 0);
  readGrid->addWidget(regions_, 0, 1, 1, 2);
  readGrid->addWidget(bar_, 1, 0, 1, 3);
  auto* readButtons = new QHBoxLayout;
  readButtons->addStretch();
  readButtons->addWidget(read_);
  readButtons->addWidget(cancel_);
  readGrid->addLayout(readButtons, 2, 0, 1, 3);
  readGrid->setColumnStretch(2, 1);

  auto* downloadGroup = new QGroupBox(QStringLiteral(u"下载"));
  auto* slotLabel = new QLabel(QStringLiteral(u"选择数据区:"));
  slots_ = new QComboBox;
  for (const std::string& item : LongTextSlotItems()) slots_->addItem(Q(item));
  slots_->setCurrentIndex(0);
  slotLabel->setBuddy(slots_);
  download_ = new QPushButton(QStringLiteral(u"下载数据"));
  auto* downloadGrid = new QGridLayout(downloadGroup);
  downloadGrid->addWidget(slotLabel, 0, 0);
  downloadGrid->addWidget(slots_, 0, 1);
  downloadGrid->addWidget(download_, 0, 2);
  downloadGrid->setColumnStretch(1, 1);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(readGroup);
  layout->addWidget(downloadGroup);
  layout->addStretch();
  setMinimumWidth(420);

  barPort_ = std::make_unique<BarPort>(bar_);
  KeepEnabledWhileRunning(cancel_);
  read_->setDefault(true);
  connect(read_, &QPushButton::clicked, this, &FlashSave::OnRead);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  connect(download_, &QPushButton::clicked, this, &FlashSave::OnDownload);
}

FlashSave::~FlashSave() { StopOperation(); }

void FlashSave::OnRead() {
  const int region = regions_->currentIndex();
  bar_->setFormat(QString());
  RunOperation([this, region](platform::Clock& clock) {
    StorageTools t{*link_, clock, user(), files(), *barPort_, address_, platform::UserFilesDir()};
    DumpRegion(t, region);
  });
}

void FlashSave::OnDownload() {
  const int slot = slots_->currentIndex();
  RunOperation([this, slot](platform::Clock& clock) {
    StorageTools t{*link_, clock, user(), files(), *barPort_, address_, platform::UserFilesDir()};
    DownloadLongText(t, slot);
  });
}

}  // namespace card
