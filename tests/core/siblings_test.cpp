// The sibling programs start from where their executables are, which an
// installed copy keeps apart from the working folder they share with it.
#include "core/siblings.h"

#include <gtest/gtest.h>

#include "support/fake_ports.h"

TEST(Siblings, StartFromTheirProgramFolderWhileTheWorkingFolderStaysTheUsers) {
  testing_support::FakeProcesses processes;
  card::Siblings beside(processes, "/build/subsys/");
  EXPECT_EQ(beside.programDir(), "/build/subsys/");
  EXPECT_EQ(beside.StartIfNotRunning("progedit"), card::SiblingStart::Started);

  card::Siblings installed(processes, "/home/u/.local/share/cardsetup/", "/usr/lib/cardsetup/subsys/");
  EXPECT_EQ(installed.subsysDir(), "/home/u/.local/share/cardsetup/");
  EXPECT_EQ(installed.StartIfNotRunning("fwloader"), card::SiblingStart::Started);
  EXPECT_EQ(processes.started,
            (std::vector<std::string>{"/build/subsys/progedit", "/usr/lib/cardsetup/subsys/fwloader"}));

  // The window learns the program folder after it was built.
  card::Siblings late(processes, "/home/u/.local/share/cardsetup/");
  late.setProgramDir("/usr/lib/cardsetup/subsys/");
  processes.running = {"FWLOADER"};
  EXPECT_EQ(late.StartIfNotRunning("fwloader"), card::SiblingStart::AlreadyRunning);
  EXPECT_EQ(late.StartIfNotRunning("progedit3"), card::SiblingStart::Started);
  EXPECT_EQ(processes.started.back(), "/usr/lib/cardsetup/subsys/progedit3");
}
