// The static actor natives through a running server.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/actorpool.h"
#include "core/world.h"
#include "script/native_test_support.h"

namespace {

using nativetest::Want;

class ActorNativesTest : public nativetest::WorldNativeTest {
 protected:
  StaticActorRecord& Actor(int id) { return gStaticActorPool->records[id]; }
};

TEST_F(ActorNativesTest, CreationSendsTheStoredRecordAndTheBlipIsABoolean) {
  // 0 is true for a boolean; skin 300 is byte 44.
  EXPECT_EQ(
      Call("createStaticActor(50, 1.5, -2.5, 3.25, 90, 0), createStaticActor(51, 0, 0, 0, 0, nil),"
           "createStaticActor(300, 0, 0, 0, 0, false)"),
      "0,1,2");
  EXPECT_EQ(Actor(1).blip, 0);
  EXPECT_EQ(Actor(2).blip, 0);
  EXPECT_EQ(Actor(2).skin, 44);
  // Skin 0 leaves the record free: the next creation takes the same id.
  EXPECT_EQ(
      Call("createStaticActor(0, 7, 8, 9, 10, true), createStaticActor(256, 7, 8, 9, 10, true)"),
      "3,3");
  EXPECT_EQ(Call("getStaticActorSkin(3)"), "0");
  Flush();
  StaticActorRecord expected{};
  expected.skin = 50;
  expected.x = 1.5f, expected.y = -2.5f, expected.z = 3.25f, expected.angle = 90;
  expected.blip = 1;
  ASSERT_EQ(alpha_->Count("CreateStaticActor"), 5u);
  EXPECT_TRUE(GotFirst(*alpha_, "CreateStaticActor", Want().bytes(&expected, sizeof expected)));
  StaticActorRecord freeOne{};
  freeOne.x = 7, freeOne.y = 8, freeOne.z = 9, freeOne.angle = 10, freeOne.blip = 1;
  ExpectBoth("CreateStaticActor", Want().bytes(&freeOne, sizeof freeOne));

  // A full pool answers -1 and sends nothing.
  while (gStaticActorPool->Add(7, 0, 0, 0, 0, 0) != kNoStaticActor) {
  }
  EXPECT_EQ(Call("createStaticActor(7, 0, 0, 0, 0, 1)"), "-1");
  Flush();
  EXPECT_EQ(alpha_->Count("CreateStaticActor"), 5u);
}

TEST_F(ActorNativesTest, SettersApplyTheirRulesAndTellEveryPlayer) {
  ASSERT_EQ(Call("createStaticActor(50, 0, 0, 0, 0, 1), createStaticActor(60, 0, 0, 0, 0, 1)"),
            "0,1");
  // Animations above 35 and 28 become 0; the id keeps 16 bits.
  const char* const animations[][2] = {{"28", "0"}, {"35", "35"}, {"36", "0"}, {"268", "12"}};
  for (const auto& a : animations) {
    ASSERT_EQ(Do(std::string("setStaticActorAnimation(65537, ") + a[0] + ")"), "");
    EXPECT_EQ(Call("getStaticActorAnimation(1)"), a[1]) << a[0];
  }
  const std::string name39(39, 'n');
  ASSERT_EQ(Do("setStaticActorName(1, '" + name39 + "'); setStaticActorName(1, '" + name39 +
               "x'); setStaticActorName(1, nil)"),
            "");
  EXPECT_EQ(Call("getStaticActorName(1), getStaticActorName(0)"), "'" + name39 + "',''");
  // Each coordinate within 10000; NaN and infinity are refused too.
  ASSERT_EQ(Do("setStaticActorPos(1, 10000, -10000, 0); setStaticActorPos(1, 10000.5, 0, 0);"
               "setStaticActorPos(1, 0, -10000.5, 0); setStaticActorPos(1, 0, 0, 0/0);"
               "setStaticActorPos(1, 0, 0, math.huge)"),
            "");
  EXPECT_EQ(Call("getStaticActorPos(1)"), "10000,-10000,0");
  ASSERT_EQ(Do("setStaticActorAngle(1, 270.5); toggleStaticActorBlip(1, 300); "
               "setStaticActorSkin(1, 172)"),
            "");
  EXPECT_EQ(Call("getStaticActorAngle(1), getStaticActorSkin(1)"), "270.5,172");
  EXPECT_EQ(Actor(1).blip, 44);
  Flush();
  EXPECT_EQ(Sent(*alpha_), 2u + 4u + 5u);  // the refused ones are never sent
  EXPECT_TRUE(GotFirst(*bravo_, "SetStaticActorAnimation", Want().c16(1).c8(0)));
  ExpectBoth("SetStaticActorName", Want().c16(1).c8(39).chars(name39.data(), 39));
  ExpectBoth("SetStaticActorPos", Want().c16(1).f32(10000).f32(-10000).f32(0));
  ExpectBoth("SetStaticActorAngle", Want().c16(1).f32(270.5f));
  ExpectBoth("ToggleStaticActorBlip", Want().c16(1).c8(44));
  ExpectBoth("SetStaticActorSkin", Want().c16(1).c8(172));
}

TEST_F(ActorNativesTest, NamesEndAtTheirFirstZero) {
  ASSERT_EQ(Call("createStaticActor(50, 0, 0, 0, 0, 1)"), "0");
  ASSERT_EQ(Do("setStaticActorName(0, 'Guard'); setStaticActorName(0, '')"), "");
  EXPECT_EQ(Call("getStaticActorName(0)"), "''");
  Flush();
  ExpectBoth("SetStaticActorName", Want().c16(0).c8(0));
  ASSERT_EQ(Do("setStaticActorName(0, 'ab\\0' .. string.rep('z', 60))"), "");
  EXPECT_EQ(Call("getStaticActorName(0)"), "'ab'");
  EXPECT_EQ(std::memcmp(Actor(0).name, "ab\0\0\0\0", 6), 0);  // no tail of "Guard"
  Flush();
  ExpectBoth("SetStaticActorName", Want().c16(0).c8(2).chars("ab", 2));
}

TEST_F(ActorNativesTest, SkinRuleCanFreeTheRecordAndFreeIdsAreRefused) {
  ASSERT_EQ(Call("createStaticActor(50, 1, 2, 3, 4, 1), createStaticActor(60, 1, 2, 3, 4, 1)"),
            "0,1");
  ASSERT_EQ(
      Do("setStaticActorName(0, 'Old'); setStaticActorSkin(0, 8); setStaticActorSkin(1, 173)"), "");
  EXPECT_EQ(Actor(0).skin + Actor(1).skin, 0);
  EXPECT_EQ(+Actor(0).x, 1.0f);  // the other fields stay
  Flush();
  ExpectBoth("SetStaticActorSkin", Want().c16(1).c8(0));
  for (const std::string id : {"0", "1", "100", "65535", "-1"}) {
    ASSERT_EQ(Do("I = " + id), "");
    EXPECT_EQ(Call("getStaticActorSkin(I), getStaticActorAnimation(I), getStaticActorAngle(I),"
                   "getStaticActorName(I), getStaticActorPos(I)"),
              "0,0,0,nil,0,0,0")
        << id;
    ExpectQuiet({"setStaticActorAngle(I, 5)", "setStaticActorSkin(I, 50)",
                 "setStaticActorAnimation(I, 5)", "setStaticActorName(I, 'x')",
                 "setStaticActorPos(I, 1, 1, 1)", "toggleStaticActorBlip(I, 1)",
                 "destroyStaticActor(I)"});
  }
  // Wrong counts give the getters' failure values.
  EXPECT_EQ(Call("createStaticActor(1), getStaticActorName(), getStaticActorSkin()"), "-1,nil,0");
  EXPECT_EQ(Call("getStaticActorPos()"), "0,0,0");

  // A freed id is taken again with the old name gone; destroy zeroes it.
  EXPECT_EQ(Call("createStaticActor(70, 0, 0, 0, 0, 1), getStaticActorName(0)"), "0,''");
  ASSERT_EQ(Do("destroyStaticActor(0); destroyStaticActor(0)"), "");
  for (uint8_t byte : gametest::BytesOf(Actor(0))) ASSERT_EQ(byte, 0);
  Flush();
  EXPECT_EQ(alpha_->Count("DestroyStaticActor"), 1u);
  ExpectBoth("DestroyStaticActor", Want().c16(0));
}

}  // namespace
