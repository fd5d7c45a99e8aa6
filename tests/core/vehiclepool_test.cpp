// The vehicle pool's own rules and its respawn machine as the clients see it.
#include "core/vehiclepool.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>

#include "support/seam.h"

namespace {

using support::Line;
using support::Want;

class VehicleTest : public ::testing::Test {
 protected:
  // One player joins; one never does, yet hears the respawn notices.
  void SetUp() override {
    seam.Join("Alice");
    seam.Connect();
  }
  ~VehicleTest() override { gVehicleRespawnDelay = kDefaultVehicleRespawnDelayMs; }
  // One main-loop pass at `ms` after the start; what it sent.
  std::string At(uint32_t ms) {
    seam.clock.Set(t0 + ms);
    seam.Pump();
    return seam.Take();
  }
  static std::string Notice(const char* name, uint16_t id) {
    return Line(name, {0, 1}, Want().c16(id));
  }
  support::Seam seam;
  VehiclePool& pool = *GetVehiclePool();
  const uint32_t t0 = seam.clock.Now();
};

TEST_F(VehicleTest, ModelsOutsideTheTableAreRefusedAndSpawnVehicleGoesToJoinedPlayersOnly) {
  for (uint32_t model : {129u, 237u, 165u, 180u, 181u, 213u, 0u, 0xFFFFFFFFu, 0x10000082u})
    EXPECT_EQ(pool.Add(model, 0, 0, 0, 0, 0, 0), -1) << model;
  EXPECT_EQ(pool.Add(236, 0, 0, 0, 0, 0, 0), 1);
  ASSERT_EQ(pool.Add(200, 1.5f, -2.5f, 3.25f, 90.0f, 3, 250), 2);
  VehicleRecord& car = *pool.Get(2);
  EXPECT_EQ(std::string(car.tyres, car.tyres + 4), std::string(4, '\0'));  // all tyres whole
  // Current values, not the spawn ones.
  car.x = 11.0f;
  car.health = 640.0f;
  car.locked = 1;
  SpawnVehicleForAll(2);
  // Id, model, the spawn values (health 1000), then the current ones, locked.
  Rpc spawn = Want();
  spawn.u32(2).u32(200);
  spawn.f32(1.5f).f32(-2.5f).f32(3.25f).f32(90).u8(3).u8(250).f32(1000);
  spawn.f32(11).f32(-2.5f).f32(3.25f).f32(90).u8(3).u8(250).f32(640).u8(1);
  EXPECT_EQ(seam.Take(), Line("SpawnVehicle", {0}, spawn));
  pool.ProcessRespawn(500);
  pool.ProcessRespawn(0xFFFF);
  pool.DeleteAll();
  for (size_t id = 0; id < std::size(pool.inUse); ++id) {
    ASSERT_EQ(+pool.inUse[id], 0) << id;
    ASSERT_EQ(pool.records[id], nullptr) << id;
  }
  EXPECT_EQ(pool.Add(130, 0, 0, 0, 0, 0, 0), 1);
  // A clock reading 0 stamps 1, and a vehicle driven then still respawns.
  seam.clock.Set(0);
  ASSERT_TRUE(pool.MarkUsed(1, 0));
  ASSERT_TRUE(pool.ReportDestroyed(1, false));
  EXPECT_EQ(+pool.Get(1)->lastUsedMs, 1u);
  EXPECT_EQ(pool.stateTime[1], 1u);
  seam.clock.Set(120000 + 2);  // the delay is 120000 ms unless set
  pool.CheckRespawns();
  EXPECT_EQ(+pool.Get(1)->used, 0);
  EXPECT_EQ(+pool.Get(1)->lastUsedMs, 0u);
}

TEST_F(VehicleTest, AReportIsTakenOnlyWhileNoRespawnIsUnderWayAndAWreckReturnsAfterTenSeconds) {
  ASSERT_EQ(pool.Add(130, 5, 6, 7, 0, 1, 1), 1);
  ASSERT_EQ(pool.Add(131, 5, 6, 7, 0, 1, 1), 2);
  seam.clock.Set(t0 + 5000);
  ASSERT_TRUE(pool.ReportDestroyed(2, true));
  ASSERT_TRUE(pool.ReportDestroyed(1, false));
  EXPECT_EQ(pool.respawnState[2], kRespawnDestroyed);
  seam.clock.Set(t0 + 6000);
  EXPECT_FALSE(pool.ReportDestroyed(2, false));  // state 1: nothing changes
  EXPECT_EQ(+pool.destroyedFlag[2], 1);
  EXPECT_EQ(pool.stateTime[2], t0 + 5000);
  EXPECT_EQ(At(6000), Notice("Respawn_ExplodeVehicle", 2));  // the flagged wreck only
  EXPECT_EQ(pool.respawnState[1], kRespawnWreckWaiting);
  EXPECT_EQ(pool.respawnState[2], kRespawnWreckWaiting);
  EXPECT_FALSE(pool.ReportDestroyed(2, true));  // state 2
  EXPECT_EQ(+pool.destroyedFlag[2], 0);
  EXPECT_EQ(pool.stateTime[2], t0 + 5000);
  pool.Get(2)->x = 99.0f;    // the last position a sync packet reported
  EXPECT_EQ(At(15000), "");  // exactly 10000 ms: still wrecks
  EXPECT_EQ(At(15001),
            Notice("Respawn_RespawnVehicle", 1) + "\n" + Notice("Respawn_RespawnVehicle", 2));
  // The place is kept until the next sync says otherwise.
  EXPECT_EQ(pool.respawnState[1], kRespawnNone);
  EXPECT_EQ(pool.respawnState[2], kRespawnNone);
  EXPECT_EQ(pool.stateTime[1], 0u);
  EXPECT_EQ(+pool.Get(2)->x, 99.0f);
  EXPECT_TRUE(pool.ReportDestroyed(1, false));  // the machine is free again

  // A driven vehicle left alone is respawned once; vehicle 3 is never driven.
  ASSERT_EQ(pool.Add(130, 0, 0, 0, 0, 1, 1), 3);
  ASSERT_EQ(pool.Add(131, 0, 0, 0, 0, 1, 1), 4);
  ASSERT_TRUE(pool.MarkUsed(3, t0 + 20000));
  EXPECT_EQ(At(20000 + 120000), "");
  EXPECT_EQ(At(20001 + 120000),  // with the wreck of 1 reported above
            Notice("Respawn_RespawnVehicle", 1) + "\n" + Notice("Respawn_RespawnVehicle", 3));
  EXPECT_EQ(+pool.Get(3)->used, 0);
  EXPECT_EQ(+pool.Get(3)->lastUsedMs, 0u);
  EXPECT_EQ(At(20001 + 10 * 120000), "");  // neither comes back
  // A wreck left alone longer than the delay goes without waiting the wreck time.
  gVehicleRespawnDelay = 30000;
  ASSERT_TRUE(pool.MarkUsed(4, t0 + 2000000));
  seam.clock.Set(t0 + 2028000);
  ASSERT_TRUE(pool.ReportDestroyed(4, true));
  EXPECT_EQ(At(2028000), Notice("Respawn_ExplodeVehicle", 4));
  EXPECT_EQ(At(2030001), Notice("Respawn_RespawnVehicle", 4));  // 30001 ms after the last drive
  EXPECT_EQ(pool.respawnState[4], kRespawnNone);
}

}  // namespace
