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
  TimerPool& Pool() { return *GetTimerPool(); }
  // Advances the clock and runs one pass.
  void Step(uint32_t ms) {
    clock_.Advance(ms);
    Pool().Process();
  }
  std::string Clock() {
    uint8_t hour = 99;
    uint8_t minute = 99;
    GetGameClock(hour, minute);
    return Eval("getServerTime()") + "/" + std::to_string(hour) + "," + std::to_string(minute);
  }

  DrivenClock clock_;
  ScriptHost host_{kCounters};
};

TEST_F(TimersTest, IntervalsAreClampedMustBeExceededAndFireOncePerPass) {
  EXPECT_EQ(Create("'tick', 10, 0"), 0);
  EXPECT_EQ(Create("'tock', 5000000, 0"), 1);
  EXPECT_EQ(Create("'tock', -5, 0"), 2);  // a negative interval is a huge unsigned one
  EXPECT_EQ(Pool().intervalMs[0], kMinTimerIntervalMs);
  EXPECT_EQ(Pool().intervalMs[2], kMaxTimerIntervalMs);
  Step(50);
  EXPECT_EQ(Fired("tick"), 0);
  Step(1);
  EXPECT_EQ(Fired("tick"), 1);
  Step(50);  // the next interval counts from the firing
  EXPECT_EQ(Fired("tick"), 1);
  Step(10000);
  Pool().Process();
  EXPECT_EQ(Fired("tick"), 2);
  Step(1000000 - 10101);
  EXPECT_EQ(Fired("tock"), 0);
  Step(1);
  EXPECT_EQ(Fired("tock"), 2);
}

TEST_F(TimersTest, CountsForeverTimersTheHundredAndFirstAndDestroy) {
  EXPECT_EQ(Create("'tick', 100, 1"), 0);
  EXPECT_EQ(Create("'tock', 100, 3"), 1);
  EXPECT_EQ(Create("'other', 100, 0"), 2);
  for (int i = 0; i < 10; ++i) Step(101);
  EXPECT_EQ(Eval("n('tick'), n('tock'), n('other')"), "1,3,10");
  EXPECT_FALSE(Pool().active[0] || Pool().active[1]);
  EXPECT_EQ(Create("'tick', 100, 1"), 0);  // the freed slot is handed out again
  EXPECT_EQ(RunLua("destroyTimer(2)"), "");
  Step(101);
  EXPECT_EQ(Fired("other"), 10);
  const int many = Create("'tick', 100, -1");
  EXPECT_EQ(Pool().remaining[many], kMaxTimerCount);
  EXPECT_FALSE(Pool().forever[many]);

  EXPECT_EQ(RunLua("for i = 1, 99 do last = createTimer('tick', 1000, 0) end"), "");
  EXPECT_EQ(Eval("last, createTimer('tick', 1000, 0)"), "99,-1");
  // destroyTimer takes the id's low byte and ignores ids above 99.
  EXPECT_EQ(RunLua("destroyTimer(300); destroyTimer(200); destroyTimer(-1)"), "");
  EXPECT_EQ(Eval("createTimer('tick', 1000, 0), createTimer('tick', 1000, 0)"), "44,-1");
}

TEST_F(TimersTest, FunctionsAreLookedUpByNameAtCreationAndAtEveryFiring) {
  EXPECT_EQ(Eval("createTimer('nope', 100, 0), createTimer('fired', 100, 0), createTimer(5, 100, 0)"),
            "-1,-1,-1");
  EXPECT_EQ(Eval("select('#', createTimer({}, 100, 0))"), "0");
  const int slot = Create("'tick', 100, 2");
  EXPECT_EQ(slot, 0);
  const uint32_t created = Pool().lastFireMs[slot];
  EXPECT_EQ(RunLua("saved = tick; tick = nil"), "");
  Step(500);
  Step(500);
  EXPECT_EQ(Pool().lastFireMs[slot], created);
  EXPECT_EQ(Pool().remaining[slot], 2u);
  EXPECT_EQ(RunLua("tick = saved"), "");
  Pool().Process();
  EXPECT_EQ(Fired("tick"), 1);
  EXPECT_EQ(Pool().remaining[slot], 1u);
  EXPECT_EQ(host_.Log(), "");
}

TEST_F(TimersTest, ATimerThatDestroysOrReplacesItselfKeepsTheBookkeepingStraight) {
  EXPECT_EQ(RunLua("function selfish() fired.s = n('s') + 1; destroyTimer(mine) end\n"
                   "mine = createTimer('selfish', 100, 0)"),
            "");
  Step(101);
  Step(101);
  EXPECT_EQ(Fired("s"), 1);
  EXPECT_FALSE(Pool().active[0]);

  EXPECT_EQ(RunLua("function swap() destroyTimer(first); second = createTimer('other', 500, 2) end\n"
                   "first = createTimer('swap', 100, 1)"),
            "");
  Step(101);
  const uint32_t swapTime = scripttest::fakeNowMs;
  EXPECT_EQ(Eval("first, second"), "0,0");
  // The old timer's last call would have freed the slot: the new one stays,
  // with the count and the start it was created with.
  EXPECT_EQ(Pool().function[0], "other");
  EXPECT_EQ(Pool().remaining[0], 2u);
  EXPECT_EQ(Pool().lastFireMs[0], swapTime);
  Step(500);
  EXPECT_EQ(Fired("other"), 0);
  Step(1);
  Step(501);
  EXPECT_EQ(Fired("other"), 2);
  EXPECT_FALSE(Pool().active[0]);
}

TEST_F(TimersTest, AFailingTimerIsLoggedAndStillCounted) {
  EXPECT_EQ(RunLua("function bad() fired.bad = n('bad') + 1; error('timer broke') end"), "");
  Create("'bad', 100, 2");
  Create("'tick', 100, 0");
  for (int i = 0; i < 3; ++i) Step(101);
  EXPECT_EQ(Eval("n('bad'), n('tick')"), "2,3");
  EXPECT_EQ(host_.LogCount("[SCRIPT] Error in timer function 'bad': "), 2u) << host_.Log();
  EXPECT_EQ(host_.LogCount("timer broke\r\nstack traceback:"), 2u);
}

TEST_F(TimersTest, TheClockStepsOneMinutePerSecondAndSetServerTimeShowsFromTheNextStep) {
  EXPECT_EQ(Clock(), "12,0/12,0");
  Step(1000);
  EXPECT_EQ(Clock(), "12,0/12,0");
  Step(1);
  EXPECT_EQ(Clock(), "12,1/12,1");
  Step(5000);  // a late pass does not catch up
  EXPECT_EQ(Clock(), "12,2/12,2");

  const char* const cases[][3] = {
      {"6, 30", "389", "6,30/6,30"}, {"25, 61", "1438", "23,59/23,59"},
      {"-1, 0", "1379", "23,0/23,0"}, {"0, 0", "65535", "0,0/0,0"},
      {"300.7, 2", "1381", "23,2/23,2"},
  };
  for (const auto& c : cases) {
    const std::string before = Clock();
    EXPECT_EQ(RunLua(std::string("setServerTime(") + c[0] + ")"), "");
    EXPECT_EQ(std::to_string(Pool().minuteOfDay), c[1]) << c[0];
    EXPECT_EQ(Clock(), before) << c[0];
    Step(1001);
    EXPECT_EQ(Clock(), c[2]) << c[0];
  }
  EXPECT_EQ(RunLua("setServerTime(23, 59)"), "");
  Step(1001);
  Step(1001);
  EXPECT_EQ(Clock(), "0,0/0,0");  // after 23:59 comes 00:00
}

TEST_F(TimersTest, NothingMovesWithoutAnEngineAndANewPoolStartsAfresh) {
  Create("'tick', 100, 0");
  EXPECT_EQ(RunLua("setServerTime(3, 3)"), "");
  DestroyScriptEngine();
  Step(5000);
  Step(5000);
  EXPECT_EQ(Pool().minuteOfDay, 182);
  EXPECT_EQ(Pool().hour, 12);
  EXPECT_TRUE(Pool().active[0]);
  EXPECT_EQ(Pool().lastFireMs[0], scripttest::fakeNowMs - 10000);
  PublishNewScriptEngine();
  RegisterScriptNatives();
  ReplaceTimerPool();
  EXPECT_EQ(Pool().FindFreeSlot(), 0);
  EXPECT_EQ(Clock(), "12,0/12,0");
}

// What a restart from inside the game mode does to the script host.
int RestartNow(lua_State*) {
  DestroyScriptEngine();
  ReplaceTimerPool();
  return 0;
}

TEST_F(TimersTest, ARestartOrANewEngineDuringATimerEndsThePass) {
  lua_register(host_.L(), "restartNow", RestartNow);
  EXPECT_EQ(RunLua("function restarter() restartNow() end"), "");
  Create("'restarter', 100, 0");
  Create("'tick', 100, 0");
  Step(101);
  EXPECT_EQ(GetScriptEngine(), nullptr);
  EXPECT_EQ(Pool().FindFreeSlot(), 0);

  PublishNewScriptEngine();
  RegisterScriptNatives();
  lua_register(host_.L(), "newEngine", [](lua_State*) -> int {
    PublishNewScriptEngine();
    return 0;
  });
  EXPECT_EQ(RunLua("function changer() newEngine() end"), "");
  Create("'changer', 100, 0");
  Create("'tick', 100, 0");
  Step(101);
  // The second timer did not run in that pass, and the first kept its stamp.
  EXPECT_EQ(Pool().lastFireMs[0], scripttest::fakeNowMs - 101);
  EXPECT_EQ(Pool().lastFireMs[1], scripttest::fakeNowMs - 101);
}

TEST_F(TimersTest, ARestartInsideCreateTimersLookupGivesMinusOne) {
  // The lookup runs script code (an __index on the globals) that restarts:
  // the pool the native was filling is gone.
  lua_register(host_.L(), "restartNow", RestartNow);
  EXPECT_EQ(RunLua("setmetatable(_G, {__index = function(_, k)\n"
                   "  if k == 'later' then restartNow(); return print end end})"),
            "");
  ScriptEngine* engine = GetScriptEngine();
  ScriptCallScope scope(*engine);  // as any script call holds it
  EXPECT_EQ(Eval("createTimer('later', 100, 0)"), "-1");
  EXPECT_EQ(Pool().FindFreeSlot(), 0);
}

TEST_F(TimersTest, ANestedCreateTimerInTheLookupKeepsBothTimers) {
  EXPECT_EQ(RunLua("setmetatable(_G, {__index = function(_, k)\n"
                   "  if k == 'outer' then inner = createTimer('tick', 100, 0); return tock end end})"),
            "");
  EXPECT_EQ(Eval("createTimer('outer', 100, 0), inner"), "1,0");
  EXPECT_EQ(Pool().function[0], "tick");
  EXPECT_EQ(Pool().function[1], "outer");
}

}  // namespace
