#include <cstring>
#include <thread>

#include "core/log.h"
#include "server/server.h"

namespace {
constexpr int kLineBufferSize = 256;
}

void HandleConsoleLine(const char* line) {
  platform::Handoff& handoff = MainLoopHandoff();
  handoff.Wait();
  LogPrintFileOnly(1, "[CONSOLE INPUT] %s", line);
  // The commands join here.
  handoff.Signal();
}

void ConsoleInputThread() {
  char line[kLineBufferSize];
  for (;;) {
    std::memset(line, 0, sizeof line);
    const int length = platform::ReadConsoleLine(0, line);
    if (length < 0) {
      platform::ConsoleBackOff();
      continue;
    }
    if (length == 0) continue;  // an empty line neither takes nor gives back the hand-off
    HandleConsoleLine(line);
  }
}

void StartConsoleThread() {
  std::thread(ConsoleInputThread).detach();
}
