// A private network namespace for end-to-end runs and benchmarks: only a
// loopback interface exists in it, so nothing sent there can leave the
// machine, and broadcasts reach only the virtual cards.
#pragma once

#include <string>

namespace harness {

// Moves the calling process into a new network namespace and brings lo up.
// Call it before any thread starts (unshare refuses a threaded process).
// Tries plain CLONE_NEWNET first (root), then a user namespace with a uid map.
// Returns "" on success, otherwise why it could not be done.
std::string EnterPrivateNetwork();

}  // namespace harness
