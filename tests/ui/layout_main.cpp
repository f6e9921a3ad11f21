// The layout test runs in the language its environment chooses (LANGUAGE,
// as the tool reads it) on an off-screen 1920x1080 screen; QT_SCALE_FACTOR
// gives the 150 % run.
#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>

#include "platform/i18n.h"

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen:configfile=" CARD_SCREEN_CONFIG, 0);
  platform::UseLanguage(platform::LanguageSources::FromEnvironment(), CARD_LOCALE_DIR);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
