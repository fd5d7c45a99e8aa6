// Script timers and the game clock, on the tests' clock.
#include "script/timers.h"

#include <gtest/gtest.h>

#include <string>

#include "core/gameclock.h"
#include "script/engine.h"
#include "script/script_host.h"
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

  static int Step(lua_State* L) {
    Pass(lua_tonumber(L, 1));
    return 0;
  }
  static int Slot(lua_State* L) {
    const TimerPool& p = *GetTimerPool();
    const int i = static_cast<int>(lua_tonumber(L, 1));
    if (!p.active[i]) {
      lua_pushstring(L, "free");
      return 1;
    }
    const int sinceFire = static_cast<int>(support::TestClock::Now() - p.lastFireMs[i]);
    const int remaining = static_cast<int>(p.remaining[i]);
    lua_pushfstring(L, "%d %d %d %s", p.forever[i], remaining, sinceFire, p.function[i].c_str());
    return 1;
  }
  static int Clock(lua_State* L) {
    uint8_t hour = 99;
    uint8_t minute = 99;
    GetGameClock(hour, minute);
    const TimerPool& p = *GetTimerPool();
    lua_pushfstring(L, "%d:%d/%d:%d", p.hour, p.minute, hour, minute);
    return 1;
  }
  static int RestartNow(lua_State*) {
    DestroyScriptEngine();
    ReplaceTimerPool();
    return 0;
  }
  static int NewEngineFromLua(lua_State*) {
    PublishNewScriptEngine();
    return 0;
  }

  static void Helpers() {
    lua_State* L = GetScriptEngine()->State();
    lua_register(L, "step", Step);
    lua_register(L, "slot", Slot);
    lua_register(L, "clock", Clock);
    lua_register(L, "restartNow", RestartNow);
    lua_register(L, "newEngine", NewEngineFromLua);
  }
  static void Pass(uint32_t ms) {
    support::TestClock::Advance(ms);
    GetTimerPool()->Process();
  }
  static void NewEngine() {
    PublishNewScriptEngine();
    RegisterScriptNatives();
    Helpers();
  }

  support::TestClock clock_;
  ScriptHost host_{R"(fired = {}
local function counter(name)
  return function() fired[name] = (fired[name] or 0) + 1 end
end
tick = counter('tick')
tock = counter('tock')
other = counter('other')
function n(name) return fired[name] or 0 end
)"};
};

TEST_F(TimersTest, IntervalsAreClampedMustBeExceededAndFireOncePerPass) {
  // -5 is a huge unsigned interval; the next interval counts from the firing.
  ExpectLua(R"(
    eq('0', createTimer('tick', 10, 0))
    eq('1', createTimer('tock', 5000000, 0))
    eq('2', createTimer('tock', -5, 0))
    step(50)
    eq('0', n'tick')
    step(1)
    eq('1', n'tick')
    step(50)
    eq('1', n'tick')
    step(10000)
    eq('2', n'tick')
    step(0)
    eq('2', n'tick')
    step(1000000 - 10101)
    eq('0', n'tock')
    step(1)
    eq('2', n'tock'))");
}

TEST_F(TimersTest, CountsForeverTimersTheHundredAndFirstAndDestroy) {
  // destroyTimer takes the id's low byte and ignores ids above 99.
  ExpectLua(R"(
    eq('0', createTimer('tick', 100, 1))
    eq('1', createTimer('tock', 100, 3))
    eq('2', createTimer('other', 100, 0))
    for i = 1, 10 do step(101) end
    eq('1', n'tick')
    eq('3', n'tock')
    eq('10', n'other')
    eq('free', slot(0))
    eq('free', slot(1))
    eq('0', createTimer('tick', 100, 1))
    destroyTimer(2)
    step(101)
    eq('10', n'other')
    local forever = createTimer('tick', 100, -1)
    eq('0 1000000 0 tick', slot(forever))
    for i = 1, 99 do last = createTimer('tick', 1000, 0) end
    eq('99', last)
    eq('-1', createTimer('tick', 1000, 0))
    destroyTimer(300)
    destroyTimer(200)
    destroyTimer(-1)
    eq('44', createTimer('tick', 1000, 0))
    eq('-1', createTimer('tick', 1000, 0)))");
}

TEST_F(TimersTest, FunctionsAreLookedUpByNameAtCreationAndAtEveryFiring) {
  // 'fired' names a table, not a function.
  ExpectLua(R"(
    eq('-1', createTimer('nope', 100, 0))
    eq('-1', createTimer('fired', 100, 0))
    eq('-1', createTimer(5, 100, 0))
    eq('0', select('#', createTimer({}, 100, 0)))
    eq('0', createTimer('tick', 100, 2))
    saved = tick
    tick = nil
    step(500)
    step(500)
    eq('0 2 1000 tick', slot(0))
    tick = saved
    step(0)
    eq('1', n'tick')
    eq('0 1 0 tick', slot(0)))");
  EXPECT_EQ(host_.Log(), "");
}

TEST_F(TimersTest, ATimerThatDestroysOrReplacesItselfKeepsTheBookkeepingStraight) {
  // The old timer's last call would have freed the slot: the new one stays,
  // with the count and the start it was created with.
  ExpectLua(R"(
    function selfish()
      fired.s = n('s') + 1
      destroyTimer(mine)
    end
    mine = createTimer('selfish', 100, 0)
    step(101)
    step(101)
    eq('1', n's')
    eq('free', slot(0))
    function swap()
      destroyTimer(first)
      second = createTimer('other', 500, 2)
    end
    first = createTimer('swap', 100, 1)
    step(101)
    eq('0', first)
    eq('0', second)
    eq('0 2 0 other', slot(0))
    step(500)
    eq('0', n'other')
    step(1)
    step(501)
    eq('2', n'other')
    eq('free', slot(0)))");
}

TEST_F(TimersTest, AFailingTimerIsLoggedAndStillCounted) {
  ExpectLua(R"(
    function bad()
      fired.bad = n('bad') + 1
      error('timer broke')
    end
    eq('0', createTimer('bad', 100, 2))
    eq('1', createTimer('tick', 100, 0))
    step(101)
    step(101)
    step(101)
    eq('2', n'bad')
    eq('3', n'tick'))");
  EXPECT_EQ(host_.LogCount("[SCRIPT] Error in timer function 'bad': "), 2u);
  EXPECT_EQ(host_.LogCount("broke\r\nstack traceback:"), 2u);
}

TEST_F(TimersTest, TheClockStepsOneMinutePerSecondAndSetServerTimeShowsFromTheNextStep) {
  // clock() is "script hour:minute/core hour:minute". A late pass does not
  // catch up; after 23:59 comes 00:00.
  ExpectLua(R"(
    eq('12:0/12:0', clock())
    eq('12,0', getServerTime())
    step(1000)
    eq('12:0/12:0', clock())
    step(1)
    eq('12:1/12:1', clock())
    step(5000)
    eq('12:2/12:2', clock())
    setServerTime(6, 30)
    eq('12:2/12:2', clock())
    step(1001)
    eq('6:30/6:30', clock())
    eq('6,30', getServerTime())
    setServerTime(25, 61)
    step(1001)
    eq('23:59/23:59', clock())
    setServerTime(-1, 0)
    step(1001)
    eq('23:0/23:0', clock())
    setServerTime(0, 0)
    step(1001)
    eq('0:0/0:0', clock())
    setServerTime(300.7, 2)
    step(1001)
    eq('23:2/23:2', clock())
    setServerTime(23, 59)
    step(1001)
    step(1001)
    eq('0:0/0:0', clock())
    setServerTime(0, 0))");
  EXPECT_EQ(GetTimerPool()->minuteOfDay, 65535);
}

TEST_F(TimersTest, NothingMovesWithoutAnEngineAndANewPoolStartsAfresh) {
  ExpectLua(R"(
    eq('0', createTimer('tick', 100, 0))
    setServerTime(3, 3))");
  DestroyScriptEngine();
  Pass(5000);
  Pass(5000);
  EXPECT_EQ(GetTimerPool()->minuteOfDay, 182);
  EXPECT_EQ(GetTimerPool()->hour, 12);
  NewEngine();
  ExpectLua("eq('1 0 10000 tick', slot(0))");
  ReplaceTimerPool();
  ExpectLua(R"(
    eq('12:0/12:0', clock())
    eq('0', createTimer('tick', 100, 0)))");
}

TEST_F(TimersTest, ARestartOrANewEngineDuringATimerEndsThePass) {
  ExpectLua(R"(
    function restarter() restartNow() end
    eq('0', createTimer('restarter', 100, 0))
    eq('1', createTimer('tick', 100, 0)))");
  Pass(101);
  EXPECT_EQ(GetScriptEngine(), nullptr);
  EXPECT_EQ(GetTimerPool()->FindFreeSlot(), 0);
  NewEngine();
  ExpectLua(R"(
    function changer() newEngine() end
    eq('0', createTimer('changer', 100, 0))
    eq('1', createTimer('tick', 100, 0)))");
  Pass(101);
  Helpers();  // in the new engine
  // The second timer did not run in that pass, and the first kept its stamp.
  ExpectLua(R"(
    eq('1 0 101 changer', slot(0))
    eq('1 0 101 tick', slot(1)))");
}

TEST_F(TimersTest, ANestedCreateTimerOrARestartInsideCreateTimersLookup) {
  // The lookup runs script code (an __index on the globals): a nested
  // createTimer keeps both timers; a restart leaves no pool to fill.
  ExpectLua(R"(
    setmetatable(_G, {__index = function(_, k)
      if k == 'outer' then
        inner = createTimer('tick', 100, 0)
        return tock
      end
    end})
    eq('1', createTimer('outer', 100, 0))
    eq('0', inner)
    eq('1 0 0 tick', slot(0))
    eq('1 0 0 outer', slot(1))
    setmetatable(_G, {__index = function(_, k)
      if k == 'later' then
        restartNow()
        return print
      end
    end}))");
  ScriptCallScope scope(*GetScriptEngine());  // as any script call holds it
  EXPECT_EQ(Eval("createTimer('later', 100, 0)"), "-1");
  EXPECT_EQ(GetTimerPool()->FindFreeSlot(), 0);
}

}  // namespace
