#include "script/timers.h"

#include "core/clock.h"
#include "core/gameclock.h"
#include "script/engine.h"

namespace {
TimerPool* currentPool = nullptr;
}  // namespace

TimerPool::TimerPool() {
  for (int slot = 0; slot < kMaxTimers; ++slot) {
    ClearSlot(slot);
    generation[slot] = 0;
  }
  minuteOfDay = 720;
  hour = 12;
  minute = 0;
  lastClockTickMs = core::NowMs();
  PublishClock();
  AdvanceScriptHostEpoch();
}

TimerPool::~TimerPool() {
  Reset();
  AdvanceScriptHostEpoch();
}

void TimerPool::Reset() {
  for (int slot = 0; slot < kMaxTimers; ++slot) KillTimer(slot);
  minuteOfDay = 0;
  hour = 0;
  minute = 0;
  lastClockTickMs = 0;
  PublishClock();
}

void TimerPool::ClearSlot(int slot) {
  active[slot] = 0;
  forever[slot] = 0;
  lastFireMs[slot] = 0;
  intervalMs[slot] = 0;
  remaining[slot] = 0;
  function[slot].clear();
}

void TimerPool::PublishClock() { SetGameClock(hour, minute); }

uint8_t TimerPool::FindFreeSlot() const {
  for (int slot = 0; slot < kMaxTimers; ++slot) {
    if (!active[slot]) return static_cast<uint8_t>(slot);
  }
  return 255;
}

int TimerPool::CreateTimer(const char* name, uint32_t interval, uint32_t count) {
  uint8_t slot = FindFreeSlot();
  if (slot == 255) return -1;
  ScriptEngine* engine = GetScriptEngine();
  if (!engine) return -1;
  if (interval < kMinTimerIntervalMs) interval = kMinTimerIntervalMs;
  if (interval > kMaxTimerIntervalMs) interval = kMaxTimerIntervalMs;
  if (count > kMaxTimerCount) count = kMaxTimerCount;
  if (!name) return -1;
  // Only checked here: the function is looked up by name at every firing.
  if (LookUpScriptFunction(*engine, name) != ScriptCall::kDone) return -1;
  // A nested "createTimer" in the lookup may have taken the slot.
  if (active[slot]) {
    slot = FindFreeSlot();
    if (slot == 255) return -1;
  }
  function[slot] = name;
  lastFireMs[slot] = core::NowMs();
  remaining[slot] = count;
  intervalMs[slot] = interval;
  forever[slot] = count == 0 ? 1 : 0;
  active[slot] = 1;
  ++generation[slot];
  return slot;
}

void TimerPool::KillTimer(int slot) {
  if (slot < 0 || slot >= kMaxTimers || !active[slot]) return;
  ClearSlot(slot);
  ++generation[slot];
}

void TimerPool::SetServerTime(uint8_t newHour, uint8_t newMinute) {
  if (newHour > 23) newHour = 23;
  if (newMinute > 59) newMinute = 59;
  // One below the target: the next step lands on it (00:00 wraps through 65535).
  minuteOfDay = static_cast<uint16_t>(newHour * 60 + newMinute - 1);
}

void TimerPool::Process() {
  ScriptEngine* engine = GetScriptEngine();
  if (!engine) return;

  if (core::HasElapsed(core::NowMs(), lastClockTickMs, kGameMinuteMs)) {
    minuteOfDay = minuteOfDay >= 1439 ? 0 : static_cast<uint16_t>(minuteOfDay + 1);
    hour = static_cast<uint8_t>(minuteOfDay / 60);
    minute = static_cast<uint8_t>(minuteOfDay % 60);
    lastClockTickMs = core::NowMs();
    PublishClock();
  }

  for (int slot = 0; slot < kMaxTimers; ++slot) {
    if (!active[slot] || !core::HasElapsed(core::NowMs(), lastFireMs[slot], intervalMs[slot])) {
      continue;
    }
    const uint32_t timerGeneration = generation[slot];
    // A copy: the function may destroy its timer and another may take the slot.
    const std::string name = function[slot];
    const ScriptCall outcome =
        CallScriptFunction(*engine, name.c_str(), nullptr, 0, CallLabel{"timer function", name});
    // This pool may be gone.
    if (outcome == ScriptCall::kHostGone) return;
    // Not a function (yet): tried again at the next pass, nothing counted.
    if (outcome == ScriptCall::kNotAFunction) continue;
    // Destroyed during its call, and perhaps replaced: nothing more to do
    // for the timer that fired.
    if (generation[slot] != timerGeneration) continue;
    lastFireMs[slot] = core::NowMs();
    if (!forever[slot] && --remaining[slot] == 0) KillTimer(slot);
  }
}

TimerPool* GetTimerPool() { return currentPool; }

void ReplaceTimerPool() {
  DestroyTimerPool();
  currentPool = new TimerPool();
}

void DestroyTimerPool() {
  TimerPool* pool = currentPool;
  currentPool = nullptr;
  delete pool;
}
