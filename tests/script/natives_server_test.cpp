// The server natives: the settings they write (and the query reply and the
// game peer's password that follow them), the payloads the clients receive,
// and the utilities.
#include <gtest/gtest.h>

#include <filesystem>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "core/game_fixture.h"
#include "core/names.h"
#include "core/settings.h"
#include "net/bitstream.h"
#include "script/script_host.h"

using scripttest::Eval;
using scripttest::RunLua;
using scripttest::ScriptHost;

namespace {

std::string Repeat(char c, size_t n) { return std::string(n, c); }
std::string LuaRep(char c, size_t n) {
  return "string.rep('" + std::string(1, c) + "', " + std::to_string(n) + ")";
}

// The text after the pong header of a server-browser query ("" on time-out).
std::string QueryReply(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return "";
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const uint8_t query[5] = {net::ID_PING, 1, 2, 3, 4};
  std::string reply;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (reply.empty() && std::chrono::steady_clock::now() < deadline) {
    sendto(fd, query, sizeof query, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 200) != 1) continue;
    char buffer[2048];
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n > 5) reply.assign(buffer + 5, static_cast<size_t>(n) - 5);
  }
  close(fd);
  return reply;
}

// The reply of a server without players and with the default limit.
std::string Reply(const std::string& password, const std::string& name, const std::string& mode) {
  return password + "," + name + ",0,50," + mode + "," + std::string(1, '\0');
}

void ExpectPayload(const support::ReceivedRpc* rpc, const net::BitStream& expected) {
  ASSERT_NE(rpc, nullptr);
  EXPECT_EQ(rpc->bits, expected.GetNumberOfBitsUsed()) << rpc->name;
  EXPECT_EQ(rpc->data, std::vector<uint8_t>(expected.GetData(),
                                            expected.GetData() + expected.GetNumberOfBytesUsed()))
      << rpc->name;
}

const char* const kScreenRpcs[] = {"OutputChatBox", "GameTextForPlayer", "ClearGameText",
                                   "SetServerWeather", "Server_SetMaxPlayers"};

class ServerNativesTest : public gametest::GameTest {
 protected:
  void TearDown() override {
    gServerWeather = 0;
    gStaticInitialWantedLevel = 0;
    GameTest::TearDown();
  }

  // Two joined players that watch the calls these natives send.
  void JoinTwo() {
    alice_ = &ConnectAndJoin("Alice");
    bob_ = &ConnectAndJoin("Bob");
    for (const char* name : kScreenRpcs) {
      alice_->Watch(name);
      bob_->Watch(name);
    }
  }
  // Every call sent before a marker chat line has arrived once both clients
  // hold the marker (one reliable channel keeps the order).
  void Settle() {
    const size_t a = alice_->Count("OutputChatBox");
    const size_t b = bob_->Count("OutputChatBox");
    ASSERT_EQ(RunLua("outputChatBox('marker', 0, 0, 0, 0)"), "");
    ASSERT_TRUE(PumpUntil([&] {
      return alice_->Count("OutputChatBox") > a && bob_->Count("OutputChatBox") > b;
    }));
  }
  uint8_t Id(const support::TestClient* c) const { return static_cast<uint8_t>(c->Index()); }

  support::TestClient* alice_ = nullptr;
  support::TestClient* bob_ = nullptr;
};

TEST_F(ServerNativesTest, NamesFollowTheirLimitsAndTheQueryReply) {
  const ServerSettings& s = gServerSettings;
  EXPECT_EQ(Eval("setServerName(" + LuaRep('n', 50) + ")"), "");  // a setter returns nothing
  EXPECT_EQ(s.serverName, Repeat('n', 50));
  EXPECT_EQ(QueryReply(server_.Port()), Reply("0", Repeat('n', 50), "QLM Default Mode"));

  ASSERT_EQ(RunLua("setServerName(" + LuaRep('n', 51) + ")"), "");
  EXPECT_STREQ(s.serverName, kDefaultServerName);
  ASSERT_EQ(RunLua("setServerName('My, Server'); setModeName('Race@Mode')"), "");
  EXPECT_STREQ(s.serverName, "My, Server");  // later names are not sanitised
  EXPECT_EQ(QueryReply(server_.Port()), Reply("0", "My, Server", "Race@Mode"));
  ASSERT_EQ(RunLua("setServerName(nil); setModeName({})"), "");  // no text: no change
  EXPECT_STREQ(s.serverName, "My, Server");
  EXPECT_STREQ(s.modeName, "Race@Mode");
  ASSERT_EQ(RunLua("setServerName(''); setModeName(" + LuaRep('m', 51) + ")"), "");
  EXPECT_STREQ(s.serverName, kDefaultServerName);
  EXPECT_STREQ(s.modeName, kDefaultModeName);
  ASSERT_EQ(RunLua("setModeName(" + LuaRep('m', 50) + ")"), "");
  EXPECT_EQ(s.modeName, Repeat('m', 50));
}

TEST_F(ServerNativesTest, PlainSettings) {
  const ServerSettings& s = gServerSettings;
  ASSERT_EQ(RunLua("setServerPort(70000)"), "");
  EXPECT_EQ(s.port, 70000 - 65536);

  ASSERT_EQ(RunLua("announce(0)"), "");
  EXPECT_EQ(s.announce, 1);  // a boolean: 0 is on
  ASSERT_EQ(RunLua("announce(nil)"), "");
  EXPECT_EQ(s.announce, 0);
  ASSERT_EQ(RunLua("announce('yes')"), "");
  EXPECT_EQ(s.announce, 1);
  ASSERT_EQ(RunLua("announce(false)"), "");
  EXPECT_EQ(s.announce, 0);

  ASSERT_EQ(RunLua("bindToIP('192.168.100.200')"), "");
  EXPECT_STREQ(s.bindAddress, "192.168.100.200");
  ASSERT_EQ(RunLua("bindToIP('192.168.100.2001'); bindToIP(''); bindToIP(nil)"), "");
  EXPECT_STREQ(s.bindAddress, "192.168.100.200");

  const std::pair<const char*, int> wanted[] = {{"5", 1}, {"0", 0}, {"1", 1}, {"256", 0}, {"-1", 1}};
  for (const auto& [arg, flag] : wanted) {
    ASSERT_EQ(RunLua(std::string("toggleStaticInitialWantedLevel(") + arg + ")"), "");
    EXPECT_EQ(gStaticInitialWantedLevel, flag) << arg;
  }

  EXPECT_EQ(Eval("getMaxPlayers()"), "50");
  EXPECT_EQ(Eval("getMaxPlayers(1, 'x', nil)"), "50");
}

TEST_F(ServerNativesTest, PasswordIsSanitisedAndGuardsTheRunningPeer) {
  ASSERT_EQ(RunLua("setServerPassword('open sesame@1')"), "");
  ASSERT_TRUE(gServerSettings.password.has_value());
  EXPECT_EQ(*gServerSettings.password, "open_sesame_1");
  EXPECT_EQ(QueryReply(server_.Port()).substr(0, 2), "1,");
  {
    support::TestClient typed;
    EXPECT_FALSE(typed.Connect(server_.Port(), "open sesame@1"));
    EXPECT_EQ(typed.LastRefusal(), net::ID_INVALID_PASSWORD);
    support::TestClient sanitised;
    EXPECT_TRUE(sanitised.Connect(server_.Port(), "open_sesame_1"));
  }

  ASSERT_EQ(RunLua("setServerPassword(" + LuaRep('p', 30) + ")"), "");
  EXPECT_EQ(gServerSettings.password.value_or(""), Repeat('p', 30));
  // 31 characters, the empty text and no text all clear it.
  for (const char* clearing : {"string.rep('p', 31)", "''", "nil"}) {
    ASSERT_EQ(RunLua("setServerPassword('x'); setServerPassword(" + std::string(clearing) + ")"), "");
    EXPECT_FALSE(gServerSettings.password.has_value()) << clearing;
  }
  EXPECT_EQ(QueryReply(server_.Port()).substr(0, 2), "0,");
  support::TestClient open;
  EXPECT_TRUE(open.Connect(server_.Port()));
}

TEST_F(ServerNativesTest, ChatBoxPayloadsAndTargets) {
  JoinTwo();
  ASSERT_EQ(RunLua("outputChatBox('hi', 1, 2, 3, 300)"), "");
  ASSERT_TRUE(PumpUntil([&] { return alice_->Count("OutputChatBox") && bob_->Count("OutputChatBox"); }));
  const std::vector<uint8_t> toAll = {2, 'h', 'i', 1, 2, 3, 44};
  EXPECT_EQ(alice_->LastRpc("OutputChatBox")->data, toAll);
  EXPECT_EQ(bob_->LastRpc("OutputChatBox")->bits, 7u * 8);
  EXPECT_EQ(bob_->LastRpc("OutputChatBox")->data, toAll);

  // 300 characters: the length byte is 44 and 44 characters follow.
  const std::string text = Repeat('a', 256) + Repeat('b', 44);
  ASSERT_EQ(RunLua("outputChatBox(" + std::to_string(Id(bob_)) + ", string.rep('a', 256) .. " +
                   LuaRep('b', 44) + ", 9, 8, 7, -1)"),
            "");
  ASSERT_TRUE(PumpUntil([&] { return bob_->Count("OutputChatBox") == 2; }));
  std::vector<uint8_t> toBob = {44};
  toBob.insert(toBob.end(), text.begin(), text.begin() + 44);
  toBob.insert(toBob.end(), {9, 8, 7, 255});
  EXPECT_EQ(bob_->LastRpc("OutputChatBox")->data, toBob);

  // Refused: wrong counts, a free player slot, a missing text.
  const size_t aliceBefore = alice_->Count("OutputChatBox");
  ASSERT_EQ(RunLua("outputChatBox('x', 1, 2, 3); outputChatBox(0, 'x', 1, 2, 3, 4, 5);"
                   "outputChatBox(99, 'x', 1, 2, 3, 4); outputChatBox(nil, 1, 2, 3, 4);"
                   "outputChatBox(" + std::to_string(Id(alice_) + 256) + ", {}, 1, 2, 3, 4)"),
            "");
  Settle();
  EXPECT_EQ(alice_->Count("OutputChatBox"), aliceBefore + 1);
  EXPECT_EQ(bob_->Count("OutputChatBox"), 3u);
}

TEST_F(ServerNativesTest, GameTextsAndClearing) {
  JoinTwo();
  ASSERT_EQ(RunLua("gameTextForAll('Hello', 5, 70000)"), "");
  ASSERT_TRUE(PumpUntil([&] { return bob_->Count("GameTextForPlayer") == 1; }));
  net::BitStream hello;
  hello.WriteCompressed(uint32_t{70000});  // b first, then a
  hello.WriteCompressed(uint32_t{5});
  hello.WriteCompressed(uint8_t{5});
  hello.WriteBytes("Hello", 5);
  ExpectPayload(bob_->LastRpc("GameTextForPlayer"), hello);

  // a and b pass through 64 bits: -1 is all ones, 2^32 + 7 is 7.
  ASSERT_EQ(RunLua("gameTextForPlayer(" + std::to_string(Id(alice_)) + ", " + LuaRep('t', 128) +
                   ", -1, 4294967296 + 7)"),
            "");
  ASSERT_TRUE(PumpUntil([&] { return alice_->Count("GameTextForPlayer") == 2; }));
  net::BitStream longest;
  longest.WriteCompressed(uint32_t{7});
  longest.WriteCompressed(uint32_t{0xFFFFFFFF});
  longest.WriteCompressed(uint8_t{128});
  longest.WriteBytes(Repeat('t', 128).data(), 128);
  ExpectPayload(alice_->LastRpc("GameTextForPlayer"), longest);

  ASSERT_EQ(RunLua("clearGameTextForPlayer(" + std::to_string(Id(bob_)) + ")"), "");
  ASSERT_TRUE(PumpUntil([&] { return bob_->Count("ClearGameText") == 1; }));
  EXPECT_EQ(bob_->LastRpc("ClearGameText")->bits, 0u);
  ASSERT_EQ(RunLua("clearGameTextForAll()"), "");
  ASSERT_TRUE(PumpUntil([&] { return alice_->Count("ClearGameText") == 1; }));
  EXPECT_EQ(alice_->LastRpc("ClearGameText")->bits, 0u);

  // Refused: 129 characters, no text, a free slot.
  ASSERT_EQ(RunLua("gameTextForAll(" + LuaRep('t', 129) + ", 1, 1); gameTextForAll(nil, 1, 1);"
                   "gameTextForPlayer(" + std::to_string(Id(bob_)) + ", " + LuaRep('t', 129) +
                   ", 1, 1); gameTextForPlayer(98, 'x', 1, 1); clearGameTextForPlayer(98)"),
            "");
  Settle();
  EXPECT_EQ(alice_->Count("GameTextForPlayer"), 2u);
  EXPECT_EQ(bob_->Count("GameTextForPlayer"), 1u);
  EXPECT_EQ(alice_->Count("ClearGameText"), 1u);
  EXPECT_EQ(bob_->Count("ClearGameText"), 2u);
}

TEST_F(ServerNativesTest, WeatherAndPlayerLimitReachEveryone) {
  JoinTwo();
  ASSERT_EQ(RunLua("setServerWeather(9)"), "");
  EXPECT_EQ(gServerWeather, 0);
  ASSERT_EQ(RunLua("setServerWeather(256 + 3)"), "");
  EXPECT_EQ(gServerWeather, 3);
  ASSERT_TRUE(PumpUntil([&] { return bob_->Count("SetServerWeather") == 2; }));
  const auto weathers = bob_->Rpcs("SetServerWeather");
  EXPECT_EQ(weathers[0].data, std::vector<uint8_t>{0});
  EXPECT_EQ(weathers[0].bits, 8u);
  EXPECT_EQ(weathers[1].data, std::vector<uint8_t>{3});

  ASSERT_EQ(RunLua("setMaxPlayers(65536 + 4464)"), "");
  EXPECT_EQ(gServerSettings.maxPlayers, 4464);
  EXPECT_EQ(Eval("getMaxPlayers()"), "4464");
  ASSERT_TRUE(PumpUntil([&] { return alice_->Count("Server_SetMaxPlayers") == 1; }));
  net::BitStream limit;
  limit.WriteCompressed(uint16_t{4464});
  ExpectPayload(alice_->LastRpc("Server_SetMaxPlayers"), limit);
  EXPECT_EQ(QueryReply(server_.Port()),
            "0,QLM (Release RC1) Server P1,2,4464,QLM Default Mode,@Alice#" +
                std::to_string(Id(alice_)) + "@Bob#" + std::to_string(Id(bob_)) +
                std::string(1, '\0'));
}

TEST(ServerUtilityNatives, StrvalReadsLikeAtoiWithoutOverflow) {
  ScriptHost host("");
  EXPECT_EQ(Eval("strval('  -12abc')"), "-12");
  EXPECT_EQ(Eval("strval('+7')"), "7");
  EXPECT_EQ(Eval("strval('abc')"), "0");
  EXPECT_EQ(Eval("strval(42.9)"), "42");
  EXPECT_EQ(Eval("strval('99999999999')"), "2147483647");
  EXPECT_EQ(Eval("strval('-99999999999')"), "-2147483648");
  EXPECT_EQ(Eval("strval({})"), "0");
  EXPECT_EQ(Eval("strval()"), "1");
}

TEST(ServerUtilityNatives, RandomStaysInItsRange) {
  ScriptHost host("");
  EXPECT_EQ(Eval("(function() for i = 1, 500 do local r = random(10, 5);"
                 " if r < 10 or r > 14 or r % 1 ~= 0 then return r end end return 'ok' end)()"),
            "'ok'");
  // The remainder takes the sign of the draw: a negative range gives 0..2.
  EXPECT_EQ(Eval("(function() for i = 1, 500 do local r = random(0, -3);"
                 " if r < 0 or r > 2 then return r end end return 'ok' end)()"),
            "'ok'");
  EXPECT_EQ(Eval("random(7, 0)"), "7");
  EXPECT_EQ(Eval("random(2147483647, 1)"), "2147483647");
  EXPECT_EQ(Eval("random(1)"), "0");
}

TEST(ServerUtilityNatives, WeaponNamesAndHostLookup) {
  ScriptHost host("");
  EXPECT_EQ(Eval("getWeaponName(1)"), std::string("'") + LookupWeaponName(1) + "'");
  EXPECT_EQ(Eval("getWeaponName(256 + 51)"), std::string("'") + LookupWeaponName(51) + "'");
  EXPECT_EQ(Eval("getWeaponName(52)"), "''");
  EXPECT_EQ(Eval("getWeaponName()"), "255");

  EXPECT_EQ(Eval("hostToIP('127.0.0.5')"), "'127.0.0.5'");
  EXPECT_EQ(Eval("hostToIP('localhost')"), "'127.0.0.1'");
  EXPECT_EQ(Eval("select('#', hostToIP('no-such-host.invalid'))"), "0");
  EXPECT_EQ(Eval("select('#', hostToIP(''))"), "0");
  EXPECT_EQ(Eval("select('#', hostToIP(nil))"), "0");
}

TEST(ServerUtilityNatives, ConsoleLinesAndDelay) {
  ScriptHost host("");
  ASSERT_EQ(RunLua("outputConsole('hello %s %n', 'ignored'); outputConsole(12); outputConsole(nil)"),
            "");
  const std::string log = host.Log();
  EXPECT_EQ(scripttest::CountOccurrences(log, "[CONSOLE] hello %s %n\r\n"), 1u) << log;
  EXPECT_EQ(scripttest::CountOccurrences(log, "[CONSOLE] 12\r\n"), 1u) << log;
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
        std::fputs("still running\n", stderr);
        std::_Exit(3);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
