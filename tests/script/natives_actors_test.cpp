// The static actor natives on a running server with joined clients: creation
// sends the stored record, the setters' value rules, a skin of 0 freeing the
// record, the getters' failure values, and each payload layout bit for bit.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/actorpool.h"
#include "core/game_fixture.h"
#include "core/world.h"
#include "script/script_host.h"

namespace {

using gametest::BytesOf;
using gametest::Comp;
using gametest::Plain;
using gametest::RawBytes;
using scripttest::Eval;
using scripttest::RunLua;

const char* const kActorCalls[] = {
    "CreateStaticActor",       "DestroyStaticActor", "SetStaticActorName",
    "SetStaticActorAnimation", "SetStaticActorSkin", "SetStaticActorAngle",
    "SetStaticActorPos",       "ToggleStaticActorBlip"};

class ActorNativesTest : public gametest::GameTest {
 protected:
  support::TestClient& JoinWatching(const std::string& name) {
    support::TestClient& c = ConnectAndJoin(name);
    for (const char* call : kActorCalls) c.Watch(call);
    return c;
  }
  bool WaitFor(support::TestClient& c, const std::string& name, size_t count) {
    return PumpUntil([&] { return c.Count(name) >= count; });
  }
  StaticActorRecord& Actor(int id) { return gStaticActorPool->records[id]; }
};

// Reads the c16 actor id that leads every change.
uint16_t ActorIdOf(net::BitStream& r) { return Comp<uint16_t>(r); }

TEST_F(ActorNativesTest, CreationSendsTheStoredRecordAndTheBlipIsABoolean) {
  support::TestClient& c = JoinWatching("Alice");
  EXPECT_EQ(Eval("createStaticActor(50, 1.5, -2.5, 3.25, 90, 0)"), "0");
  EXPECT_EQ(Eval("createStaticActor(51, 0, 0, 0, 0, nil)"), "1");
  EXPECT_EQ(Eval("createStaticActor(300, 0, 0, 0, 0, false)"), "2");  // skin byte 44
  EXPECT_EQ(Actor(0).blip, 1);  // 0 is true for a boolean
  EXPECT_EQ(Actor(1).blip, 0);
  EXPECT_EQ(Actor(2).blip, 0);
  EXPECT_EQ(Actor(2).skin, 44);

  // Skin 0 leaves the record free: the next creation takes the same id.
  EXPECT_EQ(Eval("createStaticActor(0, 7, 8, 9, 10, true)"), "3");
  EXPECT_EQ(Eval("createStaticActor(256, 7, 8, 9, 10, true)"), "3");
  EXPECT_EQ(Eval("getStaticActorSkin(3)"), "0");

  ASSERT_TRUE(WaitFor(c, "CreateStaticActor", 5));
  StaticActorRecord expected{};
  expected.skin = 50;
  expected.x = 1.5f, expected.y = -2.5f, expected.z = 3.25f, expected.angle = 90;
  expected.blip = 1;
  const auto sent = c.Rpcs("CreateStaticActor");
  ASSERT_EQ(sent[0].bits, 59u * 8);
  auto r = sent[0].Reader();
  EXPECT_EQ(RawBytes(*r, 59), BytesOf(expected));
  StaticActorRecord freeOne{};
  freeOne.x = 7, freeOne.y = 8, freeOne.z = 9, freeOne.angle = 10, freeOne.blip = 1;
  auto r4 = sent[4].Reader();
  EXPECT_EQ(RawBytes(*r4, 59), BytesOf(freeOne));
}

TEST_F(ActorNativesTest, AFullPoolAnswersMinusOneAndSendsNothing) {
  support::TestClient& c = JoinWatching("Alice");
  EXPECT_EQ(scripttest::Run("local last; for i = 1, 100 do last = createStaticActor(7, i, 0, 0, 0, 1) end;"
                "return last"),
            "99");
  EXPECT_EQ(Eval("createStaticActor(7, 0, 0, 0, 0, 1)"), "-1");
  EXPECT_EQ(Eval("destroyStaticActor(99)"), "");
  ASSERT_TRUE(WaitFor(c, "DestroyStaticActor", 1));
  EXPECT_EQ(c.Count("CreateStaticActor"), 100u);
}

TEST_F(ActorNativesTest, SettersApplyTheirRulesAndTellEveryPlayer) {
  support::TestClient& a = JoinWatching("Alice");
  support::TestClient& b = JoinWatching("Bobby");
  ASSERT_EQ(Eval("createStaticActor(50, 0, 0, 0, 0, 1)"), "0");
  ASSERT_EQ(Eval("createStaticActor(60, 0, 0, 0, 0, 1)"), "1");

  EXPECT_EQ(Eval("setStaticActorAnimation(1, 28)"), "");
  EXPECT_EQ(Actor(1).animation, 0);
  EXPECT_EQ(RunLua("setStaticActorAnimation(1, 35)"), "");
  EXPECT_EQ(Actor(1).animation, 35);
  EXPECT_EQ(RunLua("setStaticActorAnimation(1, 36)"), "");
  EXPECT_EQ(Actor(1).animation, 0);
  EXPECT_EQ(RunLua("setStaticActorAnimation(65537, 268)"), "");  // id 1, animation 12
  EXPECT_EQ(Eval("getStaticActorAnimation(1)"), "12");

  const std::string name39(39, 'n');
  EXPECT_EQ(RunLua("setStaticActorName(1, '" + name39 + "')"), "");
  EXPECT_EQ(RunLua("setStaticActorName(1, '" + name39 + "x')"), "");  // refused
  EXPECT_EQ(RunLua("setStaticActorName(1, nil)"), "");                // refused
  EXPECT_EQ(Eval("getStaticActorName(1)"), "'" + name39 + "'");
  EXPECT_EQ(Eval("getStaticActorName(0)"), "''");

  EXPECT_EQ(RunLua("setStaticActorAngle(1, 270.5)"), "");
  EXPECT_EQ(Eval("getStaticActorAngle(1)"), "270.5");

  EXPECT_EQ(RunLua("setStaticActorPos(1, 10000, -10000, 0)"), "");
  for (const char* refused : {"10000.5, 0, 0", "0, -10000.5, 0", "0, 0, 0/0", "0, 0, math.huge"}) {
    EXPECT_EQ(RunLua(std::string("setStaticActorPos(1, ") + refused + ")"), "");
  }
  EXPECT_EQ(Eval("getStaticActorPos(1)"), "10000,-10000,0");

  EXPECT_EQ(RunLua("toggleStaticActorBlip(1, 300)"), "");
  EXPECT_EQ(Actor(1).blip, 44);

  EXPECT_EQ(RunLua("setStaticActorSkin(1, 172)"), "");
  EXPECT_EQ(Eval("getStaticActorSkin(1)"), "172");

  // Every player hears each accepted change once; the refused ones never.
  for (support::TestClient* c : {&a, &b}) {
    ASSERT_TRUE(WaitFor(*c, "SetStaticActorSkin", 1));
    EXPECT_EQ(c->Count("SetStaticActorAnimation"), 4u);
    EXPECT_EQ(c->Count("SetStaticActorName"), 1u);
    EXPECT_EQ(c->Count("SetStaticActorAngle"), 1u);
    EXPECT_EQ(c->Count("SetStaticActorPos"), 1u);
    EXPECT_EQ(c->Count("ToggleStaticActorBlip"), 1u);
  }

  auto anim = a.Rpcs("SetStaticActorAnimation")[0].Reader();
  EXPECT_EQ(ActorIdOf(*anim), 1);
  EXPECT_EQ(Comp<uint8_t>(*anim), 0);  // 28 after the rule
  EXPECT_EQ(anim->GetNumberOfUnreadBits(), 0u);

  auto name = a.LastRpc("SetStaticActorName")->Reader();
  EXPECT_EQ(ActorIdOf(*name), 1);
  EXPECT_EQ(Comp<uint8_t>(*name), 39);
  const auto chars = RawBytes(*name, 39);
  EXPECT_EQ(std::string(chars.begin(), chars.end()), name39);
  EXPECT_EQ(name->GetNumberOfUnreadBits(), 0u);

  auto angle = a.LastRpc("SetStaticActorAngle")->Reader();
  EXPECT_EQ(ActorIdOf(*angle), 1);
  EXPECT_EQ(Plain<float>(*angle), 270.5f);
  EXPECT_EQ(angle->GetNumberOfUnreadBits(), 0u);

  auto pos = a.LastRpc("SetStaticActorPos")->Reader();
  EXPECT_EQ(ActorIdOf(*pos), 1);
  EXPECT_EQ(Plain<float>(*pos), 10000.0f);
  EXPECT_EQ(Plain<float>(*pos), -10000.0f);
  EXPECT_EQ(Plain<float>(*pos), 0.0f);
  EXPECT_EQ(pos->GetNumberOfUnreadBits(), 0u);

  auto blip = a.LastRpc("ToggleStaticActorBlip")->Reader();
  EXPECT_EQ(ActorIdOf(*blip), 1);
  EXPECT_EQ(Comp<uint8_t>(*blip), 44);
  EXPECT_EQ(blip->GetNumberOfUnreadBits(), 0u);
}

TEST_F(ActorNativesTest, AnEmptyNameAndAZeroInsideAName) {
  support::TestClient& c = JoinWatching("Alice");
  ASSERT_EQ(Eval("createStaticActor(50, 0, 0, 0, 0, 1)"), "0");
  EXPECT_EQ(RunLua("setStaticActorName(0, 'Guard')"), "");
  EXPECT_EQ(RunLua("setStaticActorName(0, '')"), "");
  EXPECT_EQ(Eval("getStaticActorName(0)"), "''");
  // The name is a zero-ended text: it ends at the zero byte.
  EXPECT_EQ(RunLua("setStaticActorName(0, 'ab\\0' .. string.rep('z', 60))"), "");
  EXPECT_EQ(Eval("getStaticActorName(0)"), "'ab'");
  EXPECT_EQ(std::memcmp(Actor(0).name, "ab\0\0\0", 5), 0);

  ASSERT_TRUE(WaitFor(c, "SetStaticActorName", 3));
  auto empty = c.Rpcs("SetStaticActorName")[1].Reader();
  EXPECT_EQ(ActorIdOf(*empty), 0);
  EXPECT_EQ(Comp<uint8_t>(*empty), 0);
  EXPECT_EQ(empty->GetNumberOfUnreadBits(), 0u);
  auto cut = c.Rpcs("SetStaticActorName")[2].Reader();
  EXPECT_EQ(ActorIdOf(*cut), 0);
  EXPECT_EQ(Comp<uint8_t>(*cut), 2);
  EXPECT_EQ(cut->GetNumberOfUnreadBits(), 16u);
}

TEST_F(ActorNativesTest, SkinRuleCanFreeTheRecordAndFreeIdsAreRefused) {
  support::TestClient& c = JoinWatching("Alice");
  ASSERT_EQ(Eval("createStaticActor(50, 1, 2, 3, 4, 1)"), "0");
  ASSERT_EQ(Eval("createStaticActor(60, 1, 2, 3, 4, 1)"), "1");
  ASSERT_EQ(RunLua("setStaticActorName(0, 'Old')"), "");

  EXPECT_EQ(RunLua("setStaticActorSkin(0, 8)"), "");
  EXPECT_EQ(Actor(0).skin, 0);
  EXPECT_EQ(+Actor(0).x, 1.0f);  // the other fields stay
  EXPECT_EQ(RunLua("setStaticActorSkin(1, 173)"), "");
  EXPECT_EQ(Actor(1).skin, 0);

  for (const char* id : {"0", "1", "100", "65535", "-1"}) {
    SCOPED_TRACE(id);
    const std::string i = id;
    EXPECT_EQ(Eval("getStaticActorSkin(" + i + "), getStaticActorAnimation(" + i +
                   "), getStaticActorAngle(" + i + ")"),
              "0,0,0");
    EXPECT_EQ(Eval("getStaticActorPos(" + i + ")"), "0,0,0");
    EXPECT_EQ(Eval("getStaticActorName(" + i + ")"), "nil");
    EXPECT_EQ(RunLua("setStaticActorAngle(" + i + ", 5); setStaticActorSkin(" + i +
                     ", 50); setStaticActorAnimation(" + i + ", 5); setStaticActorName(" + i +
                     ", 'x'); setStaticActorPos(" + i + ", 1, 1, 1); toggleStaticActorBlip(" + i +
                     ", 1); destroyStaticActor(" + i + ")"),
              "");
  }
  // The freed ids are taken again, the old name gone.
  EXPECT_EQ(Eval("createStaticActor(70, 0, 0, 0, 0, 1)"), "0");
  EXPECT_EQ(Eval("getStaticActorName(0)"), "''");

  EXPECT_EQ(Eval("destroyStaticActor(0)"), "");
  for (uint8_t byte : BytesOf(Actor(0))) ASSERT_EQ(byte, 0);
  EXPECT_EQ(RunLua("destroyStaticActor(0)"), "");  // already free: nothing sent

  ASSERT_TRUE(WaitFor(c, "DestroyStaticActor", 1));
  EXPECT_EQ(c.Count("SetStaticActorSkin"), 2u);
  EXPECT_EQ(c.Count("SetStaticActorName"), 1u);
  EXPECT_EQ(c.Count("SetStaticActorAngle") + c.Count("SetStaticActorAnimation") +
                c.Count("SetStaticActorPos") + c.Count("ToggleStaticActorBlip"),
            0u);
  EXPECT_EQ(c.Count("DestroyStaticActor"), 1u);
  auto skin = c.Rpcs("SetStaticActorSkin")[0].Reader();
  EXPECT_EQ(ActorIdOf(*skin), 0);
  EXPECT_EQ(Comp<uint8_t>(*skin), 0);  // 8 after the rule
  EXPECT_EQ(skin->GetNumberOfUnreadBits(), 0u);
  auto destroy = c.LastRpc("DestroyStaticActor")->Reader();
  EXPECT_EQ(ActorIdOf(*destroy), 0);
  EXPECT_EQ(destroy->GetNumberOfUnreadBits(), 0u);
}

}  // namespace
