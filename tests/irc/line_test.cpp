#include "irc/line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using irc::LineReader;

std::vector<std::string> FeedAll(LineReader& reader, const std::vector<std::string>& chunks) {
  std::vector<std::string> lines;
  for (const std::string& chunk : chunks) reader.Feed(chunk.data(), chunk.size(), lines);
  return lines;
}

using Lines = std::vector<std::string>;

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

TEST(IrcLineParse, PrefixCommandAndParameters) {
  auto l = irc::ParsePrefixedLine(":nick!~user@host.example PRIVMSG #chan :hello there");
  ASSERT_TRUE(l);
  EXPECT_EQ(l->prefix.nick, "nick");
  EXPECT_EQ(l->prefix.user, "~user");
  EXPECT_EQ(l->prefix.host, "host.example");
  EXPECT_EQ(l->command, "PRIVMSG");
  EXPECT_EQ(l->parameters, "#chan :hello there");

  l = irc::ParsePrefixedLine(":irc.test.local 353 bot = #main :@op +voice");
  ASSERT_TRUE(l);
  EXPECT_EQ(l->prefix.nick, "irc.test.local");
  EXPECT_TRUE(l->prefix.user.empty());
  EXPECT_TRUE(l->prefix.host.empty());

  l = irc::ParsePrefixedLine(":a!b QUIT");
  ASSERT_TRUE(l);
  EXPECT_EQ(l->prefix.user, "b");
  EXPECT_TRUE(l->prefix.host.empty());
  EXPECT_EQ(l->command, "QUIT");
  EXPECT_TRUE(l->parameters.empty());

  // Garbage: no prefix, no space after it, a prefix of nothing.
  EXPECT_FALSE(irc::ParsePrefixedLine("JOIN #c"));
  EXPECT_FALSE(irc::ParsePrefixedLine(":lonely"));
  EXPECT_FALSE(irc::ParsePrefixedLine(""));
  l = irc::ParsePrefixedLine(": JOIN");
  ASSERT_TRUE(l);
  EXPECT_TRUE(l->prefix.nick.empty());
  EXPECT_EQ(l->command, "JOIN");
}

TEST(IrcLineParse, PingAndBangCommands) {
  EXPECT_EQ(irc::PingParameter("PING :irc.test.local"), "irc.test.local");
  EXPECT_EQ(irc::PingParameter("PING token"), "token");
  EXPECT_EQ(irc::PingParameter("PING "), "");
  EXPECT_EQ(irc::PingParameter("PING :"), "");
  EXPECT_FALSE(irc::PingParameter("PING"));
  EXPECT_FALSE(irc::PingParameter("PINGX :a"));
  EXPECT_FALSE(irc::PingParameter("ping :a"));
  EXPECT_FALSE(irc::PingParameter(":srv PING :a"));

  EXPECT_EQ(irc::BangCommand("#c :!give b 5"), "give b 5");
  EXPECT_EQ(irc::BangCommand("bot :!seen bob"), "seen bob");
  EXPECT_EQ(irc::BangCommand("#c !help"), "help");
  EXPECT_EQ(irc::BangCommand("#c :!"), "");
  EXPECT_FALSE(irc::BangCommand("#c :hello !x"));
  EXPECT_FALSE(irc::BangCommand("#c x!y"));
  EXPECT_FALSE(irc::BangCommand("#c :"));
  EXPECT_FALSE(irc::BangCommand("#c"));
  EXPECT_FALSE(irc::BangCommand(""));
}

TEST(IrcLineParse, NamesReplies) {
  auto r = irc::ParseNamesReply("bot = #main :@op +voice plain ~owner &adm %half @+both");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->channel, "#main");
  ASSERT_EQ(r->names.size(), 7u);
  const std::pair<const char*, unsigned char> want[] = {
      {"op", irc::kModeOp},     {"voice", irc::kModeVoice},  {"plain", 0},
      {"owner", irc::kModeOwner}, {"adm", irc::kModeAdmin}, {"half", irc::kModeHalfOp},
      {"+both", irc::kModeOp}};
  for (size_t i = 0; i < 7; ++i) {
    EXPECT_EQ(r->names[i].nick, want[i].first);
    EXPECT_EQ(r->names[i].modes, want[i].second) << want[i].first;
  }
  // Doubled and trailing blanks name nobody.
  r = irc::ParseNamesReply("bot @ #x :a  b ");
  ASSERT_TRUE(r);
  ASSERT_EQ(r->names.size(), 2u);
  EXPECT_EQ(r->names[1].nick, "b");
  EXPECT_EQ(irc::ParseNamesReply("bot = #empty :")->names.size(), 0u);

  EXPECT_FALSE(irc::ParseNamesReply("bot = &local :a b"));
  EXPECT_FALSE(irc::ParseNamesReply("bot = #main a b"));
  EXPECT_FALSE(irc::ParseNamesReply(""));

  EXPECT_STREQ(irc::LevelString(irc::kModeVoice | irc::kModeOp), "@");
  EXPECT_STREQ(irc::LevelString(irc::kModeOwner | irc::kModeVoice), "~");
  EXPECT_STREQ(irc::LevelString(0), "-");
}

TEST(IrcLineBuild, LimitsAndLineBreaksInTexts) {
  EXPECT_EQ(irc::BuildLine({"PRIVMSG ", "#c", " :", "hi"}), "PRIVMSG #c :hi\r\n");
  // A text cannot start a second line.
  EXPECT_EQ(irc::BuildLine({"PRIVMSG ", "#c", " :", "hi\r\nQUIT"}), "PRIVMSG #c :hi\r\n");
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
