// "帮助": nine topics, each opening a page shipped with the tool (help/ next
// to the executable) that explains the task and links its tutorial video.
#pragma once

#include <QDialog>
#include <QString>
#include <QUrl>

#include <functional>
#include <vector>

#include "core/ports.h"

namespace card {

struct HelpTopic {
  const char* button;  // the button's text
  const char* page;    // file name below the help folder
};

class Help : public QDialog {
  Q_OBJECT
 public:
  // Opens a page; false when nothing on this machine can show it.
  using Opener = std::function<bool(const QUrl&)>;

  // helpDir ends with a separator. user shows what could not be opened;
  // opener defaults to the desktop's handler.
  Help(QString helpDir, UserPort& user, QWidget* parent = nullptr, Opener opener = {});

  static const std::vector<HelpTopic>& topics();
  QString pagePath(const HelpTopic& topic) const { return helpDir_ + QString::fromUtf8(topic.page); }

 private:
  void Open(const HelpTopic& topic);

  QString helpDir_;
  UserPort& user_;
  Opener opener_;
};

}  // namespace card
