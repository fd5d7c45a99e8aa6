// The script events as the core raises them (core/events.h): arguments,
// handlers that are missing, not functions, replaced or failing.
#include <gtest/gtest.h>

#include <string>

#include "core/events.h"
#include "script/engine.h"
#include "script/script_host.h"

using namespace scripttest;

namespace {

TEST(ScriptEvents, EachRaiserPassesItsArgumentsWithTheirTypesAndSigns) {
  // Every handler of the event list records its calls as "name t:value ..."
  // (t: n for a number, s for a text); a null text arrives as "".
  ScriptHost host("calls = {}");
  for (const ScriptEventRow& row : kScriptEventRows) {
    ASSERT_EQ(RunLua(std::string(row.name) + " = function(...) local p = {'" + row.name + "'} for i = 1, "
                     "select('#', ...) do local v = select(i, ...) p[#p + 1] = type(v):sub(1, 1) .. ':' .. "
                     "tostring(v) end calls[#calls + 1] = table.concat(p, ' ') end"), "");
  }
  CallOnPlayerConnect(99); CallOnPlayerDisconnect(7, 3); CallOnPlayerSpawn(0); CallOnPlayerDeath(1, 255, 200);
  CallOnPlayerChat(4, "hi there"); CallOnPlayerChat(4, nullptr); CallOnPlayerKeyPress(5, 250);
  CallOnPlayerEnterVehicle(6, 4294967295u, 255); CallOnPlayerExitVehicle(6, -32768);
  CallOnPlayerEnterGlobalMarker(1, 2, 255); CallOnPlayerExitGlobalMarker(1, 49, 0);
  CallOnPlayerEnterLocalMarker(2, 24, 9); CallOnPlayerExitLocalMarker(2, 255, 255);
  CallOnPlayerEnterGlobalPickup(3, 200); CallOnPlayerEnterLocalPickup(3, 24);
  CallOnPlayerEnterArea(8, 1999); CallOnPlayerLeaveArea(8, -1);
  CallOnIRCUserJoin(4, "bob", "#room"); CallOnIRCUserLeave(0, "ann", "#room", 2);
  EXPECT_EQ(Eval("table.concat(calls, '; ')"),
            "'onPlayerConnect n:99; onPlayerDisconnect n:7 n:3; onPlayerSpawn n:0; "
            "onPlayerDeath n:1 n:255 n:200; onPlayerChat n:4 s:hi there; onPlayerChat n:4 s:; "
            "onPlayerKeyPress n:5 n:250; onPlayerEnterVehicle n:6 n:4294967295 n:255; "
            "onPlayerExitVehicle n:6 n:-32768; onPlayerEnterGlobalMarker n:1 n:2 n:255; "
            "onPlayerExitGlobalMarker n:1 n:49 n:0; onPlayerEnterLocalMarker n:2 n:24 n:9; "
            "onPlayerExitLocalMarker n:2 n:255 n:255; onPlayerEnterGlobalPickup n:3 n:200; "
            "onPlayerEnterLocalPickup n:3 n:24; onPlayerEnterArea n:8 n:1999; "
            "onPlayerLeaveArea n:8 n:-1; onIRCUserJoin n:4 s:bob s:#room; "
            "onIRCUserLeave n:0 s:ann s:#room n:2'");
  EXPECT_EQ(host.Log(), "");
}

TEST(ScriptEvents, HandlersAreLookedUpAtEveryRaiseFailuresAreLoggedAndTheNextEventRuns) {
  ScriptHost host("onPlayerChat = {}\nonPlayerKeyPress = 'text'\n"
                  "function onPlayerSpawn(id) function onPlayerKeyPress(p, key) pressed = key end end\n");
  // Not functions, and not defined at all: nothing runs, nothing is logged, nothing left on the stack.
  for (int i = 0; i < 1000; ++i) CallOnPlayerChat(1, "x"), CallOnPlayerKeyPress(1, 2), CallOnPlayerConnect(1);
  EXPECT_EQ(std::to_string(lua_gettop(host.L())) + host.Log(), "0");
  CallOnPlayerSpawn(1);
  CallOnPlayerKeyPress(1, 9);
  ExpectLua("eq('9', pressed) onPlayerKeyPress = nil");
  CallOnPlayerKeyPress(1, 10);
  ExpectLua("eq('9', pressed) function onPlayerChat(id, text)\n  error('chat broke: ' .. text)\nend "
            "function onPlayerSpawn(id) spawned = id end function onPlayerKeyPress() error({}) end");
  CallOnPlayerChat(2, "hello");
  CallOnPlayerSpawn(2);
  CallOnPlayerKeyPress(2, 3);
  EXPECT_EQ(Eval("spawned"), "2");
  EXPECT_EQ(CountEach(host.Log(), {"] [SCRIPT] Error in event 'onPlayerChat': [string \"local eqFailed",
                                    ":2: chat broke: hello\r\nstack traceback:\r\n\t[C]: in function "
                                    "'error'\r\n\t[string \"local eqFailed",
                                    "Error in event 'onPlayerKeyPress': (error object is a table value)"}),
            "1,1,1") << host.Log();
  // Every unknown global an error: the lookup of a missing handler fails
  // inside the protected call.
  EXPECT_EQ(RunLua("setmetatable(_G, {__index = function(_, k) error('no global ' .. k) end})"), "");
  CallOnPlayerConnect(1);
  CallOnPlayerSpawn(4);
  EXPECT_EQ(std::to_string(host.LogCount("Error in event 'onPlayerConnect': [string")) +
                Eval("rawget(_G, 'spawned')") + std::to_string(lua_gettop(host.L())),
            "140");
}

TEST(ScriptEvents, TracebacksAreShortenedKeepToTheirOwnCallAndRecursionIsStopped) {
  // The chat handler fails deep down, inside a spawn handler that is itself
  // deep down: the chat error's traceback shows the chat handler's frames only
  // (11 'inner' before the gap, 9 after).
  ScriptHost host("local function inner(n) if n == 0 then error('bottom') end inner(n - 1) end\n"
                  "function onPlayerChat() inner(50) end\n"
                  "local function outer(n) if n == 0 then raiseChat() return end outer(n - 1) end\n"
                  "function onPlayerSpawn() outer(30) end\n");
  lua_register(host.L(), "raiseChat", ([](lua_State*) { return CallOnPlayerChat(1, "x"), 0; }));
  CallOnPlayerSpawn(1);
  EXPECT_EQ(CountEach(host.Log(), {"Main.lua:1: bottom", "\t...", "'inner'", "'outer'",
                                    "'inner'\r\n\tMain.lua:2: in function <Main.lua:2>\r\n"}),
            "1,1,20,0,1") << host.Log();
  // A handler that raises its own event without end.
  EXPECT_EQ(RunLua("function onPlayerSpawn(id) raise() end"), "");
  lua_register(host.L(), "raise", ([](lua_State*) { return CallOnPlayerSpawn(1), 0; }));
  CallOnPlayerSpawn(1);
  EXPECT_GT(host.LogCount("Error in event 'onPlayerSpawn': C stack overflow"), 0u);
  EXPECT_EQ(std::to_string(lua_gettop(host.L())) + RunLua("x = 1"), "0");
}

}  // namespace
