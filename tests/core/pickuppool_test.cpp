#include "core/pickuppool.h"

#include <gtest/gtest.h>

#include "core/world.h"
#include "record_bytes.h"
#include "world_fixture.h"

namespace {

using namespace recordbytes;

using PickupPoolTest = WorldTest;

TEST_F(PickupPoolTest, RecordBytesSitAtTheirWireOffsets) {
  GlobalPickupPool& pool = *gGlobalPickupPool;
  ASSERT_TRUE(pool.AddWeaponPickup(31, 0x01020304, 1.5f, -2.5f, 3.75f));
  EXPECT_EQ(Bytes(pool.records[0]),
            PlainBytes(uint8_t{kPickupWeapon}, 3_u8, 31u, 0x01020304u, 1.5f, -2.5f, 3.75f));
}

TEST_F(PickupPoolTest, CreationAppliesTheWeaponAmountAndTypeRules) {
  GlobalPickupPool& pool = *gGlobalPickupPool;
  struct { uint32_t weapon, stored; } weapons[] = {
      {0, 0}, {12, 12}, {13, 0}, {14, 14}, {16, 0}, {29, 29}, {30, 0}, {34, 34},
      {35, 0}, {36, 0}, {0xFFFFFFFF, 0}};
  for (const auto& w : weapons) {
    pool.Clear();
    ASSERT_TRUE(pool.AddWeaponPickup(w.weapon, 50, 0, 0, 0));
    EXPECT_EQ(+pool.Get(0).model, w.stored) << w.weapon;
    EXPECT_EQ(pool.Get(0).pickupType, kWeaponPickupType);
  }

  pool.Clear();
  ASSERT_TRUE(pool.AddCashPickup(2000000000u, 1, 2, 3));
  ASSERT_TRUE(pool.AddCashPickup(0xFFFFFFFFu, 1, 2, 3));  // -1 from a script
  ASSERT_TRUE(pool.AddCashPickup(1000000000u, 1, 2, 3));
  ASSERT_TRUE(pool.AddWeaponPickup(22, 2000000000u, 1, 2, 3));
  ASSERT_TRUE(pool.AddGenericPickup(1240, 200, 4, 5, 6));
  ASSERT_TRUE(pool.AddGenericPickup(1241, 50, 4, 5, 6));
  EXPECT_EQ(+pool.Get(0).amount, kMaxPickupAmount);
  EXPECT_EQ(+pool.Get(1).amount, kMaxPickupAmount);
  EXPECT_EQ(+pool.Get(2).amount, 1000000000u);
  EXPECT_EQ(+pool.Get(3).amount, kMaxPickupAmount);
  EXPECT_EQ(pool.Get(0).kind, kPickupCash);
  EXPECT_EQ(pool.Get(0).pickupType, 0);
  EXPECT_EQ(+pool.Get(0).model, 0u);
  EXPECT_EQ(+pool.Get(0).z, 3.0f);
  EXPECT_EQ(pool.Get(4).kind, kPickupGeneric);
  EXPECT_EQ(pool.Get(4).pickupType, 50);
  EXPECT_EQ(+pool.Get(4).model, 1240u);
  EXPECT_EQ(+pool.Get(4).amount, 0u);
  EXPECT_EQ(pool.Get(5).pickupType, 50);
}

TEST_F(PickupPoolTest, GlobalPoolFillsOneHundredAndDestroyZeroes) {
  GlobalPickupPool& pool = *gGlobalPickupPool;
  while (pool.FindFreeSlot() >= 0) ASSERT_TRUE(pool.AddCashPickup(5, 0, 0, 0));
  EXPECT_FALSE(pool.AddCashPickup(5, 0, 0, 0));
  EXPECT_FALSE(pool.AddWeaponPickup(22, 5, 0, 0, 0));
  EXPECT_FALSE(pool.AddGenericPickup(1, 1, 0, 0, 0));
  EXPECT_TRUE(pool.Destroy(42));
  EXPECT_FALSE(pool.Destroy(42));
  EXPECT_TRUE(AllZero(pool.Get(42)));
  EXPECT_FALSE(pool.Destroy(100));
  EXPECT_FALSE(pool.Destroy(255));
  EXPECT_TRUE(AllZero(pool.Get(100)));
  EXPECT_EQ(pool.FindFreeSlot(), 42);
}

TEST_F(PickupPoolTest, LocalPickupsNeedAPlayerInUseAndStayInHisRow) {
  LocalPickupPool& pool = *gLocalPickupPool;
  EXPECT_EQ(pool.FindFreeSlot(4), -1);  // not connected
  EXPECT_FALSE(pool.AddCashPickup(4, 1, 0, 0, 0));
  Join(4);
  Join(5);
  for (int slot = 0; slot < kLocalPickupsPerPlayer; ++slot) {
    ASSERT_EQ(pool.FindFreeSlot(4), slot);
    ASSERT_TRUE(pool.AddGenericPickup(4, 1000 + slot, 255, 0, 0, 0));
  }
  EXPECT_EQ(pool.FindFreeSlot(4), -1);
  EXPECT_FALSE(pool.AddCashPickup(4, 1, 0, 0, 0));  // the 26th
  for (int slot = 0; slot < kLocalPickupsPerPlayer; ++slot) {
    ASSERT_TRUE(pool.AddWeaponPickup(5, 30, 7, 0, 0, 0));
  }
  EXPECT_EQ(+pool.Get(4, 24).model, 1024u);
  EXPECT_EQ(pool.Get(4, 24).pickupType, 50);
  EXPECT_EQ(+pool.Get(5, 0).model, 0u);  // weapon 30 becomes 0
  EXPECT_EQ(+pool.records[4 * 25 + 3].model, 1003u);

  EXPECT_TRUE(pool.Destroy(4, 3));
  EXPECT_FALSE(pool.Destroy(4, 3));
  EXPECT_FALSE(pool.Destroy(4, 25));
  EXPECT_TRUE(AllZero(pool.Get(4, 3)));
  EXPECT_EQ(pool.FindFreeSlot(4), 3);

  for (uint16_t player : {uint16_t{100}, uint16_t{0xFFFF}}) {
    EXPECT_EQ(pool.FindFreeSlot(player), -1);
    EXPECT_FALSE(pool.AddCashPickup(player, 1, 0, 0, 0));
    EXPECT_FALSE(pool.Destroy(player, 0));
    EXPECT_FALSE(pool.ClearPlayer(player));
    EXPECT_TRUE(AllZero(pool.Get(player, 0)));
  }
  EXPECT_TRUE(AllZero(pool.Get(4, 25)));
}

}  // namespace
