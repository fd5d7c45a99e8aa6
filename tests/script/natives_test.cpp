// The natives' calling rules through a real Lua state: every native in
// registration order with the argument counts it takes and its answer to any
// other count; the number, text and flag readers; the guards; the exception
// boundary.
#include "script/natives.h"

#include <gtest/gtest.h>

#include <climits>
#include <iterator>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "core/log.h"
#include "core/netgame.h"
#include "core/playerpool.h"
#include "core/vehiclepool.h"
#include "core/world.h"
#include "script/commands.h"
#include "script/native_test_support.h"
#include "script/script_host.h"

using scripttest::Eval;
using scripttest::RunLua;
using scripttest::ScriptHost;

namespace {

using namespace nativetest;
using NativeCounts = Natives;

// No upper limit on the argument count.
constexpr int kAny = INT_MAX;

// The argument counts a native takes, and what any other count gives, as the
// seam shows results ("" for none).
struct CountRule {
  const char* name;
  int fewest;
  int most;
  const char* onWrongCount;
};

// Every native the game mode sees, in registration order.
// clang-format off
const CountRule kRules[] = {
    {"outputConsole",                  1,  kAny, ""},
    {"addCommand",                     2,  3,    ""},
    {"outputChatBox",                  5,  6,    ""},
    {"toggleDriveOnWater",             2,  kAny, ""},
    {"toggleFlyingCar",                2,  2,    ""},
    {"togglePlayerClock",              2,  2,    ""},
    {"setPlayerGravity",               2,  kAny, ""},
    {"getPlayerPos",                   1,  1,    ""},
    {"setPlayerPos",                   4,  4,    ""},
    {"setPlayerTeam",                  2,  2,    ""},
    {"getPlayerTeam",                  1,  1,    ""},
    {"setPlayerScore",                 2,  2,    ""},
    {"getPlayerScore",                 1,  1,    ""},
    {"setPlayerInterior",              2,  2,    ""},
    {"getPlayerInterior",              1,  1,    ""},
    {"setPlayerAngle",                 2,  2,    ""},
    {"getPlayerAngle",                 1,  1,    ""},
    {"setPlayerHealth",                2,  2,    ""},
    {"getPlayerHealth",                1,  1,    ""},
    {"setPlayerArmour",                2,  2,    ""},
    {"getPlayerArmour",                1,  1,    ""},
    {"setPlayerCash",                  2,  2,    ""},
    {"getPlayerCash",                  1,  1,    ""},
    {"givePlayerCash",                 2,  2,    ""},
    {"setPlayerWantedLevel",           2,  2,    ""},
    {"setPlayerFixedWantedLevel",      2,  2,    ""},
    {"setPlayerStaticWantedLevel",     2,  2,    ""},
    {"getPlayerWantedLevel",           1,  1,    ""},
    {"createLocalObject",              9,  9,    ""},
    {"destroyLocalObject",             2,  2,    ""},
    {"setLocalObjectRotation",         5,  5,    ""},
    {"setLocalObjectInterior",         3,  3,    ""},
    {"setLocalObjectPos",              5,  5,    ""},
    {"getLocalObjectRotation",         2,  2,    ""},
    {"getLocalObjectInterior",         2,  2,    ""},
    {"getLocalObjectPos",              2,  2,    ""},
    {"getLocalObjectModel",            2,  2,    ""},
    {"getGlobalObjectModel",           1,  1,    ""},
    {"createGlobalObject",             8,  8,    ""},
    {"moveGlobalObject",               5,  5,    ""},
    {"moveGlobalObjectAngles",         5,  5,    ""},
    {"stopGlobalObject",               1,  1,    ""},
    {"destroyGlobalObject",            1,  1,    ""},
    {"setGlobalObjectRotation",        4,  4,    ""},
    {"setGlobalObjectInterior",        2,  2,    ""},
    {"setGlobalObjectPos",             4,  4,    ""},
    {"getGlobalObjectRotation",        1,  1,    ""},
    {"getGlobalObjectInterior",        1,  1,    ""},
    {"getGlobalObjectPos",             1,  1,    ""},
    {"createVehicle",                  7,  7,    ""},
    {"destroyVehicle",                 1,  1,    ""},
    {"getVehiclePos",                  1,  1,    ""},
    {"setVehiclePos",                  4,  4,    ""},
    {"getVehicleAngle",                1,  1,    ""},
    {"setVehicleAngle",                2,  2,    ""},
    {"getVehicleColor",                1,  1,    ""},
    {"setVehicleColor",                3,  3,    ""},
    {"getVehicleHealth",               1,  1,    ""},
    {"setVehicleHealth",               2,  2,    ""},
    {"setVehicleSpeed",                2,  2,    ""},
    {"getVehicleSpeed",                1,  1,    ""},
    {"repairVehicle",                  1,  1,    ""},
    {"explodeVehicle",                 1,  1,    ""},
    {"putPlayerInVehicle",             3,  3,    ""},
    {"getPlayerVehicleID",             1,  1,    ""},
    {"isPlayerInVehicle",              2,  2,    ""},
    {"isPlayerInAnyVehicle",           1,  1,    ""},
    {"getVehicleModel",                1,  1,    ""},
    {"togglePlayerDrunk",              2,  2,    ""},
    {"removePlayerFromVehicle",        1,  1,    ""},
    {"setVehicleToRespawn",            1,  1,    ""},
    {"setVehicleLockedState",          2,  2,    ""},
    {"getVehicleLockedState",          1,  1,    ""},
    {"setVehicleSpawnInfo",            5,  5,    ""},
    {"addSpawnClass",                  12, 12,   ""},
    {"addClassMember",                 12, 12,   ""},
    {"createPlayerExplosion",          5,  5,    ""},
    {"createExplosion",                4,  4,    ""},
    {"isPlayerSpawned",                1,  1,    ""},
    {"isPlayerConnected",              1,  1,    ""},
    {"forceToClassSelection",          1,  1,    ""},
    {"getPlayerIP",                    1,  1,    ""},
    {"getPlayerPing",                  1,  1,    ""},
    {"getPlayerName",                  1,  1,    ""},
    {"togglePlayerControllable",       2,  2,    ""},
    {"setPlayerName",                  2,  2,    ""},
    {"givePlayerWeapon",               3,  3,    ""},
    {"clearPlayerWeapons",             1,  1,    ""},
    {"setServerWeather",               1,  1,    ""},
    {"setServerTime",                  2,  2,    ""},
    {"getServerTime",                  0,  0,    ""},
    {"kickPlayer",                     1,  1,    ""},
    {"banPlayer",                      1,  1,    ""},
    {"setPlayerSkin",                  2,  2,    ""},
    {"setPlayerAnimation",             2,  2,    ""},
    {"createStaticActor",              6,  6,    "-1"},
    {"destroyStaticActor",             1,  1,    ""},
    {"setStaticActorPos",              4,  4,    ""},
    {"getStaticActorPos",              1,  1,    "0,0,0"},
    {"setStaticActorAngle",            2,  2,    ""},
    {"getStaticActorAngle",            1,  1,    "0"},
    {"setStaticActorSkin",             2,  2,    ""},
    {"getStaticActorSkin",             1,  1,    "0"},
    {"setStaticActorAnimation",        2,  2,    ""},
    {"getStaticActorAnimation",        1,  1,    "0"},
    {"createTimer",                    3,  3,    ""},
    {"destroyTimer",                   1,  1,    ""},
    {"addBanIP",                       1,  1,    ""},
    {"removeBanIP",                    1,  1,    ""},
    {"reloadBans",                     0,  kAny, ""},
    {"hostToIP",                       1,  1,    ""},
    {"setVehicleTireState",            3,  3,    ""},
    {"getVehicleTireState",            2,  2,    ""},
    {"toggleVehicleLights",            2,  2,    ""},
    {"getPlayerSkin",                  1,  1,    ""},
    {"setAmmunationWeaponData",        5,  5,    ""},
    {"getAmmunationWeaponData",        2,  2,    ""},
    {"toggleAmmunations",              1,  1,    ""},
    {"createGlobalGenericPickup",      5,  5,    ""},
    {"createGlobalWeaponPickup",       5,  5,    ""},
    {"createGlobalCashPickup",         4,  4,    ""},
    {"destroyGlobalPickup",            1,  1,    ""},
    {"getGlobalPickupType",            1,  1,    ""},
    {"getLocalPickupType",             2,  2,    ""},
    {"createGlobalCheckpoint",         4,  4,    ""},
    {"setGlobalCheckpointPos",         4,  4,    ""},
    {"setGlobalCheckpointRadius",      2,  2,    ""},
    {"destroyGlobalCheckpoint",        1,  1,    ""},
    {"createGlobalCorona",             6,  6,    ""},
    {"setGlobalCoronaPos",             4,  4,    ""},
    {"setGlobalCoronaRGB",             4,  4,    ""},
    {"destroyGlobalCorona",            1,  1,    ""},
    {"getGlobalMarkerType",            1,  1,    ""},
    {"createLocalCheckpoint",          5,  5,    ""},
    {"setLocalCheckpointPos",          5,  5,    ""},
    {"setLocalCheckpointRadius",       3,  3,    ""},
    {"destroyLocalCheckpoint",         2,  2,    ""},
    {"createLocalCorona",              7,  7,    ""},
    {"setLocalCoronaPos",              5,  5,    ""},
    {"setLocalCoronaRGB",              5,  5,    ""},
    {"destroyLocalCorona",             2,  2,    ""},
    {"loadExtension",                  1,  1,    ""},
    {"exitServer",                     0,  0,    ""},
    {"restartGameMode",                0,  0,    ""},
    {"setPlayerColor",                 4,  4,    ""},
    {"delay",                          1,  1,    ""},
    {"strval",                         1,  1,    "1"},
    {"createArea",                     6,  6,    "-1"},
    {"destroyArea",                    1,  1,    "false"},
    {"getPlayerArea",                  1,  1,    ""},
    {"gameTextForPlayer",              4,  4,    ""},
    {"gameTextForAll",                 3,  3,    ""},
    {"clearGameTextForPlayer",         1,  1,    ""},
    {"clearGameTextForAll",            0,  0,    ""},
    {"setPlayerBoundaries",            5,  5,    ""},
    {"getPlayerCellPhoneStatus",       1,  1,    ""},
    {"setPlayerCellPhoneStatus",       2,  2,    ""},
    {"playSoundForPlayer",             5,  5,    ""},
    {"playWaveForPlayer",              2,  2,    ""},
    {"playWaveForAll",                 1,  1,    ""},
    {"playWaveForPlayerAtPos",         5,  5,    ""},
    {"playWaveForAllAtPos",            4,  4,    ""},
    {"getWeaponName",                  1,  1,    "255"},
    {"getPlayerWeaponID",              1,  1,    ""},
    {"getPlayerClassInfo",             1,  1,    "0,0"},
    {"setStaticActorName",             2,  2,    ""},
    {"getStaticActorName",             1,  1,    "nil"},
    {"toggleStaticActorBlip",          2,  2,    ""},
    {"createLocalGenericPickup",       6,  6,    "-1"},
    {"createLocalCashPickup",          5,  5,    ""},
    {"createLocalWeaponPickup",        6,  6,    ""},
    {"destroyLocalPickup",             2,  2,    ""},
    {"getPlayerSeatID",                1,  1,    "0"},
    {"createGlobalIcon",               6,  6,    "-1"},
    {"destroyGlobalIcon",              1,  1,    ""},
    {"setGlobalIconColor",             5,  5,    ""},
    {"setGlobalIconSize",              2,  2,    ""},
    {"setGlobalIconPosition",          4,  4,    ""},
    {"toggleGlobalIconFlashing",       2,  2,    ""},
    {"createLocalIcon",                7,  7,    "-1"},
    {"destroyLocalIcon",               2,  2,    ""},
    {"setLocalIconColor",              6,  6,    ""},
    {"setLocalIconSize",               3,  3,    ""},
    {"setLocalIconPosition",           5,  5,    ""},
    {"toggleLocalIconFlashing",        3,  3,    ""},
    {"togglePlayerScanlines",          2,  2,    ""},
    {"togglePlayerCameraInterface",    2,  2,    ""},
    {"togglePlayerBlackLines",         2,  2,    ""},
    {"shakePlayerCamera",              2,  2,    ""},
    {"setCameraBehindPlayer",          1,  1,    ""},
    {"restorePlayerCamera",            1,  1,    ""},
    {"fadePlayerCamera",               6,  6,    ""},
    {"setPlayerCameraPos",             4,  4,    ""},
    {"setPlayerCameraLookAt",          5,  5,    ""},
    {"getMaxPlayers",                  0,  kAny, ""},
    {"random",                         2,  2,    "0"},
    {"togglePlayerMuted",              2,  2,    ""},
    {"isPlayerMuted",                  1,  1,    ""},
    {"setVehicleRespawnDelay",         1,  1,    ""},
    {"setServerPort",                  1,  1,    ""},
    {"setMaxPlayers",                  1,  1,    ""},
    {"setServerName",                  1,  1,    ""},
    {"setModeName",                    1,  1,    ""},
    {"announce",                       1,  1,    ""},
    {"setServerPassword",              1,  1,    ""},
    {"bindToIP",                       1,  1,    ""},
    {"toggleStaticInitialWantedLevel", 1,  1,    ""},
    {"getVehicleNameFromModelID",      1,  1,    "nil"},
    {"getVehicleModelIDFromName",      1,  1,    "-1"},
};
// clang-format on

// A call of `name` with `count` nil arguments: "f(nil, nil)".
std::string CallWithNils(const std::string& name, int count) {
  std::string call = name + "(";
  for (int i = 0; i < count; ++i) {
    if (i > 0) call += ", ";
    call += "nil";
  }
  return call + ")";
}

TEST(NativeTable, EveryNativeIsRegisteredInOrderUnderItsName) {
  ScriptHost host("");
  lua_State* L = GetScriptEngine()->State();
  ASSERT_EQ(std::size(kRules), 209u);
  ASSERT_EQ(kNativeCount, 209);
  for (int i = 0; i < kNativeCount; ++i) {
    const NativeDescriptor& native = kNatives[i];
    EXPECT_STREQ(native.name, kRules[i].name) << "row " << i;
    lua_getglobal(L, kRules[i].name);
    EXPECT_EQ(lua_tocfunction(L, -1), native.function) << kRules[i].name;
    lua_pop(L, 1);
  }
}

// The counts each native takes, as its row declares them. A count one outside
// is called below; the right counts are called by the family tests, the wider
// rules' other counts at the end of this group.
TEST(NativeTable, EveryNativeTakesItsArgumentCounts) {
  ASSERT_EQ(kNativeCount, 209);
  for (int i = 0; i < kNativeCount; ++i) {
    EXPECT_EQ(kNatives[i].count.min, kRules[i].fewest) << kRules[i].name;
    EXPECT_EQ(kNatives[i].count.max, kRules[i].most) << kRules[i].name;
  }
}

// One argument too few and one too many, all nil (read as 0, so player 0 is
// addressed): the native gives its wrong-count answer, sends nothing and
// raises nothing.
TEST_F(NativeCounts, AWrongCountGivesItsAnswerAndDoesNothing) {
  for (const CountRule& rule : kRules) {
    std::vector<int> wrongCounts;
    if (rule.fewest > 0) wrongCounts.push_back(rule.fewest - 1);
    if (rule.most != kAny) wrongCounts.push_back(rule.most + 1);
    for (int count : wrongCounts) {
      const std::string call = CallWithNils(rule.name, count);
      EXPECT_EQ(seam.Eval(call), rule.onWrongCount) << call;
      EXPECT_EQ(seam.Take(), "") << call;
      EXPECT_EQ(seam.events.Take(), "") << call;
    }
  }
}

// The natives that take more than one count act on each count they take.
TEST_F(NativeCounts, TheWiderRulesActOnEveryCountTheyTake) {
  const std::string twelve = "3, 4, 5, 6, 7, 8, 9, 10, 11, 12";
  // clang-format off
  Check({{"outputChatBox('x', 1, 2, 3, 4)", "",
          {AB("OutputChatBox").u8(1).chars("x", 1).u8(1).u8(2).u8(3).u8(4)}},
         {"outputChatBox(1, 'x', 1, 2, 3, 4)", "",
          {B("OutputChatBox").u8(1).chars("x", 1).u8(1).u8(2).u8(3).u8(4)}},
         {"toggleDriveOnWater(0, 1)", "", {A("DriveOnWater").u8(1)}},
         {"toggleDriveOnWater(0, 1, " + twelve + ")", "", {A("DriveOnWater").u8(1)}},
         {"setPlayerGravity(0, 0.5)", "", {A("SetGravity").f32(0.5f)}},
         {"setPlayerGravity(0, 0.5, " + twelve + ")", "", {A("SetGravity").f32(0.5f)}},
         {"getMaxPlayers()", "50"},
         {"getMaxPlayers(1, 2, " + twelve + ")", "50"}});
  // clang-format on

  EXPECT_EQ(seam.Eval("addCommand('/a', 'f')"), "");
  EXPECT_EQ(PlayerCommandTable().Count(), 1u);
  EXPECT_EQ(seam.Eval("addCommand('/b', 'f', 1)"), "");
  EXPECT_EQ(PlayerCommandTable().Count(), 2u);

  EXPECT_EQ(seam.Eval("outputConsole('one')"), "");
  EXPECT_EQ(seam.Eval("outputConsole('many', 2, " + twelve + ")"), "");
  const std::string log = seam.Server().ReadFile(kLogFileName);
  EXPECT_NE(log.find("[CONSOLE] one\r\n"), std::string::npos);
  EXPECT_NE(log.find("[CONSOLE] many\r\n"), std::string::npos);

  // reloadBans makes the ban file the truth again, whatever it is given.
  for (const std::string& call :
       {std::string("reloadBans()"), "reloadBans(1, 2, " + twelve + ")"}) {
    GetGamePeer()->AddToBanList("7.7.7.7");
    EXPECT_EQ(seam.Eval(call), "") << call;
    EXPECT_FALSE(GetGamePeer()->IsBanned("7.7.7.7")) << call;
  }
}

// Without a network: the timer, clock, command and extension natives act only
// on their own counts, and a setter gives no results.
TEST(NativeTable, ThisHostsNativesActOnlyOnTheRightCountAndSettersReturnNothing) {
  ScriptHost host("function tick() end\n");
  EXPECT_EQ(Eval("createTimer('tick', 100, 1)"), "0");
  const char* const wrongCounts[] = {
      "createTimer('tick', 100)",    "createTimer('tick', 100, 1, 1)",
      "destroyTimer(0, 1)",          "setServerTime(1)",
      "setServerTime(1, 2, 3)",      "addCommand('/a')",
      "addCommand('/a', 'f', 1, 2)", "loadExtension('x.lua', 1)"};
  for (const char* call : wrongCounts) EXPECT_EQ(Eval(call), "") << call;
  EXPECT_EQ(host.Log(), "");
  EXPECT_EQ(GetTimerPool()->FindFreeSlot(), 1);
  EXPECT_EQ(GetTimerPool()->minuteOfDay, 720);
  EXPECT_EQ(PlayerCommandTable().Count(), 0u);

  EXPECT_EQ(Eval("setServerTime(1, 2)"), "");
  EXPECT_EQ(Eval("destroyTimer(0)"), "");
  EXPECT_EQ(Eval("addCommand('/a', 'f')"), "");
  EXPECT_EQ(GetTimerPool()->FindFreeSlot(), 0);
  EXPECT_EQ(GetTimerPool()->minuteOfDay, 61);
  EXPECT_EQ(PlayerCommandTable().Count(), 1u);
}

// The readers, each as a native of one argument.
int AsInt(lua_State* L) {
  lua_pushnumber(L, script::ArgInt(L, 1));
  return 1;
}

int AsPlayerId(lua_State* L) {
  lua_pushnumber(L, script::ArgU8(L, 1));
  return 1;
}

int IsPlayerId(lua_State* L) {
  lua_pushboolean(L, script::IsPlayer(script::ArgU8(L, 1)));
  return 1;
}

int AsUnsigned(lua_State* L) {
  lua_pushnumber(L, script::ArgU32Via64(L, 1));
  return 1;
}

// The vehicle guard takes the whole 32 bits.
int IsVehicleId(lua_State* L) {
  lua_pushboolean(L, script::IsVehicle(script::ArgU32(L, 1)));
  return 1;
}

// The text, or no results when there is none.
int TextOf(lua_State* L) {
  size_t length = 0;
  const char* text = script::ArgText(L, 1, &length);
  if (!text) return 0;
  lua_pushlstring(L, text, length);
  return 1;
}

int FlagOf(lua_State* L) {
  lua_pushboolean(L, script::ArgBool(L, 1));
  return 1;
}

int Thrower(lua_State* L) {
  lua_pushnumber(L, 1);  // a partial result the boundary must drop
  const std::string which = lua_tostring(L, 1) ? lua_tostring(L, 1) : "";
  if (which == "alloc") throw std::bad_alloc();
  if (which == "lua") return luaL_error(L, "raised by the native");
  throw std::runtime_error("escaped");
}

class NativeReaders : public ::testing::Test {
 protected:
  NativeReaders() {
    lua_State* L = GetScriptEngine()->State();
    lua_register(L, "asInt", (&GuardedNative<AsInt, Exactly(1), WrongCount::kNothing>));
    lua_register(L, "asPlayerId", (&GuardedNative<AsPlayerId, Exactly(1), WrongCount::kNothing>));
    lua_register(L, "isPlayerId", (&GuardedNative<IsPlayerId, Exactly(1), WrongCount::kNothing>));
    lua_register(L, "asUnsigned", (&GuardedNative<AsUnsigned, Exactly(1), WrongCount::kNothing>));
    lua_register(L, "isVehicleId", (&GuardedNative<IsVehicleId, Exactly(1), WrongCount::kNothing>));
    lua_register(L, "textOf", (&GuardedNative<TextOf, Exactly(1), WrongCount::kNothing>));
    lua_register(L, "flagOf", (&GuardedNative<FlagOf, Exactly(1), WrongCount::kNothing>));
    lua_register(L, "thrower", (&GuardedNative<Thrower, Exactly(1), WrongCount::kNothing>));
  }
  // `reader`(`argument`) through Lua.
  std::string Read(const std::string& reader, const std::string& argument) {
    return seam.Eval(reader + "(" + argument + ")");
  }
  support::Seam seam;
};

// What each reader makes of one argument, with players 3 and 44 and vehicle 1.
struct Reading {
  const char* argument;
  const char* asInt;
  const char* asPlayerId;
  const char* isPlayerId;
  const char* asUnsigned;
  const char* isVehicleId;
};

TEST_F(NativeReaders, NumbersTruncateThenCutToTheIdsWidth) {
  ASSERT_TRUE(ConnectPlayer("Fortyfour", GetPlayerPool(), 44));
  ASSERT_TRUE(ConnectPlayer("Three", GetPlayerPool(), 3));
  ASSERT_EQ(GetVehiclePool()->Add(130, 0, 0, 0, 0, 0, 0), 1);
  // clang-format off
  const Reading readings[] = {
      // argument         integer        player  guard    unsigned      vehicle
      {"3.9",             "3",           "3",    "true",  "3",          "false"},
      {"-0.5",            "0",           "0",    "false", "0",          "false"},
      {"-3.9",            "-3",          "253",  "false", "4294967293", "false"},
      {"300",             "300",         "44",   "true",  "300",        "false"},
      {"-1",              "-1",          "255",  "false", "4294967295", "false"},
      {"100",             "100",         "100",  "false", "100",        "false"},
      {"1",               "1",           "1",    "false", "1",          "true"},
      // A vehicle id is not cut to 16 bits.
      {"65537",           "65537",       "1",    "false", "65537",      "false"},
      {"0/0",             "-2147483648", "0",    "false", "0",          "false"},
      {"1e10",            "-2147483648", "0",    "false", "1410065408", "false"},
      {"1e30",            "-2147483648", "0",    "false", "0",          "false"},
      {"2147483647.9",    "2147483647",  "255",  "false", "2147483647", "false"},
      {"-2147483648.9",   "-2147483648", "0",    "false", "2147483648", "false"},
      {"2147483648",      "-2147483648", "0",    "false", "2147483648", "false"},
      {"4294967296 + 5",  "-2147483648", "0",    "false", "5",          "false"},
      {"'12'",            "12",          "12",   "false", "12",         "false"},
      {"' 0x10 '",        "16",          "16",   "false", "16",         "false"},
      {"'abc'",           "0",           "0",    "false", "0",          "false"},
      {"{}",              "0",           "0",    "false", "0",          "false"},
  };
  // clang-format on
  for (const Reading& r : readings) {
    EXPECT_EQ(Read("asInt", r.argument), r.asInt) << r.argument;
    EXPECT_EQ(Read("asPlayerId", r.argument), r.asPlayerId) << r.argument;
    EXPECT_EQ(Read("isPlayerId", r.argument), r.isPlayerId) << r.argument;
    EXPECT_EQ(Read("asUnsigned", r.argument), r.asUnsigned) << r.argument;
    EXPECT_EQ(Read("isVehicleId", r.argument), r.isVehicleId) << r.argument;
  }
  EXPECT_EQ(lua_gettop(GetScriptEngine()->State()), 0);
}

TEST_F(NativeReaders, TextsEndAtTheirFirstNulAndFlagsAreLuasTruth) {
  const std::pair<const char*, const char*> texts[] = {
      {"'abc'", "'abc'"}, {"12", "'12'"},
      {"1.5", "'1.5'"},   {"'a\\0b'", "'a'"},  // a text ends at its first NUL
      {"nil", ""},                             // no text: no results
      {"{}", ""},         {"true", ""},
  };
  for (const auto& [argument, text] : texts) EXPECT_EQ(Read("textOf", argument), text) << argument;
  const std::pair<const char*, const char*> flags[] = {
      {"nil", "false"}, {"false", "false"}, {"0", "true"}, {"''", "true"}, {"true", "true"},
  };
  for (const auto& [argument, flag] : flags) EXPECT_EQ(Read("flagOf", argument), flag) << argument;
  EXPECT_EQ(lua_gettop(GetScriptEngine()->State()), 0);
}

TEST_F(NativeReaders, ExceptionsStopAtTheBoundary) {
  // A C++ exception ends the call with no results, and the script goes on.
  EXPECT_EQ(seam.Eval("select('#', thrower('runtime'))"), "0");
  EXPECT_EQ(seam.Eval("select('#', thrower('alloc'))"), "0");
  EXPECT_EQ(seam.Lua("after = 1 thrower('runtime') after = 2 return after"), "2");
  // Lua's own errors still unwind as errors (the C++ build throws them).
  EXPECT_EQ(seam.Eval("pcall(thrower, 'lua')"), "false,'raised by the native'");
  EXPECT_EQ(lua_gettop(GetScriptEngine()->State()), 0);
}

}  // namespace
