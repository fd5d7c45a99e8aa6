#include "core/markerpool.h"

#include <gtest/gtest.h>

namespace {

TEST(MarkerPoolTest, CheckpointsAndCoronasShareOneNumberingAndTheirFixedValues) {
  MarkerPool pool;
  EXPECT_EQ(pool.FindFreeSlot(), 0);
  ASSERT_TRUE(pool.AddCheckpoint(1, 2, 3, 4));
  ASSERT_TRUE(pool.AddCorona(10, 20, 30, 5, 6, 7));
  EXPECT_EQ(pool.GetKind(0), kMarkerCheckpoint);
  EXPECT_EQ(pool.GetKind(1), kMarkerCorona);
  const MarkerRecord& cp = pool.records[0];
  EXPECT_EQ(cp.red + cp.green + cp.blue, 0);
  EXPECT_EQ(+cp.radius, 4.0f);
  const MarkerRecord& co = pool.records[1];
  EXPECT_EQ(co.red, 10);
  EXPECT_EQ(co.green, 20);
  EXPECT_EQ(co.blue, 30);
  EXPECT_EQ(+co.x, 5.0f);
  EXPECT_EQ(+co.radius, kCoronaSize);

  // Each operation refuses the other kind.
  EXPECT_FALSE(pool.DestroyCorona(0));
  EXPECT_FALSE(pool.DestroyCheckpoint(1));
  EXPECT_FALSE(pool.SetCheckpointRadius(1, 9));
  EXPECT_FALSE(pool.SetCheckpointPosition(1, 9, 9, 9));
  EXPECT_FALSE(pool.SetCoronaColor(0, 9, 9, 9));
  EXPECT_FALSE(pool.SetCoronaPosition(0, 9, 9, 9));
  EXPECT_EQ(+co.radius, kCoronaSize);
  EXPECT_EQ(cp.red, 0);
  EXPECT_EQ(pool.GetKind(0), kMarkerCheckpoint);

  EXPECT_TRUE(pool.SetCheckpointRadius(0, 8));
  EXPECT_TRUE(pool.SetCheckpointPosition(0, 11, 12, 13));
  EXPECT_TRUE(pool.SetCoronaColor(1, 44, 255, 255));
  EXPECT_TRUE(pool.SetCoronaPosition(1, 14, 15, 16));
  EXPECT_EQ(+cp.radius, 8.0f);
  EXPECT_EQ(+cp.z, 13.0f);
  EXPECT_EQ(co.red, 44);
  EXPECT_EQ(+co.y, 15.0f);

  // A freed id goes to whichever kind comes next.
  EXPECT_TRUE(pool.DestroyCheckpoint(0));
  EXPECT_EQ(pool.GetKind(0), kMarkerFree);
  EXPECT_EQ(+pool.records[0].radius, 0.0f);
  ASSERT_TRUE(pool.AddCorona(1, 1, 1, 0, 0, 0));
  EXPECT_EQ(pool.GetKind(0), kMarkerCorona);
  EXPECT_TRUE(pool.DestroyCorona(1));
  EXPECT_FALSE(pool.DestroyCorona(1));
  ASSERT_TRUE(pool.AddCheckpoint(0, 0, 0, 1));
  EXPECT_EQ(pool.GetKind(1), kMarkerCheckpoint);
}

TEST(MarkerPoolTest, FiftyMarkersFillThePoolAndIdsBeyondReadAsFree) {
  MarkerPool pool;
  for (int i = 0; i < kMaxMarkers; ++i) {
    ASSERT_TRUE(i % 2 ? pool.AddCorona(1, 2, 3, 0, 0, 0) : pool.AddCheckpoint(0, 0, 0, 1));
  }
  EXPECT_EQ(pool.FindFreeSlot(), -1);
  EXPECT_FALSE(pool.AddCheckpoint(0, 0, 0, 1));
  EXPECT_FALSE(pool.AddCorona(0, 0, 0, 0, 0, 0));
  for (uint8_t id : {uint8_t{50}, uint8_t{255}}) {
    EXPECT_EQ(pool.GetKind(id), kMarkerFree);
    EXPECT_FALSE(pool.DestroyCheckpoint(id));
    EXPECT_FALSE(pool.DestroyCorona(id));
    EXPECT_FALSE(pool.SetCheckpointRadius(id, 1));
    EXPECT_FALSE(pool.SetCoronaColor(id, 1, 1, 1));
  }
  pool.Clear();
  EXPECT_EQ(pool.GetKind(0), kMarkerFree);
  EXPECT_EQ(pool.FindFreeSlot(), 0);
}

}  // namespace
