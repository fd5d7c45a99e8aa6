// The engine: "Main.lua" at start-up (missing, broken, failing half-way), a
// new engine, and "loadExtension".
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "core/events.h"
#include "script/commands.h"
#include "script/engine.h"
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
  seam.Lua("function tick() ticks = (ticks or 0) + 1 end timer = createTimer('tick', 50, 2)");
  for (int i = 0; i < 3; ++i) seam.clock.Advance(400), seam.Pump();
  EXPECT_EQ(seam.Eval("timer, ticks, getServerTime()"), "0,2,12,1");
  EXPECT_EQ(CountEach(seam.Server().ReadFile("server_log.txt"), {"cannot open Main.lua", "[SCRIPT]"}), "1,0");
}

TEST(ScriptEngineStartup, ErrorsInMainLuaAreLoggedAsLuasTextAndWhatRanBeforeStays) {
  const char* const cases[][4] = {  // script, log, Lua expression, its value after the run
      {"before = 1\nthis is not lua\n", "Main.lua:2: '=' expected near 'is'\r\n", "before, type(createTimer)",
       "nil,'function'"},
      {"before = 7\nfunction onPlayerSpawn(id) spawned = id end\nerror('top failed')\nafter = 1\n",
       "Main.lua:3: top failed\r\n", "before, after, type(onPlayerSpawn)", "7,nil,'function'"},
      {"error({})\n", "(error object is a table value)\r\n", "1", "1"}, {"x = 1\n", "", "x", "1"}};
  for (const auto& c : cases) {
    ScriptHost host(c[0]);
    EXPECT_EQ(Unstamped(host.Log()) + "|" + Eval(c[2]), std::string(c[1]) + "|" + c[3]) << c[0];
  }
}

TEST(ScriptEngineState, ANewEngineForgetsTheOldScriptAndNothingRunsWithoutOne) {
  ScriptHost host("kept = 1\naddCommand('/x', 'f')\nfunction f() hit = true end\n");
  ExpectLua("eq('table,table,table,function,function,function,function,function,function', type(XML), "
            "type(IRC), type(SQL), type(IRC.addCommand), type(string.format), type(io.open), type(os.time), "
            "type(debug.traceback), type(require))");
  PublishNewScriptEngine();
  EXPECT_EQ(Eval("kept") + std::to_string(PlayerCommandTable().Count()), "nil0");
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
  // text, a wrong count.
  ScriptHost host("");
  const std::string m(49, 'm'), x = "[EXTENSION] Extension '", n = "' has been loaded. [ID: ";
  host.Write("a.lua", "fromA = 1\nfunction shared() return 'a' end\n");
  host.Write("half.lua", "halfDone = fromA + 1\nerror('extension broke')\nnever = true\n");
  ExpectLua("loadExtension(''); loadExtension('" + std::string(50, 'x') + "'); loadExtension({}); "
            "loadExtension(nil); loadExtension('a.lua', 1) loadExtension('a.lua'); loadExtension('" + m +
            "'); loadExtension('half.lua'); loadExtension(7) eq('a,2,nil', shared(), halfDone, never)");
  EXPECT_EQ(Unstamped(host.Log()), x + "a.lua" + n + "1]\r\n" + x + m + n + "2]\r\ncannot open " + m +
                                       ": No such file or directory\r\n" + x + "half.lua" + n +
                                       "3]\r\nhalf.lua:2: extension broke\r\n" + x + "7" + n +
                                       "4]\r\ncannot open 7: No such file or directory\r\n");
}

TEST(LoadExtension, NumbersAndTheCapOf199CountNestedLoadsAndStartAgainWithANewEngine) {
  // The missing ones come after the cap: no line for them.
  ScriptHost host("");
  host.Write("self.lua", "loadExtension('self.lua')\n");
  EXPECT_EQ(RunLua("loadExtension('self.lua'); for i = 1, 5 do loadExtension('missing.lua') end"), "");
  EXPECT_EQ(std::to_string(host.LogCount("[EXTENSION]")) + std::to_string(host.LogCount("[ID: 199]\r\n")),
            "1991");
  PublishNewScriptEngine();
  RegisterScriptNatives();
  EXPECT_EQ(RunLua("loadExtension('missing.lua')"), "");
  EXPECT_EQ(host.LogCount("'missing.lua' has been loaded. [ID: 1]"), 1u);
}

}  // namespace

