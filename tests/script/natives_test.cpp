// The natives' calling rules through a real Lua state: every native's name,
// place, argument count and wrong-count result; the number, text and flag
// readers; the guards; the exception boundary.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <new>
#include <sstream>
#include <stdexcept>
#include <string>

#include "core/netgame.h"
#include "core/playerpool.h"
#include "core/vehiclepool.h"
#include "core/world.h"
#include "script/commands.h"
#include "script/natives.h"
#include "script/script_host.h"
#include "support/server_fixture.h"

using scripttest::Eval;
using scripttest::RunLua;
using scripttest::ScriptHost;

namespace {

// The game mode's natives in registration order, each as name:count[=result
// of a wrong count]; count is N, N+ (N or more), N-M, or * (any).
const char* const kNativeRows =
    "outputConsole:1+ addCommand:2-3 outputChatBox:5-6 toggleDriveOnWater:2+ toggleFlyingCar:2 "
    "togglePlayerClock:2 setPlayerGravity:2+ getPlayerPos:1 setPlayerPos:4 setPlayerTeam:2 "
    "getPlayerTeam:1 setPlayerScore:2 getPlayerScore:1 setPlayerInterior:2 getPlayerInterior:1 "
    "setPlayerAngle:2 getPlayerAngle:1 setPlayerHealth:2 getPlayerHealth:1 setPlayerArmour:2 "
    "getPlayerArmour:1 setPlayerCash:2 getPlayerCash:1 givePlayerCash:2 setPlayerWantedLevel:2 "
    "setPlayerFixedWantedLevel:2 setPlayerStaticWantedLevel:2 getPlayerWantedLevel:1 "
    "createLocalObject:9 destroyLocalObject:2 setLocalObjectRotation:5 setLocalObjectInterior:3 "
    "setLocalObjectPos:5 getLocalObjectRotation:2 getLocalObjectInterior:2 getLocalObjectPos:2 "
    "getLocalObjectModel:2 getGlobalObjectModel:1 createGlobalObject:8 moveGlobalObject:5 "
    "moveGlobalObjectAngles:5 stopGlobalObject:1 destroyGlobalObject:1 setGlobalObjectRotation:4 "
    "setGlobalObjectInterior:2 setGlobalObjectPos:4 getGlobalObjectRotation:1 "
    "getGlobalObjectInterior:1 getGlobalObjectPos:1 createVehicle:7 destroyVehicle:1 "
    "getVehiclePos:1 setVehiclePos:4 getVehicleAngle:1 setVehicleAngle:2 getVehicleColor:1 "
    "setVehicleColor:3 getVehicleHealth:1 setVehicleHealth:2 setVehicleSpeed:2 getVehicleSpeed:1 "
    "repairVehicle:1 explodeVehicle:1 putPlayerInVehicle:3 getPlayerVehicleID:1 "
    "isPlayerInVehicle:2 isPlayerInAnyVehicle:1 getVehicleModel:1 togglePlayerDrunk:2 "
    "removePlayerFromVehicle:1 setVehicleToRespawn:1 setVehicleLockedState:2 "
    "getVehicleLockedState:1 setVehicleSpawnInfo:5 addSpawnClass:12 addClassMember:12 "
    "createPlayerExplosion:5 createExplosion:4 isPlayerSpawned:1 isPlayerConnected:1 "
    "forceToClassSelection:1 getPlayerIP:1 getPlayerPing:1 getPlayerName:1 "
    "togglePlayerControllable:2 setPlayerName:2 givePlayerWeapon:3 clearPlayerWeapons:1 "
    "setServerWeather:1 setServerTime:2 getServerTime:0 kickPlayer:1 banPlayer:1 setPlayerSkin:2 "
    "setPlayerAnimation:2 createStaticActor:6=-1 destroyStaticActor:1 setStaticActorPos:4 "
    "getStaticActorPos:1=0,0,0 setStaticActorAngle:2 getStaticActorAngle:1=0 "
    "setStaticActorSkin:2 getStaticActorSkin:1=0 setStaticActorAnimation:2 "
    "getStaticActorAnimation:1=0 createTimer:3 destroyTimer:1 addBanIP:1 removeBanIP:1 "
    "reloadBans:* hostToIP:1 setVehicleTireState:3 getVehicleTireState:2 toggleVehicleLights:2 "
    "getPlayerSkin:1 setAmmunationWeaponData:5 getAmmunationWeaponData:2 toggleAmmunations:1 "
    "createGlobalGenericPickup:5 createGlobalWeaponPickup:5 createGlobalCashPickup:4 "
    "destroyGlobalPickup:1 getGlobalPickupType:1 getLocalPickupType:2 createGlobalCheckpoint:4 "
    "setGlobalCheckpointPos:4 setGlobalCheckpointRadius:2 destroyGlobalCheckpoint:1 "
    "createGlobalCorona:6 setGlobalCoronaPos:4 setGlobalCoronaRGB:4 destroyGlobalCorona:1 "
    "getGlobalMarkerType:1 createLocalCheckpoint:5 setLocalCheckpointPos:5 "
    "setLocalCheckpointRadius:3 destroyLocalCheckpoint:2 createLocalCorona:7 setLocalCoronaPos:5 "
    "setLocalCoronaRGB:5 destroyLocalCorona:2 loadExtension:1 exitServer:0 restartGameMode:0 "
    "setPlayerColor:4 delay:1 strval:1=1 createArea:6=-1 destroyArea:1=false getPlayerArea:1 "
    "gameTextForPlayer:4 gameTextForAll:3 clearGameTextForPlayer:1 clearGameTextForAll:0 "
    "setPlayerBoundaries:5 getPlayerCellPhoneStatus:1 setPlayerCellPhoneStatus:2 "
    "playSoundForPlayer:5 playWaveForPlayer:2 playWaveForAll:1 playWaveForPlayerAtPos:5 "
    "playWaveForAllAtPos:4 getWeaponName:1=255 getPlayerWeaponID:1 getPlayerClassInfo:1=0,0 "
    "setStaticActorName:2 getStaticActorName:1=nil toggleStaticActorBlip:2 "
    "createLocalGenericPickup:6=-1 createLocalCashPickup:5 createLocalWeaponPickup:6 "
    "destroyLocalPickup:2 getPlayerSeatID:1=0 createGlobalIcon:6=-1 destroyGlobalIcon:1 "
    "setGlobalIconColor:5 setGlobalIconSize:2 setGlobalIconPosition:4 toggleGlobalIconFlashing:2 "
    "createLocalIcon:7=-1 destroyLocalIcon:2 setLocalIconColor:6 setLocalIconSize:3 "
    "setLocalIconPosition:5 toggleLocalIconFlashing:3 togglePlayerScanlines:2 "
    "togglePlayerCameraInterface:2 togglePlayerBlackLines:2 shakePlayerCamera:2 "
    "setCameraBehindPlayer:1 restorePlayerCamera:1 fadePlayerCamera:6 setPlayerCameraPos:4 "
    "setPlayerCameraLookAt:5 getMaxPlayers:* random:2=0 togglePlayerMuted:2 isPlayerMuted:1 "
    "setVehicleRespawnDelay:1 setServerPort:1 setMaxPlayers:1 setServerName:1 setModeName:1 "
    "announce:1 setServerPassword:1 bindToIP:1 toggleStaticInitialWantedLevel:1 "
    "getVehicleNameFromModelID:1=nil getVehicleModelIDFromName:1=-1 ";

// "f(nil, nil)" with `n` arguments.
std::string CallWith(const std::string& name, int n) {
  std::string call = name + "(";
  for (int i = 0; i < n; ++i) call += i ? ", nil" : "nil";
  return call + ")";
}

TEST(NativeTable, NamesOrderCountsAndWrongCountResults) {
  ScriptHost host("");
  std::istringstream rows(kNativeRows);
  int index = 0;
  for (std::string row; rows >> row; ++index) {
    ASSERT_LT(index, kNativeCount) << row;
    const NativeDescriptor& native = kNatives[index];
    // name:count[=wrong]
    const size_t colon = row.find(':');
    const size_t equals = std::min(row.find('='), row.size());
    const std::string name = row.substr(0, colon);
    const std::string count = row.substr(colon + 1, equals - colon - 1);
    const std::string wrong = equals < row.size() ? row.substr(equals + 1) : "";
    EXPECT_EQ(native.name, name) << "position " << index;
    int min = 0;
    int max = INT_MAX;
    if (count != "*") {
      const size_t dash = count.find('-');
      min = std::stoi(count);
      if (count.back() != '+') max = dash == std::string::npos ? min : std::stoi(count.substr(dash + 1));
    }
    EXPECT_EQ(native.count.min, min) << name;
    EXPECT_EQ(native.count.max, max) << name;

    // Registered as a global; a wrong count gives the table's result whatever
    // the body would do.
    EXPECT_EQ(Eval("type(" + name + ")"), "'function'") << name;
    if (min > 0) {
      EXPECT_EQ(Eval(CallWith(name, min - 1)), wrong) << name;
    }
    if (max < 20) {
      EXPECT_EQ(Eval(CallWith(name, max + 1)), wrong) << name;
    }
  }
  EXPECT_EQ(index, kNativeCount);
}

TEST(NativeTable, ThisHostsNativesActOnlyOnTheRightCountAndSettersReturnNothing) {
  ScriptHost host("function tick() end\n");
  EXPECT_EQ(Eval("createTimer('tick', 100, 1)"), "0");
  EXPECT_EQ(RunLua("createTimer('tick', 100); createTimer('tick', 100, 1, 1); destroyTimer(0, 1);"
                   "setServerTime(1); setServerTime(1, 2, 3); addCommand('/a');"
                   "addCommand('/a', 'f', 1, 2); loadExtension('x.lua', 1)"),
            "");
  EXPECT_EQ(GetTimerPool()->FindFreeSlot(), 1);
  EXPECT_EQ(GetTimerPool()->minuteOfDay, 720);
  EXPECT_EQ(PlayerCommandTable().Count(), 0u);
  EXPECT_EQ(host.Log(), "");
  EXPECT_EQ(Eval("setServerTime(1, 2)"), "");
  EXPECT_EQ(Eval("destroyTimer(0)"), "");
  EXPECT_EQ(Eval("addCommand('/a', 'f')"), "");
  EXPECT_EQ(GetTimerPool()->FindFreeSlot(), 0);
  EXPECT_EQ(GetTimerPool()->minuteOfDay, 61);
  EXPECT_EQ(PlayerCommandTable().Count(), 1u);
}

// What the readers make of the first argument: the 32-bit integer, the 8-bit
// player id and its guard, the unsigned 32 bits through 64, and the vehicle
// guard of the whole 32 bits.
int ProbeBody(lua_State* L) {
  lua_pushnumber(L, script::ArgInt(L, 1));
  lua_pushnumber(L, script::ArgU8(L, 1));
  lua_pushboolean(L, script::IsPlayer(script::ArgU8(L, 1)));
  lua_pushnumber(L, script::ArgU32Via64(L, 1));
  lua_pushboolean(L, script::IsVehicle(script::ArgU32(L, 1)));
  return 5;
}

int TextBody(lua_State* L) {
  size_t length = 0;
  const char* text = script::ArgText(L, 1, &length);
  if (!text) return 0;
  lua_pushlstring(L, text, length);
  lua_pushboolean(L, script::ArgBool(L, 2));
  return 2;
}

int ThrowingBody(lua_State* L) {
  lua_pushnumber(L, 1);  // a partial result the boundary must drop
  const std::string which = lua_tostring(L, 1) ? lua_tostring(L, 1) : "";
  if (which == "alloc") throw std::bad_alloc();
  if (which == "lua") return luaL_error(L, "raised by the native");
  throw std::runtime_error("escaped");
}

class ReadersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.Start();
    lua_State* L = GetScriptEngine()->State();
    lua_register(L, "probe", (&GuardedNative<ProbeBody, Exactly(1), WrongCount::kNothing>));
    lua_register(L, "text", (&GuardedNative<TextBody, Exactly(2), WrongCount::kNothing>));
    lua_register(L, "thrower", (&GuardedNative<ThrowingBody, Exactly(1), WrongCount::kNothing>));
  }
  InProcessServer server_;
};

TEST_F(ReadersTest, NumbersTruncateThenCutToTheIdsWidthAndTheGuardsSeeTheCut) {
  ASSERT_TRUE(ConnectPlayer("Fortyfour", GetPlayerPool(), 44));
  ASSERT_TRUE(ConnectPlayer("Three", GetPlayerPool(), 3));
  ASSERT_EQ(gNetGame->vehiclePool->Add(130, 0, 0, 0, 0, 0, 0), 1);
  const char* const cases[][2] = {
      {"3.9", "3,3,true,3,false"},
      {"-0.5", "0,0,false,0,false"},
      {"-3.9", "-3,253,false,4294967293,false"},
      {"300", "300,44,true,300,false"},
      {"-1", "-1,255,false,4294967295,false"},
      {"100", "100,100,false,100,false"},
      {"1", "1,1,false,1,true"},
      {"65537", "65537,1,false,65537,false"},  // a vehicle id is not cut to 16 bits
      {"0/0", "-2147483648,0,false,0,false"},
      {"1e10", "-2147483648,0,false,1410065408,false"},
      {"1e30", "-2147483648,0,false,0,false"},
      {"2147483647.9", "2147483647,255,false,2147483647,false"},
      {"-2147483648.9", "-2147483648,0,false,2147483648,false"},
      {"2147483648", "-2147483648,0,false,2147483648,false"},
      {"4294967296 + 5", "-2147483648,0,false,5,false"},
      {"'12'", "12,12,false,12,false"},
      {"' 0x10 '", "16,16,false,16,false"},
      {"'abc'", "0,0,false,0,false"},
      {"{}", "0,0,false,0,false"},
  };
  for (const auto& c : cases) EXPECT_EQ(Eval(std::string("probe(") + c[0] + ")"), c[1]) << c[0];
}

TEST_F(ReadersTest, TextsAndFlags) {
  EXPECT_EQ(Eval("text('abc', nil)"), "'abc',false");
  EXPECT_EQ(Eval("text(12, false)"), "'12',false");
  EXPECT_EQ(Eval("text(1.5, 0)"), "'1.5',true");
  EXPECT_EQ(Eval("text('a\\0b', '')"), "'a',true");  // a text ends at its first NUL
  EXPECT_EQ(Eval("text(nil, true)"), "");
  EXPECT_EQ(Eval("text({}, true)"), "");
  EXPECT_EQ(Eval("text(true, true)"), "");
}

TEST_F(ReadersTest, ExceptionsStopAtTheNativesBoundary) {
  EXPECT_EQ(Eval("select('#', thrower('runtime'))"), "0");
  EXPECT_EQ(Eval("select('#', thrower('alloc'))"), "0");
  EXPECT_EQ(RunLua("after = 1; thrower('runtime'); after = 2"), "");
  EXPECT_EQ(Eval("after"), "2");
  // Lua's own errors still unwind as errors (the C++ build throws them).
  EXPECT_EQ(Eval("pcall(thrower, 'lua')"), "false,'raised by the native'");
  EXPECT_EQ(lua_gettop(GetScriptEngine()->State()), 0);
}

}  // namespace
