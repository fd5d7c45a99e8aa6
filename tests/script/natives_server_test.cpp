// The server, admin, area and spawn class natives: the settings they write
// (and the query reply and the game peer's password that follow them), the
// payloads, the departures and bans, the utilities.
#include <chrono>
#include <filesystem>
#include <string>

#include "core/areapool.h"
#include "core/events.h"
#include "core/log.h"
#include "core/names.h"
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

std::string Rep(char c, size_t n) { return "string.rep('" + std::string(1, c) + "', " + std::to_string(n) + ")"; }
std::string Reply() { return GetGamePeer()->GetOfflinePingResponse(); }

class ServerNatives : public Natives {
 protected:
  ~ServerNatives() override { gServerWeather = gStaticInitialWantedLevel = gWeaponShopsFlag = 0; }  // kept across restarts
  std::string Log(const char* name = kLogFileName) { return seam.Server().ReadFile(name); }
};

TEST_F(ServerNatives, SettingsPayloadsAndUtilities) {
  const std::string n50(50, 'n'), p30(30, 'p'), dflt = "QLM (Release RC1) Server P1,QLM Default Mode,";
  const std::string ip = dflt + "4464,0,192.168.100.200,";
  const std::pair<std::string, std::string> rows[] = {
      {"setServerName(" + Rep('n', 50) + ")", n50 + ",QLM Default Mode,0,0,,-,0"},
      {"setServerName(" + Rep('n', 51) + ")", dflt + "0,0,,-,0"},
      {"setServerName('My, Server'); setModeName('Race@Mode')", "My, Server,Race@Mode,0,0,,-,0"},  // not sanitised
      {"setServerName(nil); setModeName({})", "My, Server,Race@Mode,0,0,,-,0"},  // no text: no change
      {"setServerName(''); setModeName(" + Rep('m', 51) + ")", dflt + "0,0,,-,0"},
      {"setServerPort(70000); announce(0)", dflt + "4464,1,,-,0"}, {"announce(nil)", dflt + "4464,0,,-,0"},
      {"announce('yes')", dflt + "4464,1,,-,0"}, {"announce(false)", dflt + "4464,0,,-,0"},
      {"bindToIP('192.168.100.200'); bindToIP('192.168.100.2001'); bindToIP(''); bindToIP(nil)", dflt + "4464,0,192.168.100.200,-,0"},
      {"toggleStaticInitialWantedLevel(5)", ip + "-,1"}, {"toggleStaticInitialWantedLevel(0)", ip + "-,0"},
      {"toggleStaticInitialWantedLevel(256)", ip + "-,0"}, {"toggleStaticInitialWantedLevel(-1)", ip + "-,1"},
      // The password is sanitised; 30 characters are kept; 31, '' and nil clear it.
      {"setServerPassword('open sesame@1')", ip + "open_sesame_1,1"},
      {"setServerPassword(" + Rep('p', 30) + ")", ip + p30 + ",1"},
      {"setServerPassword(" + Rep('p', 31) + ")", ip + "-,1"},
      {"setServerPassword('x'); setServerPassword('')", ip + "-,1"},
      {"setServerPassword('x'); setServerPassword(nil)", ip + "-,1"}};
  for (const auto& [chunk, settings] : rows) {
    EXPECT_EQ(seam.Lua(chunk), "") << chunk;
    const ServerSettings& s = gServerSettings;
    EXPECT_EQ(Values(s.serverName, s.modeName, s.port, s.announce, s.bindAddress, s.password.value_or("-"), gStaticInitialWantedLevel),
              settings) << chunk;
    EXPECT_TRUE(chunk.find("Race@Mode") == std::string::npos || Reply() == std::string("0,My, Server,2,50,Race@Mode,@Alpha#0@Bravo#1") + '\0');
    EXPECT_TRUE(chunk.find("sesame") == std::string::npos || Reply().substr(0, 2) == "1,");
  }
  EXPECT_EQ(Reply().substr(0, 2) + seam.Eval("getMaxPlayers(1, 'x', nil)") + seam.Take(), "0,50");

  const std::string a255(255, 'a'), t128(128, 't');
  // A text ends at its first NUL; 300 characters are cut to the 255 the
  // length byte can say; b goes first; a and b pass through 64 bits: -1 is all ones, 2^32 + 7 is 7.
  Check({{"outputChatBox('hi\\0x', 1, 2, 3, 300)", "", {AB("OutputChatBox").u8(2).chars("hi", 2).u8(1).u8(2).u8(3).u8(44)}},
         {"outputChatBox(1, string.rep('a', 255) .. " + Rep('b', 45) + ", 9, 8, 7, -1)", "",
          {B("OutputChatBox").u8(255).chars(a255.data(), 255).u8(9).u8(8).u8(7).u8(255)}},
         {"gameTextForAll('Hello', 5, 70000)", "", {AB("GameTextForPlayer").c32(70000).c32(5).c8(5).chars("Hello", 5)}},
         {"gameTextForPlayer(0, " + Rep('t', 128) + ", -1, 4294967296 + 7)", "",
          {A("GameTextForPlayer").c32(7).c32(0xFFFFFFFF).c8(128).chars(t128.data(), 128)}},
         {"do clearGameTextForPlayer(1) clearGameTextForAll() setServerWeather(9) end", "",
          {B("ClearGameText"), AB("ClearGameText"), AB("SetServerWeather").u8(0)}}});
  EXPECT_EQ(gServerWeather, 0);
  Check({{"setServerWeather(256 + 3)", "", {AB("SetServerWeather").u8(3)}},
         {"setMaxPlayers(65536 + 4464), getMaxPlayers()", "nil,4464", {AB("Server_SetMaxPlayers").c16(4464)}}});
  EXPECT_EQ(gServerWeather, 3);
  EXPECT_EQ(Reply(), std::string("0,QLM (Release RC1) Server P1,2,4464,QLM Default Mode,@Alpha#0@Bravo#1") + '\0');
  // Free or cut ids, a missing or too long text.
  Refused({""}, {"outputChatBox(99, 'x', 1, 2, 3, 4)",
                 "outputChatBox(nil, 1, 2, 3, 4)", "outputChatBox(256, {}, 1, 2, 3, 4)", "gameTextForAll(" + Rep('t', 129) + ", 1, 1)",
                 "gameTextForAll(nil, 1, 1)", "gameTextForPlayer(1, " + Rep('t', 129) + ", 1, 1)", "gameTextForPlayer(98, 'x', 1, 1)",
                 "clearGameTextForPlayer(98)"});
  // The utilities. The remainder of random takes the sign of the draw: a negative range gives 0..2.
  Check({{"strval('  -12abc'), strval('+7'), strval(42.9), strval('99999999999'), strval('-99999999999')", "-12,7,42,2147483647,-2147483648"},
         {"strval({}), strval(), random(7, 0), random(2147483647, 1), random(1)", "0,1,7,2147483647,0"},
         {"(function() for i = 1, 50 do if random(0, 1e6) > 32767 then return 1 end end end)()", ""},
         {"(function() for i = 1, 60 do if random(0, 2) == 1 then return 1 end end end)()", "1"},
         {"(function() for i = 1, 500 do local r, s = random(10, 5) - 10, random(0, -3)\n"
          "if r < 0 or r > 4 or r % 1 ~= 0 or s < 0 or s > 4 or s % 1 ~= 0 then return r, s end end end)()", ""},
         {"getWeaponName(52), getWeaponName(256 + 51) == '" + std::string(LookupWeaponName(51)) + "', getWeaponName()", "'',true,255"},
         {"hostToIP('localhost'), n(hostToIP('no-such-host.invalid')), n(hostToIP(nil))", "'127.0.0.1',0,0"},
         {"do outputConsole('hello %s %n', 'ignored') outputConsole(12) outputConsole(nil) end", ""}});
  const std::string log = Log();  // two lines, the format taken as text; nil writes none
  const size_t twelve = log.find("[CONSOLE] 12\r\n");
  EXPECT_TRUE(log.find("[CONSOLE]") == log.find("[CONSOLE] hello %s %n\r\n") && twelve != std::string::npos &&
              log.rfind("[CONSOLE]") == twelve && log.find("[CONSOLE]") < twelve);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(seam.Lua("delay(30)"), "");
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
  EXPECT_EQ(seam.Lua("delay(-1); delay(0/0); delay(0)"), "");  // a negative count returns at once
}

TEST_F(ServerNatives, KickAndBanRunTheDepartureAndIgnoreWhoIsNotThere) {
  ASSERT_EQ(seam.Join("Carol"), 2);
  Check({{"do kickPlayer(100) kickPlayer(42) end", ""},
         {"kickPlayer(0)", "", {A("KickPlayer"), "close>0", support::Line("PlayerDisconnect", {1, 2}, Want().c8(0).c8(3))}}});
  EXPECT_EQ(seam.events.Take() + std::to_string(GetPlayerPool()->IsInUse(0)), "disconnect 0 30");
  EXPECT_NE(Log().find("[LEAVE] Alpha has left the server. [Kicked]"), std::string::npos);
  Check({{"banPlayer(1)", "", {B("BanPlayer"), "close>1", support::Line("PlayerDisconnect", {2}, Want().c8(1).c8(2))}}});
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
  Check({{"kickPlayer(0)", "", {A("KickPlayer"), "close>0", support::Line("PlayerDisconnect", {1}, Want().c8(0).c8(3))}}});
  EXPECT_EQ(seam.events.Take(), "disconnect 0 3");
  seam.Drop(1);
  EXPECT_EQ(seam.events.Take() + std::to_string(kicksTried), "disconnect 1 12");
  seam.events.onRaise = nullptr;

  // Address texts of 7 to 15 characters are taken as they are.
  EXPECT_EQ(seam.Lua("addBanIP('1.2.3') addBanIP('1234567890123456')"), "");
  EXPECT_EQ(Log("server_bans.xml").find("BanInformation"), std::string::npos);
  EXPECT_EQ(seam.Lua("addBanIP('10.0.0.*') addBanIP('9.9.9.9')"), "");
  EXPECT_TRUE(GetGamePeer()->IsBanned("10.0.0.7") && Log("server_bans.xml").find("9.9.9.9") != std::string::npos);
  EXPECT_EQ(seam.Lua("removeBanIP('9.9.9.9') removeBanIP('8.8.8.8')"), "");
  EXPECT_TRUE(Log("server_bans.xml").find("9.9.9.9") == std::string::npos && !GetGamePeer()->IsBanned("9.9.9.9"));
  // reloadBans takes any arguments: the file is the truth again.
  GetGamePeer()->AddToBanList("7.7.7.7");
  EXPECT_EQ(seam.Lua("reloadBans('ignored', 3)"), "");
  EXPECT_TRUE(!GetGamePeer()->IsBanned("7.7.7.7") && GetGamePeer()->IsBanned("10.0.0.7"));
  // A restart waits until the script's call has returned.
  EXPECT_EQ(seam.Eval("restartGameMode(1)"), "");
  seam.Pump();
  EXPECT_EQ(seam.Lua("restartGameMode() return 5"), "5");
  EXPECT_EQ(gNetGame->restartPending, 0);
  seam.Pump();
  EXPECT_EQ(gNetGame->restartPending, 1);
}

TEST_F(ServerNatives, AreasAndSpawnClasses) {
  PlayerRecord* r = GetPlayerPool()->records;
  r[0].x = r[0].y = r[0].z = 5, r[1].x = r[1].y = r[1].z = 50;
  Check({{"createArea(0, 0, 0, 10, 10, 10), createArea(40, 40, 40, 60, 60, 60)", "1,2"},
         {"createArea(10, 0, 0, 0, 10, 10)", "3"},  // min x above max x
         {"getPlayerArea(0)", "0"}});               // not before the sweep has seen him
  for (int i = 0; i < 2; ++i) {  // past the sweep's gate, twice: the inverted box never takes him in
    seam.clock.Advance(kAreaSweepIntervalMs + 1);
    gAreaPool->Process();
  }
  seam.events.Take();
  Check({{"getPlayerArea(0), getPlayerArea(256), getPlayerArea(1)", "1,1,2"}, {"destroyArea(1)", "true"}});
  EXPECT_EQ(seam.events.Take(), "leavearea 0 1");
  // The guard: a free slot and an id beyond the pool give nothing.
  Check({{"getPlayerArea(0), getPlayerArea(1), n(getPlayerArea(9)), n(getPlayerArea(100))", "0,2,0,0"},
         {"createArea(-1.5, -2.5, -3.5, '4', 5, 6)", "1"}});
  const AreaRecord& a = gAreaPool->areas[1];
  EXPECT_EQ(Values(a.minX, a.minY, a.minZ, a.maxX, a.maxY, a.maxZ), "-1.5,-2.5,-3.5,4,5,6");
  Check({{"destroyArea(0), destroyArea(2000), destroyArea(4)", "false,false,false"},
         {"destroyArea(65536 + 1), destroyArea(2), createArea(0, 0, 0, 1, 1, 1)", "true,true,1"}});
  EXPECT_EQ(Values(gAreaPool->areas[2].inUse, gAreaPool->areas[4].inUse), "0,0");

  const SpawnClassRecord* c = gSpawnClassPool->classes;
  const auto add = [](const std::string& name, const std::string& x, int interior) {
    return "addSpawnClass(" + name + ", 10, 20, 30, " + x + ", 2, 3, 45, 4, 5, 6, " + std::to_string(interior) + ")";
  };
  // Interiors above 18 and 13 become 0; an empty name becomes " "; refused on
  // the coordinates the script still hears the id, which stays free; no name
  // is refused; a long one is cut to the field; colours are bytes.
  Check({{add("'Cops'", "1", 13), "0"}, {add("''", "1", 18), "1"}, {add("'Gang'", "1", 19), "2"}, {add("'Far'", "20000", 0), "3"},
         {"addSpawnClass('Deep', 0, 0, 0, 0, 0, 0, 0, 0, 0, 10000.5, 0)", "3"}});
  EXPECT_EQ(Values(c[0].interior, c[1].interior, c[2].interior, c[3].used, c[0].name, c[1].name), "0,18,0,0,Cops, ");
  EXPECT_EQ(Values(c[0].colour[2], c[0].angle, c[0].secondZ), "30,45,6");
  Check({{"addSpawnClass('Edge', 0, 0, 0, 0, 0, 0, 0, 0, 0, -10000, 0)", "3"}, {add("nil", "1", 0), ""},
         {add("string.rep('n', 150)", "1", 0), "4"}, {"addSpawnClass(12, 256, 257, -1, 0, 0, 0, 0, 0, 0, 0, 0)", "5"},
         {"do for i = 1, 4 do addSpawnClass('More', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0) end end", ""}, {add("'Eleventh'", "1", 0), ""}});
  EXPECT_EQ(Values(c[3].used, c[9].used, c[5].name, c[5].colour[1], c[5].colour[2]), "1,1,12,1,255");
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
  EXPECT_TRUE(Same(m[0], {1, 3, 1, 2, 3, 90, 70000 & 0xFFFF, {36, 0, 0}, {4294967295u, 5, 4000000000u}}));
  EXPECT_EQ(Values(m[1].weapon[0], m[1].weapon[1], m[1].weapon[2], m[2].used), "0,0,34,0");
  Check({{"addClassMember(3, 1, -10000, 0, 0, 0, 1, 1, 1, 1, 1, 1)", "2"},
         {"n(addClassMember(10, 1, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1)), n(addClassMember(-1, 1, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1))", "0,0"},
         {"addClassMember(259, 1, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1)", "3"},  // class 3
         {"do for i = 1, 176 do addClassMember(3, 1, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1) end end", ""},
         {"n(addClassMember(3, 1, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1)), addClassMember(4, 1, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1)", "0,0"}});
  EXPECT_EQ(Values(m[2].used, m[179].used), "1,1");  // classes reach players only in the download: nothing was sent

  // Weapon shop data is stored capped and sent as given; a default entry; shop
  // and slot are bytes; out of range reads as zeros.
  Check({{"setAmmunationWeaponData(1, 1, 24, 50000, 3000), getAmmunationWeaponData(1, 1)", "nil,24,10000,3000",
          {AB("SetAmmunationWeaponData").c8(1).c8(1).c8(24).c32(50000).c32(3000)}},
         {"setAmmunationWeaponData(2, 3, 34, -1, 4000000000), getAmmunationWeaponData(2, 3)", "nil,34,10000,4000000000",
          {AB("SetAmmunationWeaponData").c8(2).c8(3).c8(34).c32(4294967295u).c32(4000000000u)}},
         {"getAmmunationWeaponData(4, 4)", "18,360,5680"}, {"getAmmunationWeaponData(260, 260)", "18,360,5680"},
         {"getAmmunationWeaponData(0, 1)", "0,0,0"}, {"getAmmunationWeaponData(4, 6)", "0,0,0"},
         {"toggleAmmunations(5)", "", {AB("ToggleAmmunations").c8(1)}}});
  EXPECT_EQ(gWeaponShopsFlag, 1);
  Check({{"toggleAmmunations(256)", "", {AB("ToggleAmmunations").c8(0)}}});
  EXPECT_EQ(gWeaponShopsFlag, 0);
  Refused({"1, 1, 30, 100, 100", "1, 1, 35, 1, 1", "1, 1, 291, 1, 1", "0, 1, 22, 1, 1", "5, 1, 22, 1, 1", "1, 0, 22, 1, 1", "1, 6, 22, 1, 1"},
          {"setAmmunationWeaponData(#)"});
  Check({{"getAmmunationWeaponData(1, 1)", "24,10000,3000"}});
}

TEST(ServerNativesOverENet, ThePasswordGuardsTheRunningPeer) {
  InProcessServer server;
  ASSERT_TRUE(server.Start());
  ASSERT_EQ(RunLua("setServerPassword('open sesame@1')"), "");
  support::TestClient typed, sanitised, open;
  EXPECT_FALSE(typed.Connect(server.Port(), "open sesame@1"));
  EXPECT_EQ(typed.LastRefusal(), net::ID_INVALID_PASSWORD);
  EXPECT_TRUE(sanitised.Connect(server.Port(), "open_sesame_1"));
  ASSERT_EQ(RunLua("setServerPassword(nil)"), "");
  EXPECT_TRUE(open.Connect(server.Port()));
}

TEST(ServerNativesDeathTest, ExitServerEndsTheProcessWithStatusZero) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT({
    InProcessServer server;  // its network thread is running
    server.Start();
    std::filesystem::remove_all(server.Dir());  // the child never reaches the clean-up
    RunLua("exitServer()");
    std::_Exit(3);
  }, ::testing::ExitedWithCode(0), "");
}

}  // namespace
