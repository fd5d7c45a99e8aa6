// A whole server in the test's process: started on a free loopback port in a
// temporary working directory (its log, ban file and scripts live there),
// driven one main-loop iteration at a time, and torn down at the end.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "support/temp_dir.h"

class InProcessServer {
 public:
  // Writes `mainLua` (when not empty) as Main.lua into the working directory.
  explicit InProcessServer(std::string mainLua = "");
  ~InProcessServer();
  InProcessServer(const InProcessServer&) = delete;
  InProcessServer& operator=(const InProcessServer&) = delete;

  // Runs the start-up. `adjust` runs after the game mode's top level; the
  // fixture has already set port 0 (any free port) and announce 0 there.
  // False when the network did not start.
  bool Start(const std::function<void()>& adjust = {});
  // One main-loop iteration (packets, periodic steps, timers, hand-off).
  void Pump();
  // Pumps until `condition` holds or `timeoutMs` passes; true when it held.
  bool PumpUntil(const std::function<bool()>& condition, uint32_t timeoutMs = 3000);

  uint16_t Port() const;
  const std::string& Dir() const { return dir_.Path(); }
  // The whole of a file in the working directory ("" when missing).
  std::string ReadFile(const std::string& name) const;
  void WriteFile(const std::string& name, const std::string& contents) const;

 private:
  support::TempDir dir_;
  support::ScopedChdir chdir_{dir_.Path()};
  bool started_ = false;
};
