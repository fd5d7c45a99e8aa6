// The script events as the core raises them (core/events.h): arguments,
// handlers that are missing, not functions or failing.
#include <gtest/gtest.h>

#include <string>

#include "core/events.h"
#include "script/engine.h"
#include "script/script_host.h"

using scripttest::Eval;
using scripttest::RunLua;
using scripttest::ScriptHost;

namespace {

// Every handler appends "name type:value ..." to the list `got`.
const char* const kRecorder = R"(
got = {}
local function record(name)
  return function(...)
    local parts = {name}
    for i = 1, select('#', ...) do
      local v = select(i, ...)
      parts[#parts + 1] = type(v) .. ':' .. tostring(v)
    end
    got[#got + 1] = table.concat(parts, ' ')
  end
end
for _, name in ipairs({'onPlayerConnect', 'onPlayerDisconnect', 'onPlayerSpawn',
    'onPlayerDeath', 'onPlayerChat', 'onPlayerKeyPress', 'onPlayerEnterVehicle',
    'onPlayerExitVehicle', 'onPlayerEnterGlobalMarker', 'onPlayerExitGlobalMarker',
    'onPlayerEnterLocalMarker', 'onPlayerExitLocalMarker', 'onPlayerEnterGlobalPickup',
    'onPlayerEnterLocalPickup', 'onPlayerEnterArea', 'onPlayerLeaveArea', 'onIRCUserJoin',
    'onIRCUserLeave'}) do
  _G[name] = record(name)
end
function last() return got[#got] end
)";

TEST(ScriptEvents, EachRaiserPassesItsArgumentsWithTheirTypesAndSigns) {
  ScriptHost host(kRecorder);
  struct Case {
    void (*raise)();
    const char* expected;
  };
  const Case cases[] = {
      {[] { CallOnPlayerConnect(99); }, "onPlayerConnect number:99"},
      {[] { CallOnPlayerDisconnect(7, 3); }, "onPlayerDisconnect number:7 number:3"},
      {[] { CallOnPlayerSpawn(0); }, "onPlayerSpawn number:0"},
      {[] { CallOnPlayerDeath(1, 255, 200); }, "onPlayerDeath number:1 number:255 number:200"},
      {[] { CallOnPlayerChat(4, "hi there"); }, "onPlayerChat number:4 string:hi there"},
      {[] { CallOnPlayerChat(4, nullptr); }, "onPlayerChat number:4 string:"},
      {[] { CallOnPlayerKeyPress(5, 250); }, "onPlayerKeyPress number:5 number:250"},
      {[] { CallOnPlayerEnterVehicle(6, 4294967295u, 255); },
       "onPlayerEnterVehicle number:6 number:4294967295 number:255"},
      {[] { CallOnPlayerExitVehicle(6, -32768); }, "onPlayerExitVehicle number:6 number:-32768"},
      {[] { CallOnPlayerExitVehicle(6, 32767); }, "onPlayerExitVehicle number:6 number:32767"},
      {[] { CallOnPlayerEnterGlobalMarker(1, 2, 255); },
       "onPlayerEnterGlobalMarker number:1 number:2 number:255"},
      {[] { CallOnPlayerExitGlobalMarker(1, 49, 0); },
       "onPlayerExitGlobalMarker number:1 number:49 number:0"},
      {[] { CallOnPlayerEnterLocalMarker(2, 24, 9); },
       "onPlayerEnterLocalMarker number:2 number:24 number:9"},
      {[] { CallOnPlayerExitLocalMarker(2, 255, 255); },
       "onPlayerExitLocalMarker number:2 number:255 number:255"},
      {[] { CallOnPlayerEnterGlobalPickup(3, 200); },
       "onPlayerEnterGlobalPickup number:3 number:200"},
      {[] { CallOnPlayerEnterLocalPickup(3, 24); }, "onPlayerEnterLocalPickup number:3 number:24"},
      {[] { CallOnPlayerEnterArea(8, 1999); }, "onPlayerEnterArea number:8 number:1999"},
      {[] { CallOnPlayerLeaveArea(8, -1); }, "onPlayerLeaveArea number:8 number:-1"},
      {[] { CallOnIRCUserJoin(4, "bob", "#room"); },
       "onIRCUserJoin number:4 string:bob string:#room"},
      {[] { CallOnIRCUserLeave(0, "ann", "#room", 2); },
       "onIRCUserLeave number:0 string:ann string:#room number:2"},
  };
  for (const Case& c : cases) {
    c.raise();
    EXPECT_EQ(Eval("last()"), std::string("'") + c.expected + "'");
  }
  EXPECT_EQ(Eval("#got"), std::to_string(std::size(cases)));
  EXPECT_EQ(host.LogCount("[SCRIPT]"), 0u);
}

TEST(ScriptEvents, AGlobalThatIsNotAFunctionIsIgnoredWithoutGrowingTheStack) {
  ScriptHost host("onPlayerSpawn = 5\nonPlayerChat = {}\nonPlayerKeyPress = 'text'\n");
  lua_State* L = host.L();
  const int top = lua_gettop(L);
  for (int i = 0; i < 1000; ++i) {
    CallOnPlayerSpawn(1);
    CallOnPlayerChat(1, "x");
    CallOnPlayerKeyPress(1, 2);
    CallOnPlayerConnect(1);  // not defined at all
  }
  EXPECT_EQ(lua_gettop(L), top);
  EXPECT_EQ(host.Log(), "");
  EXPECT_EQ(Eval("onPlayerSpawn"), "5");
}

TEST(ScriptEvents, AFailingHandlerIsLoggedAndTheNextEventStillRuns) {
  ScriptHost host(
      "function onPlayerChat(id, text)\n"
      "  error('chat broke: ' .. text)\n"
      "end\n"
      "function onPlayerSpawn(id) spawned = id end\n"
      "function onPlayerKeyPress() error({}) end\n");
  CallOnPlayerChat(2, "hello");
  CallOnPlayerSpawn(2);
  EXPECT_EQ(Eval("spawned"), "2");
  const std::string log = host.Log();
  EXPECT_NE(log.find("] [SCRIPT] Error in event 'onPlayerChat': Main.lua:2: chat broke: hello\r\n"
                     "stack traceback:\r\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("Main.lua:2: in function <Main.lua:1>"), std::string::npos) << log;

  CallOnPlayerKeyPress(2, 3);
  EXPECT_NE(host.Log().find("Error in event 'onPlayerKeyPress': (error object is a table value)"),
            std::string::npos);
  EXPECT_EQ(lua_gettop(host.L()), 0);
  CallOnPlayerSpawn(5);
  EXPECT_EQ(Eval("spawned"), "5");
}

TEST(ScriptEvents, HandlersAreLookedUpAtEveryRaise) {
  ScriptHost host(
      "function onPlayerSpawn(id)\n"
      "  function onPlayerKeyPress(p, key) pressed = key end\n"
      "end\n");
  CallOnPlayerKeyPress(1, 9);
  EXPECT_EQ(Eval("pressed"), "nil");
  CallOnPlayerSpawn(1);
  CallOnPlayerKeyPress(1, 9);
  EXPECT_EQ(Eval("pressed"), "9");
  EXPECT_EQ(RunLua("onPlayerKeyPress = nil"), "");
  CallOnPlayerKeyPress(1, 10);
  EXPECT_EQ(Eval("pressed"), "9");
}

TEST(ScriptEvents, AFailingLookupDoesNotEndTheProcess) {
  // A game mode that makes every unknown global an error: the lookup of a
  // missing handler fails inside the protected call.
  ScriptHost host(
      "function onPlayerSpawn(id) spawned = id end\n"
      "setmetatable(_G, {__index = function(_, name) error('no global ' .. name) end})\n");
  CallOnPlayerConnect(1);
  EXPECT_NE(host.Log().find("Error in event 'onPlayerConnect': Main.lua:2: no global "
                            "onPlayerConnect"),
            std::string::npos)
      << host.Log();
  CallOnPlayerSpawn(4);
  EXPECT_EQ(Eval("rawget(_G, 'spawned')"), "4");
}

TEST(ScriptEvents, DeepErrorsGiveAShortenedTraceback) {
  ScriptHost host(
      "local function down(n) if n == 0 then error('bottom') end down(n - 1) end\n"
      "function onPlayerSpawn() down(50) end\n");
  CallOnPlayerSpawn(1);
  const std::string log = host.Log();
  EXPECT_NE(log.find("Main.lua:1: bottom"), std::string::npos) << log;
  EXPECT_NE(log.find("\t..."), std::string::npos) << log;
  EXPECT_LT(scripttest::CountOccurrences(log, "\r\n"), 30u) << log;
}

TEST(ScriptEvents, UnboundedRecursionThroughEventsIsStoppedAndLogged) {
  ScriptHost host("function onPlayerSpawn(id) depth = (depth or 0) + 1; raise() end\n");
  // A native that raises the event again: the recursion goes through C.
  lua_pushcfunction(host.L(), [](lua_State*) -> int {
    CallOnPlayerSpawn(1);
    return 0;
  });
  lua_setglobal(host.L(), "raise");
  CallOnPlayerSpawn(1);
  EXPECT_GT(scripttest::CountOccurrences(host.Log(), "Error in event 'onPlayerSpawn'"), 0u);
  EXPECT_EQ(lua_gettop(host.L()), 0);
  EXPECT_EQ(RunLua("x = 1"), "");
}

}  // namespace
