// The player, player control, camera and sound natives: what each query reads
// from the record, what each command sends (bit for bit) and to whom, the cuts
// and clamps of the values, which commands write the record, and that a
// refused call sends and stores nothing.
#include <climits>
#include <string>

#include "core/playerpool.h"
#include "core/rpc.h"
#include "script/native_test_support.h"

namespace {

using namespace nativetest;
using PlayerNatives = Natives;

// An explosion: the coordinates as the script's own 64-bit numbers, the type.
Sent Explosion(Send&& r, double x, double y, double z, uint8_t type) {
  for (double v : {x, y, z}) r.Stream().Write(v);
  return r.u8(type);
}

// Everyone hears of a rename: u8 id, u32 length, the name's bytes.
Sent Renamed(uint8_t id, const std::string& name) {
  return AB("SetPlayerName").u8(id).u32(static_cast<uint32_t>(name.size())).chars(name.data(), name.size());
}

TEST_F(PlayerNatives, QueriesCommandsAndControl) {
  PlayerRecord& r = GetPlayerPool()->records[0];
  r.x = 1.5f, r.y = -2.25f, r.z = 3.0f, r.interior = 7, r.angle = 90.5f, r.health = 75.0f, r.armour = 20.0f;
  r.cash = static_cast<uint32_t>(-100), r.wantedLevel = 3, r.seat = 2, r.spawned = 1, r.skin = 101, r.phoneStatus = -1;
  r.weapon = 31, r.classInfo[0] = 3, r.classInfo[1] = -2;
  const auto weapon = [](int32_t id, int32_t ammo) -> Sent { return A("GivePlayerWeapon").i32(id).i32(ammo); };
  const auto interior = [](uint8_t id) -> Sent { return A("SetPlayerInterior").u8(id); };
  Check({{"getPlayerInterior(0), getPlayerAngle(0), getPlayerHealth(0), getPlayerArmour(0), getPlayerPos(0)", "7,90.5,75,20,1.5,-2.25,3"},
         {"getPlayerCash(0), getPlayerWantedLevel(0), getPlayerSeatID(0), isPlayerSpawned(0)", "4294967196,3,2,1"},
         {"getPlayerSkin(0), getPlayerCellPhoneStatus(0), getPlayerWeaponID(0), getPlayerClassInfo(0)", "101,-1,31,3,-2"},
         {"getPlayerTeam(0), getPlayerScore(0), isPlayerMuted(0), isPlayerConnected(0)", "-1,0,0,1"},
         {"getPlayerName(257), getPlayerIP(0), getPlayerPing(0) ~= nil", "'Bravo','10.0.0.1',true"},
         // A free slot, and ids beyond the pool.
         {"n(getPlayerHealth(77)), n(getPlayerArmour(77)), n(getPlayerAngle(77)), n(getPlayerInterior(77))", "0,0,0,0"},
         {"n(getPlayerCash(77)), n(getPlayerWantedLevel(77)), n(getPlayerPos(77))", "0,0,0"},
         {"getPlayerSkin(77), getPlayerScore(77), getPlayerTeam(77), getPlayerPing(77), getPlayerWeaponID(77)", "-1,-1,-1,-1,0"},
         {"getPlayerCellPhoneStatus(77), getPlayerSeatID(77), isPlayerSpawned(77), isPlayerMuted(77)", "0,0,0,0"},
         {"isPlayerConnected(77), getPlayerName(77), getPlayerIP(77), getPlayerClassInfo(77)", "0,'','',0,0"},
         {"isPlayerConnected(100), isPlayerConnected(250)", "0,0"},
         // Not a number reads as 0, a numeric string as its number; beyond 32
         // bits, the conversion's out-of-range value. Only the client's report changes the health.
         {"setPlayerHealth(0, 50.25), getPlayerHealth(0)", "nil,75", {A("SetPlayerHealth").f32(50.25f)}},
         {"do setPlayerArmour(0, 12) setPlayerAngle(0, -45) setPlayerPos(0, 10.5, 'abc', '-3') setPlayerCash(0, -5) end", "",
          {A("SetPlayerArmour").f32(12), A("SetPlayerAngle").f32(-45), A("SetPlayerPos").f32(10.5f).f32(0).f32(-3),
           A("SetPlayerCash").i32(-5)}},
         {"do setPlayerBoundaries(0, 1, 2, 3, 4.5) givePlayerCash(0, 3000000000) togglePlayerControllable(0, 300) end", "",
          {A("SetPlayerBoundaries").f32(1).f32(2).f32(3).f32(4.5f), A("GivePlayerCash").i32(INT32_MIN),
           A("TogglePlayerControllable").u8(0).u8(44)}},
         {"do toggleFlyingCar(0, 2) clearPlayerWeapons(0) end", "", {A("ToggleFlyingCar").u8(2), A("ClearPlayerWeapons")}},
         {"do givePlayerWeapon(0, 35, 50) givePlayerWeapon(0, 36, 50) givePlayerWeapon(0, 13, 50) givePlayerWeapon(0, 16, 1) "
          "givePlayerWeapon(0, 37, 1) givePlayerWeapon(0, -2, 1) givePlayerWeapon(0, 5, -20) givePlayerWeapon(0, 5, 25000) end", "",
          {weapon(0, 50), weapon(36, 50), weapon(0, 50), weapon(0, 1), weapon(0, 1), weapon(0, 1), weapon(5, 0), weapon(5, 10000)}},
         {"sweep(setPlayerInterior, nil, 13, 19, 18, 269, 12)", "", {interior(0), interior(0), interior(18), interior(0), interior(12)}},
         // Gravity and driving on water want two arguments and allow more.
         {"do setPlayerGravity(0, 0.5, 'extra') toggleDriveOnWater('0', '258', {}, nil) end", "",
          {A("SetGravity").f32(0.5f), A("DriveOnWater").u8(2)}},
         {"do setPlayerGravity(0, 'abc') setPlayerGravity(nil, 1) toggleDriveOnWater(0, 'on') toggleDriveOnWater({}, 1) end", ""},
         // Skins up to 172, to everyone; a negative score takes the compressed form's full width.
         {"sweep(setPlayerSkin, nil, 172, 173, -1)", "", {AB("SetPlayerSkin").u8(0).u8(172)}},
         {"sweep(setPlayerScore, getPlayerScore, -3, 5)", "-3,5", {A("SetPlayerScore").c32(0xFFFFFFFDu), A("SetPlayerScore").c32(5)}},
         {"sweep(togglePlayerMuted, isPlayerMuted, 5, 256, 2)", "1,0,1"},
         {"forceToClassSelection(0), isPlayerSpawned(0)", "nil,0", {A("ForceToClassSelection")}}});
  Refused({"77", "-1", "100"},
          {"do setPlayerHealth(#, 1) setPlayerArmour(#, 1) setPlayerAngle(#, 1) setPlayerPos(#, 1, 2, 3) end",
           "do setPlayerBoundaries(#, 1, 2, 3, 4) setPlayerGravity(#, 1) setPlayerCash(#, 1) givePlayerCash(#, 1) end",
           "do givePlayerWeapon(#, 1, 1) clearPlayerWeapons(#) setPlayerSkin(#, 1) setPlayerInterior(#, 1) end",
           "do setPlayerScore(#, 9) togglePlayerControllable(#, 1) toggleFlyingCar(#, 1) toggleDriveOnWater(#, 1) end",
           "do togglePlayerMuted(#, 1) forceToClassSelection(#) end"});
  EXPECT_EQ(Values(GetPlayerPool()->records[77].score, GetPlayerPool()->records[77].muted), "0,0");

  // The old name is free again; the join's own name rule does not apply; a
  // number reads as its text; an embedded NUL ends the name.
  Check({{"setPlayerName(0, 'Sixteen_Letters!'), getPlayerName(0)", "nil,'Sixteen_Letters!'", {Renamed(0, "Sixteen_Letters!")}}});
  EXPECT_NE(GetGamePeer()->GetOfflinePingResponse().find("@Sixteen_Letters!#0"), std::string::npos);
  Check({{"setPlayerName(1, 'alpha'), getPlayerName(1)", "nil,'alpha'", {Renamed(1, "alpha")}},
         {"do setPlayerName(0, 'a-b') setPlayerName(0, 12345) end", "", {Renamed(0, "a-b"), Renamed(0, "12345")}},
         {"setPlayerName(0, 'ab\\0off'), getPlayerName(0)", "nil,'ab'", {Renamed(0, "ab")}}});
  // The field holds no trace of the longer name before.
  EXPECT_EQ(std::string(GetPlayerPool()->names[0], kPlayerNameSize), std::string("ab") + std::string(kPlayerNameSize - 2, '\0'));
  // Too long, empty, its own or another's name in any case, no text, control characters, no player.
  Refused({"'Seventeen_Letters'", "''", "'AB'", "'ALPHA'", "nil", "{}", "true", "'line\\nbreak'", "'del\\127'"},
          {"setPlayerName(0, #)", "setPlayerName(77, 'Nobody')", "setPlayerName(-1, 'Nobody')"});
  EXPECT_EQ(std::string(GetPlayerPool()->names[0]) + GetPlayerPool()->names[77], "ab");

  const auto team = [](uint8_t v) -> Sent { return A("SetPlayerTeam").c8(v); };
  const auto wanted = [](uint8_t v) -> Sent { return A("SetPlayerWantedLevel").c8(v); };
  GetPlayerPool()->records[0].wantedLevel = 2;
  Check({{"sweep(setPlayerTeam, getPlayerTeam, 5, 101, 127, 128, 200, -7, 300, 356, -1)", "5,100,100,-1,-1,-1,44,100,-1",
          {team(5), team(100), team(100), team(255), team(255), team(255), team(44), team(100), team(255)}},
         {"sweep(setPlayerWantedLevel, getPlayerWantedLevel, 4, 9, -1, 256)", "2,2,2,2",  // the client's report, not the command
          {wanted(4), wanted(6), wanted(6), wanted(0)}},
         {"do setPlayerFixedWantedLevel(0, 9) setPlayerStaticWantedLevel(0, 7) setPlayerCellPhoneStatus(0, 2) end", "",
          {A("SetPlayerFixedWantedLevel").c8(6), A("SetPlayerStaticWantedLevel").c8(6), A("SetPlayerCellPhoneStatus").c8(1)}},
         {"do setPlayerCellPhoneStatus(0, 256) togglePlayerClock(0, 511) setPlayerAnimation(0, 300) end", "",
          {A("SetPlayerCellPhoneStatus").c8(0), A("TogglePlayerClock").c8(255), A("SetPlayerAnimation").c8(44)}},
         {"do setPlayerColor(0, 255, 128, 0) setPlayerColor(0, 256, 0, 1) end", "",
          {A("SetPlayerColor").c8(255).c8(128).c8(0), A("SetPlayerColor").c8(0).c8(0).c8(1)}}});
  Refused({"77", "-1", "100"},
          {"do setPlayerTeam(#, 5) setPlayerWantedLevel(#, 1) setPlayerFixedWantedLevel(#, 1) end",
           "do setPlayerStaticWantedLevel(#, 1) setPlayerCellPhoneStatus(#, 1) togglePlayerClock(#, 1) end",
           "do setPlayerAnimation(#, 1) setPlayerColor(#, 1, 2, 3) end"});
  EXPECT_EQ(GetPlayerPool()->records[77].team, -1);

  const std::string w15(15, 'w');
  const auto look = [](uint8_t v) -> Sent { return A("SetPlayerCameraLookAt").vec3(1, 2, 3).c8(v); };
  // The screen flags are cut to a byte, not clamped; the look-at flag is cut,
  // then clamped to 1; the camera position alone is sent as its magnitude.
  Check({{"do togglePlayerDrunk(0, 258) togglePlayerCameraInterface(0, 258) togglePlayerBlackLines(0, 258) end", "",
          {A("TogglePlayerDrunk").u8(2), A("TogglePlayerCamInterface").u8(2), A("TogglePlayerBlackLines").u8(2)}},
         {"do togglePlayerScanlines(0, 258) restorePlayerCamera(0) setCameraBehindPlayer(0) end", "",
          {A("TogglePlayerScanLines").u8(2), A("RestorePlayerCamera"), A("SetCameraBehindPlayer")}},
         {"do setPlayerCameraPos(0, 0, 0, 0) setPlayerCameraPos(0, 3, -4, 12) shakePlayerCamera(0, 65537) end", "",
          {A("SetPlayerCameraPos").f32(0), A("SetPlayerCameraPos").vec3(3, -4, 12), A("ShakePlayerCamera").c16(1)}},
         {"do for _, v in ipairs{2, 256, -1, 0} do setPlayerCameraLookAt(0, 1, 2, 3, v) end end", "", {look(1), look(0), look(1), look(0)}},
         {"fadePlayerCamera(0, 261, 10, 255, 65537 + 65535, 7)", "", {A("FadePlayerCamera").c8(5).c8(10).c8(255).c16(0).c8(1)}},
         // Wave names of 1 to 15 characters, ending at their first NUL; a number is a text too.
         {"do playWaveForAll('') playWaveForAll('" + w15 + "w') playWaveForAll(nil) playWaveForAllAtPos('', 1, 1, 1) end", ""},
         {"do playWaveForPlayerAtPos(0, '" + w15 + "x', 1, 1, 1) playWaveForPlayer(0, {}) playWaveForPlayer(1, '\\0ab') end", ""},
         {"do playWaveForAll('" + w15 + "') playWaveForPlayer(1, 'ab\\0cd') end", "",
          {AB("PlayWaveForPlayer").c8(15).chars(w15.data(), 15), B("PlayWaveForPlayer").c8(2).chars("ab", 2)}},
         {"do playWaveForAllAtPos('boom', 0, 0, 0) playWaveForPlayerAtPos(0, 7, 1, -2, 3) end", "",
          {AB("PlayWaveForPlayerAtPos").c8(4).chars("boom", 4).vec3(0, 0, 0), A("PlayWaveForPlayerAtPos").c8(1).chars("7", 1).vec3(1, -2, 3)}},
         {"do createExplosion(0.1, -2.25, 1e300, 300) createPlayerExplosion(1, 1, 2, 3.5, 12) end", "",
          {Explosion(AB("CreatePlayerExplosion"), 0.1, -2.25, 1e300, 44), Explosion(B("CreatePlayerExplosion"), 1, 2, 3.5, 12)}},
         {"playSoundForPlayer(0, 65537, 1.5, -2, 3.25)", "", {A("PlaySoundForPlayer").c16(1).f32(1.5f).f32(-2).f32(3.25f)}}});
  Refused({"100", "77", "-1", "355"},
          {"do togglePlayerDrunk(#, 1) togglePlayerCameraInterface(#, 1) togglePlayerBlackLines(#, 1) end",
           "do togglePlayerScanlines(#, 1) restorePlayerCamera(#) setCameraBehindPlayer(#) setPlayerCameraPos(#, 1, 2, 3) end",
           "do setPlayerCameraLookAt(#, 1, 2, 3, 1) fadePlayerCamera(#, 1, 2, 3, 4, 1) shakePlayerCamera(#, 1) end",
           "do playWaveForPlayer(#, 'w') playWaveForPlayerAtPos(#, 'w', 1, 2, 3) playSoundForPlayer(#, 1, 1, 2, 3) end",
           "do createPlayerExplosion(#, 1, 2, 3, 4) end"});
}

}  // namespace
