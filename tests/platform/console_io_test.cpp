#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "support/test_client.h"

namespace {

using V = std::vector<std::string>;

// A pipe standing in for standard input.
struct Pipe {
  int fds[2] = {-1, -1};
  int& r = fds[0];
  int& w = fds[1];
  Pipe() { EXPECT_EQ(pipe(fds), 0); }
  ~Pipe() {
    close(r);
    CloseWriter();
  }
  void Write(const std::string& s) const {
    ASSERT_EQ(write(w, s.data(), s.size()), static_cast<ssize_t>(s.size()));
  }
  void CloseWriter() {
    close(w);
    w = -1;
  }
};

// Reads every line until the end of input.
V ReadAll(int fd) {
  V lines;
  char buf[256];
  for (;;) {
    std::fill(std::begin(buf), std::end(buf), 'Z');
    const int n = platform::ReadConsoleLine(fd, buf);
    if (n < 0) return lines;
    EXPECT_LE(n, 255);
    if (n > 255) return lines;
    EXPECT_EQ(buf[n], '\0') << "line of " << n << " not terminated";
    lines.emplace_back(buf, n);
  }
}

TEST(ConsoleLine, SplitsLinesAsTyped) {
  std::string longLine(600, 'x');
  longLine[0] = 'A';
  longLine[255] = 'B';
  longLine[510] = 'C';
  const std::string s254(254, 'q');
  const std::string s255(255, 'a');
  const std::string s510(510, 'a');
  const std::pair<std::string, V> cases[] = {
      // Line ends are removed, empty lines kept, a last line without end delivered.
      {"status\nkick 3\r\n\nsay hi\n", {"status", "kick 3", "", "say hi"}},
      {"\r\n\r\n", {"", ""}},
      {"", {}},
      {"first\ntail", {"first", "tail"}},
      {"tail\r", {"tail"}},
      {"a\rb\n\r\rc\r\n", {"a\rb", "\r\rc"}},  // a lone CR is text
      // A long line is cut at 255 characters and the rest of it dropped.
      {longLine + "\nnext\n", {longLine.substr(0, 255), "next"}},
      {s255 + "\nx\n", {s255, "x"}},
      {s255 + "\r\n\nx\n", {s255, "", "x"}},
      {s510 + "\n", {s255}},
      {s255, {s255}},
      // A CR as the 255th character, not followed by LF, is text; CR LF right
      // after 254 ends the line.
      {s254 + "\ry\n", {s254 + "\r"}},
      {s254 + "\r\r\n", {s254 + "\r"}},
      {s254 + "\r\nz\n", {s254, "z"}},
  };
  char buf[256];
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(testing::Message() << "case " << i);
    Pipe p;
    p.Write(cases[i].first);
    p.CloseWriter();
    EXPECT_EQ(ReadAll(p.r), cases[i].second);
    // The end keeps being reported.
    EXPECT_EQ(platform::ReadConsoleLine(p.r, buf), -1);
    EXPECT_EQ(platform::ReadConsoleLine(-1, buf), -1);
  }
}

TEST(ConsoleLine, LineWrittenInFragmentsIsAssembled) {
  Pipe p;
  // Non-blocking, as a terminal may be left by another program: "no data yet"
  // must not be taken for the end of input.
  fcntl(p.r, F_SETFL, fcntl(p.r, F_GETFL) | O_NONBLOCK);
  std::thread writer([&] {
    for (const char* part : {"ba", "n 1.2.", "3.4\r", "\nwho", "\n"}) {
      platform::SleepMs(5);
      p.Write(part);
    }
    p.CloseWriter();
  });
  V lines = ReadAll(p.r);
  writer.join();
  EXPECT_EQ(lines, (V{"ban 1.2.3.4", "who"}));
}

// Sets the title with standard output pointed at `fd`.
void SetTitleInto(int fd, const char* title) {
  fflush(stdout);
  const int saved = dup(1);
  dup2(fd, 1);
  platform::SetConsoleTitle(title);
  fflush(stdout);
  dup2(saved, 1);
  close(saved);
}

TEST(ConsoleTitle, WrittenOnlyToATerminalWithoutControlCharacters) {
  Pipe p;
  SetTitleInto(p.w, "Quillmere");
  fcntl(p.r, F_SETFL, O_NONBLOCK);
  char c;
  EXPECT_EQ(read(p.r, &c, 1), -1) << "title written to a pipe";

  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    GTEST_SKIP() << "no pseudo-terminal here";
  }
  const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
  // An encoded C1 control goes too (C2 9C would end the title); C2 A9 is a letter.
  SetTitleInto(slave, "Quillmere \033]0;evil\007\xc2\x9c\xc2\x9d (3/32) \xc2\xa9\xc2");
  const std::string want = "\033]0;Quillmere ]0;evil (3/32) \xc2\xa9\xc2\007";
  std::string got;
  fcntl(master, F_SETFL, O_NONBLOCK);
  auto readSome = [&] {
    char buf[256];
    const ssize_t n = read(master, buf, sizeof buf);
    if (n > 0) got.append(buf, n);
    return got.size() >= want.size();
  };
  support::WaitUntil(readSome, 5000);
  EXPECT_EQ(got, want);
  close(slave);
  close(master);
}

}  // namespace
