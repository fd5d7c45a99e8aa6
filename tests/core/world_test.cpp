#include "core/world.h"

#include <gtest/gtest.h>

#include "core/actorpool.h"
#include "core/areapool.h"
#include "core/iconpool.h"
#include "core/markerpool.h"
#include "core/netgame.h"
#include "core/objectpool.h"
#include "core/pickuppool.h"
#include "core/spawnclasspool.h"
#include "core/vehiclepool.h"
#include "core/weaponshops.h"
#include "support/server_fixture.h"
#include "world_fixture.h"

namespace {

// What existed when each layer's hook ran, as a bit per pool.
int seenAt[4];
int Existing() {
  const void* pools[] = {gGlobalObjectPool, gLocalObjectPool, gSpawnClassPool, gStaticActorPool,
                         gWeaponShopTable,  gGlobalPickupPool, gLocalPickupPool, gMarkerPool,
                         gAreaPool,         gGlobalIconPool,  gLocalIconPool,  gNetGame};
  int bits = 0;
  for (int i = 0; i < 12; ++i) bits |= pools[i] ? 1 << i : 0;
  return bits;
}

TEST(WorldAllocationTest, PoolsAppearInTheStartUpOrderAroundTheLayerHooksAndFreeAgain) {
  ASSERT_EQ(gNetGame, nullptr);
  WorldLayerHooks hooks;
  hooks.createScriptEngine = [] { seenAt[0] = Existing(); };
  hooks.createTimerPool = [] { seenAt[1] = Existing(); };
  hooks.createIrcBotTable = [] { seenAt[2] = Existing(); };
  hooks.createSqlManager = [] { seenAt[3] = Existing(); };
  AllocateWorld(hooks);
  EXPECT_EQ(seenAt[0], 0b1111);          // objects, spawn classes, actors
  EXPECT_EQ(seenAt[1], 0b11111);         // and the weapon shops
  EXPECT_EQ(seenAt[2], 0b11111111);      // and pickups and markers
  EXPECT_EQ(seenAt[3], 0b11111111);
  EXPECT_EQ(Existing(), 0b111111111111);  // areas, icons, then the NetGame

  gGlobalObjectPool->Add(400, 0, 0, 0, 0, 0, 0, 0);
  gWeaponShopTable->SetWeaponData(1, 1, 22, 1, 1);
  gWeaponShopsFlag = 1;
  gVehicleRespawnDelay = 5000;

  FreeWorld();
  EXPECT_EQ(Existing(), 1 << 11);  // the NetGame is not the world's to free
  AllocateWorld(WorldLayerHooks{});
  EXPECT_EQ(gGlobalObjectPool->FindFreeSlot(), 0);
  EXPECT_EQ(gWeaponShopTable->Get(1, 1).weapon, 17);  // the defaults again
  // The shops flag and the respawn delay are not part of the world.
  EXPECT_EQ(gWeaponShopsFlag, 1);
  EXPECT_EQ(gVehicleRespawnDelay, 5000u);

  gWeaponShopsFlag = 0;
  gVehicleRespawnDelay = kDefaultVehicleRespawnDelayMs;
  FreeWorld();
  delete gNetGame;
  gNetGame = nullptr;
}

TEST(WorldAllocationTest, StoppingATestServerFreesTheWorld) {
  testing::internal::CaptureStdout();
  {
    InProcessServer server;
    server.Start();
    EXPECT_EQ(Existing(), 0b111111111111);
  }
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(Existing(), 0);
}

using PlayerLocalWorldTest = WorldTest;

TEST_F(PlayerLocalWorldTest, ALeaversObjectsGoAtOnceHisPickupsAndIconsWhenTheSlotIsTaken) {
  Join(6);
  Join(7);
  for (uint8_t p : {6, 7}) {
    ASSERT_TRUE(gLocalPickupPool->AddCashPickup(p, 10, 0, 0, 0));
    ASSERT_TRUE(gLocalIconPool->Add(p, 0, 0, 0, 1, 1, 1));
    ASSERT_TRUE(gLocalObjectPool->Add(p, 100 + p, 1, 1, 1, 1, 1, 1, 1));
  }
  ASSERT_TRUE(gLocalObjectPool->Add(6, 100, 1, 1, 1, 1, 1, 1, 1));
  Leave(6);
  EXPECT_EQ(gLocalObjectPool->FindFreeSlot(6), kNoObject);  // the slot is free...
  for (int slot = 0; slot < kLocalObjectsPerPlayer; ++slot) {
    ASSERT_EQ(+gLocalObjectPool->Get(6, slot).model, 0u);  // ...and its objects gone
  }
  EXPECT_EQ(gLocalPickupPool->Get(6, 0).kind, kPickupCash);
  EXPECT_EQ(gLocalIconPool->Get(6, 0).used, 1);
  Join(6);
  EXPECT_EQ(gLocalPickupPool->Get(6, 0).kind, kPickupFree);
  EXPECT_EQ(gLocalIconPool->Get(6, 0).used, 0);
  EXPECT_EQ(gLocalObjectPool->FindFreeSlot(6), 0);
  EXPECT_EQ(gLocalPickupPool->Get(7, 0).kind, kPickupCash);
  EXPECT_EQ(gLocalIconPool->Get(7, 0).used, 1);
  EXPECT_EQ(+gLocalObjectPool->Get(7, 0).model, 107u);
}

}  // namespace
