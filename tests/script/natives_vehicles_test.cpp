// The vehicle natives through the seam, and the model names and the respawn
// delay without a world.
#include <string>
#include <utility>
#include <vector>

#include "core/netgame.h"
#include "core/playerpool.h"
#include "core/vehiclepool.h"
#include "core/world.h"
#include "script/native_test_support.h"
#include "script/script_host.h"

namespace {

using namespace nativetest;
using scripttest::Eval;
using VehicleNatives = Natives;

// The spawn: the current values, then the same again as the spawn values.
Sent Spawn(uint32_t id, uint32_t model, float x, float y, float z, float angle, uint8_t c1,
           uint8_t c2) {
  Send r = AB("SpawnVehicle");
  r.u32(id).u32(model);
  r.f32(x).f32(y).f32(z).f32(angle).u8(c1).u8(c2).f32(1000);
  r.f32(x).f32(y).f32(z).f32(angle).u8(c1).u8(c2).f32(1000);
  return r.u8(0);
}

TEST_F(VehicleNatives, CreateDestroyAndTheStateTheServerKeeps) {
  VehiclePool& pool = *GetVehiclePool();
  // Colour bytes: 100 and -1 (255) stay, 101 and 127 become 0, 128 stays. Ids
  // keep their low 16 bits.
  // clang-format off
  Check({{"createVehicle(130, 1.5, -2, 3, 90, 101, 200)", "1",
          {Spawn(1, 130, 1.5f, -2, 3, 90, 0, 200)}},
         {"createVehicle(236, 0, 0, 0, 0, 100, -1)", "2", {Spawn(2, 236, 0, 0, 0, 0, 100, 255)}},
         {"getVehicleColor(2)", "100,-1"},
         {"createVehicle(236, 1, 2, 3, 4, 127, 128)", "3", {Spawn(3, 236, 1, 2, 3, 4, 0, 128)}},
         {"getVehicleColor(3)", "0,-128"},
         {"destroyVehicle(65537)", "", {AB("DestroyVehicle").c16(1)}},
         {"getVehicleModel(1)", "0"},
         {"getVehicleModel(2)", "236"},
         {"createVehicle(131, 0, 0, 0, 0, 0, 0)", "1", {Spawn(1, 131, 0, 0, 0, 0, 0, 0)}},
         {"destroyVehicle(1 - 65536)", "", {AB("DestroyVehicle").c16(1)}},
         {"getVehicleModel(1)", "0"}});
  // clang-format on
  // 0, a free slot, beyond the pool, and -1.
  Refused({"0", "4", "500", "1", "-1"}, {"destroyVehicle(#)"});
  Refused({"165", "180", "181", "213", "129", "237", "-1", "130 + 4294967296"},
          {"createVehicle(#, 0, 0, 0, 0, 0, 0)"});
  EXPECT_EQ(pool.FindFreeSlot(), 1);
  pool.Get(3)->locked = 3;
  // Only the driver's sync sets the speed; the spawn values stay; colour bytes
  // 128..254 become 255, 255 and 0..127 stay.
  // clang-format off
  Check({{"setVehiclePos(3, 10.5, -20, 30)", "",
          {AB("SetVehiclePos").u32(3).f32(10.5f).f32(-20).f32(30)}},
         {"getVehiclePos(3)", "10.5,-20,30"},
         {"setVehicleAngle(3, 45)", "", {AB("SetVehicleAngle").u32(3).f32(45)}},
         {"setVehicleHealth(3, 250.5)", "", {AB("SetVehicleHealth").u32(3).f32(250.5f)}},
         {"setVehicleSpeed(3, 3.5)", "", {AB("SetVehicleSpeed").u32(3).f32(3.5f)}},
         {"getVehicleAngle(3)", "45"},
         {"getVehicleHealth(3)", "250.5"},
         {"getVehicleModel(3)", "236"},
         {"getVehicleSpeed(3)", "0"},
         {"getVehicleLockedState(3)", "3"},
         {"setVehicleColor(3, 200, 100)", "", {AB("SetVehicleColor").u32(3).u8(255).u8(100)}},
         {"setVehicleLockedState(3, 258)", "", {AB("ToggleVehicleLocked").u32(3).u8(2)}},
         {"getVehicleLockedState(3)", "2"},
         {"getVehicleColor(3)", "-1,100"},
         {"setVehicleColor(3, 254, 127)", "", {AB("SetVehicleColor").u32(3).u8(255).u8(127)}},
         {"getVehicleColor(3)", "-1,127"},
         {"setVehicleColor(3, -1, 384)", "", {AB("SetVehicleColor").u32(3).u8(255).u8(255)}},
         {"getVehicleColor(3)", "-1,-1"}});
  // clang-format on
  EXPECT_EQ(Field(pool.Get(3)->spawnX), 1.0f);
  EXPECT_EQ(pool.Get(3)->spawnColour1, 0);
  // 0, beyond the pool, a free slot, negative, 2^32 + 3 (no wrap to 3), text.
  const std::vector<std::string> ids = {"0", "500", "1", "-1", "4294967299", "'x'"};
  Refused(ids, {"setVehiclePos(#, 0, 0, 0)", "setVehicleAngle(#, 0)", "setVehicleHealth(#, 0)",
                "setVehicleSpeed(#, 0)", "setVehicleColor(#, 0, 0)", "setVehicleLockedState(#, 0)",
                "repairVehicle(#)", "explodeVehicle(#)", "setVehicleToRespawn(#)",
                "setVehicleSpawnInfo(#, 0, 0, 0, 0)", "toggleVehicleLights(#, 1)",
                "setVehicleTireState(#, 1, 1)", "putPlayerInVehicle(0, #, 0)",
                "getVehicleTireState(#, 1)"});
  Refused(ids,
          {"getVehicleModel(#)", "getVehicleAngle(#)", "getVehicleHealth(#)", "getVehicleSpeed(#)",
           "getVehicleLockedState(#)"},
          "0");
  Refused(ids, {"getVehicleColor(#)"}, "-1,-1");
  Refused(ids, {"getVehiclePos(#)"}, "0,0,0");
  Check({{"getVehicleLockedState(3)", "2"}, {"getVehiclePos(3)", "10.5,-20,30"}});
  while (pool.FindFreeSlot() > 0) pool.Add(130, 0, 0, 0, 0, 0, 0);
  Check({{"createVehicle(130, 0, 0, 0, 0, 0, 0)", ""}});  // a full pool
}

TEST_F(VehicleNatives, ClientSideEffectsSpawnInfoAndPlayers) {
  VehiclePool& pool = *GetVehiclePool();
  while (pool.FindFreeSlot() != 45) pool.Add(130, 1, 2, 3, 4, 5, 6);
  pool.Get(1)->health = 300;
  pool.Get(44)->tyres[3] = 1;  // the tyre as the driver's sync reports it
  // The tyre natives reach a vehicle by its id modulo 256, the lights by
  // 65536; the light flag is cut to a byte before it is clamped; tyres 1..4
  // and states 0 or 1 only.
  // clang-format off
  Check({{"setVehicleTireState(300, 1, 1)", "", {AB("SetVehicleTireState").u8(44).u8(1).u8(1)}},
         {"toggleVehicleLights(65537, 5)", "", {AB("ToggleVehicleLights").c16(1).c8(1)}},
         {"repairVehicle(1)", "", {AB("RepairVehicle").c32(1)}},
         {"explodeVehicle(1)", "", {AB("ExplodeVehicle").u32(1)}},
         {"getVehicleTireState(300, 1)", "0"},
         {"getVehicleHealth(1)", "300"},
         {"toggleVehicleLights(1, 256)", "", {AB("ToggleVehicleLights").c16(1).c8(0)}},
         {"setVehicleTireState(44, 0, 1)", ""},
         {"setVehicleTireState(44, 5, 1)", ""},
         {"setVehicleTireState(44, 1, 2)", ""},
         {"setVehicleTireState(45, 1, 1)", ""},
         {"getVehicleTireState(44, 4)", "1"},
         {"getVehicleTireState(300, 4)", "1"},
         {"getVehicleTireState(44, 0)", ""},
         {"getVehicleTireState(44, 5)", ""},
         {"getVehicleTireState(45, 1)", ""},
         {"setVehicleSpawnInfo(2, 7, 8, 9, 180)", "",
          {AB("SetVehicleSpawnInfo").u32(2).f32(7).f32(8).f32(9).f32(180)}},
         // The current values stay.
         {"getVehicleAngle(2)", "4"},
         {"getVehiclePos(2)", "1,2,3"}});
  // clang-format on
  EXPECT_EQ(pool.respawnState[1], kRespawnNone);  // only a client's report starts it
  // Driven just now and a wreck just reported: the fixed clock keeps the
  // respawn machine away.
  VehicleRecord* v = pool.Get(2);
  v->used = 1;
  v->lastUsedMs = seam.clock.Now();
  v->health = 500;
  v->colour1 = 9;
  pool.respawnState[2] = kRespawnWreckWaiting;
  Check({{"setVehicleToRespawn(2)", "", {AB("SetVehicleToRespawn").u32(2)}},
         {"getVehicleAngle(2)", "180"},
         {"getVehiclePos(2)", "7,8,9"}});
  EXPECT_EQ(v->used, 0);
  EXPECT_EQ(Field(v->lastUsedMs), 0u);
  EXPECT_EQ(Field(v->health), 500.0f);
  EXPECT_EQ(v->colour1, 9);
  EXPECT_EQ(pool.respawnState[2], kRespawnWreckWaiting);

  PlayerRecord& me = GetPlayerPool()->records[0];
  // On foot nothing is sent; the seat is only cut to a byte, and the record
  // waits for the client's sync.
  Check({{"isPlayerInAnyVehicle(0)", "0"},
         {"isPlayerInVehicle(0, 1)", "0"},
         {"getPlayerVehicleID(0)", "0"},
         {"removePlayerFromVehicle(0)", ""},
         {"putPlayerInVehicle(0, 1, 300)", "", {A("PutPlayerInVehicle").u32(1).u8(44)}}});
  EXPECT_EQ(Field(me.vehicle), 0u);
  me.vehicle = 1;
  Check({{"isPlayerInAnyVehicle(0)", "1"},
         {"isPlayerInVehicle(0, 1)", "1"},
         {"isPlayerInVehicle(0, 2)", "0"},
         {"getPlayerVehicleID(0)", "1"},
         {"removePlayerFromVehicle(0)", "", {A("RemovePlayerFromVehicle")}}});
  me.vehicle = 77;  // a vehicle the player still sits in, destroyed since: the guard refuses it
  Check({{"isPlayerInVehicle(0, 77)", "0"}});
  // The player guard: beyond 99, a free slot, -1 (255).
  const std::vector<std::string> players = {"100", "77", "-1"};
  Refused(players, {"isPlayerInAnyVehicle(#)", "isPlayerInVehicle(#, 1)"}, "0");
  Refused(players,
          {"getPlayerVehicleID(#)", "putPlayerInVehicle(#, 1, 0)", "removePlayerFromVehicle(#)"});
}

TEST(VehicleNativesWithoutAWorld, NamesAndRespawnDelay) {
  scripttest::ScriptHost host("");
  const std::pair<std::string, std::string> cases[] = {
      {"getVehicleNameFromModelID(180)", "nil"},
      {"getVehicleNameFromModelID(165)", "nil"},
      {"getVehicleNameFromModelID(129)", "nil"},
      {"getVehicleNameFromModelID(237)", "nil"},
      {"getVehicleNameFromModelID(-1)", "nil"},
      {"getVehicleNameFromModelID('x')", "nil"},
      {"getVehicleNameFromModelID(65536 + 130.7)", "'Compact Sedan'"},  // low 16 bits
      {"getVehicleNameFromModelID(200)", "'Fishing Trawler'"},
      {"getVehicleModelIDFromName('')", "130"},
      {"getVehicleModelIDFromName('FISHING TRAWLER')", "200"},
      {"getVehicleModelIDFromName('no such vehicle')", "-1"},
      {"getVehicleModelIDFromName(nil)", "-1"},
      {"getVehicleModelIDFromName({})", "-1"},
      {"getVehicleModelIDFromName('Fishing Trawler\\0zz')", "200"},  // the text ends at its NUL
      // No world: every native refuses quietly.
      {"createVehicle(130, 0, 0, 0, 0, 0, 0)", ""},
      {"getVehicleTireState(1, 1)", ""},
      {"getVehiclePos(1)", "0,0,0"},
      {"destroyVehicle(1)", ""},
      {"setVehiclePos(1, 0, 0, 0)", ""},
      {"setVehicleColor(1, 0, 0)", ""},
      {"setVehicleTireState(1, 1, 1)", ""},
      {"toggleVehicleLights(1, 1)", ""},
      {"putPlayerInVehicle(0, 1, 0)", ""},
      {"removePlayerFromVehicle(0)", ""},
      {"isPlayerInAnyVehicle(0)", "0"},
      {"getVehicleColor(1)", "-1,-1"},
  };
  for (const auto& [expression, result] : cases) EXPECT_EQ(Eval(expression), result) << expression;
  ASSERT_EQ(gNetGame, nullptr);
  // The delay takes the low 32 bits of the truncated number.
  const std::pair<const char*, uint32_t> delays[] = {
      {"-1", 4294967295u}, {"4294967296 + 5", 5u}, {"1.9", 1u}, {"60000", 60000u}};
  for (const auto& [in, out] : delays) {
    EXPECT_EQ(Eval(std::string("setVehicleRespawnDelay(") + in + ")"), "") << in;
    EXPECT_EQ(gVehicleRespawnDelay, out) << in;
  }
  gVehicleRespawnDelay = kDefaultVehicleRespawnDelayMs;
}

}  // namespace
