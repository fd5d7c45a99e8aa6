#include "core/objectpool.h"

#include <gtest/gtest.h>

#include "core/world.h"
#include "record_bytes.h"
#include "world_fixture.h"

namespace {

using namespace recordbytes;

void AddGlobal(uint32_t model) { gGlobalObjectPool->Add(model, 1, 2, 3, 4, 5, 6, 7); }

using ObjectPoolTest = WorldTest;

TEST_F(ObjectPoolTest, RecordBytesSitAtTheirWireOffsets) {
  ObjectRecord r{0x12345678, 1.5f, -2.0f, 3.25f, 90.0f, -45.5f, 0.125f, 0xAB};
  EXPECT_EQ(Bytes(r), PlainBytes(0x12345678u, 1.5f, -2.0f, 3.25f, 90.0f, -45.5f, 0.125f, 0xAB_u8));
}

TEST_F(ObjectPoolTest, GlobalCreatesTakeTheLowestFreeIndexUntilTheThousandth) {
  GlobalObjectPool& pool = *gGlobalObjectPool;
  EXPECT_EQ(pool.FindFreeSlot(), 0);
  for (int i = 0; i < 5; ++i) AddGlobal(100 + i);
  ASSERT_TRUE(pool.Destroy(2));
  EXPECT_TRUE(AllZero(pool.records[2]));
  EXPECT_EQ(pool.FindFreeSlot(), 2);
  AddGlobal(900);
  EXPECT_EQ(+pool.records[2].model, 900u);
  EXPECT_EQ(pool.records[2].interior, 7);
  EXPECT_EQ(pool.FindFreeSlot(), 5);

  // Model 0 fills a record that still counts as free.
  pool.Add(0, 9, 9, 9, 9, 9, 9, 9);
  EXPECT_EQ(pool.FindFreeSlot(), 5);
  EXPECT_FALSE(pool.SetPosition(5, 1, 1, 1));

  while (pool.FindFreeSlot() != 999) AddGlobal(1);
  AddGlobal(4242);
  EXPECT_EQ(+pool.records[999].model, 4242u);
  EXPECT_EQ(pool.FindFreeSlot(), kNoObject);
  const ObjectRecord before = pool.records[0];
  AddGlobal(77);  // full: nothing stored anywhere
  EXPECT_EQ(+pool.records[0].model, before.model);
  for (const ObjectRecord& r : pool.records) EXPECT_NE(+r.model, 77u);

  pool.Clear();
  EXPECT_EQ(pool.FindFreeSlot(), 0);
}

TEST_F(ObjectPoolTest, GlobalSettersRefuseIdsOutsideThePoolAndFreeRecords) {
  GlobalObjectPool& pool = *gGlobalObjectPool;
  AddGlobal(400);
  EXPECT_TRUE(pool.SetPosition(0, 10, 20, 30));
  EXPECT_TRUE(pool.SetRotation(0, 40, 50, 60));
  EXPECT_TRUE(pool.SetInterior(0, 3));
  const ObjectRecord& r = pool.Get(0);
  EXPECT_EQ(+r.x, 10.0f);
  EXPECT_EQ(+r.z, 30.0f);
  EXPECT_EQ(+r.rotationX, 40.0f);
  EXPECT_EQ(+r.rotationZ, 60.0f);
  EXPECT_EQ(r.interior, 3);

  for (uint16_t id : {uint16_t{1}, uint16_t{1000}, uint16_t{0xFFFF}}) {
    EXPECT_FALSE(pool.SetPosition(id, 1, 1, 1));
    EXPECT_FALSE(pool.SetRotation(id, 1, 1, 1));
    EXPECT_FALSE(pool.SetInterior(id, 1));
    EXPECT_FALSE(pool.Destroy(id));
  }
  EXPECT_TRUE(AllZero(pool.records[1]));
  EXPECT_TRUE(AllZero(pool.Get(1000)));  // outside the pool reads as free
  EXPECT_TRUE(AllZero(pool.Get(0xFFFF)));
}

TEST_F(ObjectPoolTest, LocalObjectsBelongToAPlayerInUse) {
  LocalObjectPool& pool = *gLocalObjectPool;
  EXPECT_EQ(pool.FindFreeSlot(3), kNoObject);  // not connected
  EXPECT_FALSE(pool.Add(3, 100, 0, 0, 0, 0, 0, 0, 0));
  Join(3);
  Join(4);

  for (int slot = 0; slot < kLocalObjectsPerPlayer; ++slot) {
    ASSERT_EQ(pool.FindFreeSlot(3), slot);
    ASSERT_TRUE(pool.Add(3, 500 + slot, 1, 2, 3, 4, 5, 6, 7));
  }
  EXPECT_EQ(pool.FindFreeSlot(3), kNoObject);
  EXPECT_FALSE(pool.Add(3, 1, 0, 0, 0, 0, 0, 0, 0));  // the 101st
  EXPECT_EQ(pool.FindFreeSlot(4), 0);  // other rows untouched
  EXPECT_TRUE(AllZero(pool.Get(2, 0)));
  EXPECT_TRUE(AllZero(pool.Get(4, 0)));
  EXPECT_EQ(+pool.Get(3, 99).model, 599u);
  EXPECT_EQ(+pool.records[3 * 100 + 42].model, 542u);  // one contiguous row per player

  EXPECT_TRUE(pool.SetPosition(3, 42, 7, 8, 9));
  EXPECT_TRUE(pool.SetRotation(3, 42, 10, 11, 12));
  EXPECT_TRUE(pool.SetInterior(3, 42, 13));
  EXPECT_EQ(+pool.Get(3, 42).y, 8.0f);
  EXPECT_EQ(+pool.Get(3, 42).rotationY, 11.0f);
  EXPECT_EQ(pool.Get(3, 42).interior, 13);

  // Refusals: a slot above 99, a free slot, a player not in use, a player id
  // beyond the pool.
  EXPECT_FALSE(pool.SetPosition(3, 100, 0, 0, 0));
  EXPECT_FALSE(pool.SetPosition(4, 0, 0, 0, 0));
  EXPECT_FALSE(pool.SetPosition(5, 0, 0, 0, 0));
  for (uint16_t player : {uint16_t{100}, uint16_t{261}, uint16_t{0xFFFF}}) {
    EXPECT_EQ(pool.FindFreeSlot(player), kNoObject);
    EXPECT_FALSE(pool.Add(player, 1, 0, 0, 0, 0, 0, 0, 0));
    EXPECT_FALSE(pool.SetPosition(player, 0, 0, 0, 0));
    EXPECT_FALSE(pool.SetRotation(player, 0, 0, 0, 0));
    EXPECT_FALSE(pool.SetInterior(player, 0, 0));
    EXPECT_FALSE(pool.Destroy(player, 0));
    EXPECT_FALSE(pool.ClearPlayer(player));
    EXPECT_TRUE(AllZero(pool.Get(player, 0)));
  }
  EXPECT_TRUE(AllZero(pool.Get(3, 100)));

  // Destroy trusts its caller's player test: the record alone decides.
  EXPECT_TRUE(pool.Destroy(3, 42));
  EXPECT_FALSE(pool.Destroy(3, 42));
  EXPECT_TRUE(AllZero(pool.Get(3, 42)));
  EXPECT_EQ(pool.FindFreeSlot(3), 42);
  EXPECT_FALSE(pool.Destroy(3, 100));

  // ClearPlayer needs the player in use and touches only his row.
  ASSERT_TRUE(pool.Add(4, 20, 0, 0, 0, 0, 0, 0, 0));
  EXPECT_FALSE(pool.ClearPlayer(5));
  EXPECT_TRUE(pool.ClearPlayer(3));
  EXPECT_TRUE(AllZero(pool.Get(3, 0)));
  EXPECT_EQ(+pool.Get(4, 0).model, 20u);
}

}  // namespace
