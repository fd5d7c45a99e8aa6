// Script timers and the game clock, on the tests' clock.
#include "script/timers.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "core/gameclock.h"
#include "script/engine.h"
#include "script/script_host.h"
#include "support/seam.h"

using namespace scripttest;

namespace {

// In Lua: n(name) counts the firings of the counters tick, tock and other;
// step(ms) moves the clock on and runs one pass of the pool; slot(i) shows
// timer i's fields; clock() the script's and the core's time; restartNow()
// restarts the script host.
class TimersTest : public ::testing::Test {
 protected:
  TimersTest() { Helpers(); }

  static int Step(lua_State* L) {
    Pass(lua_tonumber(L, 1));
    return 0;
  }
  // A table: used (a boolean) and, for a timer in use, forever (0 or 1),
  // remaining (calls left), sinceFire (ms since its creation or last call) and fn.
  static int Slot(lua_State* L) {
    const TimerPool& p = *GetTimerPool();
    const int i = static_cast<int>(lua_tonumber(L, 1));
    lua_newtable(L);
    lua_pushboolean(L, p.active[i]);
    lua_setfield(L, -2, "used");
    if (!p.active[i]) return 1;
    lua_pushinteger(L, p.forever[i]);
    lua_setfield(L, -2, "forever");
    lua_pushinteger(L, static_cast<int>(p.remaining[i]));
    lua_setfield(L, -2, "remaining");
    lua_pushinteger(L, static_cast<int>(support::TestClock::Now() - p.lastFireMs[i]));
    lua_setfield(L, -2, "sinceFire");
    lua_pushstring(L, p.function[i].c_str());
    lua_setfield(L, -2, "fn");
    return 1;
  }
  // A table: script, the timer pool's time, and core, the game clock's, each "hh:mm".
  static int Clock(lua_State* L) {
    uint8_t hour = 99;
    uint8_t minute = 99;
    GetGameClock(hour, minute);
    const TimerPool& p = *GetTimerPool();
    char text[16];
    lua_newtable(L);
    std::snprintf(text, sizeof text, "%02d:%02d", int{p.hour}, int{p.minute});
    lua_pushstring(L, text);
    lua_setfield(L, -2, "script");
    std::snprintf(text, sizeof text, "%02d:%02d", int{hour}, int{minute});
    lua_pushstring(L, text);
    lua_setfield(L, -2, "core");
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
    eq('false', slot(0).used)
    eq('false', slot(1).used)
    eq('0', createTimer('tick', 100, 1))
    destroyTimer(2)
    step(101)
    eq('10', n'other')
    local id = createTimer('tick', 100, -1)
    eq('0', slot(id).forever)
    eq('1000000', slot(id).remaining)
    eq('0', slot(id).sinceFire)
    eq('tick', slot(id).fn)
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
    eq('0', slot(0).forever)
    eq('2', slot(0).remaining)
    eq('1000', slot(0).sinceFire)
    eq('tick', slot(0).fn)
    tick = saved
    step(0)
    eq('1', n'tick')
    eq('0', slot(0).forever)
    eq('1', slot(0).remaining)
    eq('0', slot(0).sinceFire)
    eq('tick', slot(0).fn))");
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
    eq('false', slot(0).used)
    function swap()
      destroyTimer(first)
      second = createTimer('other', 500, 2)
    end
    first = createTimer('swap', 100, 1)
    step(101)
    eq('0', first)
    eq('0', second)
    eq('0', slot(0).forever)
    eq('2', slot(0).remaining)
    eq('0', slot(0).sinceFire)
    eq('other', slot(0).fn)
    step(500)
    eq('0', n'other')
    step(1)
    step(501)
    eq('2', n'other')
    eq('false', slot(0).used))");
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
  // clock() has the script's and the core's time. A late pass does not
  // catch up; after 23:59 comes 00:00.
  ExpectLua(R"(
    eq('12:00', clock().script)
    eq('12:00', clock().core)
    eq('12,0', getServerTime())
    step(1000)
    eq('12:00', clock().script)
    eq('12:00', clock().core)
    step(1)
    eq('12:01', clock().script)
    eq('12:01', clock().core)
    step(5000)
    eq('12:02', clock().script)
    eq('12:02', clock().core)
    setServerTime(6, 30)
    eq('12:02', clock().script)
    eq('12:02', clock().core)
    step(1001)
    eq('06:30', clock().script)
    eq('06:30', clock().core)
    eq('6,30', getServerTime())
    setServerTime(25, 61)
    step(1001)
    eq('23:59', clock().script)
    eq('23:59', clock().core)
    setServerTime(-1, 0)
    step(1001)
    eq('23:00', clock().script)
    eq('23:00', clock().core)
    setServerTime(0, 0)
    step(1001)
    eq('00:00', clock().script)
    eq('00:00', clock().core)
    setServerTime(300.7, 2)
    step(1001)
    eq('23:02', clock().script)
    eq('23:02', clock().core)
    setServerTime(23, 59)
    step(1001)
    step(1001)
    eq('00:00', clock().script)
    eq('00:00', clock().core)
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
  ExpectLua(R"(
    eq('1', slot(0).forever)
    eq('0', slot(0).remaining)
    eq('10000', slot(0).sinceFire)
    eq('tick', slot(0).fn))");
  ReplaceTimerPool();
  ExpectLua(R"(
    eq('12:00', clock().script)
    eq('12:00', clock().core)
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
    eq('1', slot(0).forever)
    eq('0', slot(0).remaining)
    eq('101', slot(0).sinceFire)
    eq('changer', slot(0).fn)
    eq('1', slot(1).forever)
    eq('0', slot(1).remaining)
    eq('101', slot(1).sinceFire)
    eq('tick', slot(1).fn))");
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
    eq('1', slot(0).forever)
    eq('0', slot(0).remaining)
    eq('0', slot(0).sinceFire)
    eq('tick', slot(0).fn)
    eq('1', slot(1).forever)
    eq('0', slot(1).remaining)
    eq('0', slot(1).sinceFire)
    eq('outer', slot(1).fn)
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
