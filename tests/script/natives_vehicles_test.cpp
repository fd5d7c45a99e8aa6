// The vehicle natives through the seam, and the model names and the respawn
// delay without a world.
#include <string>

#include "core/names.h"
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

// The spawn: the current values, then the same as the spawn values.
Sent Spawn(uint32_t id, uint32_t model, float x, float y, float z, float angle, uint8_t c1, uint8_t c2) {
  Send r = AB("SpawnVehicle");
  r.u32(id).u32(model);
  for (int i = 0; i < 2; ++i) r.f32(x).f32(y).f32(z).f32(angle).u8(c1).u8(c2).f32(1000);
  return r.u8(0);
}

TEST_F(VehicleNatives, CreateDestroyAndTheStateTheServerKeeps) {
  VehiclePool& pool = *GetVehiclePool();
  // Colour bytes: 100 and -1 (255) stay, 101 and 127 become 0, 128 stays. Ids keep their low 16 bits.
  Check({{"createVehicle(130, 1.5, -2, 3, 90, 101, 200)", "1", {Spawn(1, 130, 1.5f, -2, 3, 90, 0, 200)}},
         {"createVehicle(236, 0, 0, 0, 0, 100, -1), getVehicleColor(2)", "2,100,-1", {Spawn(2, 236, 0, 0, 0, 0, 100, 255)}},
         {"createVehicle(236, 1, 2, 3, 4, 127, 128), getVehicleColor(3)", "3,0,-128", {Spawn(3, 236, 1, 2, 3, 4, 0, 128)}},
         {"destroyVehicle(65537), n(getVehicleModel(2))", "nil,1", {AB("DestroyVehicle").c16(1)}},
         {"createVehicle(131, 0, 0, 0, 0, 0, 0)", "1", {Spawn(1, 131, 0, 0, 0, 0, 0, 0)}},
         {"destroyVehicle(1 - 65536), getVehicleModel(1)", "nil,0", {AB("DestroyVehicle").c16(1)}},
         {"do destroyVehicle(0) destroyVehicle(4) destroyVehicle(500) destroyVehicle(1) destroyVehicle(-1) end", ""}});
  Refused({"165", "180", "181", "213", "129", "237", "-1", "130 + 4294967296"}, {"createVehicle(#, 0, 0, 0, 0, 0, 0)"});
  EXPECT_EQ(pool.FindFreeSlot(), 1);
  pool.Get(3)->locked = 3;
  // Only the driver's sync sets the speed; the spawn values stay; colour bytes
  // 128..254 become 255, 255 and 0..127 stay.
  Check({{"setVehiclePos(3, 10.5, -20, 30), getVehiclePos(3)", "nil,10.5,-20,30",
          {AB("SetVehiclePos").u32(3).f32(10.5f).f32(-20).f32(30)}},
         {"setVehicleAngle(3, 45)", "", {AB("SetVehicleAngle").u32(3).f32(45)}},
         {"setVehicleHealth(3, 250.5)", "", {AB("SetVehicleHealth").u32(3).f32(250.5f)}},
         {"setVehicleSpeed(3, 3.5)", "", {AB("SetVehicleSpeed").u32(3).f32(3.5f)}},
         {"getVehicleAngle(3), getVehicleHealth(3), getVehicleModel(3), getVehicleSpeed(3), getVehicleLockedState(3)", "45,250.5,236,0,3"},
         {"setVehicleColor(3, 200, 100)", "", {AB("SetVehicleColor").u32(3).u8(255).u8(100)}},
         {"setVehicleLockedState(3, 258), getVehicleLockedState(3), getVehicleColor(3)", "nil,2,-1,100",
          {AB("ToggleVehicleLocked").u32(3).u8(2)}},
         {"setVehicleColor(3, 254, 127), getVehicleColor(3)", "nil,-1,127", {AB("SetVehicleColor").u32(3).u8(255).u8(127)}},
         {"setVehicleColor(3, -1, 384), getVehicleColor(3)", "nil,-1,-1", {AB("SetVehicleColor").u32(3).u8(255).u8(255)}}});
  EXPECT_EQ(pool.Get(3)->spawnX + pool.Get(3)->spawnColour1, 1.0f + 0);
  // 0, beyond the pool, a free slot, negative, 2^32 + 3 (no wrap to 3), text.
  const std::vector<std::string> ids = {"0", "500", "1", "-1", "4294967299", "'x'"};
  Refused(ids, {"do setVehiclePos(#, 0, 0, 0) setVehicleAngle(#, 0) setVehicleHealth(#, 0) setVehicleSpeed(#, 0) end",
                "do setVehicleColor(#, 0, 0) setVehicleLockedState(#, 0) repairVehicle(#) explodeVehicle(#) end",
                "do setVehicleToRespawn(#) setVehicleSpawnInfo(#, 0, 0, 0, 0) toggleVehicleLights(#, 1) end",
                "do setVehicleTireState(#, 1, 1) putPlayerInVehicle(0, #, 0) end", "getVehicleTireState(#, 1)"});
  Refused(ids, {"getVehicleModel(#), getVehicleAngle(#), getVehicleHealth(#), getVehicleSpeed(#), getVehicleLockedState(#), "
                "getVehicleColor(#)"}, "0,0,0,0,0,-1,-1");
  Refused(ids, {"getVehiclePos(#)"}, "0,0,0");
  Check({{"getVehicleLockedState(3), getVehiclePos(3)", "2,10.5,-20,30"}});
  while (pool.FindFreeSlot() > 0) pool.Add(130, 0, 0, 0, 0, 0, 0);
  Check({{"createVehicle(130, 0, 0, 0, 0, 0, 0)", ""}});  // a full pool
}

TEST_F(VehicleNatives, ClientSideEffectsSpawnInfoAndPlayers) {
  VehiclePool& pool = *GetVehiclePool();
  while (pool.FindFreeSlot() != 45) pool.Add(130, 1, 2, 3, 4, 5, 6);
  pool.Get(1)->health = 300, pool.Get(44)->tyres[3] = 1;  // the tyre as the driver's sync reports it
  // The tyre natives reach a vehicle by its id modulo 256, the lights by 65536;
  // the light flag is cut to a byte before it is clamped; tyres 1..4 and states 0 or 1 only.
  Check({{"setVehicleTireState(300, 1, 1)", "", {AB("SetVehicleTireState").u8(44).u8(1).u8(1)}},
         {"toggleVehicleLights(65537, 5)", "", {AB("ToggleVehicleLights").c16(1).c8(1)}},
         {"repairVehicle(1)", "", {AB("RepairVehicle").c32(1)}}, {"explodeVehicle(1)", "", {AB("ExplodeVehicle").u32(1)}},
         {"getVehicleTireState(300, 1), getVehicleHealth(1)", "0,300"},
         {"toggleVehicleLights(1, 256)", "", {AB("ToggleVehicleLights").c16(1).c8(0)}},
         {"do setVehicleTireState(44, 0, 1) setVehicleTireState(44, 5, 1) setVehicleTireState(44, 1, 2) "
          "setVehicleTireState(45, 1, 1) end", ""},
         {"getVehicleTireState(44, 4), getVehicleTireState(300, 4)", "1,1"},
         {"n(getVehicleTireState(44, 0)), n(getVehicleTireState(44, 5)), n(getVehicleTireState(45, 1))", "0,0,0"},
         {"setVehicleSpawnInfo(2, 7, 8, 9, 180)", "", {AB("SetVehicleSpawnInfo").u32(2).f32(7).f32(8).f32(9).f32(180)}},
         {"getVehicleAngle(2), getVehiclePos(2)", "4,1,2,3"}});  // the current ones stay
  EXPECT_EQ(pool.respawnState[1], kRespawnNone);  // only a client's report starts it
  // Driven just now and a wreck just reported: the fixed clock keeps the respawn machine away.
  VehicleRecord* v = pool.Get(2);
  v->used = 1, v->lastUsedMs = seam.clock.Now(), v->health = 500, v->colour1 = 9;
  pool.respawnState[2] = kRespawnWreckWaiting;
  Check({{"setVehicleToRespawn(2), getVehicleAngle(2), getVehiclePos(2)", "nil,180,7,8,9", {AB("SetVehicleToRespawn").u32(2)}}});
  EXPECT_TRUE(v->used == 0 && v->lastUsedMs == 0 && v->health == 500 && v->colour1 == 9);
  EXPECT_EQ(pool.respawnState[2], kRespawnWreckWaiting);

  PlayerRecord& me = GetPlayerPool()->records[0];
  // On foot nothing is sent; the seat is only cut to a byte, and the record waits for the client's sync.
  Check({{"isPlayerInAnyVehicle(0), isPlayerInVehicle(0, 1), getPlayerVehicleID(0), removePlayerFromVehicle(0)", "0,0,0"},
         {"putPlayerInVehicle(0, 1, 300)", "", {A("PutPlayerInVehicle").u32(1).u8(44)}}});
  EXPECT_EQ(+me.vehicle, 0u);
  me.vehicle = 1;
  Check({{"isPlayerInAnyVehicle(0), isPlayerInVehicle(0, 1), isPlayerInVehicle(0, 2), getPlayerVehicleID(0)", "1,1,0,1"},
         {"removePlayerFromVehicle(0)", "", {A("RemovePlayerFromVehicle")}}});
  me.vehicle = 77;  // a vehicle the player still sits in, destroyed since: the guard refuses it
  Check({{"isPlayerInVehicle(0, 77)", "0"}});
  // The player guard: beyond 99, a free slot, -1 (255).
  Refused({"100", "77", "-1"}, {"isPlayerInAnyVehicle(#), isPlayerInVehicle(#, 1), n(getPlayerVehicleID(#))"}, "0,0,0");
  Refused({"100", "77", "-1"}, {"do putPlayerInVehicle(#, 1, 0) removePlayerFromVehicle(#) end"});
}

TEST(VehicleNativesWithoutAWorld, NamesAndRespawnDelay) {
  scripttest::ScriptHost host("");
  const std::string name130 = VehicleNameOfModel(130), name200 = VehicleNameOfModel(200);
  const std::pair<std::string, std::string> cases[] = {
      {"getVehicleNameFromModelID(180), getVehicleNameFromModelID(165), getVehicleNameFromModelID(129)", "nil,nil,nil"},
      {"getVehicleNameFromModelID(237), getVehicleNameFromModelID(-1), getVehicleNameFromModelID('x')", "nil,nil,nil"},
      {"getVehicleNameFromModelID(65536 + 130.7), getVehicleModelIDFromName('')", "'" + name130 + "',130"},  // low 16 bits
      {"getVehicleModelIDFromName(string.upper(getVehicleNameFromModelID(200)))",
       std::to_string(FindVehicleModelByName(ToLowerCopy(name200)))},
      {"getVehicleModelIDFromName('no such vehicle'), getVehicleModelIDFromName(nil), getVehicleModelIDFromName({})", "-1,-1,-1"},
      {"getVehicleModelIDFromName(getVehicleNameFromModelID(200) .. '\\0zz')",  // the text ends at its first NUL
       std::to_string(FindVehicleModelByName(name200))},
      // No world: every native refuses quietly.
      {"createVehicle(130, 0, 0, 0, 0, 0, 0)", ""}, {"select('#', getVehicleTireState(1, 1)), getVehiclePos(1)", "0,0,0,0"},
      {"(function() destroyVehicle(1) setVehiclePos(1, 0, 0, 0) setVehicleColor(1, 0, 0) setVehicleTireState(1, 1, 1) "
       "toggleVehicleLights(1, 1) putPlayerInVehicle(0, 1, 0) removePlayerFromVehicle(0) end)()", ""},
      {"isPlayerInAnyVehicle(0), getVehicleColor(1)", "0,-1,-1"}};
  for (const auto& [expression, result] : cases) EXPECT_EQ(Eval(expression), result) << expression;
  ASSERT_EQ(gNetGame, nullptr);
  // The delay takes the low 32 bits of the truncated number.
  // The call's result comes first: a member call's object is evaluated before its argument.
  for (const auto& [in, out] : {std::pair{"-1", 4294967295u}, {"4294967296 + 5", 5u}, {"1.9", 1u}, {"60000", 60000u}})
    EXPECT_EQ(Eval(std::string("setVehicleRespawnDelay(") + in + ")").append(std::to_string(gVehicleRespawnDelay)),
              std::to_string(out)) << in;
  gVehicleRespawnDelay = kDefaultVehicleRespawnDelayMs;
}

}  // namespace
