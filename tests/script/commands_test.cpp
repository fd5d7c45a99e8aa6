// Script commands: bindings, both ways of splitting a line, the limits, and
// dispatch from the core's hand-over (core/events.h).
#include <gtest/gtest.h>

#include <string>

#include "core/events.h"
#include "script/commands.h"
#include "script/engine.h"
#include "script/script_host.h"

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
for _, name in ipairs({'cmdPm', 'logPm', 'heal1', 'heal2', 'me', 'zero', 'help', 'give', 'say',
    'words', 'onSeen', 'long', 'real', 'count'}) do
  _G[name] = record(name)
end
function seen() local s = table.concat(calls, ' '); calls = {}; return s end
)";

std::string Seen() { return Eval("seen()"); }

class CommandsTest : public ::testing::Test {
 protected:
  void Bind(const std::string& lua) { ASSERT_EQ(RunLua(lua), ""); }
  ScriptHost host_{kRecorder};
};

TEST_F(CommandsTest, WorkedExampleInBothOrders) {
  Bind("addCommand('/pm', 'cmdPm', 2); addCommand('/pm', 'logPm', -1)");
  DispatchPlayerCommand(7, "/pm 7 hello there");
  EXPECT_EQ(Seen(), "'cmdPm(7|7|hello there) logPm(7|7|hello|there)'");
  DispatchPlayerCommand(7, "/pm 7");
  EXPECT_EQ(Seen(), "'logPm(7|7)'");

  ResetScriptCommandTables();
  Bind("addCommand('/pm', 'logPm', -1); addCommand('/pm', 'cmdPm', 2)");
  DispatchPlayerCommand(7, "/pm 7 hello there");
  EXPECT_EQ(Seen(), "'logPm(7|7|hello|there)'");
}

TEST_F(CommandsTest, SeveralEntriesForOneWordRunInOrder) {
  Bind("addCommand('/heal', 'heal1', 1); addCommand('/heal', 'heal2', 1)");
  DispatchPlayerCommand(3, "/heal me now");
  EXPECT_EQ(Seen(), "'heal1(3|me now) heal2(3|me now)'");
}

TEST_F(CommandsTest, CountedParametersNeedEnoughWords) {
  Bind("addCommand('/me', 'me', 1); addCommand('/zero', 'zero', 0)");
  DispatchPlayerCommand(1, "/me");
  DispatchPlayerCommand(1, "/me   ");
  EXPECT_EQ(Seen(), "''");
  DispatchPlayerCommand(1, "/me waves");
  EXPECT_EQ(Seen(), "'me(1|waves)'");
  DispatchPlayerCommand(1, "/zero");
  DispatchPlayerCommand(1, "/zero a b c");
  EXPECT_EQ(Seen(), "''");
}

TEST_F(CommandsTest, WordsAreCaseSensitiveAndEndAtTheFirstSpace) {
  Bind("addCommand('/Help', 'help', -1)");
  DispatchPlayerCommand(1, "/help");
  DispatchPlayerCommand(1, "/Helpme");
  DispatchPlayerCommand(1, " /Help");
  EXPECT_EQ(Seen(), "''");
  DispatchPlayerCommand(1, "/Help");
  EXPECT_EQ(Seen(), "'help(1)'");
}

TEST_F(CommandsTest, SplittingAtSpacesAndByTheScanner) {
  Bind("addCommand('/give', 'give', -1); addCommand('/say', 'say', 2)");
  DispatchPlayerCommand(2, "/give  1   2");
  EXPECT_EQ(Seen(), "'give(2|1|2)'");
  DispatchPlayerCommand(2, "/give 1 2   ");
  EXPECT_EQ(Seen(), "'give(2|1|2)'");
  DispatchPlayerCommand(2, "/say  1   hello  world  ");
  EXPECT_EQ(Seen(), "'say(2|1|hello  world  )'");
  // Only the space separates whole-line pieces; the scanner skips every blank.
  DispatchPlayerCommand(2, "/give a\tb");
  EXPECT_EQ(Seen(), "'give(2|a\tb)'");
  DispatchPlayerCommand(2, "/say \t1\t\tx");
  EXPECT_EQ(Seen(), "'say(2|1|x)'");
}

TEST_F(CommandsTest, LongRunsAreCutIntoWordsOf99) {
  Bind("addCommand('/w', 'words', 3)");
  const std::string run(150, 'q');
  DispatchPlayerCommand(1, ("/w " + run + " tail").c_str());
  EXPECT_EQ(Seen(), "'words(1|" + std::string(99, 'q') + "|" + std::string(51, 'q') + "|tail)'");
}

TEST_F(CommandsTest, ParameterCountIsTheLowByteAsSigned) {
  Bind("addCommand('/a', 'give', 255); addCommand('/b', 'say', 258); addCommand('/c', 'zero', 256)");
  DispatchPlayerCommand(1, "/a x y");
  DispatchPlayerCommand(1, "/b x y z");
  DispatchPlayerCommand(1, "/c x y z");
  EXPECT_EQ(Seen(), "'give(1|x|y) say(1|x|y z)'");
  EXPECT_EQ(PlayerCommandTable().Entry(2).parameterCount, 0);
}

TEST_F(CommandsTest, AMissingFunctionEndsTheDispatch) {
  Bind("addCommand('/x', 'nothing', 1); addCommand('/x', 'real', 1)");
  DispatchPlayerCommand(1, "/x a");
  EXPECT_EQ(Seen(), "''");
  // Also when the binding would not have run this time.
  ResetScriptCommandTables();
  Bind("addCommand('/y', 'nothing', 0); addCommand('/y', 'real', 1)");
  DispatchPlayerCommand(1, "/y a");
  EXPECT_EQ(Seen(), "''");
  // Defined later, it runs: functions are looked up at each dispatch.
  Bind("nothing = function() end");
  DispatchPlayerCommand(1, "/y a");
  EXPECT_EQ(Seen(), "'real(1|a)'");
}

TEST_F(CommandsTest, ManyArgumentsAndLongLines) {
  Bind("addCommand('/m', 'count', -1); addCommand('/n', 'count', 127)");
  std::string line = "/m";
  for (int i = 0; i < 126; ++i) line += " a";
  ASSERT_EQ(line.size(), 254u);
  EXPECT_EQ(RunLua("function count(...) counted = select('#', ...) end"), "");
  DispatchPlayerCommand(1, line.c_str());
  EXPECT_EQ(Eval("counted"), "127");

  // Longer lines are taken up to 255 bytes.
  std::string longLine = "/m";
  for (int i = 0; i < 500; ++i) longLine += " a";
  DispatchPlayerCommand(1, longLine.c_str());
  EXPECT_EQ(Eval("counted"), "127");
  DispatchPlayerCommand(1, ("/m " + std::string(5000, 'z')).c_str());
  EXPECT_EQ(Eval("counted"), "2");

  // 127 counted parameters need 127 words; the line holds 126.
  EXPECT_EQ(RunLua("counted = nil"), "");
  DispatchPlayerCommand(1, ("/n" + line.substr(2)).c_str());
  EXPECT_EQ(Eval("counted"), "nil");
  std::string full = "/n";
  for (int i = 0; i < 127; ++i) full += " b";
  full.resize(255);
  DispatchPlayerCommand(1, full.c_str());
  EXPECT_EQ(Eval("counted"), "nil");  // cut at 255: 126 words and a space
}

TEST_F(CommandsTest, LimitsOfWordsAndTable) {
  const std::string word79 = "/" + std::string(78, 'w');
  const std::string word80 = "/" + std::string(79, 'w');
  Bind("addCommand('" + word79 + "', 'long', -1); addCommand('" + word80 + "', 'long', -1)");
  DispatchPlayerCommand(1, (word80 + " x").c_str());
  EXPECT_EQ(Seen(), "''");
  DispatchPlayerCommand(1, (word79 + " x").c_str());
  EXPECT_EQ(Seen(), "'long(1|x)'");

  ResetScriptCommandTables();
  Bind("addCommand(string.rep('a', 256), 'long')");
  Bind("addCommand('/ok', string.rep('f', 256))");
  Bind("addCommand('/ok', string.rep('f', 255))");
  Bind("addCommand(nil, 'long'); addCommand('/t', {}); addCommand({}, 'long')");
  EXPECT_EQ(PlayerCommandTable().Count(), 1u);

  ResetScriptCommandTables();
  Bind("for i = 1, 10005 do addCommand('/c' .. i, 'count') end");
  EXPECT_EQ(PlayerCommandTable().Count(), kMaxScriptCommands);
  EXPECT_EQ(PlayerCommandTable().Entry(kMaxScriptCommands - 1).word, "/c10000");
}

TEST_F(CommandsTest, AFailingCommandIsLoggedAndLaterBindingsRun) {
  Bind("function boom() error('command broke') end\n"
       "addCommand('/b', 'boom', 1); addCommand('/b', 'heal1', 1)");
  DispatchPlayerCommand(4, "/b now");
  EXPECT_EQ(Seen(), "'heal1(4|now)'");
  EXPECT_NE(host_.Log().find("[SCRIPT] Error in command '/b' (function 'boom'): [string"),
            std::string::npos)
      << host_.Log();
  EXPECT_NE(host_.Log().find("command broke"), std::string::npos);
  EXPECT_EQ(lua_gettop(host_.L()), 0);
}

TEST_F(CommandsTest, IrcCommandsPassTheNick) {
  Bind("IRC.addCommand('seen', 'onSeen', -1); IRC.addCommand('seen', 'say', 1)");
  DispatchIRCCommand(0, "bob", "#room", "seen bob");
  EXPECT_EQ(Seen(), "'onSeen(bob|bob)'");
  // The tables are separate.
  DispatchPlayerCommand(1, "seen bob");
  EXPECT_EQ(Seen(), "''");
  Bind("addCommand('/p', 'say', 1)");
  DispatchIRCCommand(0, "ann", "#room", "/p x");
  EXPECT_EQ(Seen(), "''");
  EXPECT_EQ(IrcCommandTable().Count(), 2u);
  EXPECT_EQ(PlayerCommandTable().Count(), 1u);
}

TEST_F(CommandsTest, BindingsAddedDuringADispatchWaitForTheNext) {
  Bind("function adder() addCommand('/r', 'heal2', -1) end\n"
       "addCommand('/r', 'adder', 1)");
  DispatchPlayerCommand(1, "/r x");
  EXPECT_EQ(Seen(), "''");
  DispatchPlayerCommand(1, "/r x");
  EXPECT_EQ(Seen(), "'heal2(1|x)'");
}

TEST_F(CommandsTest, NoDispatchWithoutAnEngineAndNoneAfterANewOne) {
  Bind("addCommand('/h', 'help', -1)");
  DestroyScriptEngine();
  EXPECT_EQ(PlayerCommandTable().Count(), 0u);
  DispatchPlayerCommand(1, "/h");
  PublishNewScriptEngine();
  EXPECT_EQ(RunLua("function help() helped = true end"), "");
  DispatchPlayerCommand(1, "/h");
  EXPECT_EQ(Eval("helped"), "nil");
}

TEST_F(CommandsTest, ARestartFromACommandEndsTheDispatch) {
  lua_register(host_.L(), "restartNow", [](lua_State*) -> int {
    DestroyScriptEngine();
    return 0;
  });
  Bind("function restarter() restartNow(); calls[#calls + 1] = 'after' end\n"
       "addCommand('/r', 'restarter', 1); addCommand('/r', 'heal1', 1)");
  DispatchPlayerCommand(1, "/r now");
  EXPECT_EQ(GetScriptEngine(), nullptr);
  EXPECT_EQ(PlayerCommandTable().Count(), 0u);
  DispatchPlayerCommand(1, "/r now");
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
