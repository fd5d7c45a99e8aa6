// Script commands: bindings, both ways of splitting a line, the limits, and
// dispatch from the core's hand-over (core/events.h).
#include "script/commands.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/events.h"
#include "script/engine.h"
#include "script/script_host.h"
#include "script/timers.h"

using namespace scripttest;

namespace {

// In Lua: a, b and onSeen append "name(arg|arg|...)" to the calls that seen()
// hands back; dispatch(player, line) and irc(nick, line) hand a line over as
// the core does; reset() empties the command tables; hit() counts its calls
// in `hits`; restartNow() restarts the script host as the game mode can.
// C(bindings, line, calls) binds "word function count ..." afresh,
// dispatches the line from player 1 and expects the calls.
int hits = 0;

int Hit(lua_State*) {
  ++hits;
  return 0;
}
int Reset(lua_State*) {
  ResetScriptCommandTables();
  return 0;
}
int Dispatch(lua_State* L) {
  DispatchPlayerCommand(lua_tonumber(L, 1), lua_tostring(L, 2));
  return 0;
}
int Irc(lua_State* L) {
  DispatchIRCCommand(0, lua_tostring(L, 1), "#room", lua_tostring(L, 2));
  return 0;
}
int RestartNow(lua_State*) {
  DestroyScriptEngine();
  ReplaceTimerPool();
  return 0;
}

// C as Lua; the line labels its comparison, so that a failure names its row.
const std::string kBindAndDispatch =
    "local function C(b, line, want) "
    "reset() "
    "for w, f, n in b:gmatch('(%S+) (%S+) (%S+)') do addCommand(w, f, tonumber(n)) end "
    "dispatch(1, line) "
    "eq(line .. ' = ' .. want, line .. ' = ' .. seen()) "
    "end ";

class CommandsTest : public ::testing::Test {
 protected:
  CommandsTest() {
    hits = 0;
    lua_State* L = host_.L();
    lua_register(L, "hit", Hit);
    lua_register(L, "reset", Reset);
    lua_register(L, "dispatch", Dispatch);
    lua_register(L, "irc", Irc);
    lua_register(L, "restartNow", RestartNow);
  }
  static void Commands(const std::string& chunk) { ExpectLua(kBindAndDispatch + chunk); }
  ScriptHost host_{R"(calls = {}
for _, name in ipairs({'a', 'b', 'onSeen'}) do
  _G[name] = function(...)
    local parts = {}
    for i = 1, select('#', ...) do parts[#parts + 1] = tostring((select(i, ...))) end
    calls[#calls + 1] = name .. '(' .. table.concat(parts, '|') .. ')'
  end
end
function seen()
  local s = table.concat(calls, ' ')
  calls = {}
  return s
end
)"};
};

TEST_F(CommandsTest, SplittingModesAndMatching) {
  // The worked example in both orders and with too few words; -1 splits at
  // spaces only, a count at blanks (the scanner's); the count is the low byte
  // as a signed number. A missing function ends the dispatch, also for a
  // binding that would not run this time. The word of 150 'q' is cut at 99.
  Commands(R"(
    local q99 = string.rep('q', 99)
    local q51 = string.rep('q', 51)
    C('/pm a 2 /pm b -1', '/pm 7 hello there', 'a(1|7|hello there) b(1|7|hello|there)')
    C('/pm b -1 /pm a 2', '/pm 7 hello there', 'b(1|7|hello|there)')
    C('/pm a 2 /pm b -1', '/pm 7', 'b(1|7)')
    C('/heal a 1 /heal b 1', '/heal me now', 'a(1|me now) b(1|me now)')
    C('/me a 1', '/me', '')
    C('/me a 1', '/me   ', '')
    C('/me a 1', '/me waves', 'a(1|waves)')
    C('/zero a 0', '/zero a b', '')
    C('/Help a -1', '/help', '')
    C('/Help a -1', '/Helpme', '')
    C('/Help a -1', '/Help', 'a(1)')
    C('/give a -1', '/give  1   2', 'a(1|1|2)')
    C('/give a -1', '/give 1 2   ', 'a(1|1|2)')
    C('/give a -1', '/give a\tb', 'a(1|a\tb)')
    C('/say a 2', '/say \t1\t\tx', 'a(1|1|x)')
    C('/say a 2', '/say  1   hello  world  ', 'a(1|1|hello  world  )')
    C('/w a 3', '/w ' .. q99 .. q51 .. ' tail', 'a(1|' .. q99 .. '|' .. q51 .. '|tail)')
    C('/a a 255', '/a x y', 'a(1|x|y)')
    C('/b a 258', '/b x y z', 'a(1|x|y z)')
    C('/c a 256', '/c x y z', '')
    C('/x none 1 /x a 1', '/x y', '')
    C('/x none 0 /x a 1', '/x y', '')
    C('/x a 5 /x none 0 /x b 1', '/x y', ''))");
}

TEST_F(CommandsTest, ManyArgumentsLongLinesAndTableLimits) {
  // Lines are taken up to 255 bytes: 126 words and the sender, too few for
  // 127 counted parameters. Command words over 79 bytes match nothing; texts
  // over 255 are refused; the table holds 10000 bindings.
  Commands(R"(
    function count(...) counted = select('#', ...) end
    addCommand('/m', 'count', -1)
    addCommand('/n', 'count', 127)
    dispatch(1, '/m' .. string.rep(' a', 500))
    eq('127', counted)
    dispatch(1, '/m ' .. string.rep('z', 5000))
    eq('2', counted)
    dispatch(1, '/n' .. string.rep(' a', 500))
    eq('2', counted)
    local w79 = '/' .. string.rep('w', 78)
    local w80 = '/' .. string.rep('w', 79)
    reset()
    addCommand(w79, 'a', -1)
    addCommand(w80, 'a', -1)
    dispatch(1, w80 .. ' x')
    dispatch(1, w79 .. ' x')
    eq('a(1|x)', seen())
    reset()
    addCommand(string.rep('a', 256), 'a')
    addCommand('/ok', string.rep('f', 256))
    addCommand('/ok', string.rep('f', 255))
    addCommand(nil, 'a')
    addCommand('/t', {}))");
  EXPECT_EQ(PlayerCommandTable().Count(), 1u);
  Commands(R"(
    reset()
    for i = 1, 10005 do addCommand('/c' .. i, 'a') end
    dispatch(1, '/c10000')
    dispatch(1, '/c10001')
    eq('a(1)', seen()))");
  EXPECT_EQ(PlayerCommandTable().Count(), 10000u);
}

TEST_F(CommandsTest, FailuresAreLoggedBindingsAddedMeanwhileWaitAndIrcIsSeparate) {
  Commands(R"(
    function boom() error('command broke') end
    function adder() addCommand('/b', 'b', -1) end
    addCommand('/b', 'boom', 1)
    addCommand('/b', 'adder', 1)
    addCommand('/b', 'a', 1)
    dispatch(4, '/b now')
    eq('a(4|now)', seen())
    dispatch(4, '/b now')
    eq('a(4|now) b(4|now)', seen())
    IRC.addCommand('seen', 'onSeen', -1)
    IRC.addCommand('seen', 'a', 1)
    irc('bob', 'seen bob')
    eq('onSeen(bob|bob)', seen())
    dispatch(1, 'seen bob')
    irc('ann', '/b x')
    eq('', seen()))");
  EXPECT_EQ(host_.LogCount("[SCRIPT] Error in command '/b' (function 'boom'): [string"), 2u);
  EXPECT_EQ(lua_gettop(host_.L()), 0);
}

// A command that overwrites its caller's buffers (as destroying the IRC bot
// whose line it is would free them) still hands the next binding the line.
char scribbledText[64];
char scribbledNick[64];
int Scribble(lua_State*) {
  std::memset(scribbledText, 'X', std::strlen(scribbledText));
  std::memset(scribbledNick, 'Y', std::strlen(scribbledNick));
  return 0;
}

TEST_F(CommandsTest, ABindingThatOverwritesTheLineStillHandsTheNextOneTheLine) {
  std::strcpy(scribbledText, "seen a-rather-long-word-beyond-short-strings b");
  std::strcpy(scribbledNick, "a-nick-longer-than-short-strings");
  lua_register(host_.L(), "scribble", Scribble);
  Commands(R"(
    reset()
    IRC.addCommand('seen', 'scribble', 1)
    IRC.addCommand('seen', 'a', 2))");
  DispatchIRCCommand(0, scribbledNick, "#room", scribbledText);
  EXPECT_EQ(Eval("seen()"),
            "'a(a-nick-longer-than-short-strings|a-rather-long-word-beyond-short-strings|b)'");
}

TEST_F(CommandsTest, ARestartInsideADispatchEndsIt) {
  Commands(R"(
    function restarter() restartNow() end
    addCommand('/r', 'restarter', 1)
    addCommand('/r', 'hit', 1))");
  DispatchPlayerCommand(1, "/r now");
  EXPECT_EQ(GetScriptEngine(), nullptr);
  EXPECT_EQ(PlayerCommandTable().Count(), 0u);
  DispatchPlayerCommand(1, "/r now");
  EXPECT_EQ(hits, 0);
}

TEST_F(CommandsTest, ARestartInsideTheLookupOfABindingThatDoesNotRunEndsIt) {
  // The lookup itself runs script code: an __index on the globals.
  Commands(R"(
    local word = '/a-command-word-longer-than-short-strings'
    addCommand(word, 'restarting_lookup_name', 0)
    addCommand(word, 'hit', 1)
    setmetatable(_G, {__index = function(_, k)
      if k == 'restarting_lookup_name' then
        restartNow()
        return hit
      end
    end}))");
  DispatchPlayerCommand(1, "/a-command-word-longer-than-short-strings x");
  EXPECT_EQ(GetScriptEngine(), nullptr);
  EXPECT_EQ(hits, 0);
}

TEST(CommandWordScanner, SkipsBlanksAndCutsAt99) {
  // Each word's length and the cursor after it: " \t ab", then 120 'c' cut
  // at 99, the other 21 'c' and byte 255, then nothing.
  const std::string line = " \t ab\x01" + std::string(120, 'c') + "\xff";
  EXPECT_EQ(ReadCommandWord(line, 0), 2u);
  EXPECT_EQ(gCommandWordCursor, 5u);
  EXPECT_EQ(ReadCommandWord(line, gCommandWordCursor), 99u);
  EXPECT_EQ(gCommandWordCursor, 105u);
  EXPECT_EQ(ReadCommandWord(line, gCommandWordCursor), 22u);
  EXPECT_EQ(gCommandWordCursor, 127u);
  EXPECT_EQ(ReadCommandWord(line, gCommandWordCursor), 0u);
  EXPECT_EQ(gCommandWordCursor, 127u);
  EXPECT_EQ(ReadCommandWord(line, 100000), 0u);
}

}  // namespace
