#include "irc/line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using irc::LineReader;

using Lines = std::vector<std::string>;

Lines FeedAll(LineReader& reader, const Lines& chunks) {
  Lines lines;
  for (const std::string& chunk : chunks) reader.Feed(chunk.data(), chunk.size(), lines);
  return lines;
}

TEST(IrcLineReader, CutsAtCrLfAndKeepsTheUnfinishedTail) {
  LineReader r;
  EXPECT_EQ(FeedAll(r, {"PING :a\r\n:x JOIN #c\r\n:y PA"}), (Lines{"PING :a", ":x JOIN #c"}));
  EXPECT_EQ(r.Pending(), 5u);
  // The rest of the line arrives with the next read and is handled whole.
  EXPECT_EQ(FeedAll(r, {"RT #c\r\n"}), (Lines{":y PART #c"}));
  EXPECT_EQ(r.Pending(), 0u);
  // Empty lines and a bare LF inside a line are passed as they are.
  EXPECT_EQ(FeedAll(r, {"\r\na\nb\r\n"}), (Lines{"", "a\nb"}));
}

TEST(IrcLineReader, LineEndSplitBetweenReadsAndOneByteReads) {
  LineReader r;
  EXPECT_EQ(FeedAll(r, {"PING :x\r", "\n"}), (Lines{"PING :x"}));
  const std::string text = ":n!u@h PRIVMSG #c :!give b 5\r\nPING :y\r\n";
  std::vector<std::string> bytes;
  for (char c : text) bytes.emplace_back(1, c);
  EXPECT_EQ(FeedAll(r, bytes), (Lines{":n!u@h PRIVMSG #c :!give b 5", "PING :y"}));
}

TEST(IrcLineReader, OverlongLinesAreDroppedWholeAndReadingResumes) {
  LineReader r;
  const std::string longest(irc::kMaxReceivedLine, 'a');
  EXPECT_EQ(FeedAll(r, {longest + "\r\n"}), (Lines{longest}));

  // One byte too long, over several reads: none of it surfaces, not even
  // its tail as a line of its own; the next line does.
  const std::string tooLong = std::string(irc::kMaxReceivedLine, 'b') + "c :x PRIVMSG #c :!ban op";
  EXPECT_EQ(FeedAll(r, {tooLong.substr(0, 3000), tooLong.substr(3000), "\r", "\nPING :z\r\n"}),
            (Lines{"PING :z"}));

  // A server that never ends its line: memory stays bounded.
  const std::string flood(4096, 'x');
  for (int i = 0; i < 100; ++i) EXPECT_TRUE(FeedAll(r, {flood}).empty());
  EXPECT_LE(r.Pending(), irc::kMaxReceivedLine + 1);
  EXPECT_EQ(FeedAll(r, {"\r\nPING :ok\r\n"}), (Lines{"PING :ok"}));

  // "\r" as the last byte of an overlong run and "\n" in the next read.
  EXPECT_EQ(FeedAll(r, {std::string(irc::kMaxReceivedLine + 5, 'q') + "\r", "\nA\r\n"}),
            (Lines{"A"}));
}

TEST(IrcLineReader, NulBytesDropTheirLineOnlyAndResetForgetsTheTail) {
  LineReader r;
  const std::string data("PING :a\r\n:x JOIN\0 #c\r\nPING :b\r\n", 31);
  EXPECT_EQ(FeedAll(r, {data}), (Lines{"PING :a", "PING :b"}));
  FeedAll(r, {"half a li"});
  r.Reset();
  EXPECT_EQ(FeedAll(r, {"ne\r\n"}), (Lines{"ne"}));
}

TEST(IrcLineBuild, LimitsAndLineBreaksInTexts) {
  EXPECT_EQ(irc::BuildLine({"JOIN ", "#a\nQUIT"}), "JOIN #a\r\n");
  // 512 bytes with "\r\n" goes; one more is refused rather than cut.
  const std::string head = "PRIVMSG #c :";
  const std::string fits(irc::kMaxSentLine - 2 - head.size(), 'x');
  auto line = irc::BuildLine({"PRIVMSG ", "#c", " :", fits});
  ASSERT_TRUE(line);
  EXPECT_EQ(line->size(), irc::kMaxSentLine);
  EXPECT_FALSE(irc::BuildLine({"PRIVMSG ", "#c", " :", fits + "y"}));
  EXPECT_FALSE(irc::BuildLine({"PONG ", std::string(100000, 'p')}));
}

}  // namespace
