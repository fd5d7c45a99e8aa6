#include <errno.h>
#include <poll.h>
#include <stdio.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/platform.h"

namespace platform {
namespace {

constexpr int kMaxLineChars = 255;

// One byte from `fd`: 0..255, or -1 at end of input or on an error. Waits on a
// non-blocking descriptor instead of reporting "no data" as the end.
int ReadByte(int fd) {
  for (;;) {
    unsigned char c;
    ssize_t n = read(fd, &c, 1);
    if (n == 1) return c;
    if (n == 0) return -1;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, -1) < 0 && errno != EINTR) return -1;
      continue;
    }
    return -1;
  }
}

}  // namespace

// Reads byte by byte: the console thread is the only reader and lines are
// short, so nothing is buffered beyond the line being read and another reader
// of the same descriptor never loses input to us.
int ReadConsoleLine(int fd, char* buffer) {
  int count = 0;
  bool ended = false;  // met the line end
  int c = ReadByte(fd);
  while (c >= 0 && count < kMaxLineChars) {
    if (c == '\n') {
      ended = true;
      break;
    }
    const int next = c == '\r' ? ReadByte(fd) : -2;
    // CR LF ends the line; a CR right before the end of input is dropped; a
    // lone CR is ordinary text and the byte after it is looked at next.
    if (c == '\r' && next == '\n') {
      ended = true;
      break;
    }
    if (c == '\r' && next == -1) {
      c = -1;
      ended = count > 0;
      break;
    }
    buffer[count++] = static_cast<char>(c);
    c = next == -2 ? ReadByte(fd) : next;
  }
  buffer[count] = '\0';
  // The rest of an overlong line is dropped up to its end: run as a command
  // of its own it could do anything (a pasted text ending in "exit").
  if (count == kMaxLineChars && !ended) {
    while (c >= 0 && c != '\n') c = ReadByte(fd);
    return count;
  }
  return c < 0 && !ended && count == 0 ? -1 : count;
}

void ConsoleBackOff() { SleepMs(200); }

bool IsEncodedC1Control(const char* text, size_t size, size_t at) {
  if (at + 1 >= size || static_cast<unsigned char>(text[at]) != 0xC2) return false;
  const unsigned char next = static_cast<unsigned char>(text[at + 1]);
  return next >= 0x80 && next <= 0x9F;
}

void SetConsoleTitle(const char* title) {
  if (!isatty(1)) return;
  // Control characters, encoded C1 ones too, are left out: a title that comes
  // from a script must not be able to end the sequence early and drive the
  // terminal.
  std::string text = "\033]0;";
  const char* from = title ? title : "";
  const size_t size = std::strlen(from);
  for (size_t i = 0; i < size; ++i) {
    if (IsEncodedC1Control(from, size, i)) {
      ++i;
      continue;
    }
    unsigned char c = static_cast<unsigned char>(from[i]);
    if (c >= 0x20 && c != 0x7f) text += static_cast<char>(c);
  }
  text += '\007';
  // Through stdio so the title keeps its place among the log lines printed there.
  fwrite(text.data(), 1, text.size(), stdout);
  fflush(stdout);
}

}  // namespace platform
