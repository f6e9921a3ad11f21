#include "ui/language_menu.h"

#include <QActionGroup>
#include <QMenu>

#include "platform/i18n.h"
#include "platform/text.h"
#include "ui/text.h"

namespace ui {

QAction* LanguageMenuAction(QWidget* window, card::UserPort& user, const std::string& localeDir) {
  auto* item = new QAction(T("语言"), window);
  auto* menu = new QMenu(window);
  auto* group = new QActionGroup(menu);
  group->setExclusive(true);
  // What is saved now; nothing saved means the system's language.
  const std::string saved = platform::ReadLanguageSetting();
  auto add = [&](const QString& text, const std::string& code) {
    QAction* a = menu->addAction(text);
    a->setCheckable(true);
    a->setChecked(code == saved);
    a->setData(QString::fromStdString(code));
    group->addAction(a);
  };
  add(T("跟随系统"), std::string());
  for (const platform::LanguageChoice& l : platform::AvailableLanguages(localeDir))
    add(QString::fromStdString(l.name), l.code);
  QObject::connect(group, &QActionGroup::triggered, window, [&user](QAction* a) {
    const std::string code = a->data().toString().toStdString();
    if (code == platform::ReadLanguageSetting()) return;
    if (!platform::WriteLanguageSetting(code)) {
      user.Message(platform::Format(platform::Tr("语言设置无法保存到 %s"), platform::UserSettingsPath().c_str()),
                   TR_NOOP("语言"), card::Icon::Error);
      return;
    }
    user.Message(TR_NOOP("语言设置已保存，下次启动本软件时生效。"), TR_NOOP("语言"), card::Icon::Information);
  });
  item->setMenu(menu);
  return item;
}

}  // namespace ui
