#include <gtest/gtest.h>

#include "support/seam.h"

namespace {
using support::Line;
using support::Want;

TEST(SeamSmoke, ChatAndNative) {
  support::Seam seam;
  const int a = seam.Join("Alpha");
  const int b = seam.Join("Bravo");
  EXPECT_EQ(a, 0);
  EXPECT_EQ(b, 1);
  seam.Call(a, "PlayerChat", Want().u8(static_cast<uint8_t>(a)).u8(2).chars("hi", 2));
  EXPECT_EQ(seam.Take(), Line("PlayerChat", {0, 1}, Want().u8(0).u8(2).chars("hi", 2)));
  EXPECT_EQ(seam.events.Take(), "chat 0 hi");
  EXPECT_EQ(seam.Eval("createGlobalCheckpoint(1, 2, 3, 4)"), "0");
  EXPECT_EQ(seam.Take(), Line("CreateCheckpoint", {0, 1}, Want().f32(1).f32(2).f32(3).f32(4)));
  seam.Drop(b);
  EXPECT_EQ(seam.events.Take(), "disconnect 1 1");
  std::printf("%s\n", seam.Take().c_str());
}
}  // namespace
