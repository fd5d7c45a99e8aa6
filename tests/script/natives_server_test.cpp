// The server natives: the settings they write (and the query reply and the
// game peer's password that follow them), the payloads, and the utilities.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "core/names.h"
#include "core/settings.h"
#include "script/native_test_support.h"

using scripttest::Eval;
using scripttest::RunLua;

namespace {

using nativetest::QueryReply;
using nativetest::Want;

std::string Rep(char c, size_t n) {
  return "string.rep('" + std::string(1, c) + "', " + std::to_string(n) + ")";
}

class ServerNativesTest : public nativetest::PlayerNativeTest {
 protected:
  void TearDown() override {
    gServerWeather = 0;
    gStaticInitialWantedLevel = 0;
    PlayerNativeTest::TearDown();
  }
};

TEST_F(ServerNativesTest, Settings) {
  const ServerSettings& s = gServerSettings;
  ASSERT_EQ(RunLua("setServerName(" + Rep('n', 50) + ")"), "");
  EXPECT_EQ(s.serverName, std::string(50, 'n'));
  ASSERT_EQ(RunLua("setServerName(" + Rep('n', 51) + ")"), "");
  EXPECT_STREQ(s.serverName, kDefaultServerName);
  ASSERT_EQ(RunLua("setServerName('My, Server'); setModeName('Race@Mode')"), "");
  EXPECT_EQ(QueryReply(server_.Port()), "0,My, Server,2,50,Race@Mode,@Alpha#" + std::to_string(a_) +
                                            "@Bravo#" + std::to_string(b_) + '\0');  // not sanitised
  ASSERT_EQ(RunLua("setServerName(nil); setModeName({})"), "");  // no text: no change
  EXPECT_STREQ(s.modeName, "Race@Mode");
  ASSERT_EQ(RunLua("setServerName(''); setModeName(" + Rep('m', 51) + ")"), "");
  EXPECT_STREQ(s.serverName, kDefaultServerName);
  EXPECT_STREQ(s.modeName, kDefaultModeName);

  ASSERT_EQ(RunLua("setServerPort(70000)"), "");
  EXPECT_EQ(s.port, 70000 - 65536);
  for (const auto& [arg, on] : {std::pair{"0", 1}, {"nil", 0}, {"'yes'", 1}, {"false", 0}}) {
    ASSERT_EQ(RunLua(std::string("announce(") + arg + ")"), "");
    EXPECT_EQ(s.announce, on) << arg;
  }
  ASSERT_EQ(RunLua("bindToIP('192.168.100.200')"), "");
  ASSERT_EQ(RunLua("bindToIP('192.168.100.2001'); bindToIP(''); bindToIP(nil)"), "");
  EXPECT_STREQ(s.bindAddress, "192.168.100.200");
  for (const auto& [arg, flag] : {std::pair{"5", 1}, {"0", 0}, {"256", 0}, {"-1", 1}}) {
    ASSERT_EQ(RunLua(std::string("toggleStaticInitialWantedLevel(") + arg + ")"), "");
    EXPECT_EQ(gStaticInitialWantedLevel, flag) << arg;
  }
  EXPECT_EQ(Eval("getMaxPlayers(1, 'x', nil)"), "50");
}

TEST_F(ServerNativesTest, PasswordIsSanitisedAndGuardsTheRunningPeer) {
  ASSERT_EQ(RunLua("setServerPassword('open sesame@1')"), "");
  EXPECT_EQ(gServerSettings.password.value_or(""), "open_sesame_1");
  EXPECT_EQ(QueryReply(server_.Port()).substr(0, 2), "1,");
  {
    support::TestClient typed;
    EXPECT_FALSE(typed.Connect(server_.Port(), "open sesame@1"));
    EXPECT_EQ(typed.LastRefusal(), net::ID_INVALID_PASSWORD);
    support::TestClient sanitised;
    EXPECT_TRUE(sanitised.Connect(server_.Port(), "open_sesame_1"));
  }
  ASSERT_EQ(RunLua("setServerPassword(" + Rep('p', 30) + ")"), "");
  EXPECT_EQ(gServerSettings.password.value_or(""), std::string(30, 'p'));
  for (const std::string& clearing : {Rep('p', 31), std::string("''"), std::string("nil")}) {
    ASSERT_EQ(RunLua("setServerPassword('x'); setServerPassword(" + clearing + ")"), "");
    EXPECT_FALSE(gServerSettings.password.has_value()) << clearing;
  }
  EXPECT_EQ(QueryReply(server_.Port()).substr(0, 2), "0,");
  support::TestClient open;
  EXPECT_TRUE(open.Connect(server_.Port()));
}

TEST_F(ServerNativesTest, ChatBoxAndGameTexts) {
  Run("outputChatBox('hi\\0x', 1, 2, 3, 300)");  // a text ends at its first NUL
  for (auto* c : {alpha_, bravo_}) {
    EXPECT_TRUE(Has(*c, "OutputChatBox", Want().u8(2).chars("hi", 2).u8(1).u8(2).u8(3).u8(44).Stream()));
  }
  // 300 characters: cut to the 255 that the length byte can say.
  Run("outputChatBox(B, string.rep('a', 255) .. " + Rep('b', 45) + ", 9, 8, 7, -1)");
  EXPECT_TRUE(Has(*bravo_, "OutputChatBox",
                  Want().u8(255).chars(std::string(255, 'a').data(), 255).u8(9).u8(8).u8(7).u8(255).Stream()));

  // b goes first; a and b pass through 64 bits: -1 is all ones, 2^32 + 7 is 7.
  Run("gameTextForAll('Hello', 5, 70000) gameTextForPlayer(A, " + Rep('t', 128) +
      ", -1, 4294967296 + 7)");
  EXPECT_TRUE(Has(*bravo_, "GameTextForPlayer",
                  Want().c32(70000).c32(5).c8(5).chars("Hello", 5).Stream()));
  EXPECT_TRUE(Has(*alpha_, "GameTextForPlayer",
                  Want().c32(7).c32(0xFFFFFFFF).c8(128).chars(std::string(128, 't').data(), 128).Stream()));
  Run("clearGameTextForPlayer(B) clearGameTextForAll()");
  EXPECT_TRUE(Has(*bravo_, "ClearGameText", Want().Stream()));
  EXPECT_EQ(alpha_->Count("ClearGameText"), 1u);
  EXPECT_EQ(bravo_->Count("ClearGameText"), 2u);

  // Refused: wrong counts, free or cut ids, a missing or too long text.
  const size_t a = SentToPlayer(*alpha_), b = SentToPlayer(*bravo_);
  Run("outputChatBox('x', 1, 2, 3); outputChatBox(A, 'x', 1, 2, 3, 4, 5);"
      "outputChatBox(99, 'x', 1, 2, 3, 4); outputChatBox(nil, 1, 2, 3, 4);"
      "outputChatBox(A + 256, {}, 1, 2, 3, 4)"
      "gameTextForAll(" + Rep('t', 129) + ", 1, 1); gameTextForAll(nil, 1, 1);"
      "gameTextForPlayer(B, " + Rep('t', 129) + ", 1, 1); gameTextForPlayer(98, 'x', 1, 1);"
      "clearGameTextForPlayer(98)");
  EXPECT_EQ(SentToPlayer(*alpha_), a);
  EXPECT_EQ(SentToPlayer(*bravo_), b);
}

TEST_F(ServerNativesTest, WeatherAndPlayerLimitReachEveryone) {
  Run("setServerWeather(9)");
  EXPECT_EQ(gServerWeather, 0);
  EXPECT_TRUE(Has(*bravo_, "SetServerWeather", Want().u8(0).Stream()));
  Run("setServerWeather(256 + 3)");
  EXPECT_EQ(gServerWeather, 3);
  EXPECT_TRUE(Has(*alpha_, "SetServerWeather", Want().u8(3).Stream()));

  Run("setMaxPlayers(65536 + 4464)");
  EXPECT_EQ(Eval("getMaxPlayers()"), "4464");
  EXPECT_TRUE(Has(*alpha_, "Server_SetMaxPlayers", Want().c16(4464).Stream()));
  EXPECT_EQ(QueryReply(server_.Port()),
            "0,QLM (Release RC1) Server P1,2,4464,QLM Default Mode,@Alpha#" +
                std::to_string(a_) + "@Bravo#" + std::to_string(b_) + std::string(1, '\0'));
}

TEST(ServerUtilityNatives, StrvalRandomWeaponNamesAndHostLookup) {
  scripttest::ScriptHost host("");
  const std::pair<const char*, const char*> cases[] = {
      {"strval('  -12abc')", "-12"}, {"strval('+7')", "7"}, {"strval(42.9)", "42"},
      {"strval('99999999999')", "2147483647"}, {"strval('-99999999999')", "-2147483648"},
      {"strval({})", "0"}, {"strval()", "1"},
      {"random(7, 0)", "7"}, {"random(2147483647, 1)", "2147483647"}, {"random(1)", "0"},
      {"(function() for i = 1, 50 do if random(0, 1e6) > 32767 then return 1 end end end)()", ""},
      {"getWeaponName(52)", "''"}, {"getWeaponName()", "255"},
      {"hostToIP('localhost')", "'127.0.0.1'"},
      {"select('#', hostToIP('no-such-host.invalid'))", "0"}, {"select('#', hostToIP(nil))", "0"}};
  for (const auto& [expression, result] : cases) EXPECT_EQ(Eval(expression), result) << expression;
  EXPECT_EQ(Eval("getWeaponName(256 + 51)"), std::string("'") + LookupWeaponName(51) + "'");
  // The remainder takes the sign of the draw: a negative range gives 0..2.
  for (const char* draw : {"random(10, 5) - 10", "random(0, -3)"}) {
    EXPECT_EQ(Eval(std::string("(function() for i = 1, 500 do local r = ") + draw +
                   "; if r < 0 or r > 4 or r % 1 ~= 0 then return r end end return 'ok' end)()"),
              "'ok'")
        << draw;
  }
}

TEST(ServerUtilityNatives, ConsoleLinesAndDelay) {
  scripttest::ScriptHost host("");
  ASSERT_EQ(RunLua("outputConsole('hello %s %n', 'ignored'); outputConsole(12); outputConsole(nil)"),
            "");
  const std::string log = host.Log();
  EXPECT_EQ(scripttest::CountOccurrences(log, "[CONSOLE] hello %s %n\r\n"), 1u) << log;
  EXPECT_EQ(scripttest::CountOccurrences(log, "[CONSOLE]"), 2u) << log;

  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(RunLua("delay(30)"), "");
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
  // A negative count does not stop the server for weeks: these return.
  ASSERT_EQ(RunLua("delay(-1); delay(0/0); delay(0)"), "");
}

TEST(ServerUtilityNativesDeathTest, ExitServerEndsTheProcessWithStatusZero) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        InProcessServer server;  // its network thread is running
        server.Start();
        // The child never reaches the fixture's clean-up: its directory goes now.
        std::filesystem::remove_all(server.Dir());
        RunLua("exitServer()");
        std::_Exit(3);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
