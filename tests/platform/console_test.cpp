#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"

namespace {

// A pipe standing in for standard input.
struct Pipe {
  int r = -1, w = -1;
  Pipe() {
    int fds[2];
    if (pipe(fds) == 0) {
      r = fds[0];
      w = fds[1];
    }
  }
  ~Pipe() {
    if (r >= 0) close(r);
    if (w >= 0) close(w);
  }
  void Write(const std::string& s) const { ASSERT_EQ(write(w, s.data(), s.size()), (ssize_t)s.size()); }
  void CloseWriter() {
    close(w);
    w = -1;
  }
};

// Reads every line until the end of input.
std::vector<std::string> ReadAll(int fd) {
  std::vector<std::string> lines;
  char buf[256];
  for (;;) {
    std::fill(std::begin(buf), std::end(buf), 'Z');
    int n = platform::ReadConsoleLine(fd, buf);
    if (n < 0) break;
    EXPECT_LE(n, 255);
    EXPECT_EQ(buf[n], '\0');
    lines.emplace_back(buf, n);
  }
  return lines;
}

std::vector<std::string> Lines(const std::string& input) {
  Pipe p;
  p.Write(input);
  p.CloseWriter();
  return ReadAll(p.r);
}

using V = std::vector<std::string>;

TEST(ConsoleLine, LineEndsAreRemovedAndEmptyLinesKept) {
  EXPECT_EQ(Lines("status\nkick 3\r\n\nsay hi\n"), (V{"status", "kick 3", "", "say hi"}));
  EXPECT_EQ(Lines("\r\n\r\n"), (V{"", ""}));
  EXPECT_EQ(Lines(""), V{});
}

TEST(ConsoleLine, LastLineWithoutLineEndIsDelivered) {
  EXPECT_EQ(Lines("first\ntail"), (V{"first", "tail"}));
  EXPECT_EQ(Lines("tail\r"), (V{"tail"}));
}

TEST(ConsoleLine, LoneCarriageReturnIsText) {
  EXPECT_EQ(Lines("a\rb\n\r\rc\r\n"), (V{"a\rb", "\r\rc"}));
}

TEST(ConsoleLine, LongLinesComeInPiecesOf255) {
  std::string longLine(600, 'x');
  longLine[0] = 'A';
  longLine[255] = 'B';
  longLine[510] = 'C';
  EXPECT_EQ(Lines(longLine + "\nnext\n"),
            (V{longLine.substr(0, 255), longLine.substr(255, 255), longLine.substr(510), "next"}));
}

TEST(ConsoleLine, LineOfExactlyFullPiecesGetsNoExtraEmptyLine) {
  std::string s255(255, 'a'), s510(510, 'b');
  EXPECT_EQ(Lines(s255 + "\nx\n"), (V{s255, "x"}));
  EXPECT_EQ(Lines(s255 + "\r\n\nx\n"), (V{s255, "", "x"}));
  EXPECT_EQ(Lines(s510 + "\n"), (V{s510.substr(0, 255), s510.substr(255)}));
  EXPECT_EQ(Lines(s255), (V{s255}));
}

TEST(ConsoleLine, CarriageReturnAtThePieceBoundary) {
  std::string s254(254, 'q');
  // CR as the 255th character, not followed by LF: it is text and the byte
  // after it starts the next piece.
  EXPECT_EQ(Lines(s254 + "\ry\n"), (V{s254 + "\r", "y"}));
  EXPECT_EQ(Lines(s254 + "\r\r\n"), (V{s254 + "\r"}));
  // CR LF right after 254 characters ends the line there.
  EXPECT_EQ(Lines(s254 + "\r\nz\n"), (V{s254, "z"}));
}

TEST(ConsoleLine, EndOfInputKeepsReportingFailure) {
  Pipe p;
  p.Write("only\n");
  p.CloseWriter();
  char buf[256];
  EXPECT_EQ(platform::ReadConsoleLine(p.r, buf), 4);
  EXPECT_EQ(platform::ReadConsoleLine(p.r, buf), -1);
  EXPECT_EQ(platform::ReadConsoleLine(p.r, buf), -1);
  EXPECT_EQ(platform::ReadConsoleLine(-1, buf), -1);
}

TEST(ConsoleLine, LineWrittenInFragmentsIsAssembled) {
  Pipe p;
  // Non-blocking, as a terminal may be left by another program: "no data yet"
  // must not be taken for the end of input.
  fcntl(p.r, F_SETFL, fcntl(p.r, F_GETFL) | O_NONBLOCK);
  std::thread writer([&] {
    const char* parts[] = {"ba", "n 1.2.", "3.4\r", "\nwho", "\n"};
    for (const char* part : parts) {
      platform::SleepMs(5);
      p.Write(part);
    }
    p.CloseWriter();
  });
  V lines = ReadAll(p.r);
  writer.join();
  EXPECT_EQ(lines, (V{"ban 1.2.3.4", "who"}));
}

// Points standard output at `fd` for the duration of `body`.
template <typename F>
void WithStdout(int fd, F body) {
  fflush(stdout);
  int saved = dup(1);
  ASSERT_GE(saved, 0);
  dup2(fd, 1);
  body();
  fflush(stdout);
  dup2(saved, 1);
  close(saved);
}

std::string Drain(int fd, size_t want) {
  std::string got;
  uint64_t deadline = platform::MonotonicUs() + 5000000;
  char buf[256];
  while (got.size() < want && platform::MonotonicUs() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    got.append(buf, n);
  }
  return got;
}

TEST(ConsoleTitle, WrittenOnlyToATerminal) {
  Pipe p;
  WithStdout(p.w, [] { platform::SetConsoleTitle("Quillmere"); });
  fcntl(p.r, F_SETFL, O_NONBLOCK);
  char c;
  EXPECT_EQ(read(p.r, &c, 1), -1) << "title written to a pipe";

  int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) GTEST_SKIP() << "no pseudo-terminal here";
  int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  WithStdout(slave, [] { platform::SetConsoleTitle("Quillmere \033]0;evil\007 (3/32)"); });
  const std::string want = "\033]0;Quillmere ]0;evil (3/32)\007";
  EXPECT_EQ(Drain(master, want.size()), want);
  close(slave);
  close(master);
}

}  // namespace
