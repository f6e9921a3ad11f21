// Makes a new link handle for a port from the driver the tool loaded once.
// Tool dialogs get one of these instead of loading the driver again; tests
// hand out fake channels.
#pragma once

#include <functional>
#include <memory>

#include "link/channel.h"

namespace card {

using LinkFactory = std::function<std::unique_ptr<Channel>(int port)>;

}  // namespace card
