#include "core/iconpool.h"

#include <gtest/gtest.h>

#include <memory>

#include "record_bytes.h"

namespace {

using namespace recordbytes;

TEST(IconPoolTest, RecordBytesSitAtTheirWireOffsets) {
  GlobalIconPool pool;
  ASSERT_TRUE(pool.Add(1.5f, -2.5f, 100.0f, 0x33, 0x22, 7));
  ASSERT_TRUE(pool.SetColor(0, 0x10, 0x20, 0x30, 0x40));
  ASSERT_TRUE(pool.SetFlashing(0, 1));
  // used, option flag, size, type, position, colour, flashing
  EXPECT_EQ(Bytes(pool.records[0]), PlainBytes(1_u8, 1_u8, 0x22_u8, 0x33_u8, 1.5f, -2.5f, 100.0f,
                                               0x10_u8, 0x20_u8, 0x30_u8, 0x40_u8, 1_u8));}

TEST(IconPoolTest, GlobalIconsStartOpaqueWhiteAndFillOneHundredIds) {
  GlobalIconPool pool;
  ASSERT_TRUE(pool.Add(0, 0, 0, 5, 2, 7));
  const IconRecord& r = pool.Get(0);
  EXPECT_EQ(r.optionFlag, 1);  // any non-zero flag
  EXPECT_EQ(r.flashing, 0);
  for (uint8_t c : r.colour) EXPECT_EQ(c, 0xFF);
  ASSERT_TRUE(pool.Add(0, 0, 0, 5, 2, 0));
  EXPECT_EQ(pool.Get(1).optionFlag, 0);

  while (pool.FindFreeSlot() >= 0) ASSERT_TRUE(pool.Add(0, 0, 0, 1, 1, 1));
  EXPECT_FALSE(pool.Add(0, 0, 0, 1, 1, 1));
  EXPECT_TRUE(pool.Destroy(5));
  EXPECT_TRUE(AllZero(pool.Get(5)));
  EXPECT_EQ(pool.FindFreeSlot(), 5);
  ASSERT_TRUE(pool.Add(9, 9, 9, 9, 9, 9));
  EXPECT_EQ(pool.Get(5).type, 9);
}

TEST(IconPoolTest, GlobalSettersRefuseFreeRecordsAndIdsAbove99) {
  GlobalIconPool pool;
  ASSERT_TRUE(pool.Add(0, 0, 0, 1, 1, 1));
  EXPECT_TRUE(pool.SetPosition(0, 4, 5, 6));
  EXPECT_TRUE(pool.SetSize(0, 77));
  EXPECT_TRUE(pool.SetFlashing(0, 1));
  EXPECT_EQ(+pool.Get(0).y, 5.0f);
  EXPECT_EQ(pool.Get(0).size, 77);
  ASSERT_TRUE(pool.Destroy(0));
  for (uint16_t id : {uint16_t{0}, uint16_t{100}, uint16_t{0xFFFF}}) {
    EXPECT_FALSE(pool.SetFlashing(id, 1));
    EXPECT_FALSE(pool.SetPosition(id, 1, 1, 1));
    EXPECT_FALSE(pool.SetSize(id, 1));
    EXPECT_FALSE(pool.SetColor(id, 1, 1, 1, 1));
    EXPECT_FALSE(pool.Destroy(id));
    EXPECT_TRUE(AllZero(pool.Get(id)));
  }
}

TEST(IconPoolTest, LocalIconsUseTheRecordAloneAndRefusePlayersBeyondThePool) {
  auto pool = std::make_unique<LocalIconPool>();
  // No player test: a slot without a connection still has records.
  for (int slot = 0; slot < kLocalIconsPerPlayer; ++slot) {
    ASSERT_EQ(pool->FindFreeSlot(7), slot);
    ASSERT_TRUE(pool->Add(7, 1, 2, 3, 4, 5, 6));
  }
  EXPECT_FALSE(pool->Add(7, 1, 2, 3, 4, 5, 6));
  EXPECT_EQ(pool->FindFreeSlot(8), 0);
  EXPECT_TRUE(AllZero(pool->Get(6, 24)));
  EXPECT_TRUE(AllZero(pool->Get(8, 0)));
  EXPECT_EQ(pool->records[7 * 25 + 24].used, 1);

  EXPECT_TRUE(pool->SetColor(7, 3, 1, 2, 3, 4));
  EXPECT_TRUE(pool->SetSize(7, 3, 9));
  EXPECT_TRUE(pool->SetPosition(7, 3, 7, 8, 9));
  EXPECT_TRUE(pool->SetFlashing(7, 3, 1));
  EXPECT_EQ(pool->Get(7, 3).colour[3], 4);
  EXPECT_EQ(+pool->Get(7, 3).z, 9.0f);
  EXPECT_TRUE(pool->Destroy(7, 3));
  EXPECT_FALSE(pool->SetSize(7, 3, 1));  // destroyed
  EXPECT_FALSE(pool->Destroy(7, 3));
  EXPECT_FALSE(pool->Destroy(7, 25));
  EXPECT_TRUE(AllZero(pool->Get(7, 25)));

  for (uint16_t player : {uint16_t{100}, uint16_t{0xFFFF}}) {
    EXPECT_EQ(pool->FindFreeSlot(player), -1);
    EXPECT_FALSE(pool->Add(player, 0, 0, 0, 1, 1, 1));
    EXPECT_FALSE(pool->SetFlashing(player, 0, 1));
    EXPECT_FALSE(pool->SetPosition(player, 0, 0, 0, 0));
    EXPECT_FALSE(pool->SetSize(player, 0, 1));
    EXPECT_FALSE(pool->SetColor(player, 0, 1, 1, 1, 1));
    EXPECT_FALSE(pool->Destroy(player, 0));
    EXPECT_FALSE(pool->ClearPlayer(player));
    EXPECT_TRUE(AllZero(pool->Get(player, 0)));
  }

  EXPECT_TRUE(pool->ClearPlayer(7));
  EXPECT_EQ(pool->FindFreeSlot(7), 0);
  EXPECT_TRUE(AllZero(pool->Get(7, 24)));
}

}  // namespace
