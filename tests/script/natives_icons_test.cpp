// The icon natives through a running server.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/iconpool.h"
#include "core/playerpool.h"
#include "core/world.h"
#include "script/native_test_support.h"

namespace {

using nativetest::Want;

class IconNativesTest : public nativetest::WorldNativeTest {
 protected:
  const IconRecord& GlobalIcon(int id) { return gGlobalIconPool->records[id]; }
  const IconRecord& LocalIcon(int player, int slot) {
    return gLocalIconPool->Get(static_cast<uint16_t>(player), static_cast<uint16_t>(slot));
  }
};

TEST_F(IconNativesTest, GlobalCreateStoresTheFlagAsABitButSendsTheByte) {
  EXPECT_EQ(Call("createGlobalIcon(30, 40, 0, 5, 2, 7), createGlobalIcon(0, 0, 0, 300, 17, 0)"),
            "0,1");
  const IconRecord& r = GlobalIcon(0);
  EXPECT_EQ(r.optionFlag, 1);
  EXPECT_EQ(r.type, 5);
  EXPECT_EQ(r.size, 2);
  EXPECT_EQ(+r.y, 40.0f);
  EXPECT_EQ(r.flashing, 0);
  for (uint8_t c : r.colour) EXPECT_EQ(c, 0xFF);
  EXPECT_EQ(GlobalIcon(1).optionFlag, 0);
  EXPECT_EQ(GlobalIcon(1).type, 44);
  Flush();
  ASSERT_EQ(alpha_->Count("CreateGlobalIcon"), 2u);
  EXPECT_TRUE(GotFirst(*alpha_, "CreateGlobalIcon", Want().vec3(30, 40, 0).c8(5).c8(2).c8(7)));
  ExpectBoth("CreateGlobalIcon", Want().vec3(0, 0, 0).c8(44).c8(17).c8(0));
  EXPECT_EQ(Call("createGlobalIcon(0, 0, 0, 1, 1)"), "-1");
  EXPECT_EQ(Call("createGlobalIcon()"), "-1");

  // A full pool gives -1; a freed id comes back first.
  while (gGlobalIconPool->FindFreeSlot() >= 0) gGlobalIconPool->Add(0, 0, 0, 1, 1, 0);
  EXPECT_EQ(Call("createGlobalIcon(0, 0, 0, 1, 1, 0)"), "-1");
  ASSERT_EQ(Do("destroyGlobalIcon(5)"), "");
  EXPECT_EQ(Call("createGlobalIcon(0, 0, 0, 1, 1, 0)"), "5");
  Flush();
  EXPECT_EQ(alpha_->Count("CreateGlobalIcon"), 3u);
  ExpectBoth("DestroyGlobalIcon", Want().c16(5));
}

TEST_F(IconNativesTest, GlobalSettersStoreAndSendOnlyForUsedIds) {
  ASSERT_EQ(Call("createGlobalIcon(0, 0, 0, 1, 1, 0), createGlobalIcon(0, 0, 0, 1, 1, 0)"), "0,1");
  ASSERT_EQ(Do("destroyGlobalIcon(1)"), "");
  const IconRecord kept = GlobalIcon(0);
  ExpectQuiet({"setGlobalIconColor(100, 1, 2, 3, 4)", "setGlobalIconColor(1, 1, 2, 3, 4)",
               "setGlobalIconSize(1, 9)", "setGlobalIconPosition(-1, 1, 2, 3)",
               "toggleGlobalIconFlashing(1, 1)", "destroyGlobalIcon(1)", "setGlobalIconSize(0)"});
  EXPECT_EQ(std::memcmp(&GlobalIcon(0), &kept, sizeof kept), 0);
  EXPECT_EQ(GlobalIcon(1).used, 0);

  // Ids keep their low 16 bits, colours and sizes their low 8; flashing
  // above 1 is 1, and 256 is 0.
  ASSERT_EQ(Do("setGlobalIconColor(65536, 1, 2, 3, 300); setGlobalIconSize(0, 20);"
               "setGlobalIconPosition(0, 0, 0, -12.5); toggleGlobalIconFlashing(0, 5)"),
            "");
  EXPECT_EQ(GlobalIcon(0).colour[3], 44);
  EXPECT_EQ(GlobalIcon(0).size, 20);
  EXPECT_EQ(+GlobalIcon(0).z, -12.5f);
  EXPECT_EQ(GlobalIcon(0).flashing, 1);
  Flush();
  ExpectBoth("SetGlobalIconColor", Want().c16(0).c8(1).c8(2).c8(3).c8(44));
  ExpectBoth("SetGlobalIconSize", Want().c16(0).c8(20));
  ExpectBoth("SetGlobalIconPosition", Want().c16(0).vec3(0, 0, -12.5f));
  ExpectBoth("ToggleGlobalIconFlashing", Want().c16(0).c8(1));
  ASSERT_EQ(Do("toggleGlobalIconFlashing(0, 256)"), "");
  EXPECT_EQ(GlobalIcon(0).flashing, 0);
  Flush();
  ExpectBoth("ToggleGlobalIconFlashing", Want().c16(0).c8(0));
}

TEST_F(IconNativesTest, LocalIconsGoToTheirPlayerWithTheSlot) {
  EXPECT_EQ(Call("createLocalIcon(A, 0, 50, 0, 3, 4, 2), createLocalIcon(A, 0, 0, 0, 1, 1, 0),"
                 "createLocalIcon(B, 0, 0, 0, 1, 1, 0)"),
            "0,1,0");
  EXPECT_EQ(LocalIcon(a_, 0).optionFlag, 1);
  ASSERT_EQ(Do("setLocalIconColor(A, 1, 10, 20, 30, 40); setLocalIconSize(A, 1, 6);"
               "setLocalIconPosition(A, 1, 1, 2, 3); toggleLocalIconFlashing(A, 1, 9);"
               "destroyLocalIcon(A, 0)"),
            "");
  EXPECT_EQ(LocalIcon(a_, 1).colour[3], 40);
  EXPECT_EQ(LocalIcon(a_, 1).size, 6);
  EXPECT_EQ(+LocalIcon(a_, 1).z, 3.0f);
  EXPECT_EQ(LocalIcon(a_, 1).flashing, 1);
  EXPECT_EQ(LocalIcon(a_, 0).used, 0);
  EXPECT_EQ(LocalIcon(b_, 0).used, 1);
  Flush();
  EXPECT_EQ(alpha_->Count("CreateLocalIcon"), 2u);
  EXPECT_EQ(Sent(*bravo_), 1u);
  EXPECT_TRUE(GotFirst(*alpha_, "CreateLocalIcon", Want().vec3(0, 50, 0).c8(3).c8(4).c8(2)));
  EXPECT_TRUE(Got(*alpha_, "SetLocalIconColor", Want().c16(1).c8(10).c8(20).c8(30).c8(40)));
  EXPECT_TRUE(Got(*alpha_, "SetLocalIconSize", Want().c16(1).c8(6)));
  EXPECT_TRUE(Got(*alpha_, "SetLocalIconPosition", Want().c16(1).vec3(1, 2, 3)));
  EXPECT_TRUE(Got(*alpha_, "ToggleLocalIconFlashing", Want().c16(1).c8(1)));
  EXPECT_TRUE(Got(*alpha_, "DestroyLocalIcon", Want().c16(0)));
}

TEST_F(IconNativesTest, LocalNativesTestOnlyTheRecordAndStayInsideThePool) {
  ASSERT_EQ(Call("createLocalIcon(A, 0, 0, 0, 1, 1, 0)"), "0");
  // A free slot, slot 25, a wrong count, players outside 0..99 (A + 256 too).
  ExpectQuiet(
      {"destroyLocalIcon(A, 3)", "setLocalIconSize(A, 25, 1)", "destroyLocalIcon(32768, 0)"});
  ExpectQuiet(
      {"createLocalIcon(A, 0, 0, 0, 1, 1)", "createLocalIcon(100, 0, 0, 0, 1, 1, 0)",
       "createLocalIcon(-1, 0, 0, 0, 1, 1, 0)", "createLocalIcon(A + 256, 0, 0, 0, 1, 1, 0)"},
      "-1");
  EXPECT_EQ(LocalIcon(a_, 1).used, 0);
  EXPECT_EQ(Call("createLocalIcon(A + 65536, 0, 0, 0, 1, 1, 0)"), "1");

  // No player guard: a slot without a connection keeps records all the same.
  ASSERT_FALSE(GetPlayerPool()->IsInUse(77));
  EXPECT_EQ(Call("createLocalIcon(77, 0, 0, 0, 8, 8, 0)"), "0");
  ASSERT_EQ(Do("setLocalIconSize(77, 0, 9)"), "");
  EXPECT_EQ(LocalIcon(77, 0).size, 9);

  // A player's 26th icon is refused.
  while (gLocalIconPool->FindFreeSlot(a_) >= 0) gLocalIconPool->Add(a_, 0, 0, 0, 1, 1, 0);
  EXPECT_EQ(Call("createLocalIcon(A, 0, 0, 0, 1, 1, 0)"), "-1");
  Flush();
  EXPECT_EQ(alpha_->Count("CreateLocalIcon"), 2u);
  EXPECT_EQ(Sent(*bravo_), 0u);
}

}  // namespace
