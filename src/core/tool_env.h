// What every tool dialog gets from the main window: links made from the
// driver the tool loaded once, the clock its pauses run on, the shared state
// and SysCfg.ini. Tests put fakes in every place.
#pragma once

#include "core/main_state.h"
#include "core/ports.h"
#include "core/siblings.h"
#include "core/syscfg.h"
#include "link/link_factory.h"
#include "platform/clock.h"

namespace card {

struct ToolEnv {
  LinkFactory makeLink;
  // Each run of a dialog's operation makes its own cancellable clock over it.
  platform::Clock& clock;
  MainState& state;
  SysCfg cfg;
  Siblings& siblings;
  // Set by tests; otherwise message boxes and file dialogs over the dialog.
  UserPort* user = nullptr;
  FilePort* files = nullptr;
};

}  // namespace card
