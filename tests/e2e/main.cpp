// The end-to-end tests run inside a private network namespace that this
// main() enters before anything starts a thread; the cardsim processes the
// tests start inherit it. Where namespaces are not allowed, every test skips.
#include <gtest/gtest.h>

#include "e2e/fixture.h"
#include "harness/netns.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  e2e::SetNamespaceProblem(harness::EnterPrivateNetwork());
  return RUN_ALL_TESTS();
}
