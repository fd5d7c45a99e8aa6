// The script events as the core raises them (core/events.h): arguments,
// handlers that are missing, not functions, replaced or failing.
#include "core/events.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "script/engine.h"
#include "script/script_host.h"

using namespace scripttest;

namespace {

// The calls the handlers recorded since the last take, joined by "; ".
std::string TakeCalls() {
  const std::string shown = Eval("take()");
  return shown.substr(1, shown.size() - 2);  // without Run's quotes
}

TEST(ScriptEvents, EachRaiserPassesItsArgumentsWithTheirTypesAndSigns) {
  // Every handler of the event list records its calls as "name t:value ..."
  // (t: n for a number, s for a text); a null text arrives as "".
  ScriptHost host(R"(calls = {}
function take()
  local s = table.concat(calls, '; ')
  calls = {}
  return s
end
function recorder(name)
  return function(...)
    local p = {name}
    for i = 1, select('#', ...) do
      local v = select(i, ...)
      p[#p + 1] = type(v):sub(1, 1) .. ':' .. tostring(v)
    end
    calls[#calls + 1] = table.concat(p, ' ')
  end
end
)");
  for (const ScriptEventRow& row : kScriptEventRows) {
    const std::string name = row.name;
    ASSERT_EQ(RunLua(name + " = recorder('" + name + "')"), "");
  }
  const struct {
    std::function<void()> raise;
    std::string call;
  } rows[] = {
      {[] { CallOnPlayerConnect(99); }, "onPlayerConnect n:99"},
      {[] { CallOnPlayerDisconnect(7, 3); }, "onPlayerDisconnect n:7 n:3"},
      {[] { CallOnPlayerSpawn(0); }, "onPlayerSpawn n:0"},
      {[] { CallOnPlayerDeath(1, 255, 200); }, "onPlayerDeath n:1 n:255 n:200"},
      {[] { CallOnPlayerChat(4, "hi there"); }, "onPlayerChat n:4 s:hi there"},
      {[] { CallOnPlayerChat(4, nullptr); }, "onPlayerChat n:4 s:"},
      {[] { CallOnPlayerKeyPress(5, 250); }, "onPlayerKeyPress n:5 n:250"},
      {[] { CallOnPlayerEnterVehicle(6, 4294967295u, 255); },
       "onPlayerEnterVehicle n:6 n:4294967295 n:255"},
      {[] { CallOnPlayerExitVehicle(6, -32768); }, "onPlayerExitVehicle n:6 n:-32768"},
      {[] { CallOnPlayerEnterGlobalMarker(1, 2, 255); }, "onPlayerEnterGlobalMarker n:1 n:2 n:255"},
      {[] { CallOnPlayerExitGlobalMarker(1, 49, 0); }, "onPlayerExitGlobalMarker n:1 n:49 n:0"},
      {[] { CallOnPlayerEnterLocalMarker(2, 24, 9); }, "onPlayerEnterLocalMarker n:2 n:24 n:9"},
      {[] { CallOnPlayerExitLocalMarker(2, 255, 255); }, "onPlayerExitLocalMarker n:2 n:255 n:255"},
      {[] { CallOnPlayerEnterGlobalPickup(3, 200); }, "onPlayerEnterGlobalPickup n:3 n:200"},
      {[] { CallOnPlayerEnterLocalPickup(3, 24); }, "onPlayerEnterLocalPickup n:3 n:24"},
      {[] { CallOnPlayerEnterArea(8, 1999); }, "onPlayerEnterArea n:8 n:1999"},
      {[] { CallOnPlayerLeaveArea(8, -1); }, "onPlayerLeaveArea n:8 n:-1"},
      {[] { CallOnIRCUserJoin(4, "bob", "#room"); }, "onIRCUserJoin n:4 s:bob s:#room"},
      {[] { CallOnIRCUserLeave(0, "ann", "#room", 2); }, "onIRCUserLeave n:0 s:ann s:#room n:2"},
  };
  for (const auto& row : rows) {
    row.raise();
    EXPECT_EQ(TakeCalls(), row.call);
  }
  EXPECT_EQ(host.Log(), "");
}

int RaiseChat(lua_State*) {
  CallOnPlayerChat(1, "x");
  return 0;
}
int RaiseSpawn(lua_State*) {
  CallOnPlayerSpawn(1);
  return 0;
}

TEST(ScriptEvents, HandlersAreLookedUpAtEveryRaiseFailuresAreLoggedAndTheNextEventRuns) {
  ScriptHost host(R"(onPlayerChat = {}
onPlayerKeyPress = 'text'
function onPlayerSpawn(id)
  function onPlayerKeyPress(p, key) pressed = key end
end
)");
  // Not functions, and not defined at all: nothing runs, nothing is logged,
  // nothing left on the stack.
  for (int i = 0; i < 1000; ++i) {
    CallOnPlayerChat(1, "x");
    CallOnPlayerKeyPress(1, 2);
    CallOnPlayerConnect(1);
  }
  EXPECT_EQ(lua_gettop(host.L()), 0);
  EXPECT_EQ(host.Log(), "");
  CallOnPlayerSpawn(1);
  CallOnPlayerKeyPress(1, 9);
  ExpectLua(R"(
    eq('9', pressed)
    onPlayerKeyPress = nil)");
  CallOnPlayerKeyPress(1, 10);
  // The chat handler fails on line 4 of this chunk.
  ExpectLua(R"(
    eq('9', pressed)
    function onPlayerChat(id, text)
      error('chat broke: ' .. text)
    end
    function onPlayerSpawn(id) spawned = id end
    function onPlayerKeyPress() error({}) end)");
  CallOnPlayerChat(2, "hello");
  CallOnPlayerSpawn(2);
  CallOnPlayerKeyPress(2, 3);
  EXPECT_EQ(Eval("spawned"), "2");
  const std::string log = host.Log();
  EXPECT_EQ(
      CountOccurrences(log, "] [SCRIPT] Error in event 'onPlayerChat': [string \"local eqFailed"),
      1u)
      << log;
  EXPECT_EQ(CountOccurrences(log,
                             ":4: chat broke: hello\r\n"
                             "stack traceback:\r\n"
                             "\t[C]: in function 'error'\r\n"
                             "\t[string \"local eqFailed"),
            1u)
      << log;
  EXPECT_EQ(
      CountOccurrences(log, "Error in event 'onPlayerKeyPress': (error object is a table value)"),
      1u)
      << log;
  // Every unknown global an error: the lookup of a missing handler fails
  // inside the protected call.
  EXPECT_EQ(RunLua("setmetatable(_G, {__index = function(_, k) error('no global ' .. k) end})"),
            "");
  CallOnPlayerConnect(1);
  CallOnPlayerSpawn(4);
  EXPECT_EQ(host.LogCount("Error in event 'onPlayerConnect': [string"), 1u);
  EXPECT_EQ(Eval("rawget(_G, 'spawned')"), "4");
  EXPECT_EQ(lua_gettop(host.L()), 0);
}

TEST(ScriptEvents, TracebacksAreShortenedKeepToTheirOwnCallAndRecursionIsStopped) {
  // The chat handler fails deep down, inside a spawn handler that is itself
  // deep down: the chat error's traceback shows the chat handler's frames only
  // (11 'inner' before the gap, 9 after), and ends with the handler itself.
  ScriptHost host(R"(local function inner(n)
  if n == 0 then error('bottom') end
  inner(n - 1)
end
function onPlayerChat() inner(50) end
local function outer(n)
  if n == 0 then
    raiseChat()
    return
  end
  outer(n - 1)
end
function onPlayerSpawn() outer(30) end
)");
  lua_register(host.L(), "raiseChat", RaiseChat);
  CallOnPlayerSpawn(1);
  const std::string log = host.Log();
  EXPECT_EQ(CountOccurrences(log, "Main.lua:2: bottom"), 1u) << log;
  EXPECT_EQ(CountOccurrences(log, "\t..."), 1u) << log;
  EXPECT_EQ(CountOccurrences(log, "'inner'"), 20u) << log;
  EXPECT_EQ(CountOccurrences(log, "'outer'"), 0u) << log;
  EXPECT_EQ(CountOccurrences(log, "'inner'\r\n\tMain.lua:5: in function <Main.lua:5>\r\n"), 1u)
      << log;
  // A handler that raises its own event without end.
  EXPECT_EQ(RunLua("function onPlayerSpawn(id) raise() end"), "");
  lua_register(host.L(), "raise", RaiseSpawn);
  CallOnPlayerSpawn(1);
  EXPECT_GT(host.LogCount("Error in event 'onPlayerSpawn': C stack overflow"), 0u);
  EXPECT_EQ(lua_gettop(host.L()), 0);
  EXPECT_EQ(RunLua("x = 1"), "");
  // A frame on a chunk's first line keeps its line number.
  EXPECT_EQ(RunLua("function onPlayerConnect() error('first line') end"), "");
  CallOnPlayerConnect(1);
  EXPECT_EQ(host.LogCount("error('first lin...\"]:1: in function <"), 1u) << host.Log();
}

}  // namespace
