// The engine: "Main.lua" at start-up (missing, broken, failing half-way), a
// new engine, and "loadExtension".
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "core/events.h"
#include "core/settings.h"
#include "script/commands.h"
#include "script/engine.h"
#include "script/events.h"
#include "script/script_host.h"
#include "script/timers.h"
#include "support/seam.h"
#include "support/server_fixture.h"

using namespace scripttest;

namespace {

// The log without the time stamps "[Mon-dd-yy HH:MM:SS] " of its lines.
std::string Unstamped(const std::string& log) {
  return std::regex_replace(log, std::regex(R"(\[\w{3}-\d\d-\d\d \d\d:\d\d:\d\d\] )"), "");
}

TEST(ScriptEngineStartup, WithoutMainLuaTheServerRunsOnDefaults) {
  InProcessServer server;
  server.Start();
  ASSERT_NE(GetScriptEngine(), nullptr);
  EXPECT_EQ(CountOccurrences(server.ReadFile("server_log.txt"), "cannot open Main.lua"), 1u);
  EXPECT_EQ(gServerSettings.maxPlayers, 50);
  EXPECT_STREQ(gServerSettings.serverName, kDefaultServerName);
  EXPECT_FALSE(gServerSettings.password.has_value());
  CallOnPlayerSpawn(3);
  server.Pump();
  EXPECT_EQ(CountOccurrences(server.ReadFile("server_log.txt"), "[SCRIPT]"), 0u);
}

TEST(ScriptEngineStartup, TheMainLoopRunsTheGameModesTimersAndClock) {
  support::Seam seam("function tick() ticks = (ticks or 0) + 1 end\ntimer = createTimer('tick', 50, 2)\n");
  for (int i = 0; i < 3; ++i) {
    seam.clock.Advance(400);
    seam.Pump();
  }
  EXPECT_EQ(seam.Eval("timer, ticks, getServerTime()"), "0,2,12,1");
  EXPECT_FALSE(GetTimerPool()->active[0]);
}

TEST(ScriptEngineStartup, ErrorsInMainLuaAreLoggedAsLuasTextAndWhatRanBeforeStays) {
  const char* const cases[][4] = {  // script, log, Lua expression, its value after the run
      {"before = 1\nthis is not lua\n", "Main.lua:2: '=' expected near 'is'\r\n",
       "before, type(createTimer)", "nil,'function'"},
      {"before = 7\nfunction onPlayerSpawn(id) spawned = id end\nerror('top failed')\nafter = 1\n",
       "Main.lua:3: top failed\r\n", "before, after, type(onPlayerSpawn)", "7,nil,'function'"},
      {"error({})\n", "(error object is a table value)\r\n", "1", "1"},
      {"x = 1\n", "", "x", "1"},
  };
  for (const auto& c : cases) {
    ScriptHost host(c[0]);
    EXPECT_EQ(Unstamped(host.Log()), c[1]);
    EXPECT_EQ(Eval(c[2]), c[3]) << c[0];
  }
}

TEST(ScriptEngineState, ANewEngineForgetsTheOldScriptAndNothingRunsWithoutOne) {
  ScriptHost host("kept = 1\naddCommand('/x', 'f')\nfunction f() hit = true end\n");
  EXPECT_EQ(Eval("type(XML), type(IRC), type(SQL), type(IRC.addCommand), type(string.format), "
                 "type(io.open), type(os.time), type(debug.traceback), type(require)"),
            "'table','table','table','function','function','function','function','function',"
            "'function'");
  PublishNewScriptEngine();
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
  ScriptHost host("");
  const std::string missing(49, 'm');
  host.Write("a.lua", "fromA = 1\nfunction shared() return 'a' end\n");
  host.Write("half.lua", "halfDone = fromA + 1\nerror('extension broke')\nnever = true\n");
  // Refused: empty, over 49 characters, not a text, a wrong count.
  EXPECT_EQ(RunLua("loadExtension(''); loadExtension('" + std::string(50, 'x') +
                   "'); loadExtension({}); loadExtension(nil); loadExtension('a.lua', 1)"),
            "");
  EXPECT_EQ(host.Log(), "");
  EXPECT_EQ(RunLua("loadExtension('a.lua'); loadExtension('" + missing +
                   "'); loadExtension('half.lua'); loadExtension(7)"),
            "");
  EXPECT_EQ(Eval("shared(), halfDone, never"), "'a',2,nil");
  const std::string loaded = "[EXTENSION] Extension '";
  EXPECT_EQ(Unstamped(host.Log()),
            loaded + "a.lua' has been loaded. [ID: 1]\r\n" + loaded + missing +
                "' has been loaded. [ID: 2]\r\ncannot open " + missing +
                ": No such file or directory\r\n" + loaded +
                "half.lua' has been loaded. [ID: 3]\r\nhalf.lua:2: extension broke\r\n" + loaded +
                "7' has been loaded. [ID: 4]\r\ncannot open 7: No such file or directory\r\n");
}

TEST(LoadExtension, NumbersAndTheCapOf199CountNestedLoadsAndStartAgainWithANewEngine) {
  ScriptHost host("");
  host.Write("self.lua", "loadExtension('self.lua')\n");
  EXPECT_EQ(RunLua("loadExtension('self.lua'); for i = 1, 5 do loadExtension('missing.lua') end"),
            "");
  std::string expected;
  for (int i = 1; i <= 199; ++i) {
    expected += "[EXTENSION] Extension 'self.lua' has been loaded. [ID: " + std::to_string(i) + "]\r\n";
  }
  EXPECT_EQ(Unstamped(host.Log()).substr(0, expected.size()), expected);
  EXPECT_EQ(host.LogCount("[EXTENSION]"), 199u);  // the missing ones came after the cap
  PublishNewScriptEngine();
  RegisterScriptNatives();
  EXPECT_EQ(RunLua("loadExtension('missing.lua')"), "");
  EXPECT_EQ(host.LogCount("'missing.lua' has been loaded. [ID: 1]"), 1u);
}

}  // namespace
