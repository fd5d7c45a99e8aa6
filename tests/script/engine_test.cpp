// The engine: "Main.lua" at start-up (missing, broken, failing half-way) and
// "loadExtension".
#include <gtest/gtest.h>

#include <string>

#include "core/events.h"
#include "core/settings.h"
#include "script/engine.h"
#include "script/timers.h"
#include "script/script_host.h"
#include "support/server_fixture.h"

using scripttest::CountOccurrences;
using scripttest::Eval;
using scripttest::RunLua;
using scripttest::ScriptHost;

namespace {

// Every line of the log that carries a time stamp, with the stamp removed.
std::vector<std::string> StampedLines(const std::string& log) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < log.size()) {
    size_t end = log.find("\r\n", pos);
    if (end == std::string::npos) end = log.size();
    const std::string line = log.substr(pos, end - pos);
    // "[Mon-dd-yy HH:MM:SS] text"
    const size_t close = line.find("] ");
    if (line.size() > 1 && line[0] == '[' && close != std::string::npos && close >= 18 &&
        line[4] == '-' && line[close - 3] == ':' && line[close - 6] == ':') {
      lines.push_back(line.substr(close + 2));
    }
    pos = end + 2;
  }
  return lines;
}

TEST(ScriptEngineStartup, MissingMainLuaLogsOnceAndRunsOnDefaults) {
  InProcessServer server;
  server.Start();
  ASSERT_NE(GetScriptEngine(), nullptr);
  const std::string log = server.ReadFile("server_log.txt");
  EXPECT_EQ(CountOccurrences(log, "cannot open Main.lua"), 1u) << log;
  EXPECT_EQ(gServerSettings.maxPlayers, 50);
  EXPECT_STREQ(gServerSettings.serverName, kDefaultServerName);
  EXPECT_STREQ(gServerSettings.modeName, kDefaultModeName);
  EXPECT_FALSE(gServerSettings.password.has_value());
  EXPECT_NE(server.Port(), 0);

  // No handler exists: events and passes go by without a trace.
  CallOnPlayerSpawn(3);
  CallOnPlayerChat(3, "hello");
  for (int i = 0; i < 5; ++i) server.Pump();
  EXPECT_EQ(CountOccurrences(server.ReadFile("server_log.txt"), "[SCRIPT]"), 0u);
}

TEST(ScriptEngineStartup, SyntaxErrorIsLoggedAndNothingOfTheFileRuns) {
  InProcessServer server("before = 1\nthis is not lua\n");
  server.Start();
  const std::vector<std::string> lines = StampedLines(server.ReadFile("server_log.txt"));
  bool found = false;
  for (const std::string& line : lines) {
    if (line.rfind("Main.lua:2:", 0) == 0) found = true;
  }
  EXPECT_TRUE(found) << server.ReadFile("server_log.txt");
  EXPECT_EQ(Eval("before"), "nil");
  EXPECT_EQ(Eval("type(createTimer)"), "'function'");
}

TEST(ScriptEngineStartup, RuntimeErrorKeepsWhatRanBefore) {
  InProcessServer server(
      "before = 7\n"
      "function onPlayerSpawn(id) spawned = id end\n"
      "error('top level failed')\n"
      "after = 1\n"
      "function onPlayerChat() end\n");
  server.Start();
  const std::vector<std::string> lines = StampedLines(server.ReadFile("server_log.txt"));
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Main.lua:3: top level failed"), lines.end())
      << server.ReadFile("server_log.txt");
  EXPECT_EQ(Eval("before"), "7");
  EXPECT_EQ(Eval("after"), "nil");
  EXPECT_EQ(Eval("onPlayerChat"), "nil");
  CallOnPlayerSpawn(9);
  EXPECT_EQ(Eval("spawned"), "9");
  server.Pump();
  EXPECT_NE(server.Port(), 0);
}

TEST(ScriptEngineStartup, ErrorObjectThatIsNotTextIsLogged) {
  InProcessServer server("error({})\n");
  server.Start();
  const std::vector<std::string> lines = StampedLines(server.ReadFile("server_log.txt"));
  EXPECT_NE(std::find(lines.begin(), lines.end(), "(error object is a table value)"),
            lines.end())
      << server.ReadFile("server_log.txt");
}

TEST(ScriptEngineStartup, CleanRunLogsNothingOfItsOwn) {
  InProcessServer server("x = 1\n");
  server.Start();
  const std::string log = server.ReadFile("server_log.txt");
  EXPECT_EQ(CountOccurrences(log, "Main.lua"), 0u) << log;
  EXPECT_EQ(Eval("x"), "1");
}

TEST(ScriptEngineStartup, TheMainLoopRunsTheGameModesTimersAndClock) {
  InProcessServer server(
      "function onPlayerConnect(id) connected = id end\n"
      "function tick() ticks = (ticks or 0) + 1 end\n"
      "timer = createTimer('tick', 50, 2)\n");
  server.Start();
  EXPECT_EQ(Eval("timer"), "0");
  EXPECT_TRUE(server.PumpUntil([] { return Eval("ticks") == "2"; }, 5000));
  EXPECT_TRUE(server.PumpUntil([] { return Eval("getServerTime()") == "12,1"; }, 5000));
  EXPECT_EQ(Eval("ticks"), "2");
  EXPECT_FALSE(GetTimerPool()->active[0]);
}

TEST(ScriptEngineState, LibrariesAndStandardLibrariesAreThere) {
  ScriptHost host("");
  EXPECT_EQ(Eval("type(XML), type(IRC), type(SQL)"), "'table','table','table'");
  EXPECT_EQ(Eval("type(IRC.addCommand)"), "'function'");
  EXPECT_EQ(Eval("type(string.format), type(math.floor), type(io.open), type(os.time), "
                 "type(debug.traceback), type(table.insert), type(require)"),
            "'function','function','function','function','function','function','function'");
}

TEST(ScriptEngineState, ANewEngineForgetsTheOldScript) {
  ScriptHost host("kept = 1\naddCommand('/x', 'f')\nfunction f() hit = true end\n");
  ASSERT_EQ(Eval("kept"), "1");
  PublishNewScriptEngine();
  EXPECT_EQ(Eval("kept"), "nil");
  EXPECT_EQ(Eval("type(addCommand)"), "'nil'");  // natives come with RegisterScriptNatives
  RegisterScriptNatives();
  EXPECT_EQ(Eval("kept"), "1");
  EXPECT_EQ(RunLua("hit = nil"), "");
  DispatchPlayerCommand(0, "/x");
  EXPECT_EQ(Eval("hit"), "true");  // added again by the new run
}

TEST(ScriptEngineState, NothingReachesTheScriptWithoutAnEngine) {
  ScriptHost host("function onPlayerSpawn() end\n");
  EXPECT_NE(GetScriptEventSink(), nullptr);
  DestroyScriptEngine();
  EXPECT_EQ(GetScriptEngine(), nullptr);
  EXPECT_EQ(GetScriptEventSink(), nullptr);
  CallOnPlayerSpawn(1);
  DispatchPlayerCommand(1, "/x");
}

class LoadExtensionTest : public ::testing::Test {
 protected:
  ScriptHost host_{""};
};

TEST_F(LoadExtensionTest, NumbersEachLoadAndRunsItInTheSameState) {
  host_.Write("a.lua", "fromA = 1\nfunction shared() return 'a' end\n");
  host_.Write("b.lua", "fromB = fromA + 1\n");
  EXPECT_EQ(Eval("loadExtension('a.lua')"), "");
  EXPECT_EQ(Eval("loadExtension('b.lua')"), "");
  EXPECT_EQ(Eval("fromA, fromB, shared()"), "1,2,'a'");
  const std::vector<std::string> lines = StampedLines(host_.Log());
  ASSERT_EQ(lines.size(), 2u) << host_.Log();
  EXPECT_EQ(lines[0], "[EXTENSION] Extension 'a.lua' has been loaded. [ID: 1]");
  EXPECT_EQ(lines[1], "[EXTENSION] Extension 'b.lua' has been loaded. [ID: 2]");
}

TEST_F(LoadExtensionTest, FailuresAreLoggedAfterTheLineAndStillCount) {
  const std::string missing(49, 'm');
  host_.Write("half.lua", "halfDone = true\nerror('extension broke')\nnever = true\n");
  EXPECT_EQ(RunLua("loadExtension('" + missing + "')"), "");
  EXPECT_EQ(RunLua("loadExtension('half.lua')"), "");
  EXPECT_EQ(RunLua("loadExtension('" + missing + "')"), "");
  EXPECT_EQ(Eval("halfDone, never"), "true,nil");
  const std::vector<std::string> lines = StampedLines(host_.Log());
  ASSERT_EQ(lines.size(), 6u) << host_.Log();
  EXPECT_EQ(lines[0], "[EXTENSION] Extension '" + missing + "' has been loaded. [ID: 1]");
  EXPECT_EQ(lines[1].rfind("cannot open " + missing, 0), 0u) << lines[1];
  EXPECT_EQ(lines[2], "[EXTENSION] Extension 'half.lua' has been loaded. [ID: 2]");
  EXPECT_EQ(lines[3], "half.lua:2: extension broke");
  EXPECT_EQ(lines[4], "[EXTENSION] Extension '" + missing + "' has been loaded. [ID: 3]");
}

TEST_F(LoadExtensionTest, RefusedCallsDoNothingAndLogNothing) {
  host_.Write("a.lua", "loaded = (loaded or 0) + 1\n");
  EXPECT_EQ(Eval("loadExtension('')"), "");
  EXPECT_EQ(Eval("loadExtension('" + std::string(50, 'x') + "')"), "");
  EXPECT_EQ(Eval("loadExtension()"), "");
  EXPECT_EQ(Eval("loadExtension('a.lua', 'a.lua')"), "");
  EXPECT_EQ(Eval("loadExtension({})"), "");
  EXPECT_EQ(Eval("loadExtension(nil)"), "");
  EXPECT_EQ(host_.Log(), "");
  EXPECT_EQ(Eval("loaded"), "nil");
  EXPECT_EQ(Eval("loadExtension('a.lua')"), "");
  EXPECT_EQ(Eval("loaded"), "1");
  EXPECT_NE(host_.Log().find("[ID: 1]"), std::string::npos);
}

TEST_F(LoadExtensionTest, At199LoadsPerEngineFurtherCallsDoNothing) {
  EXPECT_EQ(RunLua("for i = 1, 205 do loadExtension('missing.lua') end"), "");
  const std::string log = host_.Log();
  EXPECT_EQ(CountOccurrences(log, "[EXTENSION]"), 199u);
  EXPECT_NE(log.find("[ID: 199]"), std::string::npos);
  EXPECT_EQ(log.find("[ID: 200]"), std::string::npos);

  // A new engine counts from 1 again.
  PublishNewScriptEngine();
  RegisterScriptNatives();
  EXPECT_EQ(RunLua("loadExtension('missing.lua')"), "");
  EXPECT_EQ(CountOccurrences(host_.Log(), "[ID: 1]"), 2u);
}

}  // namespace
