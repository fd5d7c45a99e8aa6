// The player, player control, camera and sound natives: what each query reads
// from the record, what each command sends (bit for bit) and to whom, the cuts
// and clamps of the values, which commands write the record, and that a
// refused call sends and stores nothing.
#include <cstdint>
#include <string>

#include "core/playerpool.h"
#include "core/rpc.h"
#include "script/native_test_support.h"

namespace {

using namespace nativetest;
using PlayerNatives = Natives;

// An explosion: the coordinates as the script's own 64-bit numbers, the type.
Sent Explosion(Send&& r, double x, double y, double z, uint8_t type) {
  r.Stream().Write(x);
  r.Stream().Write(y);
  r.Stream().Write(z);
  return r.u8(type);
}

// Everyone hears of a rename: u8 id, u32 length, the name's bytes.
Sent Renamed(uint8_t id, const std::string& name) {
  const uint32_t length = static_cast<uint32_t>(name.size());
  return AB("SetPlayerName").u8(id).u32(length).chars(name.data(), name.size());
}

Sent Weapon(int32_t id, int32_t ammo) { return A("GivePlayerWeapon").i32(id).i32(ammo); }

TEST_F(PlayerNatives, QueriesCommandsAndControl) {
  PlayerRecord& r = GetPlayerPool()->records[0];
  r.x = 1.5f;
  r.y = -2.25f;
  r.z = 3.0f;
  r.interior = 7;
  r.angle = 90.5f;
  r.health = 75.0f;
  r.armour = 20.0f;
  r.cash = static_cast<uint32_t>(-100);
  r.wantedLevel = 3;
  r.seat = 2;
  r.spawned = 1;
  r.skin = 101;
  r.phoneStatus = -1;
  r.weapon = 31;
  r.classInfo[0] = 3;
  r.classInfo[1] = -2;
  Check({{"getPlayerInterior(0)", "7"},
         {"getPlayerAngle(0)", "90.5"},
         {"getPlayerHealth(0)", "75"},
         {"getPlayerArmour(0)", "20"},
         {"getPlayerPos(0)", "1.5,-2.25,3"},
         {"getPlayerCash(0)", "4294967196"},
         {"getPlayerWantedLevel(0)", "3"},
         {"getPlayerSeatID(0)", "2"},
         {"isPlayerSpawned(0)", "1"},
         {"getPlayerSkin(0)", "101"},
         {"getPlayerCellPhoneStatus(0)", "-1"},
         {"getPlayerWeaponID(0)", "31"},
         {"getPlayerClassInfo(0)", "3,-2"},
         {"getPlayerTeam(0)", "-1"},
         {"getPlayerScore(0)", "0"},
         {"isPlayerMuted(0)", "0"},
         {"isPlayerConnected(0)", "1"},
         {"getPlayerName(257)", "'Bravo'"},
         {"getPlayerIP(0)", "'10.0.0.1'"},
         {"getPlayerPing(0) ~= nil", "true"}});
  // A free slot: some getters give nothing, the others their failure value.
  Refused({"77"},
          {"getPlayerHealth(#)", "getPlayerArmour(#)", "getPlayerAngle(#)", "getPlayerInterior(#)",
           "getPlayerCash(#)", "getPlayerWantedLevel(#)", "getPlayerPos(#)"});
  Refused({"77"}, {"getPlayerSkin(#)", "getPlayerScore(#)", "getPlayerTeam(#)", "getPlayerPing(#)"},
          "-1");
  Refused({"77"},
          {"getPlayerWeaponID(#)", "getPlayerCellPhoneStatus(#)", "getPlayerSeatID(#)",
           "isPlayerSpawned(#)", "isPlayerMuted(#)", "isPlayerConnected(#)"},
          "0");
  Refused({"77"}, {"getPlayerName(#)", "getPlayerIP(#)"}, "''");
  Refused({"77"}, {"getPlayerClassInfo(#)"}, "0,0");
  // Ids beyond the pool.
  Refused({"100", "250"}, {"isPlayerConnected(#)"}, "0");

  // Not a number reads as 0, a numeric string as its number; beyond 32 bits,
  // the conversion's out-of-range value. Only the client's report changes the
  // health.
  // clang-format off
  Check({{"setPlayerHealth(0, 50.25)", "", {A("SetPlayerHealth").f32(50.25f)}},
         {"getPlayerHealth(0)", "75"},
         {"setPlayerArmour(0, 12)", "", {A("SetPlayerArmour").f32(12)}},
         {"setPlayerAngle(0, -45)", "", {A("SetPlayerAngle").f32(-45)}},
         {"setPlayerPos(0, 10.5, 'abc', '-3')", "", {A("SetPlayerPos").f32(10.5f).f32(0).f32(-3)}},
         {"setPlayerCash(0, -5)", "", {A("SetPlayerCash").i32(-5)}},
         {"setPlayerBoundaries(0, 1, 2, 3, 4.5)", "",
          {A("SetPlayerBoundaries").f32(1).f32(2).f32(3).f32(4.5f)}},
         {"givePlayerCash(0, 3000000000)", "", {A("GivePlayerCash").i32(INT32_MIN)}},
         {"togglePlayerControllable(0, 300)", "", {A("TogglePlayerControllable").u8(0).u8(44)}},
         {"toggleFlyingCar(0, 2)", "", {A("ToggleFlyingCar").u8(2)}},
         {"clearPlayerWeapons(0)", "", {A("ClearPlayerWeapons")}},
         // Weapons 13, 16, 35, 37 and above, and negative ones become 0; ammunition 0..10000.
         {"givePlayerWeapon(0, 35, 50)", "", {Weapon(0, 50)}},
         {"givePlayerWeapon(0, 36, 50)", "", {Weapon(36, 50)}},
         {"givePlayerWeapon(0, 13, 50)", "", {Weapon(0, 50)}},
         {"givePlayerWeapon(0, 16, 1)", "", {Weapon(0, 1)}},
         {"givePlayerWeapon(0, 37, 1)", "", {Weapon(0, 1)}},
         {"givePlayerWeapon(0, -2, 1)", "", {Weapon(0, 1)}},
         {"givePlayerWeapon(0, 5, -20)", "", {Weapon(5, 0)}},
         {"givePlayerWeapon(0, 5, 25000)", "", {Weapon(5, 10000)}},
         // Interiors 13 and above 18 become 0; the value is cut to a byte first.
         {"setPlayerInterior(0, 13)", "", {A("SetPlayerInterior").u8(0)}},
         {"setPlayerInterior(0, 19)", "", {A("SetPlayerInterior").u8(0)}},
         {"setPlayerInterior(0, 18)", "", {A("SetPlayerInterior").u8(18)}},
         {"setPlayerInterior(0, 269)", "", {A("SetPlayerInterior").u8(0)}},
         {"setPlayerInterior(0, 12)", "", {A("SetPlayerInterior").u8(12)}},
         // Gravity and driving on water want two arguments and allow more.
         {"setPlayerGravity(0, 0.5, 'extra')", "", {A("SetGravity").f32(0.5f)}},
         {"toggleDriveOnWater('0', '258', {}, nil)", "", {A("DriveOnWater").u8(2)}},
         {"setPlayerGravity(0, 'abc')", ""},
         {"setPlayerGravity(nil, 1)", ""},
         {"toggleDriveOnWater(0, 'on')", ""},
         {"toggleDriveOnWater({}, 1)", ""},
         // Skins up to 172, to everyone.
         {"setPlayerSkin(0, 172)", "", {AB("SetPlayerSkin").u8(0).u8(172)}},
         {"setPlayerSkin(0, 173)", ""},
         {"setPlayerSkin(0, -1)", ""},
         // A negative score takes the compressed form's full width.
         {"setPlayerScore(0, -3)", "", {A("SetPlayerScore").c32(0xFFFFFFFDu)}},
         {"getPlayerScore(0)", "-3"},
         {"setPlayerScore(0, 5)", "", {A("SetPlayerScore").c32(5)}},
         {"getPlayerScore(0)", "5"},
         {"togglePlayerMuted(0, 5)", ""},
         {"isPlayerMuted(0)", "1"},
         {"togglePlayerMuted(0, 256)", ""},
         {"isPlayerMuted(0)", "0"},
         {"togglePlayerMuted(0, 2)", ""},
         {"isPlayerMuted(0)", "1"},
         {"forceToClassSelection(0)", "", {A("ForceToClassSelection")}},
         {"isPlayerSpawned(0)", "0"}});
  // clang-format on
  Refused(
      {"77", "-1", "100"},
      {"setPlayerHealth(#, 1)", "setPlayerArmour(#, 1)", "setPlayerAngle(#, 1)",
       "setPlayerPos(#, 1, 2, 3)", "setPlayerBoundaries(#, 1, 2, 3, 4)", "setPlayerGravity(#, 1)",
       "setPlayerCash(#, 1)", "givePlayerCash(#, 1)", "givePlayerWeapon(#, 1, 1)",
       "clearPlayerWeapons(#)", "setPlayerSkin(#, 1)", "setPlayerInterior(#, 1)",
       "setPlayerScore(#, 9)", "togglePlayerControllable(#, 1)", "toggleFlyingCar(#, 1)",
       "toggleDriveOnWater(#, 1)", "togglePlayerMuted(#, 1)", "forceToClassSelection(#)"});
  EXPECT_EQ(Field(GetPlayerPool()->records[77].score), 0);
  EXPECT_EQ(GetPlayerPool()->records[77].muted, 0);
}

TEST_F(PlayerNatives, Names) {
  // The old name is free again; the join's own name rule does not apply; a
  // number reads as its text; an embedded NUL ends the name.
  Check({{"setPlayerName(0, 'Sixteen_Letters!')", "", {Renamed(0, "Sixteen_Letters!")}},
         {"getPlayerName(0)", "'Sixteen_Letters!'"}});
  const std::string reply = GetGamePeer()->GetOfflinePingResponse();
  EXPECT_NE(reply.find("@Sixteen_Letters!#0"), std::string::npos);
  Check({{"setPlayerName(1, 'alpha')", "", {Renamed(1, "alpha")}},
         {"getPlayerName(1)", "'alpha'"},
         {"setPlayerName(0, 'a-b')", "", {Renamed(0, "a-b")}},
         {"setPlayerName(0, 12345)", "", {Renamed(0, "12345")}},
         {"setPlayerName(0, 'ab\\0off')", "", {Renamed(0, "ab")}},
         {"getPlayerName(0)", "'ab'"}});
  // The field holds no trace of the longer name before.
  EXPECT_EQ(std::string(GetPlayerPool()->names[0], kPlayerNameSize),
            std::string("ab") + std::string(kPlayerNameSize - 2, '\0'));
  // Too long, empty, its own or another's name in any case, no text, control
  // characters; no player.
  Refused({"'Seventeen_Letters'", "''", "'AB'", "'ALPHA'", "nil", "{}", "true", "'line\\nbreak'",
           "'del\\127'"},
          {"setPlayerName(0, #)"});
  Refused({"77", "-1"}, {"setPlayerName(#, 'Nobody')"});
  EXPECT_STREQ(GetPlayerPool()->names[0], "ab");
  EXPECT_STREQ(GetPlayerPool()->names[77], "");
}

// A value given to a setter, the byte sent, and what the getter reads after.
struct Clamp {
  const char* value;
  uint8_t sent;
  const char* stored;
};

TEST_F(PlayerNatives, PlayerControl) {
  // The team is the byte read as signed, within -1..100.
  // clang-format off
  const Clamp teams[] = {
      {"5",   5,   "5"},   {"101", 100, "100"}, {"127", 100, "100"},
      {"128", 255, "-1"},  {"200", 255, "-1"},  {"-7",  255, "-1"},
      {"300", 44,  "44"},  {"356", 100, "100"}, {"-1",  255, "-1"},
  };
  // clang-format on
  for (const Clamp& team : teams) {
    Check({{std::string("setPlayerTeam(0, ") + team.value + ")",
            "",
            {A("SetPlayerTeam").c8(team.sent)}},
           {"getPlayerTeam(0)", team.stored}});
  }
  // The stored level is the client's report, not the command.
  GetPlayerPool()->records[0].wantedLevel = 2;
  // The level sent is the byte, at most 6.
  const Clamp levels[] = {{"4", 4, "2"}, {"9", 6, "2"}, {"-1", 6, "2"}, {"256", 0, "2"}};
  for (const Clamp& level : levels) {
    Check({{std::string("setPlayerWantedLevel(0, ") + level.value + ")",
            "",
            {A("SetPlayerWantedLevel").c8(level.sent)}},
           {"getPlayerWantedLevel(0)", level.stored}});
  }
  // clang-format off
  Check({{"setPlayerFixedWantedLevel(0, 9)", "", {A("SetPlayerFixedWantedLevel").c8(6)}},
         {"setPlayerStaticWantedLevel(0, 7)", "", {A("SetPlayerStaticWantedLevel").c8(6)}},
         {"setPlayerCellPhoneStatus(0, 2)", "", {A("SetPlayerCellPhoneStatus").c8(1)}},
         {"setPlayerCellPhoneStatus(0, 256)", "", {A("SetPlayerCellPhoneStatus").c8(0)}},
         {"togglePlayerClock(0, 511)", "", {A("TogglePlayerClock").c8(255)}},
         {"setPlayerAnimation(0, 300)", "", {A("SetPlayerAnimation").c8(44)}},
         {"setPlayerColor(0, 255, 128, 0)", "", {A("SetPlayerColor").c8(255).c8(128).c8(0)}},
         {"setPlayerColor(0, 256, 0, 1)", "", {A("SetPlayerColor").c8(0).c8(0).c8(1)}}});
  // clang-format on
  Refused({"77", "-1", "100"},
          {"setPlayerTeam(#, 5)", "setPlayerWantedLevel(#, 1)", "setPlayerFixedWantedLevel(#, 1)",
           "setPlayerStaticWantedLevel(#, 1)", "setPlayerCellPhoneStatus(#, 1)",
           "togglePlayerClock(#, 1)", "setPlayerAnimation(#, 1)", "setPlayerColor(#, 1, 2, 3)"});
  EXPECT_EQ(GetPlayerPool()->records[77].team, -1);
}

TEST_F(PlayerNatives, CameraSoundAndEffects) {
  const std::string w15(15, 'w');
  const auto look = [](uint8_t v) -> Sent {
    return A("SetPlayerCameraLookAt").vec3(1, 2, 3).c8(v);
  };
  // The screen flags are cut to a byte, not clamped; the look-at flag is cut,
  // then clamped to 1; the camera position alone is sent as its magnitude.
  // clang-format off
  Check({{"togglePlayerDrunk(0, 258)", "", {A("TogglePlayerDrunk").u8(2)}},
         {"togglePlayerCameraInterface(0, 258)", "", {A("TogglePlayerCamInterface").u8(2)}},
         {"togglePlayerBlackLines(0, 258)", "", {A("TogglePlayerBlackLines").u8(2)}},
         {"togglePlayerScanlines(0, 258)", "", {A("TogglePlayerScanLines").u8(2)}},
         {"restorePlayerCamera(0)", "", {A("RestorePlayerCamera")}},
         {"setCameraBehindPlayer(0)", "", {A("SetCameraBehindPlayer")}},
         {"setPlayerCameraPos(0, 0, 0, 0)", "", {A("SetPlayerCameraPos").f32(0)}},
         {"setPlayerCameraPos(0, 3, -4, 12)", "", {A("SetPlayerCameraPos").vec3(3, -4, 12)}},
         {"shakePlayerCamera(0, 65537)", "", {A("ShakePlayerCamera").c16(1)}},
         {"setPlayerCameraLookAt(0, 1, 2, 3, 2)", "", {look(1)}},
         {"setPlayerCameraLookAt(0, 1, 2, 3, 256)", "", {look(0)}},
         {"setPlayerCameraLookAt(0, 1, 2, 3, -1)", "", {look(1)}},
         {"setPlayerCameraLookAt(0, 1, 2, 3, 0)", "", {look(0)}},
         {"fadePlayerCamera(0, 261, 10, 255, 65537 + 65535, 7)", "",
          {A("FadePlayerCamera").c8(5).c8(10).c8(255).c16(0).c8(1)}},
         // Wave names of 1 to 15 characters, ending at their first NUL; a
         // number is a text too.
         {"playWaveForAll('')", ""},
         {"playWaveForAll('" + w15 + "w')", ""},
         {"playWaveForAll(nil)", ""},
         {"playWaveForAllAtPos('', 1, 1, 1)", ""},
         {"playWaveForPlayerAtPos(0, '" + w15 + "x', 1, 1, 1)", ""},
         {"playWaveForPlayer(0, {})", ""},
         {"playWaveForPlayer(1, '\\0ab')", ""},
         {"playWaveForAll('" + w15 + "')", "",
          {AB("PlayWaveForPlayer").c8(15).chars(w15.data(), 15)}},
         {"playWaveForPlayer(1, 'ab\\0cd')", "", {B("PlayWaveForPlayer").c8(2).chars("ab", 2)}},
         {"playWaveForAllAtPos('boom', 0, 0, 0)", "",
          {AB("PlayWaveForPlayerAtPos").c8(4).chars("boom", 4).vec3(0, 0, 0)}},
         {"playWaveForPlayerAtPos(0, 7, 1, -2, 3)", "",
          {A("PlayWaveForPlayerAtPos").c8(1).chars("7", 1).vec3(1, -2, 3)}},
         {"createExplosion(0.1, -2.25, 1e300, 300)", "",
          {Explosion(AB("CreatePlayerExplosion"), 0.1, -2.25, 1e300, 44)}},
         {"createPlayerExplosion(1, 1, 2, 3.5, 12)", "",
          {Explosion(B("CreatePlayerExplosion"), 1, 2, 3.5, 12)}},
         {"playSoundForPlayer(0, 65537, 1.5, -2, 3.25)", "",
          {A("PlaySoundForPlayer").c16(1).f32(1.5f).f32(-2).f32(3.25f)}}});
  // clang-format on
  Refused({"100", "77", "-1", "355"},
          {"togglePlayerDrunk(#, 1)", "togglePlayerCameraInterface(#, 1)",
           "togglePlayerBlackLines(#, 1)", "togglePlayerScanlines(#, 1)", "restorePlayerCamera(#)",
           "setCameraBehindPlayer(#)", "setPlayerCameraPos(#, 1, 2, 3)",
           "setPlayerCameraLookAt(#, 1, 2, 3, 1)", "fadePlayerCamera(#, 1, 2, 3, 4, 1)",
           "shakePlayerCamera(#, 1)", "playWaveForPlayer(#, 'w')",
           "playWaveForPlayerAtPos(#, 'w', 1, 2, 3)", "playSoundForPlayer(#, 1, 1, 2, 3)",
           "createPlayerExplosion(#, 1, 2, 3, 4)"});
}

}  // namespace
