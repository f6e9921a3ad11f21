// The per-user choice of language in a window's menu: "语言" lists the
// system's language and every language the tool has a catalogue for, each
// under its own name. The choice is saved in the per-user settings (never in
// SysCfg.ini, which the sibling programs share) and takes effect at the next
// start; the windows are not rebuilt in a running tool.
#pragma once

#include <QAction>
#include <QWidget>

#include <string>

#include "core/ports.h"

namespace ui {

// Builds the "语言" item with its menu. The user is told where the choice
// went (or that it could not be saved) through user.
QAction* LanguageMenuAction(QWidget* window, card::UserPort& user, const std::string& localeDir);

}  // namespace ui
