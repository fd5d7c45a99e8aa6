// The vehicle natives through a running server, and the model names and the
// respawn delay without one.
#include <gtest/gtest.h>

#include <string>

#include "core/names.h"
#include "core/netgame.h"
#include "core/playerpool.h"
#include "core/vehiclepool.h"
#include "core/world.h"
#include "script/native_test_support.h"

namespace {

using nativetest::Want;
using scripttest::Eval;

class VehicleNativesTest : public nativetest::WorldNativeTest {
 protected:
  VehiclePool& Pool() { return *GetVehiclePool(); }
};

TEST_F(VehicleNativesTest, CreateClampsTheColoursAndSpawnsTheVehicleForEachPlayer) {
  EXPECT_EQ(Call("createVehicle(130, 1.5, -2, 3, 90, 101, 200)"), "1");
  Flush();
  Rpc spawn("expected");  // the current values, then the same as the spawn values
  spawn.u32(1).u32(130);
  for (int i = 0; i < 2; ++i) spawn.f32(1.5f).f32(-2).f32(3).f32(90).u8(0).u8(200).f32(1000);
  ExpectBoth("SpawnVehicle", spawn.u8(0));
  // Colour bytes: 100 and -1 (255) stay, 127 becomes 0, 128 stays.
  EXPECT_EQ(
      Call("createVehicle(236, 0, 0, 0, 0, 100, -1), createVehicle(236, 0, 0, 0, 0, 127, 128)"),
      "2,3");
  EXPECT_EQ(Call("getVehicleColor(2)"), "100,-1");
  EXPECT_EQ(Call("getVehicleColor(3)"), "0,-128");

  // Refused models and a full pool: nothing created, sent or returned.
  for (const char* model : {"165", "180", "181", "213", "129", "237", "-1", "130 + 4294967296"}) {
    EXPECT_EQ(Call(std::string("createVehicle(") + model + ", 0, 0, 0, 0, 0, 0)"), "") << model;
  }
  EXPECT_EQ(Pool().FindFreeSlot(), 4);
  while (Pool().FindFreeSlot() > 0) Pool().Add(130, 0, 0, 0, 0, 0, 0);
  EXPECT_EQ(Call("createVehicle(130, 0, 0, 0, 0, 0, 0)"), "");
  Flush();
  EXPECT_EQ(alpha_->Count("SpawnVehicle"), 3u);
}

TEST_F(VehicleNativesTest, DestroyFreesTheSlotFirstAndTakesTheLow16BitsOfTheId) {
  ASSERT_EQ(Do("for i = 1, 3 do createVehicle(130, 0, 0, 0, 0, 0, 0) end"), "");
  ASSERT_EQ(Do("destroyVehicle(65537)"), "");  // vehicle 1
  EXPECT_FALSE(Pool().Exists(1));
  EXPECT_TRUE(Pool().Exists(2));
  EXPECT_EQ(Call("createVehicle(131, 0, 0, 0, 0, 0, 0)"), "1");
  ASSERT_EQ(
      Do("destroyVehicle(1 - 65536); destroyVehicle(0); destroyVehicle(4); destroyVehicle(500);"
         "destroyVehicle(1); destroyVehicle(-1)"),
      "");
  EXPECT_FALSE(Pool().Exists(1));  // -65535 cut to 16 bits is 1
  Flush();
  EXPECT_EQ(alpha_->Count("DestroyVehicle"), 2u);
  ExpectBoth("DestroyVehicle", Want().c16(1));
}

TEST_F(VehicleNativesTest, StateSettersStoreWhatTheServerKeepsAndSendEachLayout) {
  ASSERT_EQ(Call("createVehicle(130, 1, 2, 3, 4, 5, 6)"), "1");
  ASSERT_EQ(
      Do("setVehiclePos(1, 10.5, -20, 30); setVehicleAngle(1, 45); setVehicleHealth(1, 250.5);"
         "setVehicleSpeed(1, 3.5); setVehicleColor(1, 200, 100); setVehicleLockedState(1, 258)"),
      "");
  EXPECT_EQ(Call("getVehiclePos(1)"), "10.5,-20,30");
  EXPECT_EQ(Call("getVehicleAngle(1), getVehicleHealth(1), getVehicleModel(1)"), "45,250.5,130");
  EXPECT_EQ(Call("getVehicleSpeed(1)"), "0");  // only the driver's sync sets it
  EXPECT_EQ(Call("getVehicleLockedState(1), getVehicleColor(1)"), "2,-1,100");
  EXPECT_EQ(+Pool().Get(1)->spawnX, 1.0f);  // the spawn values stay
  EXPECT_EQ(Pool().Get(1)->spawnColour1, 5);
  Flush();
  ExpectBoth("SetVehiclePos", Want().u32(1).f32(10.5f).f32(-20).f32(30));
  ExpectBoth("SetVehicleAngle", Want().u32(1).f32(45));
  ExpectBoth("SetVehicleHealth", Want().u32(1).f32(250.5f));
  ExpectBoth("SetVehicleSpeed", Want().u32(1).f32(3.5f));
  ExpectBoth("SetVehicleColor", Want().u32(1).u8(255).u8(100));
  ExpectBoth("ToggleVehicleLocked", Want().u32(1).u8(2));

  // Colour bytes 128..254 become 255; 255 and 0..127 stay.
  ASSERT_EQ(Do("setVehicleColor(1, 254, 127)"), "");
  EXPECT_EQ(Call("getVehicleColor(1)"), "-1,127");
  ASSERT_EQ(Do("setVehicleColor(1, -1, 128 + 256)"), "");
  EXPECT_EQ(Call("getVehicleColor(1)"), "-1,-1");
}

TEST_F(VehicleNativesTest, ClientSideEffectsLeaveTheRecordAlone) {
  ASSERT_EQ(Call("createVehicle(130, 0, 0, 0, 0, 0, 0)"), "1");
  while (Pool().FindFreeSlot() != 44) Pool().Add(130, 0, 0, 0, 0, 0, 0);
  ASSERT_EQ(Pool().Add(130, 0, 0, 0, 0, 0, 0), 44);
  Pool().Get(1)->health = 300;
  // The tyre natives reach a vehicle by its id modulo 256, the lights by 65536.
  ASSERT_EQ(Do("setVehicleTireState(300, 1, 1); toggleVehicleLights(65537, 5); repairVehicle(1);"
               "explodeVehicle(1)"),
            "");
  Flush();
  ExpectBoth("SetVehicleTireState", Want().u8(44).u8(1).u8(1));
  ExpectBoth("ToggleVehicleLights", Want().c16(1).c8(1));
  ExpectBoth("RepairVehicle", Want().c32(1));
  ExpectBoth("ExplodeVehicle", Want().u32(1));
  EXPECT_EQ(Call("getVehicleTireState(300, 1), getVehicleHealth(1)"), "0,300");
  EXPECT_EQ(Pool().respawnState[1], kRespawnNone);  // only a client's report starts it

  // The light flag is cut to a byte before it is clamped; tyres 1..4 and
  // states 0 or 1 only.
  ASSERT_EQ(Do("toggleVehicleLights(1, 256); setVehicleTireState(44, 0, 1);"
               "setVehicleTireState(44, 5, 1); setVehicleTireState(44, 1, 2); "
               "setVehicleTireState(45, 1, 1)"),
            "");
  Flush();
  EXPECT_TRUE(Got(*alpha_, "ToggleVehicleLights", Want().c16(1).c8(0)));
  EXPECT_EQ(alpha_->Count("SetVehicleTireState"), 1u);

  // What the driver's sync reports is what the getter returns.
  Pool().Get(44)->tyres[3] = 1;
  EXPECT_EQ(Call("getVehicleTireState(44, 4), getVehicleTireState(300, 4)"), "1,1");
  for (const char* refused : {"44, 0", "44, 5", "45, 1"}) {
    EXPECT_EQ(Call(std::string("getVehicleTireState(") + refused + ")"), "") << refused;
  }
}

TEST_F(VehicleNativesTest, SpawnInfoAndRespawn) {
  ASSERT_EQ(Call("createVehicle(130, 1, 2, 3, 4, 5, 6)"), "1");
  ASSERT_EQ(Do("setVehicleSpawnInfo(1, 7, 8, 9, 180)"), "");
  EXPECT_EQ(Call("getVehicleAngle(1), getVehiclePos(1)"), "4,1,2,3");  // the current ones stay
  // Driven just now and a wreck just reported: the frozen clock keeps the
  // respawn machine away while the test pumps.
  VehicleRecord* v = Pool().Get(1);
  v->used = 1;
  v->lastUsedMs = gametest::frozenNowMs;
  v->health = 500;
  v->colour1 = 9;
  Pool().respawnState[1] = kRespawnWreckWaiting;
  ASSERT_EQ(Do("setVehicleToRespawn(1)"), "");
  EXPECT_EQ(Call("getVehicleAngle(1), getVehiclePos(1)"), "180,7,8,9");
  EXPECT_EQ(v->used, 0);
  EXPECT_EQ(+v->lastUsedMs, 0u);
  EXPECT_EQ(+v->health, 500.0f);
  EXPECT_EQ(v->colour1, 9);
  EXPECT_EQ(Pool().respawnState[1], kRespawnWreckWaiting);
  Flush();
  ExpectBoth("SetVehicleSpawnInfo", Want().u32(1).f32(7).f32(8).f32(9).f32(180));
  ExpectBoth("SetVehicleToRespawn", Want().u32(1));
}

TEST_F(VehicleNativesTest, TheVehicleGuardRefusesEverySetterAndGetterAlike) {
  ASSERT_EQ(Call("createVehicle(130, 1, 2, 3, 4, 5, 6)"), "1");
  Pool().Get(1)->locked = 3;
  // 0, beyond the pool, a free slot, negative, 2^32 + 1 (no wrap to 1), text.
  for (const std::string v : {"0", "500", "2", "-1", "4294967297", "'x'"}) {
    ASSERT_EQ(Do("V = " + v), "");
    ASSERT_EQ(Do("setVehiclePos(V, 0, 0, 0); setVehicleAngle(V, 0); setVehicleHealth(V, 0);"
                 "setVehicleSpeed(V, 0); setVehicleColor(V, 0, 0); setVehicleLockedState(V, 0);"
                 "repairVehicle(V); explodeVehicle(V); setVehicleToRespawn(V);"
                 "setVehicleSpawnInfo(V, 0, 0, 0, 0); toggleVehicleLights(V, 1);"
                 "setVehicleTireState(V, 1, 1); putPlayerInVehicle(A, V, 0)"),
              "");
    EXPECT_EQ(
        Call("getVehicleModel(V), getVehicleAngle(V), getVehicleHealth(V), getVehicleSpeed(V),"
             "getVehicleLockedState(V), getVehicleColor(V)"),
        "0,0,0,0,0,-1,-1")
        << v;
    EXPECT_EQ(Call("getVehiclePos(V)"), "0,0,0") << v;
    EXPECT_EQ(Call("getVehicleTireState(V, 1)"), "") << v;
  }
  Flush();
  EXPECT_EQ(Sent(*alpha_), 1u);  // the creation
  EXPECT_EQ(Sent(*bravo_), 1u);
  EXPECT_EQ(Call("getVehicleLockedState(1), getVehiclePos(1)"), "3,1,2,3");
}

TEST_F(VehicleNativesTest, PlayersAndVehicles) {
  ASSERT_EQ(Do("createVehicle(130, 0, 0, 0, 0, 0, 0); createVehicle(130, 0, 0, 0, 0, 0, 0)"), "");
  EXPECT_EQ(Call("isPlayerInAnyVehicle(A), isPlayerInVehicle(A, 1), getPlayerVehicleID(A)"),
            "0,0,0");
  // On foot nothing is sent; the seat is only cut to a byte, and the record
  // waits for the client's sync.
  ASSERT_EQ(Do("removePlayerFromVehicle(A); putPlayerInVehicle(A, 1, 300)"), "");
  Flush();
  EXPECT_EQ(alpha_->Count("RemovePlayerFromVehicle"), 0u);
  EXPECT_TRUE(Got(*alpha_, "PutPlayerInVehicle", Want().u32(1).u8(44)));
  EXPECT_EQ(+Record(a_).vehicle, 0u);

  Record(a_).vehicle = 1;  // as the driver's sync reports it
  EXPECT_EQ(Call("isPlayerInAnyVehicle(A), isPlayerInVehicle(A, 1), isPlayerInVehicle(A, 2),"
                 "getPlayerVehicleID(A)"),
            "1,1,0,1");
  ASSERT_EQ(Do("removePlayerFromVehicle(A)"), "");
  Flush();
  EXPECT_TRUE(Got(*alpha_, "RemovePlayerFromVehicle", Want()));
  // A vehicle the player still sits in, destroyed since: the guard refuses it.
  Record(a_).vehicle = 7;
  EXPECT_EQ(Call("isPlayerInVehicle(A, 7)"), "0");

  // The player guard: beyond 99, a free slot, -1 (255).
  for (const std::string p : {"100", "77", "-1"}) {
    EXPECT_EQ(Call("isPlayerInAnyVehicle(" + p + "), isPlayerInVehicle(" + p + ", 1)"), "0,0") << p;
    EXPECT_EQ(Call("getPlayerVehicleID(" + p + ")"), "") << p;
    ASSERT_EQ(Do("putPlayerInVehicle(" + p + ", 1, 0); removePlayerFromVehicle(" + p + ")"), "");
  }
  Flush();
  EXPECT_EQ(Sent(*bravo_), 2u);  // the two creations
  EXPECT_EQ(alpha_->Count("PutPlayerInVehicle") + alpha_->Count("RemovePlayerFromVehicle"), 2u);
}

// --- without a network ---

TEST(VehicleNativesWithoutAServer, NamesAndRespawnDelay) {
  scripttest::ScriptHost host("");
  const std::string name130 = VehicleNameOfModel(130);
  for (const char* refused : {"180", "165", "129", "237", "-1", "'x'"}) {
    EXPECT_EQ(Eval(std::string("getVehicleNameFromModelID(") + refused + ")"), "nil") << refused;
  }
  EXPECT_EQ(Eval("getVehicleNameFromModelID(65536 + 130.7)"), "'" + name130 + "'");  // low 16 bits
  EXPECT_EQ(Eval("getVehicleModelIDFromName('')"), "130");
  EXPECT_EQ(Eval("getVehicleModelIDFromName(string.upper(getVehicleNameFromModelID(200)))"),
            std::to_string(FindVehicleModelByName(ToLowerCopy(VehicleNameOfModel(200)))));
  for (const char* none : {"'no such vehicle at all'", "nil", "{}"}) {
    EXPECT_EQ(Eval(std::string("getVehicleModelIDFromName(") + none + ")"), "-1") << none;
  }
  // The text ends at its first NUL.
  EXPECT_EQ(Eval("getVehicleModelIDFromName(getVehicleNameFromModelID(200) .. '\\0zz')"),
            std::to_string(FindVehicleModelByName(VehicleNameOfModel(200))));

  // The delay takes the low 32 bits of the truncated number.
  const char* const delays[][2] = {
      {"-1", "4294967295"}, {"4294967296 + 5", "5"}, {"1.9", "1"}, {"60000", "60000"}};
  for (const auto& d : delays) {
    EXPECT_EQ(Eval(std::string("setVehicleRespawnDelay(") + d[0] + ")"), "");
    EXPECT_EQ(std::to_string(gVehicleRespawnDelay), d[1]) << d[0];
  }
  gVehicleRespawnDelay = kDefaultVehicleRespawnDelayMs;

  // No world: every native refuses quietly.
  ASSERT_EQ(gNetGame, nullptr);
  EXPECT_EQ(Eval("createVehicle(130, 0, 0, 0, 0, 0, 0)"), "");
  EXPECT_EQ(
      scripttest::RunLua("destroyVehicle(1); setVehiclePos(1, 0, 0, 0); setVehicleColor(1, 0, 0);"
                         "setVehicleTireState(1, 1, 1); toggleVehicleLights(1, 1);"
                         "putPlayerInVehicle(0, 1, 0); removePlayerFromVehicle(0)"),
      "");
  EXPECT_EQ(Eval("isPlayerInAnyVehicle(0), getVehicleColor(1)"), "0,-1,-1");
  EXPECT_EQ(Eval("getVehiclePos(1)"), "0,0,0");
  EXPECT_EQ(Eval("getVehicleTireState(1, 1)"), "");
}

}  // namespace
