// The vehicle pool's own rules and its respawn machine as the clients see it.
#include "core/vehiclepool.h"

#include <gtest/gtest.h>

#include "record_bytes.h"
#include "support/seam.h"

namespace {

using support::Line;
using support::Want;

class VehicleTest : public ::testing::Test {
 protected:
  void SetUp() override { seam.Join("Alice"), seam.Connect(); }  // one never joins, yet hears the respawn notices
  ~VehicleTest() override { gVehicleRespawnDelay = kDefaultVehicleRespawnDelayMs; }
  // One main-loop pass at `ms` after the start; what it sent.
  std::string At(uint32_t ms) { seam.clock.Set(t0 + ms), seam.Pump(); return seam.Take(); }
  static std::string Notice(const char* name, uint16_t id) { return Line(name, {0, 1}, Want().c16(id)); }
  support::Seam seam;
  VehiclePool& pool = *GetVehiclePool();
  const uint32_t t0 = seam.clock.Now();
};

TEST_F(VehicleTest, ModelsOutsideTheTableAreRefusedAndSpawnVehicleGoesToJoinedPlayersOnly) {
  for (uint32_t model : {129u, 237u, 165u, 180u, 181u, 213u, 0u, 0xFFFFFFFFu, 0x10000082u})
    EXPECT_EQ(pool.Add(model, 0, 0, 0, 0, 0, 0), -1) << model;
  EXPECT_EQ(pool.Add(236, 0, 0, 0, 0, 0, 0), 1);
  ASSERT_EQ(pool.Add(200, 1.5f, -2.5f, 3.25f, 90.0f, 3, 250), 2);
  EXPECT_EQ(std::string(pool.Get(2)->tyres, pool.Get(2)->tyres + 4), std::string(4, '\0'));  // all tyres whole
  pool.Get(2)->x = 11.0f, pool.Get(2)->health = 640.0f, pool.Get(2)->locked = 1;  // current values, not the spawn ones
  SpawnVehicleForAll(2);
  // Id, model, the spawn values (health 1000), then the current ones, locked.
  EXPECT_EQ(seam.Take(), Line("SpawnVehicle", {0}, Want().u32(2).u32(200).f32(1.5f).f32(-2.5f).f32(3.25f).f32(90).u8(3)
                                                        .u8(250).f32(1000).f32(11).f32(-2.5f).f32(3.25f).f32(90).u8(3)
                                                        .u8(250).f32(640).u8(1)));
  pool.ProcessRespawn(kMaxVehicles), pool.ProcessRespawn(0xFFFF);
  pool.DeleteAll();
  for (int id = 0; id < kMaxVehicles; ++id) ASSERT_TRUE(!pool.inUse[id] && !pool.records[id]) << id;
  EXPECT_EQ(pool.Add(130, 0, 0, 0, 0, 0, 0), 1);
  // A clock reading 0 stamps 1, and a vehicle driven then still respawns.
  seam.clock.Set(0);
  ASSERT_TRUE(pool.MarkUsed(1, 0) && pool.ReportDestroyed(1, false));
  EXPECT_EQ(Values(pool.Get(1)->lastUsedMs, pool.stateTime[1]), Values(1, 1));
  seam.clock.Set(kDefaultVehicleRespawnDelayMs + 2);
  pool.CheckRespawns();
  EXPECT_EQ(Values(pool.Get(1)->used, pool.Get(1)->lastUsedMs), Values(0, 0));
}

TEST_F(VehicleTest, AReportIsTakenOnlyWhileNoRespawnIsUnderWayAndAWreckReturnsAfterTenSeconds) {
  ASSERT_EQ(pool.Add(130, 5, 6, 7, 0, 1, 1) + pool.Add(131, 5, 6, 7, 0, 1, 1), 1 + 2);
  seam.clock.Set(t0 + 5000);
  ASSERT_TRUE(pool.ReportDestroyed(2, true) && pool.ReportDestroyed(1, false));
  EXPECT_EQ(pool.respawnState[2], kRespawnDestroyed);
  seam.clock.Set(t0 + 6000);
  EXPECT_FALSE(pool.ReportDestroyed(2, false));  // state 1: nothing changes
  EXPECT_EQ(Values(pool.destroyedFlag[2], pool.stateTime[2]), Values(1, t0 + 5000));
  EXPECT_EQ(At(6000), Notice("Respawn_ExplodeVehicle", 2));  // the flagged wreck only
  EXPECT_EQ(Values(pool.respawnState[1], pool.respawnState[2]), Values(kRespawnWreckWaiting, kRespawnWreckWaiting));
  EXPECT_FALSE(pool.ReportDestroyed(2, true));  // state 2
  EXPECT_EQ(Values(pool.destroyedFlag[2], pool.stateTime[2]), Values(0, t0 + 5000));
  pool.Get(2)->x = 99.0f;  // the last position a sync packet reported
  EXPECT_EQ(At(15000), "");  // exactly 10000 ms: still wrecks
  EXPECT_EQ(At(15001), Notice("Respawn_RespawnVehicle", 1) + "\n" + Notice("Respawn_RespawnVehicle", 2));
  // The place is kept until the next sync says otherwise.
  EXPECT_EQ(Values(pool.respawnState[1], pool.respawnState[2], pool.stateTime[1], pool.Get(2)->x), Values(0, 0, 0, 99));
  EXPECT_TRUE(pool.ReportDestroyed(1, false));  // the machine is free again

  // A driven vehicle left alone is respawned once; vehicle 3 is never driven.
  ASSERT_EQ(pool.Add(130, 0, 0, 0, 0, 1, 1) + pool.Add(131, 0, 0, 0, 0, 1, 1), 3 + 4);
  ASSERT_TRUE(pool.MarkUsed(3, t0 + 20000));
  EXPECT_EQ(At(20000 + kDefaultVehicleRespawnDelayMs), "");
  EXPECT_EQ(At(20001 + kDefaultVehicleRespawnDelayMs),  // with the wreck of 1 reported above
            Notice("Respawn_RespawnVehicle", 1) + "\n" + Notice("Respawn_RespawnVehicle", 3));
  EXPECT_EQ(Values(pool.Get(3)->used, pool.Get(3)->lastUsedMs), Values(0, 0));
  EXPECT_EQ(At(20001 + 10 * kDefaultVehicleRespawnDelayMs), "");  // neither comes back
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
