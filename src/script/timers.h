// The script timers (up to 100 Lua functions called by name at an interval,
// a number of times or forever) and the game clock (one game minute per real
// second, from 12:00), both advanced once per main-loop pass.
#pragma once

#include <cstdint>
#include <string>

inline constexpr int kMaxTimers = 100;
inline constexpr uint32_t kMinTimerIntervalMs = 50;
inline constexpr uint32_t kMaxTimerIntervalMs = 1000000;
inline constexpr uint32_t kMaxTimerCount = 1000000;
inline constexpr uint32_t kGameMinuteMs = 1000;

class TimerPool {
 public:
  // No timers; the clock at 12:00, its last step now.
  TimerPool();
  // Clears every timer (as Reset).
  ~TimerPool();
  TimerPool(const TimerPool&) = delete;
  TimerPool& operator=(const TimerPool&) = delete;

  // Every timer cleared; the clock and its last step 0.
  void Reset();
  // The lowest free slot, or 255.
  uint8_t FindFreeSlot() const;
  // The new timer's slot, or -1 (no free slot, no engine, no name, or the
  // name is not a global function).
  int CreateTimer(const char* function, uint32_t intervalMs, uint32_t count);
  void KillTimer(int slot);
  // One step of the clock, then each due timer once.
  void Process();
  // "setServerTime": the clock shows the time from its next step on.
  void SetServerTime(uint8_t hour, uint8_t minute);

  uint8_t active[kMaxTimers];
  uint8_t forever[kMaxTimers];
  uint32_t lastFireMs[kMaxTimers];
  uint32_t intervalMs[kMaxTimers];
  uint32_t remaining[kMaxTimers];
  std::string function[kMaxTimers];
  // Changes whenever a slot is filled or cleared, so that a call can tell
  // whether its own timer is still the one in the slot.
  uint32_t generation[kMaxTimers];

  uint8_t hour;
  uint8_t minute;
  uint16_t minuteOfDay;
  uint32_t lastClockTickMs;

 private:
  void ClearSlot(int slot);
  void PublishClock();
};

// The current pool; null before start-up.
TimerPool* GetTimerPool();
// Clears and frees the current pool (if any) and makes a new one.
void ReplaceTimerPool();
void DestroyTimerPool();
