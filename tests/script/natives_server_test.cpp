// The server, admin, area and spawn class natives: the settings they write
// (and the query reply and the game peer's password that follow them), the
// payloads, the departures and bans, the utilities.
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "core/areapool.h"
#include "core/events.h"
#include "core/log.h"
#include "core/netgame.h"
#include "core/playerpool.h"
#include "core/rpc.h"
#include "core/settings.h"
#include "core/spawnclasspool.h"
#include "core/weaponshops.h"
#include "core/world.h"
#include "script/native_test_support.h"
#include "script/script_host.h"
#include "support/test_client.h"

namespace {

using namespace nativetest;
using scripttest::RunLua;

// A Lua expression for `n` times the character `c`.
std::string Rep(char c, size_t n) {
  return "string.rep('" + std::string(1, c) + "', " + std::to_string(n) + ")";
}

std::string Reply() { return GetGamePeer()->GetOfflinePingResponse(); }

// The log's "[CONSOLE]" lines from that tag on, each with its line end.
std::string ConsoleLines(const std::string& log) {
  std::string lines;
  for (size_t tag = log.find("[CONSOLE]"); tag != std::string::npos;
       tag = log.find("[CONSOLE]", tag + 1)) {
    const size_t end = log.find('\n', tag);
    lines += log.substr(tag, end == std::string::npos ? end : end - tag + 1);
  }
  return lines;
}

// The settings the natives write: server name, mode name, port, announce
// flag, bind address, password ("-" for none), static initial wanted level.
struct Settings {
  std::string name;
  std::string mode;
  int port;
  int announce;
  std::string bind;
  std::string password;
  int staticWanted;
};

class ServerNatives : public Natives {
 protected:
  ~ServerNatives() override {
    // kept across restarts
    gServerWeather = 0;
    gStaticInitialWantedLevel = 0;
    gWeaponShopsFlag = 0;
  }
  std::string Log(const char* name = kLogFileName) { return seam.Server().ReadFile(name); }
  // Runs `call`, which gives no results, and compares every setting after it.
  void ExpectSettings(const std::string& call, const Settings& want) {
    EXPECT_EQ(seam.Eval(call), "") << call;
    const ServerSettings& s = gServerSettings;
    EXPECT_EQ(s.serverName, want.name) << call;
    EXPECT_EQ(s.modeName, want.mode) << call;
    EXPECT_EQ(s.port, want.port) << call;
    EXPECT_EQ(s.announce, want.announce) << call;
    EXPECT_EQ(s.bindAddress, want.bind) << call;
    EXPECT_EQ(s.password.value_or("-"), want.password) << call;
    EXPECT_EQ(gStaticInitialWantedLevel, want.staticWanted) << call;
  }
};

TEST_F(ServerNatives, SettingsPayloadsAndUtilities) {
  const std::string n50(50, 'n');
  const std::string p30(30, 'p');
  const std::string name = "QLM (Release RC1) Server P1";
  const std::string mode = "QLM Default Mode";
  const std::string ip = "192.168.100.200";
  // clang-format off
  ExpectSettings("setServerName(" + Rep('n', 50) + ")", {n50, mode, 0, 0, "", "-", 0});
  ExpectSettings("setServerName(" + Rep('n', 51) + ")", {name, mode, 0, 0, "", "-", 0});
  // Not sanitised.
  ExpectSettings("setServerName('My, Server')", {"My, Server", mode, 0, 0, "", "-", 0});
  ExpectSettings("setModeName('Race@Mode')", {"My, Server", "Race@Mode", 0, 0, "", "-", 0});
  EXPECT_EQ(Reply(), std::string("0,My, Server,2,50,Race@Mode,@Alpha#0@Bravo#1") + '\0');
  // No text: no change.
  ExpectSettings("setServerName(nil)", {"My, Server", "Race@Mode", 0, 0, "", "-", 0});
  ExpectSettings("setModeName({})", {"My, Server", "Race@Mode", 0, 0, "", "-", 0});
  EXPECT_EQ(Reply(), std::string("0,My, Server,2,50,Race@Mode,@Alpha#0@Bravo#1") + '\0');
  ExpectSettings("setServerName('')", {name, "Race@Mode", 0, 0, "", "-", 0});
  ExpectSettings("setModeName(" + Rep('m', 51) + ")", {name, mode, 0, 0, "", "-", 0});
  ExpectSettings("setServerPort(70000)", {name, mode, 4464, 0, "", "-", 0});
  ExpectSettings("announce(0)", {name, mode, 4464, 1, "", "-", 0});
  ExpectSettings("announce(nil)", {name, mode, 4464, 0, "", "-", 0});
  ExpectSettings("announce('yes')", {name, mode, 4464, 1, "", "-", 0});
  ExpectSettings("announce(false)", {name, mode, 4464, 0, "", "-", 0});
  ExpectSettings("bindToIP('192.168.100.200')", {name, mode, 4464, 0, ip, "-", 0});
  ExpectSettings("bindToIP('192.168.100.2001')", {name, mode, 4464, 0, ip, "-", 0});
  ExpectSettings("bindToIP('')", {name, mode, 4464, 0, ip, "-", 0});
  ExpectSettings("bindToIP(nil)", {name, mode, 4464, 0, ip, "-", 0});
  ExpectSettings("toggleStaticInitialWantedLevel(5)", {name, mode, 4464, 0, ip, "-", 1});
  ExpectSettings("toggleStaticInitialWantedLevel(0)", {name, mode, 4464, 0, ip, "-", 0});
  ExpectSettings("toggleStaticInitialWantedLevel(256)", {name, mode, 4464, 0, ip, "-", 0});
  ExpectSettings("toggleStaticInitialWantedLevel(-1)", {name, mode, 4464, 0, ip, "-", 1});
  // The password is sanitised; 30 characters are kept; 31, '' and nil clear it.
  ExpectSettings("setServerPassword('open sesame@1')",
                 {name, mode, 4464, 0, ip, "open_sesame_1", 1});
  EXPECT_EQ(Reply().substr(0, 2), "1,");
  ExpectSettings("setServerPassword(" + Rep('p', 30) + ")", {name, mode, 4464, 0, ip, p30, 1});
  ExpectSettings("setServerPassword(" + Rep('p', 31) + ")", {name, mode, 4464, 0, ip, "-", 1});
  ExpectSettings("setServerPassword('x')", {name, mode, 4464, 0, ip, "x", 1});
  ExpectSettings("setServerPassword('')", {name, mode, 4464, 0, ip, "-", 1});
  ExpectSettings("setServerPassword('x')", {name, mode, 4464, 0, ip, "x", 1});
  ExpectSettings("setServerPassword(nil)", {name, mode, 4464, 0, ip, "-", 1});
  // clang-format on
  EXPECT_EQ(Reply().substr(0, 2), "0,");
  EXPECT_EQ(seam.Eval("getMaxPlayers(1, 'x', nil)"), "50");
  EXPECT_EQ(seam.Take(), "");

  const std::string a255(255, 'a');
  const std::string t128(128, 't');
  // A text ends at its first NUL; 300 characters are cut to the 255 the
  // length byte can say; b goes first; a and b pass through 64 bits: -1 is all
  // ones, 2^32 + 7 is 7.
  // clang-format off
  Check({{"outputChatBox('hi\\0x', 1, 2, 3, 300)", "",
          {AB("OutputChatBox").u8(2).chars("hi", 2).u8(1).u8(2).u8(3).u8(44)}},
         {"outputChatBox(1, string.rep('a', 255) .. " + Rep('b', 45) + ", 9, 8, 7, -1)", "",
          {B("OutputChatBox").u8(255).chars(a255.data(), 255).u8(9).u8(8).u8(7).u8(255)}},
         {"gameTextForAll('Hello', 5, 70000)", "",
          {AB("GameTextForPlayer").c32(70000).c32(5).c8(5).chars("Hello", 5)}},
         {"gameTextForPlayer(0, " + Rep('t', 128) + ", -1, 4294967296 + 7)", "",
          {A("GameTextForPlayer").c32(7).c32(0xFFFFFFFF).c8(128).chars(t128.data(), 128)}},
         {"clearGameTextForPlayer(1)", "", {B("ClearGameText")}},
         {"clearGameTextForAll()", "", {AB("ClearGameText")}},
         {"setServerWeather(9)", "", {AB("SetServerWeather").u8(0)}}});
  // clang-format on
  EXPECT_EQ(gServerWeather, 0);
  Check({{"setServerWeather(256 + 3)", "", {AB("SetServerWeather").u8(3)}},
         {"setMaxPlayers(65536 + 4464)", "", {AB("Server_SetMaxPlayers").c16(4464)}},
         {"getMaxPlayers()", "4464"}});
  EXPECT_EQ(gServerWeather, 3);
  EXPECT_EQ(
      Reply(),
      std::string("0,QLM (Release RC1) Server P1,2,4464,QLM Default Mode,@Alpha#0@Bravo#1") + '\0');
  // Wrong counts (4 and 7 arguments), free or cut ids, a missing or too long text.
  Refused({""},
          {"outputChatBox('x', 1, 2, 3)", "outputChatBox(0, 'x', 1, 2, 3, 4, 5)",
           "outputChatBox(99, 'x', 1, 2, 3, 4)", "outputChatBox(nil, 1, 2, 3, 4)",
           "outputChatBox(256, {}, 1, 2, 3, 4)", "gameTextForAll(" + Rep('t', 129) + ", 1, 1)",
           "gameTextForAll(nil, 1, 1)", "gameTextForPlayer(1, " + Rep('t', 129) + ", 1, 1)",
           "gameTextForPlayer(98, 'x', 1, 1)", "clearGameTextForPlayer(98)"});
  // The utilities. The remainder of random takes the sign of the draw: a
  // negative range of -3 gives 0..2.
  // clang-format off
  Check({{"strval('  -12abc')", "-12"},
         {"strval('+7')", "7"},
         {"strval(42.9)", "42"},
         {"strval('99999999999')", "2147483647"},
         {"strval('-99999999999')", "-2147483648"},
         {"strval({})", "0"},
         {"strval()", "1"},
         {"random(7, 0)", "7"},
         {"random(2147483647, 1)", "2147483647"},
         {"random(1)", "0"},
         // Draws are 0..32767: a draw above gives itself away.
         {"(function() for i = 1, 50 do\n"
          "if random(0, 1e6) > 32767 then return 1 end end end)()", ""},
         {"(function() for i = 1, 60 do if random(0, 2) == 1 then return 1 end end end)()", "1"},
         // Each value outside the range, or not whole, gives itself away.
         {"(function() for i = 1, 500 do local r = random(10, 5) - 10\n"
          "if r < 0 or r > 4 or r % 1 ~= 0 then return r end end end)()", ""},
         {"(function() for i = 1, 500 do local s = random(0, -3)\n"
          "if s < 0 or s > 2 or s % 1 ~= 0 then return s end end end)()", ""},
         {"getWeaponName(52)", "''"},
         {"getWeaponName(256 + 51)", "'Crushed'"},
         {"getWeaponName()", "255"},
         {"hostToIP('localhost')", "'127.0.0.1'"},
         {"hostToIP('no-such-host.invalid')", ""},
         {"hostToIP(nil)", ""},
         {"outputConsole('hello %s %n', 'ignored')", ""},
         {"outputConsole(12)", ""},
         {"outputConsole(nil)", ""}});
  // clang-format on
  // Two lines, the format taken as text; nil writes none.
  EXPECT_EQ(ConsoleLines(Log()), "[CONSOLE] hello %s %n\r\n[CONSOLE] 12\r\n");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(seam.Eval("delay(30)"), "");
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
  // A negative count returns at once.
  EXPECT_EQ(seam.Eval("delay(-1)"), "");
  EXPECT_EQ(seam.Eval("delay(0/0)"), "");
  EXPECT_EQ(seam.Eval("delay(0)"), "");
}

TEST_F(ServerNatives, KickAndBanRunTheDepartureAndIgnoreWhoIsNotThere) {
  ASSERT_EQ(seam.Join("Carol"), 2);
  Check({{"kickPlayer(100)", ""},
         {"kickPlayer(42)", ""},
         {"kickPlayer(0)",
          "",
          {A("KickPlayer"), "close>0",
           support::Line("PlayerDisconnect", {1, 2}, Want().c8(0).c8(3))}}});
  EXPECT_EQ(seam.events.Take(), "disconnect 0 3");
  EXPECT_FALSE(GetPlayerPool()->IsInUse(0));
  EXPECT_NE(Log().find("[LEAVE] Alpha has left the server. [Kicked]"), std::string::npos);
  Check(
      {{"banPlayer(1)",
        "",
        {B("BanPlayer"), "close>1", support::Line("PlayerDisconnect", {2}, Want().c8(1).c8(2))}}});
  EXPECT_EQ(seam.events.Take(), "disconnect 1 2");
  EXPECT_NE(Log("server_bans.xml").find("10.0.0.2"), std::string::npos);
}

// A handler that kicks the player who is already leaving must not start the
// departure again under itself (it would recurse until the stack ran out).
TEST_F(ServerNatives, AKickFromInsideADepartureIsRefusedBanListAndRestart) {
  int kicksTried = 0;
  seam.events.onRaise = [&](const ScriptEvent& e) {
    if (e.kind != ScriptEventKind::kPlayerDisconnect) return;
    ++kicksTried;
    seam.Eval("kickPlayer(" + std::to_string(static_cast<int>(e.args[0].number)) + ")");
  };
  Check(
      {{"kickPlayer(0)",
        "",
        {A("KickPlayer"), "close>0", support::Line("PlayerDisconnect", {1}, Want().c8(0).c8(3))}}});
  EXPECT_EQ(seam.events.Take(), "disconnect 0 3");
  seam.Drop(1);
  EXPECT_EQ(seam.events.Take(), "disconnect 1 1");
  EXPECT_EQ(kicksTried, 2);
  seam.events.onRaise = nullptr;

  // Address texts of 7 to 15 characters are taken as they are.
  EXPECT_EQ(seam.Eval("addBanIP('1.2.3')"), "");
  EXPECT_EQ(seam.Eval("addBanIP('1234567890123456')"), "");
  EXPECT_EQ(Log("server_bans.xml").find("BanInformation"), std::string::npos);
  EXPECT_EQ(seam.Eval("addBanIP('10.0.0.*')"), "");
  EXPECT_EQ(seam.Eval("addBanIP('9.9.9.9')"), "");
  EXPECT_TRUE(GetGamePeer()->IsBanned("10.0.0.7"));
  EXPECT_NE(Log("server_bans.xml").find("9.9.9.9"), std::string::npos);
  EXPECT_EQ(seam.Eval("removeBanIP('9.9.9.9')"), "");
  EXPECT_EQ(seam.Eval("removeBanIP('8.8.8.8')"), "");
  EXPECT_EQ(Log("server_bans.xml").find("9.9.9.9"), std::string::npos);
  EXPECT_FALSE(GetGamePeer()->IsBanned("9.9.9.9"));
  // reloadBans takes any arguments: the file is the truth again.
  GetGamePeer()->AddToBanList("7.7.7.7");
  EXPECT_EQ(seam.Eval("reloadBans('ignored', 3)"), "");
  EXPECT_FALSE(GetGamePeer()->IsBanned("7.7.7.7"));
  EXPECT_TRUE(GetGamePeer()->IsBanned("10.0.0.7"));
  // A restart waits until the script's call has returned.
  EXPECT_EQ(seam.Eval("restartGameMode(1)"), "");
  seam.Pump();
  EXPECT_EQ(seam.Eval("restartGameMode()"), "");
  EXPECT_EQ(seam.Lua("restartGameMode() return 5"), "5");
  EXPECT_EQ(gNetGame->restartPending, 0);
  seam.Pump();
  EXPECT_EQ(gNetGame->restartPending, 1);
}

TEST_F(ServerNatives, AreasAndSpawnClasses) {
  PlayerRecord* r = GetPlayerPool()->records;
  r[0].x = 5;
  r[0].y = 5;
  r[0].z = 5;
  r[1].x = 50;
  r[1].y = 50;
  r[1].z = 50;
  Check({{"createArea(0, 0, 0, 10, 10, 10)", "1"},
         {"createArea(40, 40, 40, 60, 60, 60)", "2"},
         {"createArea(10, 0, 0, 0, 10, 10)", "3"},  // min x above max x
         {"getPlayerArea(0)", "0"}});               // not before the sweep has seen him
  // Past the sweep's gate, twice: the inverted box never takes him in.
  for (int i = 0; i < 2; ++i) {
    seam.clock.Advance(kAreaSweepIntervalMs + 1);
    gAreaPool->Process();
  }
  seam.events.Take();
  Check({{"getPlayerArea(0)", "1"},
         {"getPlayerArea(256)", "1"},
         {"getPlayerArea(1)", "2"},
         {"destroyArea(1)", "true"}});
  EXPECT_EQ(seam.events.Take(), "leavearea 0 1");
  // The guard: a free slot and an id beyond the pool give nothing.
  Check({{"getPlayerArea(0)", "0"},
         {"getPlayerArea(1)", "2"},
         {"getPlayerArea(9)", ""},
         {"getPlayerArea(100)", ""},
         {"createArea(-1.5, -2.5, -3.5, '4', 5, 6)", "1"}});
  const AreaRecord& a = gAreaPool->areas[1];
  EXPECT_EQ(Field(a.minX), -1.5f);
  EXPECT_EQ(Field(a.minY), -2.5f);
  EXPECT_EQ(Field(a.minZ), -3.5f);
  EXPECT_EQ(Field(a.maxX), 4);
  EXPECT_EQ(Field(a.maxY), 5);
  EXPECT_EQ(Field(a.maxZ), 6);
  Check({{"destroyArea(0)", "false"},
         {"destroyArea(2000)", "false"},
         {"destroyArea(4)", "false"},
         {"destroyArea(65536 + 1)", "true"},
         {"destroyArea(2)", "true"},
         {"createArea(0, 0, 0, 1, 1, 1)", "1"}});
  EXPECT_EQ(gAreaPool->areas[2].inUse, 0);
  EXPECT_EQ(gAreaPool->areas[4].inUse, 0);

  const SpawnClassRecord* c = gSpawnClassPool->classes;
  const auto add = [](const std::string& name, const std::string& x, int interior) {
    return "addSpawnClass(" + name + ", 10, 20, 30, " + x + ", 2, 3, 45, 4, 5, 6, " +
           std::to_string(interior) + ")";
  };
  // Interiors above 18 and 13 become 0; an empty name becomes " "; refused on
  // the coordinates the script still hears the id, which stays free; no name
  // is refused; a long one is cut to the field; colours are bytes.
  Check({{add("'Cops'", "1", 13), "0"},
         {add("''", "1", 18), "1"},
         {add("'Gang'", "1", 19), "2"},
         {add("'Far'", "20000", 0), "3"},
         {"addSpawnClass('Deep', 0, 0, 0, 0, 0, 0, 0, 0, 0, 10000.5, 0)", "3"}});
  EXPECT_EQ(c[0].interior, 0);
  EXPECT_EQ(c[1].interior, 18);
  EXPECT_EQ(c[2].interior, 0);
  EXPECT_EQ(c[3].used, 0);
  EXPECT_STREQ(c[0].name, "Cops");
  EXPECT_STREQ(c[1].name, " ");
  EXPECT_EQ(c[0].colour[2], 30);
  EXPECT_EQ(Field(c[0].angle), 45);
  EXPECT_EQ(Field(c[0].secondZ), 6);
  // clang-format off
  Check({{"addSpawnClass('Edge', 0, 0, 0, 0, 0, 0, 0, 0, 0, -10000, 0)", "3"},
         {add("nil", "1", 0), ""},
         {add("string.rep('n', 150)", "1", 0), "4"},
         {"addSpawnClass(12, 256, 257, -1, 0, 0, 0, 0, 0, 0, 0, 0)", "5"},
         {"do for i = 1, 4 do addSpawnClass('More', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0) end end", ""},
         {add("'Eleventh'", "1", 0), ""}});
  // clang-format on
  EXPECT_EQ(c[3].used, 1);
  EXPECT_EQ(c[9].used, 1);
  EXPECT_STREQ(c[5].name, "12");
  EXPECT_EQ(c[5].colour[1], 1);
  EXPECT_EQ(c[5].colour[2], 255);
  EXPECT_EQ(std::string(c[4].name), std::string(99, 'n'));
}

TEST_F(ServerNatives, SpawnClassMembersAndWeaponShops) {
  // Members follow the weapon rule and may join a free class; refused on the
  // coordinates, the slot found is reported and stays free.
  const ClassMemberRecord* m = gSpawnClassPool->classes[3].members;
  Check({{"addClassMember(3, 70000, 1, 2, 3, 90, 36, -1, 37, 5, 16, 4000000000)", "0"},
         {"addClassMember(3, 1, 0, 0, 0, 0, 13, 1, 35, 1, 290, 1)", "1"},  // 290: 34
         {"addClassMember(3, 1, 0, 0, 0, 10000.5, 1, 1, 1, 1, 1, 1)", "2"}});
  EXPECT_EQ(gSpawnClassPool->classes[3].used, 0);  // the class itself need not exist
  EXPECT_EQ(Hex(m[0]),
            Hex(ClassMemberRecord{
                1, 3, 1, 2, 3, 90, 70000 & 0xFFFF, {36, 0, 0}, {4294967295u, 5, 4000000000u}}));
  EXPECT_EQ(m[1].weapon[0], 0);
  EXPECT_EQ(m[1].weapon[1], 0);
  EXPECT_EQ(m[1].weapon[2], 34);
  EXPECT_EQ(m[2].used, 0);
  // clang-format off
  Check({{"addClassMember(3, 1, -10000, 0, 0, 0, 1, 1, 1, 1, 1, 1)", "2"},
         {"addClassMember(10, 1, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1)", ""},
         {"addClassMember(-1, 1, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1)", ""},
         {"addClassMember(259, 1, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1)", "3"},  // class 3
         {"do for i = 1, 176 do addClassMember(3, 1, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1) end end", ""},
         {"addClassMember(3, 1, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1)", ""},
         {"addClassMember(4, 1, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1)", "0"}});
  // clang-format on
  // Classes reach players only in the download: nothing was sent.
  EXPECT_EQ(m[2].used, 1);
  EXPECT_EQ(m[179].used, 1);

  // Weapon shop data is stored capped and sent as given; a default entry; shop
  // and slot are bytes; out of range reads as zeros.
  // clang-format off
  Check({{"setAmmunationWeaponData(1, 1, 24, 50000, 3000)", "",
          {AB("SetAmmunationWeaponData").c8(1).c8(1).c8(24).c32(50000).c32(3000)}},
         {"getAmmunationWeaponData(1, 1)", "24,10000,3000"},
         {"setAmmunationWeaponData(2, 3, 34, -1, 4000000000)", "",
          {AB("SetAmmunationWeaponData").c8(2).c8(3).c8(34).c32(4294967295u).c32(4000000000u)}},
         {"getAmmunationWeaponData(2, 3)", "34,10000,4000000000"},
         {"getAmmunationWeaponData(4, 4)", "18,360,5680"},
         {"getAmmunationWeaponData(260, 260)", "18,360,5680"},
         {"getAmmunationWeaponData(0, 1)", "0,0,0"},
         {"getAmmunationWeaponData(4, 6)", "0,0,0"},
         {"toggleAmmunations(5)", "", {AB("ToggleAmmunations").c8(1)}}});
  // clang-format on
  EXPECT_EQ(gWeaponShopsFlag, 1);
  Check({{"toggleAmmunations(256)", "", {AB("ToggleAmmunations").c8(0)}}});
  EXPECT_EQ(gWeaponShopsFlag, 0);
  Refused({"1, 1, 30, 100, 100", "1, 1, 35, 1, 1", "1, 1, 291, 1, 1", "0, 1, 22, 1, 1",
           "5, 1, 22, 1, 1", "1, 0, 22, 1, 1", "1, 6, 22, 1, 1"},
          {"setAmmunationWeaponData(#)"});
  Check({{"getAmmunationWeaponData(1, 1)", "24,10000,3000"}});
}

TEST(ServerNativesOverENet, ThePasswordGuardsTheRunningPeer) {
  InProcessServer server;
  ASSERT_TRUE(server.Start());
  ASSERT_EQ(RunLua("setServerPassword('open sesame@1')"), "");
  support::TestClient typed;
  support::TestClient sanitised;
  support::TestClient open;
  EXPECT_FALSE(typed.Connect(server.Port(), "open sesame@1"));
  EXPECT_EQ(typed.LastRefusal(), net::ID_INVALID_PASSWORD);
  EXPECT_TRUE(sanitised.Connect(server.Port(), "open_sesame_1"));
  ASSERT_EQ(RunLua("setServerPassword(nil)"), "");
  EXPECT_TRUE(open.Connect(server.Port()));
}

TEST(ServerNativesDeathTest, ExitServerEndsTheProcessWithStatusZero) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        InProcessServer server;  // its network thread is running
        server.Start();
        std::filesystem::remove_all(server.Dir());  // the child never reaches the clean-up
        RunLua("exitServer()");
        std::_Exit(3);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
