// The engine: "Main.lua" at start-up (missing, broken, failing half-way), a
// new engine, and "loadExtension".
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/events.h"
#include "core/settings.h"
#include "script/commands.h"
#include "script/engine.h"
#include "script/events.h"
#include "script/script_host.h"
#include "script/timers.h"
#include "support/server_fixture.h"

using scripttest::CountOccurrences;
using scripttest::Eval;
using scripttest::RunLua;
using scripttest::ScriptHost;

namespace {

// The log's lines that carry a time stamp "[Mon-dd-yy HH:MM:SS] ", without it;
// traceback lines (no stamp) are left out.
std::vector<std::string> StampedLines(const std::string& log) {
  std::vector<std::string> lines;
  for (size_t pos = 0; pos < log.size();) {
    size_t end = log.find("\r\n", pos);
    if (end == std::string::npos) end = log.size();
    const std::string line = log.substr(pos, end - pos);
    if (line.size() > 22 && line[0] == '[' && line[4] == '-' && line.compare(19, 2, "] ") == 0) {
      lines.push_back(line.substr(21));
    }
    pos = end + 2;
  }
  return lines;
}

TEST(ScriptEngineStartup, MissingMainLuaLogsOnceAndRunsOnDefaults) {
  InProcessServer server;
  server.Start();
  ASSERT_NE(GetScriptEngine(), nullptr);
  EXPECT_EQ(CountOccurrences(server.ReadFile("server_log.txt"), "cannot open Main.lua"), 1u);
  EXPECT_EQ(gServerSettings.maxPlayers, 50);
  EXPECT_STREQ(gServerSettings.serverName, kDefaultServerName);
  EXPECT_FALSE(gServerSettings.password.has_value());
  CallOnPlayerSpawn(3);
  for (int i = 0; i < 5; ++i) server.Pump();
  EXPECT_EQ(CountOccurrences(server.ReadFile("server_log.txt"), "[SCRIPT]"), 0u);
}

TEST(ScriptEngineStartup, TheMainLoopRunsTheGameModesTimersAndClock) {
  InProcessServer server(
      "function tick() ticks = (ticks or 0) + 1 end\n"
      "timer = createTimer('tick', 50, 2)\n");
  server.Start();
  EXPECT_EQ(Eval("timer"), "0");
  EXPECT_TRUE(server.PumpUntil([] { return Eval("getServerTime()") == "12,1"; }, 5000));
  EXPECT_EQ(Eval("ticks"), "2");
  EXPECT_FALSE(GetTimerPool()->active[0]);
}

TEST(ScriptEngineStartup, ErrorsInMainLuaAreLoggedAsLuasTextAndWhatRanBeforeStays) {
  struct Case {
    const char* script;
    const char* logged;  // the one stamped line, or "" for none
    const char* check;   // a Lua expression and its value after the run
    const char* value;
  };
  const Case cases[] = {
      {"before = 1\nthis is not lua\n", "Main.lua:2: '=' expected near 'is'",
       "before, type(createTimer)", "nil,'function'"},
      {"before = 7\nfunction onPlayerSpawn(id) spawned = id end\nerror('top failed')\nafter = 1\n",
       "Main.lua:3: top failed", "before, after, type(onPlayerSpawn)", "7,nil,'function'"},
      {"error({})\n", "(error object is a table value)", "1", "1"},
      {"x = 1\n", "", "x", "1"},
  };
  for (const Case& c : cases) {
    ScriptHost host(c.script);
    const std::vector<std::string> lines = StampedLines(host.Log());
    if (*c.logged) {
      EXPECT_EQ(lines, std::vector<std::string>{c.logged}) << host.Log();
    } else {
      EXPECT_EQ(host.Log(), "");
    }
    EXPECT_EQ(Eval(c.check), c.value) << c.script;
  }
}

TEST(ScriptEngineState, ANewEngineForgetsTheOldScriptAndNothingRunsWithoutOne) {
  ScriptHost host("kept = 1\naddCommand('/x', 'f')\nfunction f() hit = true end\n");
  EXPECT_EQ(Eval("type(XML), type(IRC), type(SQL), type(IRC.addCommand)"),
            "'table','table','table','function'");
  EXPECT_EQ(Eval("type(string.format), type(io.open), type(os.time), type(debug.traceback), "
                 "type(require)"),
            "'function','function','function','function','function'");
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

class LoadExtensionTest : public ::testing::Test {
 protected:
  ScriptHost host_{""};
};

TEST_F(LoadExtensionTest, NumbersEveryLoadLogsFailuresAfterItsLineAndSharesTheState) {
  const std::string missing(49, 'm');
  host_.Write("a.lua", "fromA = 1\nfunction shared() return 'a' end\n");
  host_.Write("half.lua", "halfDone = fromA + 1\nerror('extension broke')\nnever = true\n");
  EXPECT_EQ(RunLua("loadExtension('a.lua'); loadExtension('" + missing +
                   "'); loadExtension('half.lua'); loadExtension(7)"),
            "");
  EXPECT_EQ(Eval("shared(), halfDone, never"), "'a',2,nil");
  const std::vector<std::string> lines = StampedLines(host_.Log());
  ASSERT_EQ(lines.size(), 7u) << host_.Log();
  EXPECT_EQ(lines[0], "[EXTENSION] Extension 'a.lua' has been loaded. [ID: 1]");
  EXPECT_EQ(lines[1], "[EXTENSION] Extension '" + missing + "' has been loaded. [ID: 2]");
  EXPECT_EQ(lines[2].rfind("cannot open " + missing, 0), 0u) << lines[2];
  EXPECT_EQ(lines[3], "[EXTENSION] Extension 'half.lua' has been loaded. [ID: 3]");
  EXPECT_EQ(lines[4], "half.lua:2: extension broke");
  EXPECT_EQ(lines[5], "[EXTENSION] Extension '7' has been loaded. [ID: 4]");
  EXPECT_EQ(lines[6].rfind("cannot open 7", 0), 0u) << lines[6];
}

TEST_F(LoadExtensionTest, RefusedCallsDoNothingAndLogNothing) {
  host_.Write("a.lua", "loaded = true\n");
  EXPECT_EQ(RunLua("loadExtension(''); loadExtension('" + std::string(50, 'x') +
                   "'); loadExtension({}); loadExtension(nil); loadExtension('a.lua', 1)"),
            "");
  EXPECT_EQ(host_.Log(), "");
  EXPECT_EQ(Eval("loaded"), "nil");
  EXPECT_EQ(RunLua("loadExtension('a.lua')"), "");
  EXPECT_EQ(Eval("loaded"), "true");
  EXPECT_NE(host_.Log().find("[ID: 1]"), std::string::npos);
}

TEST_F(LoadExtensionTest, At199LoadsPerEngineFurtherCallsDoNothing) {
  EXPECT_EQ(RunLua("for i = 1, 205 do loadExtension('missing.lua') end"), "");
  EXPECT_EQ(host_.LogCount("[EXTENSION]"), 199u);
  EXPECT_EQ(host_.LogCount("[ID: 199]"), 1u);
  PublishNewScriptEngine();
  RegisterScriptNatives();
  EXPECT_EQ(RunLua("loadExtension('missing.lua')"), "");
  EXPECT_EQ(host_.LogCount("[ID: 1]"), 2u);
}

TEST_F(LoadExtensionTest, NestedLoadsGetTheirOwnNumbersAndTheCapHolds) {
  host_.Write("self.lua", "loadExtension('self.lua')\n");
  EXPECT_EQ(RunLua("loadExtension('self.lua')"), "");
  const std::vector<std::string> lines = StampedLines(host_.Log());
  std::vector<std::string> numbered;
  for (const std::string& line : lines) {
    if (line.rfind("[EXTENSION]", 0) == 0) numbered.push_back(line);
  }
  ASSERT_GT(numbered.size(), 10u);
  ASSERT_LE(numbered.size(), 199u);
  for (size_t i = 0; i < numbered.size(); ++i) {
    EXPECT_EQ(numbered[i], "[EXTENSION] Extension 'self.lua' has been loaded. [ID: " +
                               std::to_string(i + 1) + "]");
  }
}

}  // namespace
