// The natives' calling rules through a real Lua state: the table's names and
// order, argument counts and what a wrong count returns, the number, text and
// flag readers, the guards and the exception boundary.
#include <gtest/gtest.h>

#include <new>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/playerpool.h"
#include "script/engine.h"
#include "script/natives.h"
#include "script/script_host.h"
#include "support/server_fixture.h"

using scripttest::Eval;
using scripttest::RunLua;
using scripttest::ScriptHost;

namespace {

// The game mode's natives in the order the engine registers them.
const char* const kRegistrationOrder =
    "outputConsole addCommand outputChatBox toggleDriveOnWater toggleFlyingCar togglePlayerClock "
    "setPlayerGravity getPlayerPos setPlayerPos setPlayerTeam getPlayerTeam setPlayerScore "
    "getPlayerScore setPlayerInterior getPlayerInterior setPlayerAngle getPlayerAngle "
    "setPlayerHealth getPlayerHealth setPlayerArmour getPlayerArmour setPlayerCash getPlayerCash "
    "givePlayerCash setPlayerWantedLevel setPlayerFixedWantedLevel setPlayerStaticWantedLevel "
    "getPlayerWantedLevel createLocalObject destroyLocalObject setLocalObjectRotation "
    "setLocalObjectInterior setLocalObjectPos getLocalObjectRotation getLocalObjectInterior "
    "getLocalObjectPos getLocalObjectModel getGlobalObjectModel createGlobalObject "
    "moveGlobalObject moveGlobalObjectAngles stopGlobalObject destroyGlobalObject "
    "setGlobalObjectRotation setGlobalObjectInterior setGlobalObjectPos getGlobalObjectRotation "
    "getGlobalObjectInterior getGlobalObjectPos createVehicle destroyVehicle getVehiclePos "
    "setVehiclePos getVehicleAngle setVehicleAngle getVehicleColor setVehicleColor "
    "getVehicleHealth setVehicleHealth setVehicleSpeed getVehicleSpeed repairVehicle "
    "explodeVehicle putPlayerInVehicle getPlayerVehicleID isPlayerInVehicle isPlayerInAnyVehicle "
    "getVehicleModel togglePlayerDrunk removePlayerFromVehicle setVehicleToRespawn "
    "setVehicleLockedState getVehicleLockedState setVehicleSpawnInfo addSpawnClass "
    "addClassMember createPlayerExplosion createExplosion isPlayerSpawned isPlayerConnected "
    "forceToClassSelection getPlayerIP getPlayerPing getPlayerName togglePlayerControllable "
    "setPlayerName givePlayerWeapon clearPlayerWeapons setServerWeather setServerTime "
    "getServerTime kickPlayer banPlayer setPlayerSkin setPlayerAnimation createStaticActor "
    "destroyStaticActor setStaticActorPos getStaticActorPos setStaticActorAngle "
    "getStaticActorAngle setStaticActorSkin getStaticActorSkin setStaticActorAnimation "
    "getStaticActorAnimation createTimer destroyTimer addBanIP removeBanIP reloadBans hostToIP "
    "setVehicleTireState getVehicleTireState toggleVehicleLights getPlayerSkin "
    "setAmmunationWeaponData getAmmunationWeaponData toggleAmmunations createGlobalGenericPickup "
    "createGlobalWeaponPickup createGlobalCashPickup destroyGlobalPickup getGlobalPickupType "
    "getLocalPickupType createGlobalCheckpoint setGlobalCheckpointPos setGlobalCheckpointRadius "
    "destroyGlobalCheckpoint createGlobalCorona setGlobalCoronaPos setGlobalCoronaRGB "
    "destroyGlobalCorona getGlobalMarkerType createLocalCheckpoint setLocalCheckpointPos "
    "setLocalCheckpointRadius destroyLocalCheckpoint createLocalCorona setLocalCoronaPos "
    "setLocalCoronaRGB destroyLocalCorona loadExtension exitServer restartGameMode setPlayerColor "
    "delay strval createArea destroyArea getPlayerArea gameTextForPlayer gameTextForAll "
    "clearGameTextForPlayer clearGameTextForAll setPlayerBoundaries getPlayerCellPhoneStatus "
    "setPlayerCellPhoneStatus playSoundForPlayer playWaveForPlayer playWaveForAll "
    "playWaveForPlayerAtPos playWaveForAllAtPos getWeaponName getPlayerWeaponID "
    "getPlayerClassInfo setStaticActorName getStaticActorName toggleStaticActorBlip "
    "createLocalGenericPickup createLocalCashPickup createLocalWeaponPickup destroyLocalPickup "
    "getPlayerSeatID createGlobalIcon destroyGlobalIcon setGlobalIconColor setGlobalIconSize "
    "setGlobalIconPosition toggleGlobalIconFlashing createLocalIcon destroyLocalIcon "
    "setLocalIconColor setLocalIconSize setLocalIconPosition toggleLocalIconFlashing "
    "togglePlayerScanlines togglePlayerCameraInterface togglePlayerBlackLines shakePlayerCamera "
    "setCameraBehindPlayer restorePlayerCamera fadePlayerCamera setPlayerCameraPos "
    "setPlayerCameraLookAt getMaxPlayers random togglePlayerMuted isPlayerMuted "
    "setVehicleRespawnDelay setServerPort setMaxPlayers setServerName setModeName announce "
    "setServerPassword bindToIP toggleStaticInitialWantedLevel getVehicleNameFromModelID "
    "getVehicleModelIDFromName";

std::vector<std::string> Words(const char* text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

TEST(NativeTable, HoldsEveryNativeInRegistrationOrder) {
  const std::vector<std::string> expected = Words(kRegistrationOrder);
  ASSERT_EQ(expected.size(), static_cast<size_t>(kNativeCount));
  for (int i = 0; i < kNativeCount; ++i) {
    EXPECT_EQ(kNatives[i].name, expected[i]) << "position " << i;
  }
}

TEST(NativeTable, EveryNativeIsAGlobalFunctionOfTheState) {
  ScriptHost host("");
  for (int i = 0; i < kNativeCount; ++i) {
    lua_getglobal(host.L(), kNatives[i].name);
    EXPECT_TRUE(lua_iscfunction(host.L(), -1)) << kNatives[i].name;
    EXPECT_EQ(lua_tocfunction(host.L(), -1), kNatives[i].function) << kNatives[i].name;
    lua_pop(host.L(), 1);
  }
}

TEST(CallingRules, WrongArgumentCountsOfThisHostsNatives) {
  ScriptHost host("function tick() end\n");
  EXPECT_EQ(Eval("select('#', createTimer('tick', 100))"), "0");
  EXPECT_EQ(Eval("select('#', createTimer('tick', 100, 1, 2))"), "0");
  EXPECT_EQ(Eval("select('#', destroyTimer())"), "0");
  EXPECT_EQ(Eval("select('#', destroyTimer(1, 2))"), "0");
  EXPECT_EQ(Eval("select('#', getServerTime(1))"), "0");
  EXPECT_EQ(Eval("select('#', setServerTime(1))"), "0");
  EXPECT_EQ(Eval("select('#', setServerTime(1, 2, 3))"), "0");
  EXPECT_EQ(Eval("select('#', addCommand('/a'))"), "0");
  EXPECT_EQ(Eval("select('#', addCommand('/a', 'f', 1, 2))"), "0");
  EXPECT_EQ(Eval("select('#', loadExtension())"), "0");
  // None of them acted.
  EXPECT_EQ(GetTimerPool()->FindFreeSlot(), 0);
  EXPECT_EQ(Eval("getServerTime()"), "12,0");
  EXPECT_EQ(Eval("select('#', createTimer('tick', 100, 1))"), "1");
  // Setters return nothing even when they act.
  EXPECT_EQ(Eval("select('#', setServerTime(1, 2))"), "0");
  EXPECT_EQ(Eval("select('#', destroyTimer(0))"), "0");
  EXPECT_EQ(Eval("select('#', addCommand('/a', 'f'))"), "0");
}

TEST(CallingRules, WrongCountResultsFollowTheTable) {
  ScriptHost host("");
  EXPECT_EQ(Eval("getPlayerPos()"), "");
  EXPECT_EQ(Eval("random(1)"), "0");
  EXPECT_EQ(Eval("getWeaponName()"), "255");
  EXPECT_EQ(Eval("createArea(1)"), "-1");
  EXPECT_EQ(Eval("getVehicleModelIDFromName()"), "-1");
  EXPECT_EQ(Eval("getPlayerClassInfo()"), "0,0");
  EXPECT_EQ(Eval("getStaticActorPos()"), "0,0,0");
  EXPECT_EQ(Eval("strval()"), "1");
  EXPECT_EQ(Eval("getVehicleNameFromModelID()"), "nil");
  EXPECT_EQ(Eval("destroyArea()"), "false");
  EXPECT_EQ(Eval("select('#', outputChatBox(1, 2, 3, 4))"), "0");
  EXPECT_EQ(Eval("select('#', outputChatBox(1, 2, 3, 4, 5, 6, 7))"), "0");
}

// Reports what the readers make of its argument: the 32-bit integer, the
// 8-bit player id and whether that player passes the guard.
int ProbeBody(lua_State* L) {
  const int32_t value = script::ArgInt(L, 1);
  const uint8_t player = script::ArgU8(L, 1);
  lua_pushnumber(L, value);
  lua_pushnumber(L, player);
  lua_pushboolean(L, script::IsPlayer(player));
  return 3;
}

int TextBody(lua_State* L) {
  size_t length = 0;
  const char* text = script::ArgText(L, 1, &length);
  if (!text) return 0;
  lua_pushlstring(L, text, length);
  lua_pushboolean(L, script::ArgBool(L, 2));
  return 2;
}

int U32Body(lua_State* L) {
  lua_pushnumber(L, script::ArgU32Via64(L, 1));
  lua_pushnumber(L, script::ArgU32(L, 1));
  return 2;
}

int ThrowingBody(lua_State* L) {
  lua_pushnumber(L, 1);  // a partial result the boundary must drop
  const std::string which = lua_tostring(L, 1) ? lua_tostring(L, 1) : "";
  if (which == "alloc") throw std::bad_alloc();
  if (which == "lua") return luaL_error(L, "raised by the native");
  throw std::runtime_error("escaped");
}

void Register(lua_State* L, const char* name, lua_CFunction function) {
  lua_pushcfunction(L, function);
  lua_setglobal(L, name);
}

class ReadersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.Start();
    lua_State* L = GetScriptEngine()->State();
    Register(L, "probe", &GuardedNative<ProbeBody, Exactly(1), WrongCount::kNothing>);
    Register(L, "text", &GuardedNative<TextBody, Exactly(2), WrongCount::kNothing>);
    Register(L, "u32", &GuardedNative<U32Body, Exactly(1), WrongCount::kNothing>);
    Register(L, "thrower", &GuardedNative<ThrowingBody, Exactly(1), WrongCount::kNothing>);
  }
  InProcessServer server_;
};

TEST_F(ReadersTest, NumbersTruncateThenCutToTheIdsWidth) {
  EXPECT_EQ(Eval("probe(3.9)"), "3,3,false");
  EXPECT_EQ(Eval("probe(-0.5)"), "0,0,false");
  EXPECT_EQ(Eval("probe(-3.9)"), "-3,253,false");
  EXPECT_EQ(Eval("probe(0/0)"), "-2147483648,0,false");
  EXPECT_EQ(Eval("probe(1e10)"), "-2147483648,0,false");
  EXPECT_EQ(Eval("probe(-1e10)"), "-2147483648,0,false");
  EXPECT_EQ(Eval("probe(1/0)"), "-2147483648,0,false");
  EXPECT_EQ(Eval("probe(2147483647.9)"), "2147483647,255,false");
  EXPECT_EQ(Eval("probe(-2147483648.9)"), "-2147483648,0,false");
  EXPECT_EQ(Eval("probe(2147483648)"), "-2147483648,0,false");
  EXPECT_EQ(Eval("probe('12')"), "12,12,false");
  EXPECT_EQ(Eval("probe(' 0x10 ')"), "16,16,false");
  EXPECT_EQ(Eval("probe('abc')"), "0,0,false");
  EXPECT_EQ(Eval("probe({})"), "0,0,false");
  EXPECT_EQ(Eval("probe(nil)"), "0,0,false");
  EXPECT_EQ(Eval("probe(true)"), "0,0,false");
}

TEST_F(ReadersTest, PlayerGuardSeesTheCutId) {
  ASSERT_TRUE(ConnectPlayer("Fortyfour", GetPlayerPool(), 44));
  ASSERT_TRUE(ConnectPlayer("Three", GetPlayerPool(), 3));
  EXPECT_EQ(Eval("probe(300)"), "300,44,true");
  EXPECT_EQ(Eval("probe(44)"), "44,44,true");
  EXPECT_EQ(Eval("probe(3.9)"), "3,3,true");
  EXPECT_EQ(Eval("probe(45)"), "45,45,false");
  EXPECT_EQ(Eval("probe(-1)"), "-1,255,false");
  EXPECT_EQ(Eval("probe(100)"), "100,100,false");
  EXPECT_EQ(Eval("probe(0/0)"), "-2147483648,0,false");
  ASSERT_TRUE(ConnectPlayer("Zero", GetPlayerPool(), 0));
  EXPECT_EQ(Eval("probe(-0.5)"), "0,0,true");
  EXPECT_EQ(Eval("probe(0/0)"), "-2147483648,0,true");  // low 8 bits of INT32_MIN are 0
}

TEST_F(ReadersTest, VehicleGuardTakesTheIdUnsigned) {
  EXPECT_FALSE(script::IsVehicle(0));
  EXPECT_FALSE(script::IsVehicle(1));  // no vehicle created
  EXPECT_FALSE(script::IsVehicle(500));
  EXPECT_FALSE(script::IsVehicle(static_cast<uint32_t>(-1)));
}

TEST_F(ReadersTest, TextsAndFlags) {
  EXPECT_EQ(Eval("text('abc', nil)"), "'abc',false");
  EXPECT_EQ(Eval("text(12, false)"), "'12',false");
  EXPECT_EQ(Eval("text(1.5, 0)"), "'1.5',true");
  EXPECT_EQ(Eval("text('a\\0b', '')"), std::string("'a\0b',true", 10));
  EXPECT_EQ(Eval("text(nil, true)"), "");
  EXPECT_EQ(Eval("text({}, true)"), "");
  EXPECT_EQ(Eval("text(true, true)"), "");
}

TEST_F(ReadersTest, UnsignedThrough64Bits) {
  EXPECT_EQ(Eval("u32(-1)"), "4294967295,4294967295");
  EXPECT_EQ(Eval("u32(4294967296 + 5)"), "5,2147483648");
  EXPECT_EQ(Eval("u32(1e30)"), "0,2147483648");
  EXPECT_EQ(Eval("u32(0/0)"), "0,2147483648");
  EXPECT_EQ(Eval("u32(70.9)"), "70,70");
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
