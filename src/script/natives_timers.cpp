// Natives of the timers and the game clock.
#include "script/native_list.h"
#include "script/natives.h"
#include "script/timers.h"

namespace natives {

int CreateTimer(lua_State* L) {
  const char* function = script::ArgText(L, 1);
  if (!function) return 0;
  const uint32_t interval = script::ArgU32Via64(L, 2);
  const uint32_t count = script::ArgU32Via64(L, 3);
  TimerPool* pool = GetTimerPool();
  lua_pushnumber(L, pool ? pool->CreateTimer(function, interval, count) : -1);
  return 1;
}

int DestroyTimer(lua_State* L) {
  const uint8_t slot = script::ArgU8(L, 1);
  TimerPool* pool = GetTimerPool();
  if (pool && slot < kMaxTimers) pool->KillTimer(slot);
  return 0;
}

int SetServerTime(lua_State* L) {
  TimerPool* pool = GetTimerPool();
  if (pool) pool->SetServerTime(script::ArgU8(L, 1), script::ArgU8(L, 2));
  return 0;
}

int GetServerTime(lua_State* L) {
  const TimerPool* pool = GetTimerPool();
  if (!pool) return 0;
  lua_pushnumber(L, pool->hour);
  lua_pushnumber(L, pool->minute);
  return 2;
}

}  // namespace natives
