#include "command_stream.h"

#include <gtest/gtest.h>

namespace {

struct Collected {
  std::vector<sim::Command> commands;
  std::vector<std::size_t> progress;
  sim::CommandStream stream{[this](sim::Command&& c) { commands.push_back(std::move(c)); },
                            [this](const sim::Command&, std::size_t n) { progress.push_back(n); }};
  std::vector<std::string> lines() const {
    std::vector<std::string> out;
    for (const auto& c : commands) out.push_back(c.line);
    return out;
  }
};

TEST(CommandStream, SplitsSeveralLinesAndSkipsLeadingBlanks) {
  Collected c;
  c.stream.Feed("led clearall\n  led p 6 0 0\nset ld 2\n set soft  32 16  \n");
  EXPECT_EQ(c.lines(), (std::vector<std::string>{"led clearall", "led p 6 0 0", "set ld 2", "set soft  32 16  "}));
  EXPECT_EQ(c.commands[3].words, (std::vector<std::string>{"set", "soft", "32", "16"}));
}

TEST(CommandStream, JoinsALineSplitOverSeveralReads) {
  Collected c;
  for (char ch : std::string("set Sys_Crc 1a2b \n")) c.stream.Feed(std::string(1, ch));
  ASSERT_EQ(c.commands.size(), 1u);
  EXPECT_EQ(c.commands[0].words[2], "1a2b");
  EXPECT_FALSE(c.stream.HasPartialLine());
}

TEST(CommandStream, PayloadsKeepTheirLineFeedsAndBinaryBytes) {
  Collected c;
  c.stream.Feed(std::string("file cmd 0 7 0 4 \nab\n\ncd"));
  EXPECT_TRUE(c.commands.empty()) << "one byte of the program is still missing";
  c.stream.Feed(std::string("\nquery all_in_struct_tcp \n"));
  ASSERT_EQ(c.commands.size(), 2u);
  EXPECT_EQ(c.commands[0].payload, "ab\n\ncd\n");
  EXPECT_TRUE(c.commands[0].complete);
  EXPECT_EQ(c.commands[0].wireBytes, 18u + 7u);
  EXPECT_EQ(c.commands[1].line, "query all_in_struct_tcp ");

  Collected m;
  m.stream.Feed(std::string("file write_modbus 0x9 4\n", 24));
  m.stream.Feed(std::string("\n\0\x3f\xc0set LOG 0 \n", 16));
  ASSERT_EQ(m.commands.size(), 2u);
  EXPECT_EQ(m.commands[0].payload, std::string("\n\0\x3f\xc0", 4));
  EXPECT_EQ(m.commands[1].line, "set LOG 0 ");
}

TEST(CommandStream, ReportsPayloadProgressForPacing) {
  Collected c;
  std::string header = "file cmd 1 2000 0 4 \n";
  c.stream.Feed(header + std::string(1200 - header.size(), 'x'));
  ASSERT_FALSE(c.progress.empty());
  EXPECT_EQ(c.progress.back(), 1200u);
  c.stream.Feed(std::string(800 + header.size(), 'y'));
  EXPECT_EQ(c.progress.back(), 2000u + header.size());
  ASSERT_EQ(c.commands.size(), 1u);
}

TEST(CommandStream, FileEndNeedsNoLineEnd) {
  Collected c;
  c.stream.Feed("file e");
  EXPECT_TRUE(c.commands.empty());
  c.stream.Feed("ndfile cmdremove 2\n");
  EXPECT_EQ(c.lines(), (std::vector<std::string>{"file end", "file cmdremove 2"}));
}

TEST(CommandStream, BrightnessWithoutLineEndCompletesAtTheNextCommandTheEndOrIdle) {
  Collected glued;
  glued.stream.Feed("set ld 19led clearall\n");
  EXPECT_EQ(glued.lines(), (std::vector<std::string>{"set ld 19", "led clearall"}));

  Collected closed;
  closed.stream.Feed("set ld 7");
  EXPECT_TRUE(closed.commands.empty());
  EXPECT_TRUE(closed.stream.HasPartialLine());
  closed.stream.Finish();
  EXPECT_EQ(closed.lines(), (std::vector<std::string>{"set ld 7"}));

  Collected idle;
  idle.stream.Feed("set ld 5");
  idle.stream.FlushIdle();
  idle.stream.Feed("set ld 6 \n");
  EXPECT_EQ(idle.lines(), (std::vector<std::string>{"set ld 5", "set ld 6 "}));
}

TEST(CommandStream, AShortPayloadIsDeliveredIncompleteWhenTheStreamEnds) {
  Collected c;
  c.stream.Feed("file data 5 10 0 5 \nabc");
  c.stream.Finish();
  ASSERT_EQ(c.commands.size(), 1u);
  EXPECT_FALSE(c.commands[0].complete);
  EXPECT_EQ(c.commands[0].payload, "abc");
}

TEST(CommandStream, AnOversizedPayloadHeaderIsAPlainLine) {
  Collected c;
  c.stream.Feed("file cmd 0 99999999 0 4 \nset ld 3 \n");
  EXPECT_EQ(c.lines(), (std::vector<std::string>{"file cmd 0 99999999 0 4 ", "set ld 3 "}));
  EXPECT_FALSE(c.commands[0].hasPayload);
}

TEST(CommandStream, CountsOnlyTheBytesOfDeliveredCommands) {
  Collected c;
  c.stream.Feed("  led clearall\n  led p 6");
  EXPECT_EQ(c.stream.consumed(), 17u) << "the first line and the blanks around it, not the half line";
  c.stream.Feed(" 0 0\nfile cmd 0 3 352441c2 4 \nab");
  EXPECT_EQ(c.stream.consumed(), 29u) << "a payload command counts once its payload is complete";
  c.stream.Feed("cfile e");
  EXPECT_EQ(c.stream.consumed(), 29u + 28u);
  c.stream.Feed("ndset ld 9");
  EXPECT_EQ(c.stream.consumed(), 29u + 28u + 8u);
  c.stream.FlushIdle();
  EXPECT_EQ(c.stream.consumed(), 29u + 28u + 8u + 8u);
  EXPECT_EQ(c.lines().back(), "set ld 9");
}

}  // namespace
