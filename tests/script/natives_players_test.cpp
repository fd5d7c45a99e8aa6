// The player natives through a running server: what each query reads from the
// record, what each command sends (bit for bit) and to whom, which commands
// write the record, and that a refused call sends and stores nothing.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <utility>

#include "core/playerpool.h"
#include "script/native_test_support.h"

namespace {

using nativetest::Want;
using scripttest::Eval;

using PlayerNativesTest = nativetest::PlayerNativeTest;

TEST_F(PlayerNativesTest, QueriesOfAFreeSlotGiveTheirFailureResults) {
  ASSERT_FALSE(GetPlayerPool()->IsInUse(77));
  const std::pair<const char*, const char*> results[] = {
      {"getPlayerHealth", ""}, {"getPlayerArmour", ""}, {"getPlayerAngle", ""},
      {"getPlayerInterior", ""}, {"getPlayerCash", ""}, {"getPlayerWantedLevel", ""},
      {"getPlayerPos", ""}, {"getPlayerSkin", "-1"}, {"getPlayerScore", "-1"},
      {"getPlayerTeam", "-1"}, {"getPlayerPing", "-1"}, {"getPlayerWeaponID", "0"},
      {"getPlayerCellPhoneStatus", "0"}, {"getPlayerSeatID", "0"}, {"isPlayerSpawned", "0"},
      {"isPlayerMuted", "0"}, {"isPlayerConnected", "0"}, {"getPlayerName", "''"},
      {"getPlayerIP", "''"}, {"getPlayerClassInfo", "0,0"}};
  for (const auto& [native, result] : results) {
    EXPECT_EQ(Eval(std::string(native) + "(77)"), result) << native;
  }
  EXPECT_EQ(Eval("isPlayerConnected(100)"), "0");
  EXPECT_EQ(Eval("isPlayerConnected(250)"), "0");
}

TEST_F(PlayerNativesTest, QueriesReadTheRecordAsItStands) {
  PlayerRecord& r = Record(a_);
  r.x = 1.5f;
  r.y = -2.25f;
  r.z = 3.0f;
  r.interior = 7;
  r.angle = 90.5f;
  r.health = 75.0f;
  r.armour = 20.0f;
  r.cash = static_cast<uint32_t>(-100);  // as a client reports a debt
  r.wantedLevel = 3;
  r.seat = 2;
  r.spawned = 1;
  r.skin = 101;
  r.phoneStatus = -1;
  r.weapon = 31;
  r.classInfo[0] = 3;
  r.classInfo[1] = -2;
  EXPECT_EQ(Call("getPlayerPos(A)"), "1.5,-2.25,3");
  EXPECT_EQ(Call("getPlayerInterior(A), getPlayerAngle(A), getPlayerHealth(A), getPlayerArmour(A)"),
            "7,90.5,75,20");
  EXPECT_EQ(Call("getPlayerCash(A), getPlayerWantedLevel(A), getPlayerSeatID(A)"), "4294967196,3,2");
  EXPECT_EQ(Call("isPlayerSpawned(A), getPlayerSkin(A), getPlayerCellPhoneStatus(A)"), "1,101,-1");
  EXPECT_EQ(Call("getPlayerWeaponID(A), getPlayerClassInfo(A)"), "31,3,-2");
  EXPECT_EQ(Call("getPlayerTeam(A), getPlayerScore(A), isPlayerMuted(A), isPlayerConnected(A)"),
            "-1,0,0,1");
  EXPECT_EQ(Call("getPlayerName(B + 256), getPlayerIP(A)"), "'Bravo','127.0.0.1'");
  EXPECT_NE(Call("getPlayerPing(A)"), "");
}

TEST_F(PlayerNativesTest, CommandPayloads) {
  Record(a_).health = 80.0f;
  Run("setPlayerHealth(A, 50.25) setPlayerArmour(A, 12) setPlayerAngle(A, -45) setPlayerPos(A, 10.5, 'abc', '-3') "
      "setPlayerBoundaries(A, 1, 2, 3, 4.5) setPlayerCash(A, -5) givePlayerCash(A, 3000000000) "
      "togglePlayerControllable(A, 300) toggleFlyingCar(A, 2) clearPlayerWeapons(A)");
  EXPECT_TRUE(Has(*alpha_, "SetPlayerHealth", Want().f32(50.25f).Stream()));
  EXPECT_TRUE(Has(*alpha_, "SetPlayerArmour", Want().f32(12).Stream()));
  EXPECT_TRUE(Has(*alpha_, "SetPlayerAngle", Want().f32(-45).Stream()));
  // Not a number reads as 0; a numeric string as its number.
  EXPECT_TRUE(Has(*alpha_, "SetPlayerPos", Want().f32(10.5f).f32(0).f32(-3).Stream()));
  EXPECT_TRUE(Has(*alpha_, "SetPlayerBoundaries", Want().f32(1).f32(2).f32(3).f32(4.5f).Stream()));
  EXPECT_TRUE(Has(*alpha_, "SetPlayerCash", Want().i32(-5).Stream()));
  // Beyond 32 bits: the conversion's out-of-range value.
  EXPECT_TRUE(Has(*alpha_, "GivePlayerCash", Want().i32(INT32_MIN).Stream()));
  EXPECT_TRUE(Has(*alpha_, "TogglePlayerControllable", Want().u8(a_).u8(44).Stream()));
  EXPECT_TRUE(Has(*alpha_, "ToggleFlyingCar", Want().u8(2).Stream()));
  EXPECT_TRUE(Has(*alpha_, "ClearPlayerWeapons", Want().Stream()));
  EXPECT_EQ(Call("getPlayerHealth(A)"), "80");  // only the client's report changes it
  EXPECT_EQ(SentToPlayer(*bravo_), 0u);

  struct Case {
    const char* args;
    int32_t weapon, ammo;
  };
  for (const Case& c : {Case{"35, 50", 0, 50}, Case{"36, 50", 36, 50}, Case{"13, 50", 0, 50},
                        Case{"16, 1", 0, 1}, Case{"37, 1", 0, 1}, Case{"-2, 1", 0, 1},
                        Case{"5, -20", 5, 0}, Case{"5, 25000", 5, 10000}}) {
    Run(std::string("givePlayerWeapon(A, ") + c.args + ")");
    EXPECT_TRUE(Has(*alpha_, "GivePlayerWeapon", Want().i32(c.weapon).i32(c.ammo).Stream())) << c.args;
  }
  for (auto [in, out] : {std::pair{13, 0}, {19, 0}, {18, 18}, {269, 0}, {12, 12}}) {
    Run("setPlayerInterior(A, " + std::to_string(in) + ")");
    EXPECT_TRUE(Has(*alpha_, "SetPlayerInterior", Want().u8(static_cast<uint8_t>(out)).Stream())) << in;
  }
}

TEST_F(PlayerNativesTest, GravityAndDriveOnWaterWantTwoNumbersAndAllowMore) {
  Run("setPlayerGravity(A, 0.5, 'extra') toggleDriveOnWater(tostring(A), '258', {}, nil)");
  EXPECT_TRUE(Has(*alpha_, "SetGravity", Want().f32(0.5f).Stream()));
  EXPECT_TRUE(Has(*alpha_, "DriveOnWater", Want().u8(2).Stream()));
  Run("setPlayerGravity(A) setPlayerGravity(A, 'abc') setPlayerGravity(nil, 1)"
      "toggleDriveOnWater(A) toggleDriveOnWater(A, 'on') toggleDriveOnWater({}, 1)");
  EXPECT_EQ(alpha_->Count("SetGravity"), 1u);
  EXPECT_EQ(alpha_->Count("DriveOnWater"), 1u);
}

TEST_F(PlayerNativesTest, SkinGoesToEveryoneUpTo172) {
  Run("setPlayerSkin(A, 172) setPlayerSkin(A, 173) setPlayerSkin(A, -1)");
  for (auto* c : {alpha_, bravo_}) {
    EXPECT_EQ(c->Count("SetPlayerSkin"), 1u);
    EXPECT_TRUE(Has(*c, "SetPlayerSkin", Want().u8(a_).u8(172).Stream()));
  }
}

TEST_F(PlayerNativesTest, ScoreMutedAndSpawnedAreTheRecordsTheNativesWrite) {
  Run("setPlayerScore(A, -3)");
  EXPECT_EQ(Call("getPlayerScore(A)"), "-3");
  // A negative score takes the compressed form's full width.
  EXPECT_TRUE(Has(*alpha_, "SetPlayerScore", Want().c32(0xFFFFFFFDu).Stream()));
  Run("setPlayerScore(A, 5)");
  EXPECT_TRUE(Has(*alpha_, "SetPlayerScore", Want().c32(5).Stream()));

  Run("togglePlayerMuted(A, 5)");
  EXPECT_EQ(Call("isPlayerMuted(A)"), "1");
  Run("togglePlayerMuted(A, 256)");
  EXPECT_EQ(Call("isPlayerMuted(A)"), "0");

  Record(a_).spawned = 1;
  Run("forceToClassSelection(A)");
  EXPECT_EQ(Call("isPlayerSpawned(A)"), "0");
  EXPECT_TRUE(Has(*alpha_, "ForceToClassSelection", Want().Stream()));
  EXPECT_EQ(bravo_->Count("ForceToClassSelection"), 0u);
}

TEST_F(PlayerNativesTest, CommandsForAFreeSlotSendAndStoreNothing) {
  for (const std::string p : {"77", "-1", "100"}) {
    Run("setPlayerHealth(" + p + ", 1) setPlayerArmour(" + p + ", 1) setPlayerAngle(" + p +
        ", 1) setPlayerPos(" + p + ", 1, 2, 3) setPlayerBoundaries(" + p + ", 1, 2, 3, 4) "
        "setPlayerGravity(" + p + ", 1) setPlayerCash(" + p + ", 1) givePlayerCash(" + p +
        ", 1) givePlayerWeapon(" + p + ", 1, 1) clearPlayerWeapons(" + p + ") setPlayerSkin(" +
        p + ", 1) setPlayerInterior(" + p + ", 1) setPlayerScore(" + p + ", 9) "
        "togglePlayerControllable(" + p + ", 1) toggleFlyingCar(" + p + ", 1) "
        "toggleDriveOnWater(" + p + ", 1) togglePlayerMuted(" + p + ", 1) "
        "forceToClassSelection(" + p + ")");
  }
  EXPECT_EQ(SentToPlayer(*alpha_) + SentToPlayer(*bravo_), 0u);
  const int32_t score = GetPlayerPool()->records[77].score;
  EXPECT_EQ(score, 0);
  EXPECT_EQ(GetPlayerPool()->records[77].muted, 0);
}

}  // namespace
