#include "irc/line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;
constexpr size_t kMax = irc::kMaxReceivedLine;

Lines FeedAll(irc::LineReader& reader, const Lines& chunks) {
  Lines lines;
  for (const std::string& chunk : chunks) reader.Feed(chunk.data(), chunk.size(), lines);
  return lines;
}
Lines Bytes(const std::string& text) {
  Lines bytes;
  for (char c : text) bytes.emplace_back(1, c);
  return bytes;
}

// Reads as they arrive, and the lines a fresh reader cuts from them.
TEST(IrcLineReader, CutsReadsIntoLines) {
  const std::string tooLong = std::string(kMax, 'b') + "c :x PRIVMSG #c :!ban op";
  const struct {
    Lines chunks, want;
  } cases[] = {
      // The unfinished tail is kept until the next read completes it.
      {{"PING :a\r\n:x JOIN #c\r\n:y PA", "RT #c\r\n"}, {"PING :a", ":x JOIN #c", ":y PART #c"}},
      // Empty lines and a bare LF inside a line are passed as they are.
      {{"\r\na\nb\r\n"}, {"", "a\nb"}},
      {{"PING :x\r", "\n"}, {"PING :x"}},
      {Bytes(":n!u@h PRIVMSG #c :!give b 5\r\nPING :y\r\n"), {":n!u@h PRIVMSG #c :!give b 5", "PING :y"}},
      {{std::string(kMax, 'a') + "\r\n"}, {std::string(kMax, 'a')}},
      // One byte too long, over several reads: none of it surfaces, not even
      // its tail as a line of its own; the next line does.
      {{tooLong.substr(0, 3000), tooLong.substr(3000), "\r", "\nPING :z\r\n"}, {"PING :z"}},
      // "\r" as the last byte of an overlong run and "\n" in the next read.
      {{std::string(kMax + 5, 'q') + "\r", "\nA\r\n"}, {"A"}},
      // A NUL byte drops its line only.
      {{std::string("PING :a\r\n:x JOIN\0 #c\r\nPING :b\r\n", 31)}, {"PING :a", "PING :b"}},
  };
  for (const auto& c : cases) {
    irc::LineReader r;
    EXPECT_EQ(FeedAll(r, c.chunks), c.want) << c.chunks[0].substr(0, 40);
    EXPECT_EQ(r.Pending(), 0u);
  }

  irc::LineReader r;
  EXPECT_TRUE(FeedAll(r, {"PING :a\r\n:y PA"}).size() == 1 && r.Pending() == 5u);
  r.Reset();
  EXPECT_EQ(FeedAll(r, {"ne\r\n"}), (Lines{"ne"})) << "a reset forgets the tail";
  // A server that never ends its line: memory stays bounded.
  for (int i = 0; i < 100; ++i) EXPECT_TRUE(FeedAll(r, {std::string(4096, 'x')}).empty());
  EXPECT_LE(r.Pending(), kMax + 1);
  EXPECT_EQ(FeedAll(r, {"\r\nPING :ok\r\n"}), (Lines{"PING :ok"}));
}

TEST(IrcLineBuild, LimitsAndLineBreaksInTexts) {
  EXPECT_EQ(irc::BuildLine({"JOIN ", "#a\nQUIT"}), "JOIN #a\r\n");
  // 512 bytes with "\r\n" goes; one more is refused rather than cut.
  const std::string fits(irc::kMaxSentLine - 2 - 12, 'x');
  auto line = irc::BuildLine({"PRIVMSG ", "#c", " :", fits});
  ASSERT_TRUE(line);
  EXPECT_EQ(line->size(), irc::kMaxSentLine);
  EXPECT_FALSE(irc::BuildLine({"PRIVMSG ", "#c", " :", fits + "y"}));
  EXPECT_FALSE(irc::BuildLine({"PONG ", std::string(100000, 'p')}));
}

}  // namespace
