// Renders every window of the tool off-screen to PNG files, for a person to
// look at:
//   ui_shots <folder> [prefix]
// in the language the environment chooses (LANGUAGE=en for English), on a
// 1920x1080 screen; QT_SCALE_FACTOR=1.5 for the 150 % rendering. With a
// prefix only the windows whose name starts with it are drawn. Not a test:
// it checks nothing, it only draws (the layout test checks the same windows).
#include <QApplication>

#include <cstdio>
#include <cstdlib>

#include "platform/i18n.h"
#include "support/gallery.h"

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen:configfile=" CARD_SCREEN_CONFIG, 0);
  platform::UseLanguage(platform::LanguageSources::FromEnvironment(), CARD_LOCALE_DIR);
  QApplication app(argc, argv);
  const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
  const QString prefix = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
  testing_support::Gallery gallery;
  gallery.Walk(
      [&](const QString& name, QWidget& window) {
        const QString path = folder + "/" + name + ".png";
        window.grab().save(path);
        std::printf("%s\n", path.toLocal8Bit().constData());
      },
      prefix);
  return 0;
}
