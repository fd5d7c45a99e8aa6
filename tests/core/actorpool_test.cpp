#include "core/actorpool.h"

#include <gtest/gtest.h>

#include <cstring>

#include "record_bytes.h"

namespace {

using namespace recordbytes;

TEST(StaticActorPoolTest, RecordBytesSitAtTheirWireOffsets) {
  StaticActorPool pool;
  ASSERT_EQ(pool.Add(50, 1.5f, -2.5f, 3.5f, 270.0f, 1), 0);
  StaticActorRecord& r = pool.records[0];
  r.animation = 12;
  std::strcpy(r.name, "Guard");
  auto want = PlainBytes(50_u8, 1.5f, -2.5f, 3.5f, 270.0f, 12_u8, 1_u8);
  want.resize(59);
  std::memcpy(&want[19], "Guard", 5);
  EXPECT_EQ(Bytes(r), want);
}

TEST(StaticActorPoolTest, ActorsTakeTheFirstFreeIdAndDestroyZeroesAll59Bytes) {
  StaticActorPool pool;
  for (uint16_t id = 0; id < kMaxStaticActors; ++id) {
    ASSERT_EQ(pool.Add(7, 0, 0, 0, 0, 0), id);
  }
  EXPECT_EQ(pool.Add(7, 0, 0, 0, 0, 0), kNoStaticActor);

  StaticActorRecord& r = pool.records[10];
  r.animation = 5;
  std::strcpy(r.name, "Old");
  EXPECT_TRUE(pool.Destroy(10));
  EXPECT_FALSE(pool.Destroy(10));
  EXPECT_TRUE(AllZero(r));
  EXPECT_FALSE(pool.Exists(10));
  EXPECT_EQ(pool.Find(10), nullptr);

  EXPECT_EQ(pool.Add(9, 1, 2, 3, 4, 0), 10);
  EXPECT_EQ(r.animation, 0);
  EXPECT_EQ(r.blip, 0);
  EXPECT_STREQ(r.name, "");
  EXPECT_TRUE(pool.Exists(10));
  EXPECT_EQ(pool.Find(10), &r);

  for (uint16_t id : {uint16_t{100}, uint16_t{0xFFFF}}) {
    EXPECT_FALSE(pool.Exists(id));
    EXPECT_FALSE(pool.Destroy(id));
    EXPECT_EQ(pool.Find(id), nullptr);
  }
}

TEST(StaticActorPoolTest, SkinZeroLeavesTheRecordFreeAndTheNextActorStartsAfresh) {
  StaticActorPool pool;
  EXPECT_EQ(pool.Add(0, 1, 2, 3, 4, 1), 0);
  EXPECT_FALSE(pool.Exists(0));
  EXPECT_EQ(pool.Add(0, 1, 2, 3, 4, 1), 0);
  EXPECT_EQ(pool.Add(60, 1, 2, 3, 4, 1), 0);
  EXPECT_EQ(pool.records[0].blip, 1);

  // The skin setter writes 0: the record counts as free but keeps its fields,
  // and the actor created in its place must not inherit the old name.
  std::strcpy(pool.records[0].name, "Old Guard");
  pool.records[0].animation = 9;
  pool.records[0].skin = 0;
  EXPECT_EQ(pool.Add(61, 5, 6, 7, 8, 0), 0);
  for (size_t i = 19; i < 59; ++i) EXPECT_EQ(Bytes(pool.records[0])[i], 0) << i;
  EXPECT_EQ(pool.records[0].animation, 0);
  pool.Clear();
  EXPECT_FALSE(pool.Exists(0));
}

}  // namespace
