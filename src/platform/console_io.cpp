#include <errno.h>
#include <poll.h>
#include <stdio.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <string>

#include "platform/platform.h"

namespace platform {
namespace {

constexpr int kMaxLineChars = 255;

// What a read leaves behind for the next read of the same descriptor.
struct LineState {
  // The previous read returned a full 255 characters without meeting the line
  // end, so a line end met first now closes that line instead of being an
  // empty line of its own.
  bool continued = false;
  // A byte read ahead (after a lone CR) that did not fit any more; -1 if none.
  int pending = -1;
};

std::mutex gStateMutex;
std::map<int, LineState> gStates;

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
  LineState state;
  {
    std::lock_guard<std::mutex> lock(gStateMutex);
    auto it = gStates.find(fd);
    if (it != gStates.end()) state = it->second;
  }

  int count = 0;
  bool ended = false;     // met the line end
  bool exhausted = false; // met the end of input / an error
  int pending = state.pending;
  state.pending = -1;
  while (count < kMaxLineChars) {
    int c = pending >= 0 ? pending : ReadByte(fd);
    pending = -1;
    if (c < 0) {
      exhausted = true;
      break;
    }
    if (c == '\n') {
      if (count == 0 && state.continued) {
        state.continued = false;  // the end of the line delivered before
        continue;
      }
      ended = true;
      break;
    }
    if (c == '\r') {
      int next = ReadByte(fd);
      if (next == '\n' || next < 0) {
        // CR LF ends the line; a CR right before the end of input is dropped.
        if (next < 0) {
          exhausted = true;
          if (count == 0) break;
          ended = true;
          break;
        }
        if (count == 0 && state.continued) {
          state.continued = false;
          continue;
        }
        ended = true;
        break;
      }
      // A lone CR is ordinary text; the byte after it is looked at next.
      buffer[count++] = '\r';
      pending = next;
      continue;
    }
    buffer[count++] = static_cast<char>(c);
  }
  state.continued = !ended && !exhausted && count == kMaxLineChars;
  state.pending = pending;
  buffer[count] = '\0';

  bool fail = exhausted && count == 0 && !ended;
  {
    std::lock_guard<std::mutex> lock(gStateMutex);
    if (fail || (!state.continued && state.pending < 0))
      gStates.erase(fd);  // nothing to carry; a reused descriptor starts afresh
    else
      gStates[fd] = state;
  }
  return fail ? -1 : count;
}

void ConsoleBackOff() { SleepMs(200); }

void SetConsoleTitle(const char* title) {
  if (!isatty(1)) return;
  // Control characters are left out: a title that comes from a script must not
  // be able to end the sequence early and drive the terminal.
  std::string text = "\033]0;";
  for (const char* p = title ? title : ""; *p; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c >= 0x20 && c != 0x7f) text += static_cast<char>(c);
  }
  text += '\007';
  // Through stdio so the title keeps its place among the log lines printed there.
  fwrite(text.data(), 1, text.size(), stdout);
  fflush(stdout);
}

}  // namespace platform
