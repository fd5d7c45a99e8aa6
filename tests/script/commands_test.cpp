// Script commands: bindings, both ways of splitting a line, the limits, and
// dispatch from the core's hand-over (core/events.h).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/events.h"
#include "script/commands.h"
#include "script/engine.h"
#include "script/script_host.h"
#include "script/timers.h"

using scripttest::Eval;
using scripttest::RunLua;
using scripttest::ScriptHost;

namespace {

// Functions named in the bindings append "name(arg|arg|...)" to `calls`.
const char* const kRecorder = R"(
calls = {}
local function record(name)
  return function(...)
    local parts = {}
    for i = 1, select('#', ...) do parts[#parts + 1] = tostring((select(i, ...))) end
    calls[#calls + 1] = name .. '(' .. table.concat(parts, '|') .. ')'
  end
end
for _, name in ipairs({'a', 'b', 'onSeen'}) do _G[name] = record(name) end
function seen() local s = table.concat(calls, ' '); calls = {}; return s end
)";

class CommandsTest : public ::testing::Test {
 protected:
  void Bind(const std::string& lua) { ASSERT_EQ(RunLua(lua), ""); }
  std::string Seen() { return Eval("seen()"); }
  ScriptHost host_{kRecorder};
};

TEST_F(CommandsTest, SplittingModesAndMatching) {
  struct Case {
    const char* bindings;
    const char* line;
    const char* calls;
  };
  const std::string q99(99, 'q');
  const std::string q51(51, 'q');
  const std::string longRun = "/w " + std::string(150, 'q') + " tail";
  const std::string longCalls = "a(1|" + q99 + "|" + q51 + "|tail)";
  const Case cases[] = {
      // The worked example, in both orders, and with too few words.
      {"addCommand('/pm', 'a', 2); addCommand('/pm', 'b', -1)", "/pm 7 hello there",
       "a(1|7|hello there) b(1|7|hello|there)"},
      {"addCommand('/pm', 'b', -1); addCommand('/pm', 'a', 2)", "/pm 7 hello there",
       "b(1|7|hello|there)"},
      {"addCommand('/pm', 'a', 2); addCommand('/pm', 'b', -1)", "/pm 7", "b(1|7)"},
      {"addCommand('/heal', 'a', 1); addCommand('/heal', 'b', 1)", "/heal me now",
       "a(1|me now) b(1|me now)"},
      {"addCommand('/me', 'a', 1)", "/me", ""},
      {"addCommand('/me', 'a', 1)", "/me   ", ""},
      {"addCommand('/me', 'a', 1)", "/me waves", "a(1|waves)"},
      {"addCommand('/zero', 'a', 0)", "/zero a b", ""},
      {"addCommand('/Help', 'a', -1)", "/help", ""},
      {"addCommand('/Help', 'a', -1)", "/Helpme", ""},
      {"addCommand('/Help', 'a', -1)", "/Help", "a(1)"},
      {"addCommand('/give', 'a', -1)", "/give  1   2", "a(1|1|2)"},
      {"addCommand('/give', 'a', -1)", "/give 1 2   ", "a(1|1|2)"},
      {"addCommand('/give', 'a', -1)", "/give a\tb", "a(1|a\tb)"},  // only the space splits
      {"addCommand('/say', 'a', 2)", "/say  1   hello  world  ", "a(1|1|hello  world  )"},
      {"addCommand('/say', 'a', 2)", "/say \t1\t\tx", "a(1|1|x)"},  // the scanner skips blanks
      {"addCommand('/w', 'a', 3)", longRun.c_str(), longCalls.c_str()},
      // The parameter count is the low byte as a signed number.
      {"addCommand('/a', 'a', 255)", "/a x y", "a(1|x|y)"},
      {"addCommand('/b', 'a', 258)", "/b x y z", "a(1|x|y z)"},
      {"addCommand('/c', 'a', 256)", "/c x y z", ""},
      // A missing function ends the dispatch, also for a binding that would
      // not run this time.
      {"addCommand('/x', 'none', 1); addCommand('/x', 'a', 1)", "/x y", ""},
      {"addCommand('/x', 'none', 0); addCommand('/x', 'a', 1)", "/x y", ""},
      {"addCommand('/x', 'a', 5); addCommand('/x', 'none', 0); addCommand('/x', 'b', 1)", "/x y",
       ""},
  };
  for (const Case& c : cases) {
    ResetScriptCommandTables();
    Bind(c.bindings);
    DispatchPlayerCommand(1, c.line);
    EXPECT_EQ(Seen(), std::string("'") + c.calls + "'") << c.bindings << " / " << c.line;
  }
}

TEST_F(CommandsTest, ManyArgumentsLongLinesAndTableLimits) {
  Bind("function count(...) counted = select('#', ...) end\n"
       "addCommand('/m', 'count', -1); addCommand('/n', 'count', 127)");
  std::string line = "/m";
  for (int i = 0; i < 500; ++i) line += " a";
  DispatchPlayerCommand(1, line.c_str());
  EXPECT_EQ(Eval("counted"), "127");  // taken up to 255 bytes: 126 words and the sender
  DispatchPlayerCommand(1, ("/m " + std::string(5000, 'z')).c_str());
  EXPECT_EQ(Eval("counted"), "2");
  EXPECT_EQ(RunLua("counted = nil"), "");
  line[1] = 'n';
  DispatchPlayerCommand(1, line.c_str());
  EXPECT_EQ(Eval("counted"), "nil");  // 127 counted parameters, 126 words within 255 bytes

  // Command words over 79 bytes match nothing; texts over 255 are refused.
  const std::string word79 = "/" + std::string(78, 'w');
  const std::string word80 = "/" + std::string(79, 'w');
  ResetScriptCommandTables();
  Bind("addCommand('" + word79 + "', 'a', -1); addCommand('" + word80 + "', 'a', -1)");
  DispatchPlayerCommand(1, (word80 + " x").c_str());
  DispatchPlayerCommand(1, (word79 + " x").c_str());
  EXPECT_EQ(Seen(), "'a(1|x)'");
  ResetScriptCommandTables();
  Bind("addCommand(string.rep('a', 256), 'a'); addCommand('/ok', string.rep('f', 256));"
       "addCommand('/ok', string.rep('f', 255)); addCommand(nil, 'a'); addCommand('/t', {})");
  EXPECT_EQ(PlayerCommandTable().Count(), 1u);
  ResetScriptCommandTables();
  Bind("for i = 1, 10005 do addCommand('/c' .. i, 'count') end");
  EXPECT_EQ(PlayerCommandTable().Count(), kMaxScriptCommands);
  EXPECT_EQ(PlayerCommandTable().Entry(kMaxScriptCommands - 1).word, "/c10000");
}

TEST_F(CommandsTest, FailuresAreLoggedBindingsAddedMeanwhileWaitAndIrcIsSeparate) {
  Bind("function boom() error('command broke') end\n"
       "function adder() addCommand('/b', 'b', -1) end\n"
       "addCommand('/b', 'boom', 1); addCommand('/b', 'adder', 1); addCommand('/b', 'a', 1)");
  DispatchPlayerCommand(4, "/b now");
  EXPECT_EQ(Seen(), "'a(4|now)'");
  EXPECT_NE(host_.Log().find("[SCRIPT] Error in command '/b' (function 'boom'): [string"),
            std::string::npos)
      << host_.Log();
  DispatchPlayerCommand(4, "/b now");
  EXPECT_EQ(Seen(), "'a(4|now) b(4|now)'");
  EXPECT_EQ(lua_gettop(host_.L()), 0);

  Bind("IRC.addCommand('seen', 'onSeen', -1); IRC.addCommand('seen', 'a', 1)");
  DispatchIRCCommand(0, "bob", "#room", "seen bob");
  EXPECT_EQ(Seen(), "'onSeen(bob|bob)'");
  DispatchPlayerCommand(1, "seen bob");
  DispatchIRCCommand(0, "ann", "#room", "/b x");
  EXPECT_EQ(Seen(), "''");
}

TEST_F(CommandsTest, TheLineAndTheNickAreTheDispatchsOwnCopies) {
  // A command that overwrites its caller's buffers (as destroying the IRC bot
  // whose line it is would free them) still hands the next binding the line.
  static char line[64];
  static char nick[64];
  std::strcpy(line, "seen a-rather-long-word-beyond-short-strings b");
  std::strcpy(nick, "a-nick-longer-than-short-strings");
  lua_register(host_.L(), "scribble", [](lua_State*) -> int {
    std::memset(line, 'X', sizeof line - 1);
    std::memset(nick, 'Y', sizeof nick - 1);
    return 0;
  });
  Bind("IRC.addCommand('seen', 'scribble', 1); IRC.addCommand('seen', 'a', 2)");
  DispatchIRCCommand(0, nick, "#room", line);
  EXPECT_EQ(Seen(), "'a(a-nick-longer-than-short-strings|a-rather-long-word-beyond-short-strings|b)'");
}

// What a restart from inside the game mode does to the script host.
int RestartNow(lua_State*) {
  DestroyScriptEngine();
  ReplaceTimerPool();
  return 0;
}

int hits = 0;
int Hit(lua_State*) {
  ++hits;
  return 0;
}

TEST_F(CommandsTest, ARestartInsideADispatchEndsIt) {
  lua_register(host_.L(), "restartNow", RestartNow);
  lua_register(host_.L(), "hit", Hit);
  hits = 0;
  Bind("function restarter() restartNow() end\n"
       "addCommand('/r', 'restarter', 1); addCommand('/r', 'hit', 1)");
  DispatchPlayerCommand(1, "/r now");
  EXPECT_EQ(GetScriptEngine(), nullptr);
  EXPECT_EQ(PlayerCommandTable().Count(), 0u);
  DispatchPlayerCommand(1, "/r now");
  EXPECT_EQ(hits, 0);
}

TEST_F(CommandsTest, ARestartInsideTheLookupOfABindingThatDoesNotRunEndsIt) {
  // The lookup itself runs script code: an __index on the globals.
  lua_register(host_.L(), "restartNow", RestartNow);
  lua_register(host_.L(), "hit", Hit);
  hits = 0;
  const std::string word = "/a-command-word-longer-than-short-strings";
  Bind("addCommand('" + word + "', 'restarting_lookup_name', 0)\n"
       "addCommand('" + word + "', 'hit', 1)\n"
       "setmetatable(_G, {__index = function(_, k)\n"
       "  if k == 'restarting_lookup_name' then restartNow(); return hit end end})");
  DispatchPlayerCommand(1, (word + " x").c_str());
  EXPECT_EQ(GetScriptEngine(), nullptr);
  EXPECT_EQ(hits, 0);
}

TEST(CommandWordScanner, SkipsBlanksAndCutsAt99) {
  const std::string line = " \t ab\x01" + std::string(120, 'c') + "\xff";
  EXPECT_EQ(ReadCommandWord(line, 0), 2u);
  EXPECT_EQ(gCommandWordCursor, 5u);
  EXPECT_EQ(ReadCommandWord(line, gCommandWordCursor), 99u);
  EXPECT_EQ(ReadCommandWord(line, gCommandWordCursor), 22u);  // 21 'c' and byte 255
  EXPECT_EQ(ReadCommandWord(line, gCommandWordCursor), 0u);
  EXPECT_EQ(gCommandWordCursor, line.size());
  EXPECT_EQ(ReadCommandWord(line, 100000), 0u);
}

}  // namespace
