// The player natives through a running server: what each query reads from the
// record, what each command sends (bit for bit) and to whom, which commands
// write the record, and that a refused call sends and stores nothing.
#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/game_fixture.h"
#include "core/playerpool.h"
#include "script/script_host.h"

namespace {

using gametest::Comp;
using gametest::Plain;
using scripttest::Eval;
using scripttest::RunLua;

const char* const kCommandRpcs[] = {
    "SetPlayerHealth", "SetPlayerArmour", "SetPlayerAngle", "SetPlayerPos",
    "SetPlayerBoundaries", "SetGravity", "SetPlayerCash", "GivePlayerCash",
    "GivePlayerWeapon", "ClearPlayerWeapons", "SetPlayerSkin", "SetPlayerInterior",
    "SetPlayerScore", "TogglePlayerControllable", "ToggleFlyingCar", "DriveOnWater",
    "ForceToClassSelection"};

class PlayerNativesTest : public gametest::GameTest {
 protected:
  void SetUp() override {
    GameTest::SetUp();
    alpha_ = &ConnectAndJoin("Alpha");
    bravo_ = &ConnectAndJoin("Bravo");
    a_ = static_cast<uint8_t>(alpha_->Index());
    b_ = static_cast<uint8_t>(bravo_->Index());
    for (auto* c : {alpha_, bravo_}) {
      for (const char* name : kCommandRpcs) c->Watch(name);
    }
  }

  // Runs a statement that must not fail, with `A` and `B` naming the two
  // players, then waits until both clients have everything sent before it.
  void Call(const std::string& lua) {
    ASSERT_EQ(RunLua(Prelude() + lua), "") << lua;
    Settle();
  }
  std::string Get(const std::string& expression) {
    return scripttest::Run(Prelude() + "return " + expression);
  }
  std::string Prelude() const {
    return "local A, B = " + std::to_string(a_) + ", " + std::to_string(b_) + "; ";
  }
  // Reliable calls arrive in order: once a client has a marker sent after
  // everything else, it has everything else too.
  void Settle() {
    for (auto* c : {alpha_, bravo_}) {
      const size_t before = c->Count("ClearPlayerWeapons");
      ASSERT_EQ(RunLua("clearPlayerWeapons(" + std::to_string(c->Index()) + ")"), "");
      ASSERT_TRUE(PumpUntil([&] { return c->Count("ClearPlayerWeapons") > before; }));
    }
  }
  size_t Total(support::TestClient& c) {
    size_t n = 0;
    for (const char* name : kCommandRpcs) n += c.Count(name);
    return n;
  }
  // The newest call of that name, checked for its exact length.
  std::unique_ptr<net::BitStream> Last(support::TestClient& c, const char* name, uint32_t bits) {
    const support::ReceivedRpc* rpc = c.LastRpc(name);
    if (!rpc) {
      ADD_FAILURE() << name << " not received";
      return std::make_unique<net::BitStream>();
    }
    EXPECT_EQ(rpc->bits, bits) << name;
    return rpc->Reader();
  }

  support::TestClient* alpha_ = nullptr;
  support::TestClient* bravo_ = nullptr;
  uint8_t a_ = 0;
  uint8_t b_ = 0;
};

TEST_F(PlayerNativesTest, QueriesOfAFreeSlotGiveTheirFailureResults) {
  const int freeSlot = 77;
  ASSERT_FALSE(GetPlayerPool()->IsInUse(freeSlot));
  const std::string p = "(" + std::to_string(freeSlot) + ")";
  for (const char* nothing : {"getPlayerHealth", "getPlayerArmour", "getPlayerAngle",
                              "getPlayerInterior", "getPlayerCash", "getPlayerWantedLevel",
                              "getPlayerPos"}) {
    EXPECT_EQ(Eval(std::string(nothing) + p), "") << nothing;
  }
  for (const char* minusOne : {"getPlayerSkin", "getPlayerScore", "getPlayerTeam", "getPlayerPing"}) {
    EXPECT_EQ(Eval(std::string(minusOne) + p), "-1") << minusOne;
  }
  for (const char* zero : {"getPlayerWeaponID", "getPlayerCellPhoneStatus", "getPlayerSeatID",
                           "isPlayerSpawned", "isPlayerMuted", "isPlayerConnected"}) {
    EXPECT_EQ(Eval(std::string(zero) + p), "0") << zero;
  }
  EXPECT_EQ(Eval("getPlayerName" + p), "''");
  EXPECT_EQ(Eval("getPlayerIP" + p), "''");
  EXPECT_EQ(Eval("getPlayerClassInfo" + p), "0,0");
  EXPECT_EQ(Eval("isPlayerConnected(100)"), "0");
  EXPECT_EQ(Eval("isPlayerConnected(250)"), "0");
  EXPECT_EQ(Eval("getPlayerName(-1)"), "''");
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
  r.phoneStatus = 1;
  r.weapon = 31;
  r.classInfo[0] = 3;
  r.classInfo[1] = -2;

  EXPECT_EQ(Get("getPlayerPos(A)"), "1.5,-2.25,3");
  EXPECT_EQ(Get("getPlayerInterior(A)"), "7");
  EXPECT_EQ(Get("getPlayerAngle(A)"), "90.5");
  EXPECT_EQ(Get("getPlayerHealth(A)"), "75");
  EXPECT_EQ(Get("getPlayerArmour(A)"), "20");
  EXPECT_EQ(Get("getPlayerCash(A)"), "4294967196");
  EXPECT_EQ(Get("getPlayerWantedLevel(A)"), "3");
  EXPECT_EQ(Get("getPlayerSeatID(A)"), "2");
  EXPECT_EQ(Get("isPlayerSpawned(A)"), "1");
  EXPECT_EQ(Get("getPlayerSkin(A)"), "101");
  EXPECT_EQ(Get("getPlayerCellPhoneStatus(A)"), "1");
  EXPECT_EQ(Get("getPlayerWeaponID(A)"), "31");
  EXPECT_EQ(Get("getPlayerClassInfo(A)"), "3,-2");
  EXPECT_EQ(Get("getPlayerTeam(A)"), "-1");  // never set
  EXPECT_EQ(Get("getPlayerScore(A)"), "0");
  EXPECT_EQ(Get("isPlayerMuted(A)"), "0");
  EXPECT_EQ(Get("isPlayerConnected(A)"), "1");
  EXPECT_EQ(Get("getPlayerName(A)"), "'Alpha'");
  EXPECT_EQ(Get("getPlayerName(B + 256)"), "'Bravo'");  // the id's low 8 bits
  EXPECT_EQ(Get("getPlayerIP(A)"), "'127.0.0.1'");
  const std::string ping = Get("getPlayerPing(A)");
  EXPECT_NE(ping, "");
  EXPECT_GE(std::stod(ping), -1);
}

TEST_F(PlayerNativesTest, FloatCommandsGoToThePlayerAloneAndLeaveTheRecord) {
  Record(a_).health = 80.0f;
  const size_t bravoBefore = Total(*bravo_);
  Call("setPlayerHealth(A, 50.25) setPlayerArmour(A, 12) setPlayerAngle(A, -45)");
  Call("setPlayerPos(A, 10.5, 'abc', '-3') setPlayerBoundaries(A, 1, 2, 3, 4.5)");

  EXPECT_EQ(Plain<float>(*Last(*alpha_, "SetPlayerHealth", 32)), 50.25f);
  EXPECT_EQ(Plain<float>(*Last(*alpha_, "SetPlayerArmour", 32)), 12.0f);
  EXPECT_EQ(Plain<float>(*Last(*alpha_, "SetPlayerAngle", 32)), -45.0f);
  auto pos = Last(*alpha_, "SetPlayerPos", 96);
  EXPECT_EQ(Plain<float>(*pos), 10.5f);
  EXPECT_EQ(Plain<float>(*pos), 0.0f);  // not a number
  EXPECT_EQ(Plain<float>(*pos), -3.0f);  // a numeric string
  auto bounds = Last(*alpha_, "SetPlayerBoundaries", 128);
  for (float expected : {1.0f, 2.0f, 3.0f, 4.5f}) EXPECT_EQ(Plain<float>(*bounds), expected);

  // Only the client's own report changes the record.
  EXPECT_EQ(Get("getPlayerHealth(A)"), "80");
  EXPECT_EQ(Total(*bravo_), bravoBefore + 2);  // its own two settle markers only
}

TEST_F(PlayerNativesTest, GravityAndDriveOnWaterWantTwoNumbersAndAllowMore) {
  Call("setPlayerGravity(A, 0.5, 'extra') toggleDriveOnWater(A, 258, {}, nil)");
  EXPECT_EQ(Plain<float>(*Last(*alpha_, "SetGravity", 32)), 0.5f);
  EXPECT_EQ(Plain<uint8_t>(*Last(*alpha_, "DriveOnWater", 8)), 2);

  // Numeric strings pass Lua's number test.
  Call("setPlayerGravity(tostring(A), '0.25') toggleDriveOnWater(tostring(A), '3')");
  EXPECT_EQ(Plain<float>(*Last(*alpha_, "SetGravity", 32)), 0.25f);
  EXPECT_EQ(Plain<uint8_t>(*Last(*alpha_, "DriveOnWater", 8)), 3);

  const size_t gravity = alpha_->Count("SetGravity");
  const size_t water = alpha_->Count("DriveOnWater");
  Call("setPlayerGravity(A) setPlayerGravity(A, 'abc') setPlayerGravity(nil, 1)");
  Call("toggleDriveOnWater(A) toggleDriveOnWater(A, 'on') toggleDriveOnWater({}, 1)");
  EXPECT_EQ(alpha_->Count("SetGravity"), gravity);
  EXPECT_EQ(alpha_->Count("DriveOnWater"), water);
}

TEST_F(PlayerNativesTest, CashAndWeaponsAreSentAsPlainIntegersWithTheWeaponLimits) {
  Call("setPlayerCash(A, -5) givePlayerCash(A, 3000000000)");
  EXPECT_EQ(Plain<int32_t>(*Last(*alpha_, "SetPlayerCash", 32)), -5);
  // Beyond 32 bits: the conversion's out-of-range value.
  EXPECT_EQ(Plain<int32_t>(*Last(*alpha_, "GivePlayerCash", 32)), INT32_MIN);

  struct Case {
    const char* args;
    int32_t weapon, ammo;
  };
  for (const Case& c : {Case{"35, 50", 0, 50}, Case{"36, 50", 36, 50}, Case{"13, 50", 0, 50},
                        Case{"16, 1", 0, 1}, Case{"37, 1", 0, 1}, Case{"-2, 1", 0, 1},
                        Case{"5, -20", 5, 0}, Case{"5, 25000", 5, 10000},
                        Case{"34, 10000", 34, 10000}}) {
    Call(std::string("givePlayerWeapon(A, ") + c.args + ")");
    auto s = Last(*alpha_, "GivePlayerWeapon", 64);
    EXPECT_EQ(Plain<int32_t>(*s), c.weapon) << c.args;
    EXPECT_EQ(Plain<int32_t>(*s), c.ammo) << c.args;
  }
  EXPECT_EQ(alpha_->LastRpc("ClearPlayerWeapons")->bits, 0u);
}

TEST_F(PlayerNativesTest, SkinGoesToEveryoneAndInteriorIsReplacedWhenUnknown) {
  Call("setPlayerSkin(A, 172)");
  for (auto* c : {alpha_, bravo_}) {
    auto s = Last(*c, "SetPlayerSkin", 16);
    EXPECT_EQ(Plain<uint8_t>(*s), a_);
    EXPECT_EQ(Plain<uint8_t>(*s), 172);
  }
  Call("setPlayerSkin(A, 173) setPlayerSkin(A, -1)");
  EXPECT_EQ(alpha_->Count("SetPlayerSkin"), 1u);
  EXPECT_EQ(bravo_->Count("SetPlayerSkin"), 1u);

  const std::vector<std::pair<int, int>> interiors = {{13, 0}, {19, 0}, {18, 18},
                                                       {269, 0}, {0, 0}, {12, 12}};
  for (auto [in, out] : interiors) {
    Call("setPlayerInterior(A, " + std::to_string(in) + ")");
    EXPECT_EQ(Plain<uint8_t>(*Last(*alpha_, "SetPlayerInterior", 8)), out) << in;
  }
}

TEST_F(PlayerNativesTest, ScoreMutedAndSpawnedAreTheRecordsTheNativesWrite) {
  Call("setPlayerScore(A, -3)");
  const int32_t stored = Record(a_).score;  // packed: copied out
  EXPECT_EQ(stored, -3);
  EXPECT_EQ(Get("getPlayerScore(A)"), "-3");
  // A negative score takes the compressed form's full width: 1 + 32 bits.
  EXPECT_EQ(Comp<uint32_t>(*Last(*alpha_, "SetPlayerScore", 33)), 0xFFFFFFFDu);
  Call("setPlayerScore(A, 5)");
  EXPECT_EQ(Comp<uint32_t>(*Last(*alpha_, "SetPlayerScore", 8)), 5u);

  Call("togglePlayerMuted(A, 5)");
  EXPECT_EQ(Record(a_).muted, 1);
  EXPECT_EQ(Get("isPlayerMuted(A)"), "1");
  Call("togglePlayerMuted(A, 256)");
  EXPECT_EQ(Get("isPlayerMuted(A)"), "0");

  Record(a_).spawned = 1;
  Call("forceToClassSelection(A)");
  EXPECT_EQ(Get("isPlayerSpawned(A)"), "0");
  EXPECT_EQ(alpha_->LastRpc("ForceToClassSelection")->bits, 0u);
  EXPECT_EQ(bravo_->Count("ForceToClassSelection"), 0u);
}

TEST_F(PlayerNativesTest, FlagsAreSentAsTheirLowByteUnchanged) {
  Call("togglePlayerControllable(A, 300) toggleFlyingCar(A, 2)");
  auto s = Last(*alpha_, "TogglePlayerControllable", 16);
  EXPECT_EQ(Plain<uint8_t>(*s), a_);
  EXPECT_EQ(Plain<uint8_t>(*s), 44);
  EXPECT_EQ(Plain<uint8_t>(*Last(*alpha_, "ToggleFlyingCar", 8)), 2);
}

TEST_F(PlayerNativesTest, CommandsForAFreeSlotSendAndStoreNothing) {
  const size_t alphaBefore = Total(*alpha_);
  const size_t bravoBefore = Total(*bravo_);
  for (const char* id : {"77", "-1", "100"}) {
    const std::string p = id;
    Call("setPlayerHealth(" + p + ", 1) setPlayerArmour(" + p + ", 1) setPlayerAngle(" + p +
         ", 1) setPlayerPos(" + p + ", 1, 2, 3) setPlayerBoundaries(" + p + ", 1, 2, 3, 4) "
         "setPlayerGravity(" + p + ", 1) setPlayerCash(" + p + ", 1) givePlayerCash(" + p +
         ", 1) givePlayerWeapon(" + p + ", 1, 1) clearPlayerWeapons(" + p + ") setPlayerSkin(" +
         p + ", 1) setPlayerInterior(" + p + ", 1) setPlayerScore(" + p + ", 9) "
         "togglePlayerControllable(" + p + ", 1) toggleFlyingCar(" + p + ", 1) "
         "toggleDriveOnWater(" + p + ", 1) togglePlayerMuted(" + p + ", 1) "
         "forceToClassSelection(" + p + ")");
  }
  // Three settles each: nothing but the markers arrived.
  EXPECT_EQ(Total(*alpha_), alphaBefore + 3);
  EXPECT_EQ(Total(*bravo_), bravoBefore + 3);
  const int32_t score = GetPlayerPool()->records[77].score;
  EXPECT_EQ(score, 0);
  EXPECT_EQ(GetPlayerPool()->records[77].muted, 0);
}

}  // namespace
