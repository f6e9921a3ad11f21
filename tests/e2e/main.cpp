// The end-to-end tests run inside a private network namespace that this
// main() enters before anything starts a thread; the cardsim processes the
// tests start inherit it. Where namespaces are not allowed, every test skips.
#include <gtest/gtest.h>

#include <cstdlib>

#include "e2e/fixture.h"
#include "harness/netns.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // cardctl speaks the language of its environment and of the user's
  // setting; the tests read its Chinese unless they ask for another.
  ::setenv("LANGUAGE", "zh", 1);
  ::setenv("XDG_CONFIG_HOME", "/nonexistent/cardsetup-tests", 1);
  e2e::SetNamespaceProblem(harness::EnterPrivateNetwork());
  return RUN_ALL_TESTS();
}
