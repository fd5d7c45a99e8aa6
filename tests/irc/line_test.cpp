// The line reader's memory bound and reset, and the sent lines' limit; how
// received bytes are cut into lines is a table in bot_test.cpp.
#include "irc/line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(IrcLine, ReaderMemoryStaysBoundedAndResetForgetsTheTail) {
  irc::LineReader r;
  std::vector<std::string> lines;
  r.Feed("PING :a\r\n:y PA", 14, lines);
  EXPECT_EQ(lines.size() + r.Pending(), 1u + 5u);
  r.Reset();
  r.Feed("ne\r\n", 4, lines);
  EXPECT_EQ(lines.back(), "ne");
  // A server that never ends its line.
  const std::string flood(4096, 'x');
  for (int i = 0; i < 100; ++i) r.Feed(flood.data(), flood.size(), lines);
  EXPECT_TRUE(lines.size() == 2 && r.Pending() <= irc::kMaxReceivedLine + 1) << r.Pending();
  r.Feed("\r\nPING :ok\r\n", 12, lines);
  EXPECT_EQ(lines.back(), "PING :ok");
}

TEST(IrcLine, SentLinesOf512BytesGoAndLongerOnesAreRefusedRatherThanCut) {
  const std::string fits(irc::kMaxSentLine - 2 - 12, 'x');
  EXPECT_EQ(irc::BuildLine({"PRIVMSG ", "#c", " :", fits}).value_or("").size(), irc::kMaxSentLine);
  EXPECT_FALSE(irc::BuildLine({"PRIVMSG ", "#c", " :", fits + "y"}));
}

}  // namespace
