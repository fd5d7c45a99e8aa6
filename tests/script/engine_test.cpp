// The engine: "Main.lua" at start-up (missing, broken, failing half-way), a
// new engine, and "loadExtension".
#include "script/engine.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "core/events.h"
#include "script/commands.h"
#include "script/events.h"
#include "script/script_host.h"
#include "script/timers.h"
#include "support/seam.h"

using namespace scripttest;

namespace {

// The log without the time stamps "[Mon-dd-yy HH:MM:SS] " of its lines.
std::string Unstamped(const std::string& log) {
  return std::regex_replace(log, std::regex(R"(\[\w{3}-\d\d-\d\d \d\d:\d\d:\d\d\] )"), "");
}

TEST(ScriptEngineStartup, WithoutMainLuaTheServerRunsAndTheMainLoopRunsTimersAndClock) {
  // The settings stay the defaults (settings_test.cpp); a handler that is not
  // there logs nothing.
  support::Seam seam;
  CallOnPlayerSpawn(3);
  const std::string timerScript = R"(
    function tick() ticks = (ticks or 0) + 1 end
    timer = createTimer('tick', 50, 2))";
  EXPECT_EQ(seam.Lua(timerScript), "");
  for (int i = 0; i < 3; ++i) {
    seam.clock.Advance(400);
    seam.Pump();
  }
  EXPECT_EQ(seam.Eval("timer"), "0");
  EXPECT_EQ(seam.Eval("ticks"), "2");
  EXPECT_EQ(seam.Eval("getServerTime()"), "12,1");
  const std::string log = seam.Server().ReadFile("server_log.txt");
  EXPECT_EQ(CountOccurrences(log, "cannot open Main.lua"), 1u);
  EXPECT_EQ(CountOccurrences(log, "[SCRIPT]"), 0u);
}

TEST(ScriptEngineStartup, ErrorsInMainLuaAreLoggedAsLuasTextAndWhatRanBeforeStays) {
  // Each script, what its run logs, and Lua expressions with their values after it.
  struct Value {
    std::string expression;
    std::string shown;
  };
  struct Case {
    std::string script;
    std::string log;
    std::vector<Value> values;
  };
  const Case cases[] = {
      {"before = 1\nthis is not lua\n",
       "Main.lua:2: '=' expected near 'is'\r\n",
       {{"before", "nil"}, {"type(createTimer)", "'function'"}}},
      {"before = 7\nfunction onPlayerSpawn(id) spawned = id end\nerror('top failed')\nafter = 1\n",
       "Main.lua:3: top failed\r\n",
       {{"before", "7"}, {"after", "nil"}, {"type(onPlayerSpawn)", "'function'"}}},
      {"error({})\n", "(error object is a table value)\r\n", {{"1", "1"}}},
      {"x = 1\n", "", {{"x", "1"}}},
  };
  for (const Case& c : cases) {
    ScriptHost host(c.script);
    EXPECT_EQ(Unstamped(host.Log()), c.log) << c.script;
    for (const Value& v : c.values) {
      EXPECT_EQ(Eval(v.expression), v.shown) << c.script << v.expression;
    }
  }
}

TEST(ScriptEngineState, ANewEngineForgetsTheOldScriptAndNothingRunsWithoutOne) {
  ScriptHost host("kept = 1\naddCommand('/x', 'f')\nfunction f() hit = true end\n");
  ExpectLua(R"(
    eq('table', type(XML))
    eq('table', type(IRC))
    eq('table', type(SQL))
    eq('function', type(IRC.addCommand))
    eq('function', type(string.format))
    eq('function', type(io.open))
    eq('function', type(os.time))
    eq('function', type(debug.traceback))
    eq('function', type(require)))");
  // A file the old script left open is flushed and closed with its state.
  EXPECT_EQ(RunLua("left = io.open('left_open.txt', 'w')\nleft:write('written')"), "");
  PublishNewScriptEngine();
  EXPECT_EQ(Eval("io.open('left_open.txt'):read('*a')"), "'written'");
  EXPECT_EQ(Eval("kept"), "nil");
  EXPECT_EQ(PlayerCommandTable().Count(), 0u);
  RegisterScriptNatives();
  DispatchPlayerCommand(0, "/x");
  EXPECT_EQ(Eval("hit"), "true");  // added again by the new run
  DestroyScriptEngine();
  EXPECT_EQ(GetScriptEventSink(), nullptr);
  // Straight to the raiser, past the sink: it checks for the engine itself.
  GetScriptEventRaiser().Raise({ScriptEventKind::kPlayerSpawn, {{1}}});
  GetScriptEventRaiser().DispatchPlayerCommand(1, "/x");
  GetScriptEventRaiser().DispatchIRCCommand(0, "bob", "#c", "x");
}

TEST(LoadExtension, NumbersEveryLoadLogsFailuresAfterItsLineAndSharesTheState) {
  // Refused without a line or a number: empty, over 49 characters, not a
  // text, a wrong count. A name of 49 characters is taken (and not found).
  ScriptHost host("");
  const std::string m49(49, 'm');
  host.Write("a.lua", "fromA = 1\nfunction shared() return 'a' end\n");
  host.Write("half.lua", "halfDone = fromA + 1\nerror('extension broke')\nnever = true\n");
  ExpectLua(R"(
    local m49 = string.rep('m', 49)
    loadExtension('')
    loadExtension(string.rep('x', 50))
    loadExtension({})
    loadExtension(nil)
    loadExtension('a.lua', 1)
    loadExtension('a.lua')
    loadExtension(m49)
    loadExtension('half.lua')
    loadExtension(7)
    eq('a', shared())
    eq('2', halfDone)
    eq('nil', never))");
  std::string want;
  want += "[EXTENSION] Extension 'a.lua' has been loaded. [ID: 1]\r\n";
  want += "[EXTENSION] Extension '" + m49 + "' has been loaded. [ID: 2]\r\n";
  want += "cannot open " + m49 + ": No such file or directory\r\n";
  want += "[EXTENSION] Extension 'half.lua' has been loaded. [ID: 3]\r\n";
  want += "half.lua:2: extension broke\r\n";
  want += "[EXTENSION] Extension '7' has been loaded. [ID: 4]\r\n";
  want += "cannot open 7: No such file or directory\r\n";
  EXPECT_EQ(Unstamped(host.Log()), want);
}

TEST(LoadExtension, NumbersAndTheCapOf199CountNestedLoadsAndStartAgainWithANewEngine) {
  // The missing ones come after the cap: no line for them.
  ScriptHost host("");
  host.Write("self.lua", "loadExtension('self.lua')\n");
  EXPECT_EQ(RunLua("loadExtension('self.lua') for i = 1, 5 do loadExtension('missing.lua') end"),
            "");
  EXPECT_EQ(host.LogCount("[EXTENSION]"), 199u);
  EXPECT_EQ(host.LogCount("[ID: 199]\r\n"), 1u);
  PublishNewScriptEngine();
  RegisterScriptNatives();
  EXPECT_EQ(RunLua("loadExtension('missing.lua')"), "");
  EXPECT_EQ(host.LogCount("'missing.lua' has been loaded. [ID: 1]"), 1u);
}

}  // namespace
