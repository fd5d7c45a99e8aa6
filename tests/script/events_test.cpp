// The script events as the core raises them (core/events.h): arguments,
// handlers that are missing, not functions, replaced or failing.
#include <gtest/gtest.h>

#include <string>

#include "core/events.h"
#include "script/engine.h"
#include "script/script_host.h"

using scripttest::CountOccurrences;
using scripttest::Eval;
using scripttest::RunLua;
using scripttest::ScriptHost;

namespace {

// Every handler records its last call as "name type:value ...".
const char* const kRecorder = R"(
local function record(name)
  return function(...)
    local parts = {name}
    for i = 1, select('#', ...) do
      local v = select(i, ...)
      parts[#parts + 1] = type(v) .. ':' .. tostring(v)
    end
    last = table.concat(parts, ' ')
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
    EXPECT_EQ(RunLua("last = nil"), "");
    c.raise();
    EXPECT_EQ(Eval("last"), std::string("'") + c.expected + "'");
  }
  EXPECT_EQ(host.Log(), "");
}

TEST(ScriptEvents, HandlersAreLookedUpAtEveryRaiseAndNonFunctionsIgnored) {
  ScriptHost host(
      "onPlayerChat = {}\nonPlayerKeyPress = 'text'\n"
      "function onPlayerSpawn(id)\n"
      "  function onPlayerKeyPress(p, key) pressed = key end\n"
      "end\n");
  lua_State* L = host.L();
  const int top = lua_gettop(L);
  for (int i = 0; i < 1000; ++i) {
    CallOnPlayerChat(1, "x");
    CallOnPlayerKeyPress(1, 2);
    CallOnPlayerConnect(1);  // not defined at all
  }
  EXPECT_EQ(lua_gettop(L), top);
  EXPECT_EQ(host.Log(), "");
  CallOnPlayerSpawn(1);
  CallOnPlayerKeyPress(1, 9);
  EXPECT_EQ(Eval("pressed"), "9");
  EXPECT_EQ(RunLua("onPlayerKeyPress = nil"), "");
  CallOnPlayerKeyPress(1, 10);
  EXPECT_EQ(Eval("pressed"), "9");
}

TEST(ScriptEvents, AFailingHandlerOrLookupIsLoggedAndTheNextEventStillRuns) {
  ScriptHost host(
      "function onPlayerChat(id, text)\n"
      "  error('chat broke: ' .. text)\n"
      "end\n"
      "function onPlayerSpawn(id) spawned = id end\n"
      "function onPlayerKeyPress() error({}) end\n");
  CallOnPlayerChat(2, "hello");
  CallOnPlayerSpawn(2);
  EXPECT_EQ(Eval("spawned"), "2");
  EXPECT_NE(host.Log().find("] [SCRIPT] Error in event 'onPlayerChat': Main.lua:2: chat broke: "
                            "hello\r\nstack traceback:\r\n\t[C]: in function 'error'\r\n"
                            "\tMain.lua:2: in function <Main.lua:1>\r\n"),
            std::string::npos)
      << host.Log();
  CallOnPlayerKeyPress(2, 3);
  EXPECT_NE(host.Log().find("Error in event 'onPlayerKeyPress': (error object is a table value)"),
            std::string::npos);

  // A game mode that makes every unknown global an error: the lookup of a
  // missing handler fails inside the protected call.
  EXPECT_EQ(RunLua("setmetatable(_G, {__index = function(_, k) error('no global ' .. k) end})"),
            "");
  CallOnPlayerConnect(1);
  EXPECT_NE(host.Log().find("Error in event 'onPlayerConnect': [string"), std::string::npos);
  CallOnPlayerSpawn(4);
  EXPECT_EQ(Eval("rawget(_G, 'spawned')"), "4");
  EXPECT_EQ(lua_gettop(host.L()), 0);
}

TEST(ScriptEvents, TracebacksAreShortenedAndKeepToTheirOwnCall) {
  // The chat handler fails deep down, inside a spawn handler that is itself
  // deep down: the chat error's traceback shows the chat handler's frames only.
  ScriptHost host(
      "local function inner(n) if n == 0 then error('bottom') end inner(n - 1) end\n"
      "function onPlayerChat() inner(50) end\n"
      "local function outer(n) if n == 0 then raiseChat() return end outer(n - 1) end\n"
      "function onPlayerSpawn() outer(30) end\n");
  lua_register(host.L(), "raiseChat", [](lua_State*) -> int {
    CallOnPlayerChat(1, "x");
    return 0;
  });
  CallOnPlayerSpawn(1);
  const std::string log = host.Log();
  EXPECT_EQ(CountOccurrences(log, "Main.lua:1: bottom"), 1u) << log;
  EXPECT_EQ(CountOccurrences(log, "\t..."), 1u) << log;
  EXPECT_EQ(CountOccurrences(log, "'inner'"), 20u) << log;  // 11 before the gap, 9 after
  EXPECT_EQ(CountOccurrences(log, "'outer'"), 0u) << log;
  EXPECT_NE(log.find("'inner'\r\n\tMain.lua:2: in function <Main.lua:2>\r\n"), std::string::npos)
      << log;
}

TEST(ScriptEvents, UnboundedRecursionThroughEventsIsStoppedAndLogged) {
  ScriptHost host("function onPlayerSpawn(id) raise() end\n");
  lua_register(host.L(), "raise", [](lua_State*) -> int {
    CallOnPlayerSpawn(1);
    return 0;
  });
  CallOnPlayerSpawn(1);
  EXPECT_GT(host.LogCount("Error in event 'onPlayerSpawn'"), 0u);
  EXPECT_EQ(lua_gettop(host.L()), 0);
  EXPECT_EQ(RunLua("x = 1"), "");
}

}  // namespace
