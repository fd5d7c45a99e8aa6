#include <cstdio>
#include <cstdlib>

#include "server/server.h"

namespace {
// Before main: the hand-off exists, then the console thread starts and blocks
// on its first read, so a line typed during start-up waits for the main loop.
struct StaticInit {
  StaticInit() {
    MainLoopHandoff();
    StartConsoleThread();
  }
} staticInit;
}  // namespace

int main() {
  if (!StartServer()) {
    // The console thread still waits on its read: end without destructors.
    std::fflush(nullptr);
    std::_Exit(1);
  }
  RunMainLoop();
}
