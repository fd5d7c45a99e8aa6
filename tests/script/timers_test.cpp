// Script timers and the game clock, on a driven millisecond clock.
#include <gtest/gtest.h>

#include <string>

#include "core/gameclock.h"
#include "script/engine.h"
#include "script/script_host.h"
#include "script/timers.h"

using scripttest::DrivenClock;
using scripttest::Eval;
using scripttest::RunLua;
using scripttest::ScriptHost;

namespace {

const char* const kCounters = R"(
fired = {}
local function counter(name) return function() fired[name] = (fired[name] or 0) + 1 end end
tick = counter('tick')
tock = counter('tock')
other = counter('other')
function n(name) return fired[name] or 0 end
)";

class TimersTest : public ::testing::Test {
 protected:
  int Create(const std::string& args) { return std::stoi(Eval("createTimer(" + args + ")")); }
  int Fired(const std::string& name) { return std::stoi(Eval("n('" + name + "')")); }
  void Pass() { GetTimerPool()->Process(); }
  // Advances the clock and runs one pass.
  void Step(uint32_t ms) {
    clock_.Advance(ms);
    Pass();
  }

  DrivenClock clock_;
  ScriptHost host_{kCounters};
};

TEST_F(TimersTest, IntervalsAreClampedAndMustBeExceeded) {
  const int fast = Create("'tick', 10, 0");
  EXPECT_EQ(fast, 0);
  EXPECT_EQ(GetTimerPool()->intervalMs[fast], kMinTimerIntervalMs);
  Step(50);
  EXPECT_EQ(Fired("tick"), 0);
  Step(1);
  EXPECT_EQ(Fired("tick"), 1);
  // The next interval counts from the firing.
  Step(50);
  EXPECT_EQ(Fired("tick"), 1);
  Step(1);
  EXPECT_EQ(Fired("tick"), 2);

  const int slow = Create("'tock', 5000000, 0");
  EXPECT_EQ(GetTimerPool()->intervalMs[slow], kMaxTimerIntervalMs);
  EXPECT_EQ(Create("'tock', -5, 0"), 2);  // a negative interval is a huge unsigned one
  EXPECT_EQ(GetTimerPool()->intervalMs[2], kMaxTimerIntervalMs);
  Step(1000000);
  EXPECT_EQ(Fired("tock"), 0);
  Step(1);
  EXPECT_EQ(Fired("tock"), 2);
}

TEST_F(TimersTest, ATimerFiresAtMostOncePerPass) {
  Create("'tick', 100, 0");
  Step(10000);
  EXPECT_EQ(Fired("tick"), 1);
  Pass();
  EXPECT_EQ(Fired("tick"), 1);
}

TEST_F(TimersTest, CountsAndForeverTimers) {
  EXPECT_EQ(Create("'tick', 100, 1"), 0);
  EXPECT_EQ(Create("'tock', 100, 3"), 1);
  EXPECT_EQ(Create("'other', 100, 0"), 2);
  for (int i = 0; i < 10; ++i) Step(101);
  EXPECT_EQ(Fired("tick"), 1);
  EXPECT_EQ(Fired("tock"), 3);
  EXPECT_EQ(Fired("other"), 10);
  EXPECT_FALSE(GetTimerPool()->active[0]);
  EXPECT_FALSE(GetTimerPool()->active[1]);
  EXPECT_TRUE(GetTimerPool()->active[2]);
  EXPECT_TRUE(GetTimerPool()->forever[2]);
  // The freed slot is the next one handed out.
  EXPECT_EQ(Create("'tick', 100, 1"), 0);

  EXPECT_EQ(RunLua("destroyTimer(2)"), "");
  Step(101);
  EXPECT_EQ(Fired("other"), 10);

  const int many = Create("'tick', 100, -1");
  EXPECT_EQ(GetTimerPool()->remaining[many], kMaxTimerCount);
  EXPECT_FALSE(GetTimerPool()->forever[many]);
}

TEST_F(TimersTest, TheHundredAndFirstTimerGetsMinusOne) {
  EXPECT_EQ(RunLua("for i = 1, 100 do last = createTimer('tick', 1000, 0) end"), "");
  EXPECT_EQ(Eval("last"), "99");
  EXPECT_EQ(Eval("createTimer('tick', 1000, 0)"), "-1");
  EXPECT_EQ(GetTimerPool()->FindFreeSlot(), 255);
}

TEST_F(TimersTest, FunctionsAreLookedUpByName) {
  EXPECT_EQ(Eval("createTimer('nope', 100, 0)"), "-1");
  EXPECT_EQ(Eval("createTimer('fired', 100, 0)"), "-1");  // a table, not a function
  EXPECT_EQ(Eval("select('#', createTimer({}, 100, 0))"), "0");
  EXPECT_EQ(Eval("createTimer(5, 100, 0)"), "-1");  // the text "5" names no function
  EXPECT_EQ(GetTimerPool()->FindFreeSlot(), 0);

  // Removed after creation: skipped without counting, then fires again.
  const int slot = Create("'tick', 100, 2");
  const uint32_t created = GetTimerPool()->lastFireMs[slot];
  EXPECT_EQ(RunLua("saved = tick; tick = nil"), "");
  Step(500);
  Step(500);
  EXPECT_EQ(GetTimerPool()->lastFireMs[slot], created);
  EXPECT_EQ(GetTimerPool()->remaining[slot], 2u);
  EXPECT_EQ(RunLua("tick = saved"), "");
  Pass();
  EXPECT_EQ(Fired("tick"), 1);
  EXPECT_EQ(GetTimerPool()->remaining[slot], 1u);
  EXPECT_EQ(host_.LogCount("[SCRIPT]"), 0u);
}

TEST_F(TimersTest, ATimerThatDestroysItselfDoesNotFireAgain) {
  EXPECT_EQ(RunLua("function selfish() fired.s = (fired.s or 0) + 1; destroyTimer(mine) end\n"
                   "mine = createTimer('selfish', 100, 0)"),
            "");
  Step(101);
  Step(101);
  Step(101);
  EXPECT_EQ(Fired("s"), 1);
  EXPECT_FALSE(GetTimerPool()->active[0]);
}

TEST_F(TimersTest, AReplacementInTheSameSlotKeepsItsOwnBookkeeping) {
  EXPECT_EQ(RunLua("function swap() destroyTimer(first); second = createTimer('other', 500, 2) end\n"
                   "first = createTimer('swap', 100, 1)"),
            "");
  Step(101);
  const uint32_t swapTime = scripttest::fakeNowMs;
  EXPECT_EQ(Eval("first, second"), "0,0");
  TimerPool* pool = GetTimerPool();
  // The old timer's last call would have freed the slot: the new timer stays,
  // with the count and the start it was created with.
  EXPECT_TRUE(pool->active[0]);
  EXPECT_EQ(pool->function[0], "other");
  EXPECT_EQ(pool->remaining[0], 2u);
  EXPECT_EQ(pool->lastFireMs[0], swapTime);
  Step(500);
  EXPECT_EQ(Fired("other"), 0);
  Step(1);
  Step(501);
  EXPECT_EQ(Fired("other"), 2);
  EXPECT_FALSE(pool->active[0]);
}

TEST_F(TimersTest, AFailingTimerIsLoggedAndStillCounted) {
  EXPECT_EQ(RunLua("function bad() fired.bad = (fired.bad or 0) + 1; error('timer broke') end"),
            "");
  Create("'bad', 100, 2");
  Create("'tick', 100, 0");
  Step(101);
  Step(101);
  Step(101);
  EXPECT_EQ(Fired("bad"), 2);
  EXPECT_EQ(Fired("tick"), 3);
  EXPECT_EQ(host_.LogCount("[SCRIPT] Error in timer function 'bad': "), 2u) << host_.Log();
  EXPECT_EQ(host_.LogCount("timer broke\r\nstack traceback:"), 2u);
}

TEST_F(TimersTest, DestroyTimerTakesTheLowByte) {
  for (int i = 0; i < 50; ++i) Create("'tick', 100, 0");
  EXPECT_EQ(RunLua("destroyTimer(300)"), "");
  EXPECT_FALSE(GetTimerPool()->active[44]);
  EXPECT_EQ(RunLua("destroyTimer(200); destroyTimer(-1); destroyTimer(99)"), "");
  EXPECT_EQ(GetTimerPool()->FindFreeSlot(), 44);
  EXPECT_TRUE(GetTimerPool()->active[45]);
}

TEST_F(TimersTest, TheClockStepsOneMinutePerSecond) {
  EXPECT_EQ(Eval("getServerTime()"), "12,0");
  Step(1000);
  EXPECT_EQ(Eval("getServerTime()"), "12,0");
  Step(1);
  EXPECT_EQ(Eval("getServerTime()"), "12,1");
  // A late pass does not catch up.
  Step(5000);
  EXPECT_EQ(Eval("getServerTime()"), "12,2");
  uint8_t hour = 0;
  uint8_t minute = 0;
  GetGameClock(hour, minute);
  EXPECT_EQ(hour, 12);
  EXPECT_EQ(minute, 2);
}

TEST_F(TimersTest, SetServerTimeShowsFromTheNextStep) {
  EXPECT_EQ(RunLua("setServerTime(6, 30)"), "");
  EXPECT_EQ(Eval("getServerTime()"), "12,0");
  EXPECT_EQ(GetTimerPool()->minuteOfDay, 389);
  Step(1001);
  EXPECT_EQ(Eval("getServerTime()"), "6,30");

  EXPECT_EQ(RunLua("setServerTime(25, 61)"), "");
  Step(1001);
  EXPECT_EQ(Eval("getServerTime()"), "23,59");
  Step(1001);
  EXPECT_EQ(Eval("getServerTime()"), "0,0");
  uint8_t hour = 99;
  uint8_t minute = 99;
  GetGameClock(hour, minute);
  EXPECT_EQ(hour, 0);
  EXPECT_EQ(minute, 0);
  Step(1001);
  EXPECT_EQ(Eval("getServerTime()"), "0,1");

  EXPECT_EQ(RunLua("setServerTime(-1, 0)"), "");
  Step(1001);
  EXPECT_EQ(Eval("getServerTime()"), "23,0");
  EXPECT_EQ(RunLua("setServerTime(0, 0)"), "");
  EXPECT_EQ(GetTimerPool()->minuteOfDay, 65535);
  Step(1001);
  EXPECT_EQ(Eval("getServerTime()"), "0,0");
  EXPECT_EQ(RunLua("setServerTime(300.7, 2)"), "");  // low byte of 300 is 44: 23
  Step(1001);
  EXPECT_EQ(Eval("getServerTime()"), "23,2");
}

TEST_F(TimersTest, NothingMovesWithoutAnEngine) {
  Create("'tick', 100, 0");
  DestroyScriptEngine();
  Step(5000);
  Step(5000);
  EXPECT_EQ(GetTimerPool()->hour, 12);
  EXPECT_EQ(GetTimerPool()->minute, 0);
  EXPECT_TRUE(GetTimerPool()->active[0]);
}

TEST_F(TimersTest, ANewPoolHasNoTimersAndStartsAtNoon) {
  Create("'tick', 100, 0");
  EXPECT_EQ(RunLua("setServerTime(3, 3)"), "");
  Step(1001);
  ReplaceTimerPool();
  EXPECT_EQ(GetTimerPool()->FindFreeSlot(), 0);
  EXPECT_EQ(Eval("getServerTime()"), "12,0");
  uint8_t hour = 0;
  uint8_t minute = 0;
  GetGameClock(hour, minute);
  EXPECT_EQ(hour, 12);
  EXPECT_EQ(minute, 0);
}

// What a restart from inside the game mode does to the script host.
int RestartNow(lua_State*) {
  DestroyScriptEngine();
  ReplaceTimerPool();
  return 0;
}

TEST_F(TimersTest, ARestartDuringATimerEndsThePass) {
  lua_register(host_.L(), "restartNow", RestartNow);
  EXPECT_EQ(RunLua("function restarter() fired.r = 1; restartNow(); after = true end"), "");
  Create("'restarter', 100, 0");
  Create("'tick', 100, 0");
  Step(101);
  EXPECT_EQ(GetScriptEngine(), nullptr);
  EXPECT_EQ(GetTimerPool()->FindFreeSlot(), 0);
  Step(101);  // nothing left to run, nothing touched of the old pool
  PublishNewScriptEngine();
  EXPECT_EQ(Eval("after"), "nil");
}

TEST_F(TimersTest, ANewEngineDuringATimerEndsThePass) {
  lua_register(host_.L(), "newEngine", [](lua_State*) -> int {
    PublishNewScriptEngine();
    return 0;
  });
  EXPECT_EQ(RunLua("function changer() newEngine(); stillRunning = true end"), "");
  Create("'changer', 100, 0");
  Create("'tick', 100, 0");
  TimerPool* pool = GetTimerPool();
  Step(101);
  // The old engine finished its call and went; the second timer did not run
  // in that pass, and the first kept its old stamp.
  EXPECT_EQ(pool->lastFireMs[1], pool->lastFireMs[0]);
  EXPECT_EQ(Eval("fired"), "nil");  // the new state has no script
}

}  // namespace
