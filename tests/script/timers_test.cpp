// Script timers and the game clock, on the tests' clock.
#include <gtest/gtest.h>

#include <string>

#include "core/gameclock.h"
#include "script/engine.h"
#include "script/script_host.h"
#include "script/timers.h"
#include "support/seam.h"

using namespace scripttest;

namespace {

// In Lua: n(name) counts the firings of the counters tick, tock and other;
// step(ms) moves the clock on and runs one pass of the pool; slot(i) shows
// timer i as "forever remaining msSinceLastFire function" or "free"; clock()
// the script's and the core's time; restartNow() restarts the script host.
class TimersTest : public ::testing::Test {
 protected:
  TimersTest() { Helpers(); }
  static void Helpers() {
    lua_State* L = GetScriptEngine()->State();
    lua_register(L, "step", ([](lua_State* L) { return Pass(lua_tonumber(L, 1)), 0; }));
    lua_register(L, "slot", ([](lua_State* L) {
      const TimerPool& p = *GetTimerPool();
      const int i = static_cast<int>(lua_tonumber(L, 1));
      if (!p.active[i]) return lua_pushstring(L, "free"), 1;
      const int sinceFire = static_cast<int>(support::TestClock::Now() - p.lastFireMs[i]);
      lua_pushfstring(L, "%d %d %d %s", p.forever[i], int(p.remaining[i]), sinceFire, p.function[i].c_str());
      return 1;
    }));
    lua_register(L, "clock", ([](lua_State* L) {
      uint8_t hour = 99, minute = 99;
      GetGameClock(hour, minute);
      return lua_pushfstring(L, "%d:%d/%d:%d", GetTimerPool()->hour, GetTimerPool()->minute, hour, minute), 1;
    }));
    lua_register(L, "restartNow", ([](lua_State*) { return DestroyScriptEngine(), ReplaceTimerPool(), 0; }));
    lua_register(L, "newEngine", ([](lua_State*) { return PublishNewScriptEngine(), 0; }));
  }
  static void Pass(uint32_t ms) { support::TestClock::Advance(ms), GetTimerPool()->Process(); }
  static void NewEngine() { PublishNewScriptEngine(), RegisterScriptNatives(), Helpers(); }
  support::TestClock clock_;
  ScriptHost host_{R"(fired = {}
local function counter(name) return function() fired[name] = (fired[name] or 0) + 1 end end
tick, tock, other = counter('tick'), counter('tock'), counter('other')
function n(name) return fired[name] or 0 end )"};
};

TEST_F(TimersTest, IntervalsAreClampedMustBeExceededAndFireOncePerPass) {
  // -5 is a huge unsigned interval; the next interval counts from the firing.
  ExpectLua(R"(local c = createTimer eq('0,1,2', c('tick', 10, 0), c('tock', 5000000, 0), c('tock', -5, 0))
    step(50) eq('0', n'tick') step(1) eq('1', n'tick') step(50) eq('1', n'tick') step(10000) eq('2', n'tick')
    step(0) eq('2', n'tick') step(1000000 - 10101) eq('0', n'tock') step(1) eq('2', n'tock'))");
}

TEST_F(TimersTest, CountsForeverTimersTheHundredAndFirstAndDestroy) {
  // destroyTimer takes the id's low byte and ignores ids above 99.
  ExpectLua(R"(local c = createTimer eq('0,1,2', c('tick', 100, 1), c('tock', 100, 3), c('other', 100, 0))
    for i = 1, 10 do step(101) end eq('1,3,10,free,free', n'tick', n'tock', n'other', slot(0), slot(1))
    eq('0', createTimer('tick', 100, 1)) destroyTimer(2) step(101) eq('10', n'other')
    eq('0 1000000 0 tick', slot(createTimer('tick', 100, -1)))
    for i = 1, 99 do last = createTimer('tick', 1000, 0) end eq('99,-1', last, createTimer('tick', 1000, 0))
    destroyTimer(300) destroyTimer(200) destroyTimer(-1)
    eq('44,-1', createTimer('tick', 1000, 0), createTimer('tick', 1000, 0)))");
}

TEST_F(TimersTest, FunctionsAreLookedUpByNameAtCreationAndAtEveryFiring) {
  ExpectLua(R"(local c = createTimer eq('-1,-1,-1', c('nope', 100, 0), c('fired', 100, 0), c(5, 100, 0))
    eq('0', select('#', createTimer({}, 100, 0))) eq('0', createTimer('tick', 100, 2)) saved = tick tick = nil
    step(500) step(500) eq('0 2 1000 tick', slot(0))
    tick = saved step(0) eq('1,0 1 0 tick', n'tick', slot(0)))");
  EXPECT_EQ(host_.Log(), "");
}

TEST_F(TimersTest, ATimerThatDestroysOrReplacesItselfKeepsTheBookkeepingStraight) {
  // The old timer's last call would have freed the slot: the new one stays,
  // with the count and the start it was created with.
  ExpectLua(R"(function selfish() fired.s = n('s') + 1; destroyTimer(mine) end
    mine = createTimer('selfish', 100, 0) step(101) step(101) eq('1,free', n's', slot(0))
    function swap() destroyTimer(first); second = createTimer('other', 500, 2) end
    first = createTimer('swap', 100, 1) step(101) eq('0,0,0 2 0 other', first, second, slot(0))
    step(500) eq('0', n'other') step(1) step(501) eq('2,free', n'other', slot(0)))");
}

TEST_F(TimersTest, AFailingTimerIsLoggedAndStillCounted) {
  ExpectLua(R"(function bad() fired.bad = n('bad') + 1; error('timer broke') end
    eq('0,1', createTimer('bad', 100, 2), createTimer('tick', 100, 0))
    step(101) step(101) step(101) eq('2,3', n'bad', n'tick'))");
  EXPECT_EQ(CountEach(host_.Log(), {"[SCRIPT] Error in timer function 'bad': ", "broke\r\nstack traceback:"}),
            "2,2");
}

TEST_F(TimersTest, TheClockStepsOneMinutePerSecondAndSetServerTimeShowsFromTheNextStep) {
  // A late pass does not catch up; after 23:59 comes 00:00.
  ExpectLua(R"(eq('12:0/12:0,12,0', clock(), getServerTime()) step(1000) eq('12:0/12:0', clock()) step(1)
    eq('12:1/12:1', clock()) step(5000) eq('12:2/12:2', clock()) setServerTime(6, 30) eq('12:2/12:2', clock())
    step(1001) eq('6:30/6:30,6,30', clock(), getServerTime()) setServerTime(25, 61) step(1001)
    eq('23:59/23:59', clock()) setServerTime(-1, 0) step(1001) eq('23:0/23:0', clock()) setServerTime(0, 0)
    step(1001) eq('0:0/0:0', clock()) setServerTime(300.7, 2) step(1001) eq('23:2/23:2', clock())
    setServerTime(23, 59) step(1001) step(1001) eq('0:0/0:0', clock()) setServerTime(0, 0))");
  EXPECT_EQ(GetTimerPool()->minuteOfDay, 65535);
}

TEST_F(TimersTest, NothingMovesWithoutAnEngineAndANewPoolStartsAfresh) {
  ExpectLua("eq('0', createTimer('tick', 100, 0)) setServerTime(3, 3)");
  DestroyScriptEngine();
  Pass(5000), Pass(5000);
  EXPECT_EQ(std::to_string(GetTimerPool()->minuteOfDay) + ":" + std::to_string(GetTimerPool()->hour),
            "182:12");
  NewEngine();
  ExpectLua("eq('1 0 10000 tick', slot(0))");
  ReplaceTimerPool();
  ExpectLua("eq('12:0/12:0,0', clock(), createTimer('tick', 100, 0))");
}

TEST_F(TimersTest, ARestartOrANewEngineDuringATimerEndsThePass) {
  ExpectLua("function restarter() restartNow() end "
            "eq('0,1', createTimer('restarter', 100, 0), createTimer('tick', 100, 0))");
  Pass(101);
  EXPECT_TRUE(GetScriptEngine() == nullptr && GetTimerPool()->FindFreeSlot() == 0);
  NewEngine();
  ExpectLua("function changer() newEngine() end "
            "eq('0,1', createTimer('changer', 100, 0), createTimer('tick', 100, 0))");
  Pass(101);
  Helpers();  // in the new engine
  // The second timer did not run in that pass, and the first kept its stamp.
  ExpectLua("eq('1 0 101 changer,1 0 101 tick', slot(0), slot(1))");
}

TEST_F(TimersTest, ANestedCreateTimerOrARestartInsideCreateTimersLookup) {
  // The lookup runs script code (an __index on the globals): a nested
  // createTimer keeps both timers; a restart leaves no pool to fill.
  ExpectLua(R"(setmetatable(_G, {__index = function(_, k)
    if k == 'outer' then inner = createTimer('tick', 100, 0); return tock end end})
    eq('1,0,1 0 0 tick,1 0 0 outer', createTimer('outer', 100, 0), inner, slot(0), slot(1))
    setmetatable(_G, {__index = function(_, k) if k == 'later' then restartNow(); return print end end}))");
  ScriptCallScope scope(*GetScriptEngine());  // as any script call holds it
  const std::string created = Eval("createTimer('later', 100, 0)");
  EXPECT_EQ(created + std::to_string(GetTimerPool()->FindFreeSlot()), "-10");
}

}  // namespace
