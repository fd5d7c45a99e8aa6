// The object natives through a running server: the ids they hand out, what
// each change stores, what every notice carries (bit for bit) and to whom, and
// that a refused call stores and sends nothing.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/game_fixture.h"
#include "core/objectpool.h"
#include "core/playerpool.h"
#include "core/rpc.h"
#include "core/world.h"
#include "script/script_host.h"

namespace {

// A field of a packed record, copied out: comparing it in place would bind a
// reference to a misaligned float.
template <typename T>
T Copy(T value) {
  return value;
}

using gametest::Comp;
using gametest::Plain;
using scripttest::Eval;
using scripttest::RunLua;

const char* const kObjectRpcs[] = {
    "CreateGlobalObject", "DestroyGlobalObject", "SetGlobalObjectPos",
    "SetGlobalObjectRotation", "SetGlobalObjectInterior", "MoveGlobalObject",
    "MoveGlobalObjectAngles", "StopGlobalObject", "CreateLocalObject", "DestroyLocalObject",
    "SetLocalObjectPos", "SetLocalObjectRotation", "SetLocalObjectInterior"};

class ObjectNativesTest : public gametest::GameTest {
 protected:
  void SetUp() override {
    GameTest::SetUp();
    alpha_ = &ConnectAndJoin("Alpha");
    bravo_ = &ConnectAndJoin("Bravo");
    a_ = static_cast<uint8_t>(alpha_->Index());
    b_ = static_cast<uint8_t>(bravo_->Index());
    for (auto* c : {alpha_, bravo_}) {
      for (const char* name : kObjectRpcs) c->Watch(name);
      c->Watch("TestBarrier");
    }
  }

  // Runs Lua with A and B naming the two players and returns its results.
  std::string Lua(const std::string& chunk) {
    return scripttest::Run("local A, B = " + std::to_string(a_) + ", " + std::to_string(b_) +
                           "; " + chunk);
  }
  // Reliable calls on one channel arrive in order: once both clients have a
  // barrier sent after everything else, they have everything else too.
  void Settle() {
    const size_t a = alpha_->Count("TestBarrier"), b = bravo_->Count("TestBarrier");
    Rpc("TestBarrier").ToAll();
    ASSERT_TRUE(PumpUntil([&] {
      return alpha_->Count("TestBarrier") > a && bravo_->Count("TestBarrier") > b;
    }));
  }
  size_t Total(support::TestClient& c) {
    size_t n = 0;
    for (const char* name : kObjectRpcs) n += c.Count(name);
    return n;
  }
  // The newest call of that name, checked for its exact length.
  std::unique_ptr<net::BitStream> Last(support::TestClient& c, const char* name, uint32_t bits) {
    const support::ReceivedRpc* rpc = c.LastRpc(name);
    if (!rpc) {
      ADD_FAILURE() << name << " not received";
      return std::make_unique<net::BitStream>();
    }
    EXPECT_EQ(rpc->bits, bits) << name;
    return rpc->Reader();
  }
  GlobalObjectPool& Global() { return *gGlobalObjectPool; }
  LocalObjectPool& Local() { return *gLocalObjectPool; }

  support::TestClient* alpha_ = nullptr;
  support::TestClient* bravo_ = nullptr;
  uint8_t a_ = 0;
  uint8_t b_ = 0;
};

TEST_F(ObjectNativesTest, GlobalCreateStoresSendsAndReturnsTheLowestFreeId) {
  EXPECT_EQ(Eval("createGlobalObject(1337, 1.5, -2, 3, 90, 0.25, 180, 3)"), "0");
  EXPECT_EQ(Eval("createGlobalObject(2000, 0, 0, 0, 0, 0, 0, 0)"), "1");
  Settle();
  const ObjectRecord& r = Global().records[0];
  EXPECT_EQ(Copy(r.model), 1337u);
  EXPECT_EQ(Copy(r.x), 1.5f);
  EXPECT_EQ(Copy(r.y), -2.0f);
  EXPECT_EQ(Copy(r.z), 3.0f);
  EXPECT_EQ(Copy(r.rotationX), 90.0f);
  EXPECT_EQ(Copy(r.rotationY), 0.25f);
  EXPECT_EQ(Copy(r.rotationZ), 180.0f);
  EXPECT_EQ(r.interior, 3);

  // c32 1337: two zero upper bytes (a bit each), then a 0 bit and the low two
  // bytes; six plain floats; c8 3 (a bit and a nibble).
  for (auto* c : {alpha_, bravo_}) {
    ASSERT_EQ(c->Count("CreateGlobalObject"), 2u);
    const auto first = c->Rpcs("CreateGlobalObject")[0];
    EXPECT_EQ(first.bits, 2u + 1u + 16u + 6u * 32u + 5u);
    auto s = first.Reader();
    EXPECT_EQ(Comp<uint32_t>(*s), 1337u);
    EXPECT_EQ(Plain<float>(*s), 1.5f);
    EXPECT_EQ(Plain<float>(*s), -2.0f);
    EXPECT_EQ(Plain<float>(*s), 3.0f);
    EXPECT_EQ(Plain<float>(*s), 90.0f);
    EXPECT_EQ(Plain<float>(*s), 0.25f);
    EXPECT_EQ(Plain<float>(*s), 180.0f);
    EXPECT_EQ(Comp<uint8_t>(*s), 3);
  }

  // The freed index is given out first again.
  EXPECT_EQ(Eval("destroyGlobalObject(0)"), "");
  Settle();
  EXPECT_EQ(Comp<uint16_t>(*Last(*alpha_, "DestroyGlobalObject", 6)), 0);
  EXPECT_EQ(Copy(Global().records[0].model), 0u);
  EXPECT_EQ(Eval("createGlobalObject(4294967295, 0, 0, 0, 0, 0, 0, 0)"), "0");
  EXPECT_EQ(Eval("getGlobalObjectModel(0)"), "4294967295");
  Settle();
  EXPECT_EQ(Comp<uint32_t>(*Last(*bravo_, "CreateGlobalObject", 33 + 192 + 5)), 0xFFFFFFFFu);

  // Model 0 is announced, but the record stays free and the index is reused.
  EXPECT_EQ(Eval("createGlobalObject(0, 7, 7, 7, 0, 0, 0, 0)"), "2");
  EXPECT_EQ(Eval("getGlobalObjectModel(2)"), "0");
  EXPECT_EQ(Eval("createGlobalObject(5, 0, 0, 0, 0, 0, 0, 0)"), "2");
  Settle();
  EXPECT_EQ(alpha_->Count("CreateGlobalObject"), 5u);
}

TEST_F(ObjectNativesTest, AFullGlobalPoolReturnsMinusOneAndSendsNothing) {
  for (int i = 0; i < kMaxGlobalObjects - 1; ++i) Global().Add(100, 0, 0, 0, 0, 0, 0, 0);
  EXPECT_EQ(Eval("createGlobalObject(100, 0, 0, 0, 0, 0, 0, 0)"), "999");
  EXPECT_EQ(Eval("createGlobalObject(100, 0, 0, 0, 0, 0, 0, 0)"), "-1");
  Settle();
  EXPECT_EQ(alpha_->Count("CreateGlobalObject"), 1u);
  EXPECT_EQ(bravo_->Count("CreateGlobalObject"), 1u);
}

TEST_F(ObjectNativesTest, GlobalSettersStoreAndSendOnlyForUsedIds) {
  ASSERT_EQ(Eval("createGlobalObject(10, 0, 0, 0, 0, 0, 0, 0)"), "0");
  ASSERT_EQ(Eval("createGlobalObject(11, 0, 0, 0, 0, 0, 0, 0)"), "1");
  ASSERT_EQ(RunLua("destroyGlobalObject(1)"), "");
  Settle();
  const size_t before = Total(*alpha_);

  // Refused: outside the pool, a freed id, a wrong count. No results either.
  EXPECT_EQ(Eval("setGlobalObjectPos(1000, 1, 2, 3)"), "");
  EXPECT_EQ(Eval("setGlobalObjectPos(1, 1, 2, 3)"), "");
  EXPECT_EQ(Eval("setGlobalObjectRotation(1, 1, 2, 3)"), "");
  EXPECT_EQ(Eval("setGlobalObjectInterior(-1, 4)"), "");
  EXPECT_EQ(Eval("moveGlobalObject(1, 1, 2, 3, 4)"), "");
  EXPECT_EQ(Eval("moveGlobalObjectAngles(1000, 1, 2, 3, 4)"), "");
  EXPECT_EQ(Eval("destroyGlobalObject(1)"), "");
  EXPECT_EQ(Eval("setGlobalObjectPos(0, 1, 2)"), "");
  Settle();
  EXPECT_EQ(Total(*alpha_), before);
  EXPECT_EQ(Copy(Global().records[1].model), 0u);
  EXPECT_EQ(Copy(Global().records[0].x), 0.0f);

  // Ids keep their low 16 bits; the interior its low 8.
  EXPECT_EQ(Eval("setGlobalObjectPos(65536, 4, 5, 6)"), "");
  EXPECT_EQ(Eval("setGlobalObjectRotation(0, 7, 8, 9)"), "");
  EXPECT_EQ(Eval("setGlobalObjectInterior(0, 260)"), "");
  Settle();
  EXPECT_EQ(Eval("getGlobalObjectPos(0)"), "4,5,6");
  EXPECT_EQ(Eval("getGlobalObjectRotation(0)"), "7,8,9");
  EXPECT_EQ(Eval("getGlobalObjectInterior(0)"), "4");
  for (auto* c : {alpha_, bravo_}) {
    auto pos = Last(*c, "SetGlobalObjectPos", 6 + 96);
    EXPECT_EQ(Comp<uint16_t>(*pos), 0);
    EXPECT_EQ(Plain<float>(*pos), 4.0f);
    EXPECT_EQ(Plain<float>(*pos), 5.0f);
    EXPECT_EQ(Plain<float>(*pos), 6.0f);
    auto rot = Last(*c, "SetGlobalObjectRotation", 6 + 96);
    EXPECT_EQ(Comp<uint16_t>(*rot), 0);
    EXPECT_EQ(Plain<float>(*rot), 7.0f);
    auto interior = Last(*c, "SetGlobalObjectInterior", 6 + 5);
    EXPECT_EQ(Comp<uint16_t>(*interior), 0);
    EXPECT_EQ(Comp<uint8_t>(*interior), 4);
  }
}

TEST_F(ObjectNativesTest, MovesStoreTheTargetAtOnceAndStopChangesNothing) {
  ASSERT_EQ(RunLua("for i = 0, 5 do createGlobalObject(20 + i, 0, 0, 0, 0, 0, 0, 0) end"), "");
  EXPECT_EQ(Eval("moveGlobalObject(5, 10, 20, 30, 2)"), "");
  EXPECT_EQ(Eval("getGlobalObjectPos(5)"), "10,20,30");
  EXPECT_EQ(Eval("moveGlobalObjectAngles(300, 1, 2, 3, 0.5)"), "");  // no object 300
  EXPECT_EQ(Eval("moveGlobalObjectAngles(4, 45, 90, 135, 0.5)"), "");
  EXPECT_EQ(Eval("getGlobalObjectRotation(4)"), "45,90,135");
  EXPECT_EQ(Eval("stopGlobalObject(5)"), "");
  EXPECT_EQ(Eval("getGlobalObjectPos(5)"), "10,20,30");
  // Stop checks nothing: the clients hear of ids that hold no object too.
  EXPECT_EQ(Eval("stopGlobalObject(300)"), "");
  Settle();

  auto move = Last(*alpha_, "MoveGlobalObject", 6 + 128);
  EXPECT_EQ(Comp<uint16_t>(*move), 5);
  EXPECT_EQ(Plain<float>(*move), 10.0f);
  EXPECT_EQ(Plain<float>(*move), 20.0f);
  EXPECT_EQ(Plain<float>(*move), 30.0f);
  EXPECT_EQ(Plain<float>(*move), 2.0f);
  EXPECT_EQ(alpha_->Count("MoveGlobalObjectAngles"), 1u);
  auto angles = Last(*bravo_, "MoveGlobalObjectAngles", 6 + 128);
  EXPECT_EQ(Comp<uint16_t>(*angles), 4);
  EXPECT_EQ(Plain<float>(*angles), 45.0f);
  EXPECT_EQ(Plain<float>(*angles), 90.0f);
  EXPECT_EQ(Plain<float>(*angles), 135.0f);
  EXPECT_EQ(Plain<float>(*angles), 0.5f);
  ASSERT_EQ(bravo_->Count("StopGlobalObject"), 2u);
  EXPECT_EQ(Comp<uint16_t>(*bravo_->Rpcs("StopGlobalObject")[0].Reader()), 5);
  EXPECT_EQ(Comp<uint16_t>(*Last(*bravo_, "StopGlobalObject", 17)), 300);
}

TEST_F(ObjectNativesTest, GlobalGettersReadFreeAndOutOfRangeIdsAsZero) {
  EXPECT_EQ(Eval("getGlobalObjectPos(999)"), "0,0,0");
  EXPECT_EQ(Eval("getGlobalObjectRotation(1000)"), "0,0,0");
  EXPECT_EQ(Eval("getGlobalObjectModel(-1)"), "0");
  EXPECT_EQ(Eval("getGlobalObjectInterior(40000)"), "0");
  EXPECT_EQ(Eval("getGlobalObjectModel()"), "");
}

TEST_F(ObjectNativesTest, LocalObjectsBelongToOnePlayer) {
  EXPECT_EQ(Lua("return createLocalObject(A, 1500, 1, 2, 3, 4, 5, 6, 20)"), "0");
  EXPECT_EQ(Lua("return createLocalObject(A, 1501, 0, 0, 0, 0, 0, 0, 0)"), "1");
  Settle();
  EXPECT_EQ(bravo_->Count("CreateLocalObject"), 0u);
  ASSERT_EQ(alpha_->Count("CreateLocalObject"), 2u);
  {
    auto s = alpha_->Rpcs("CreateLocalObject")[0].Reader();
    EXPECT_EQ(alpha_->Rpcs("CreateLocalObject")[0].bits, 2u + 1u + 16u + 192u + 9u);
    EXPECT_EQ(Comp<uint32_t>(*s), 1500u);
    for (float v : {1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f}) EXPECT_EQ(Plain<float>(*s), v);
    EXPECT_EQ(Comp<uint8_t>(*s), 20);
  }
  EXPECT_EQ(Copy(Local().Get(a_, 0).model), 1500u);
  EXPECT_EQ(Lua("return getLocalObjectModel(A, 0)"), "1500");
  EXPECT_EQ(Lua("return getLocalObjectModel(B, 0)"), "0");
  EXPECT_EQ(Lua("return getLocalObjectInterior(A, 0)"), "20");

  EXPECT_EQ(Lua("setLocalObjectPos(A, 1, 7, 8, 9)"), "");
  EXPECT_EQ(Lua("setLocalObjectRotation(A, 1, 10, 11, 12)"), "");
  EXPECT_EQ(Lua("setLocalObjectInterior(A, 1, 258)"), "");
  EXPECT_EQ(Lua("destroyLocalObject(A, 0)"), "");
  Settle();
  EXPECT_EQ(Lua("return getLocalObjectPos(A, 1)"), "7,8,9");
  EXPECT_EQ(Lua("return getLocalObjectRotation(A, 1)"), "10,11,12");
  EXPECT_EQ(Lua("return getLocalObjectInterior(A, 1)"), "2");
  EXPECT_EQ(Copy(Local().Get(a_, 0).model), 0u);
  EXPECT_EQ(Total(*bravo_), 0u);
  auto pos = Last(*alpha_, "SetLocalObjectPos", 6 + 96);
  EXPECT_EQ(Comp<uint16_t>(*pos), 1);
  EXPECT_EQ(Plain<float>(*pos), 7.0f);
  auto rot = Last(*alpha_, "SetLocalObjectRotation", 6 + 96);
  EXPECT_EQ(Comp<uint16_t>(*rot), 1);
  EXPECT_EQ(Plain<float>(*rot), 10.0f);
  auto interior = Last(*alpha_, "SetLocalObjectInterior", 6 + 5);
  EXPECT_EQ(Comp<uint16_t>(*interior), 1);
  EXPECT_EQ(Comp<uint8_t>(*interior), 2);
  EXPECT_EQ(Comp<uint16_t>(*Last(*alpha_, "DestroyLocalObject", 6)), 0);
}

TEST_F(ObjectNativesTest, LocalNativesGuardThePlayerOnSixteenBits) {
  const int freeSlot = 77;
  ASSERT_FALSE(GetPlayerPool()->IsInUse(freeSlot));
  ASSERT_EQ(Lua("return createLocalObject(A, 1500, 0, 0, 0, 0, 0, 0, 0)"), "0");
  Settle();
  const size_t before = Total(*alpha_);

  // A player who is not connected, and A + 256, which is not read as A.
  EXPECT_EQ(Eval("createLocalObject(77, 1, 0, 0, 0, 0, 0, 0, 0)"), "-1");
  EXPECT_EQ(Lua("return createLocalObject(A + 256, 1, 0, 0, 0, 0, 0, 0, 0)"), "-1");
  EXPECT_EQ(Lua("return setLocalObjectPos(A + 256, 0, 1, 1, 1)"), "");
  EXPECT_EQ(Lua("return destroyLocalObject(A + 256, 0)"), "");
  EXPECT_EQ(Lua("return setLocalObjectInterior(A, 100, 1)"), "");
  EXPECT_EQ(Lua("return setLocalObjectRotation(A, 1, 1, 1, 1)"), "");  // free slot
  Settle();
  EXPECT_EQ(Total(*alpha_), before);
  EXPECT_EQ(Copy(Local().Get(a_, 0).model), 1500u);
  EXPECT_EQ(Copy(Local().Get(a_, 0).x), 0.0f);

  // The low 16 bits name the player.
  EXPECT_EQ(Lua("return setLocalObjectPos(A + 65536, 0, 3, 3, 3)"), "");
  EXPECT_EQ(Copy(Local().Get(a_, 0).x), 3.0f);

  // Getters check nothing and stay inside the pool.
  EXPECT_EQ(Eval("getLocalObjectModel(100, 0)"), "0");
  EXPECT_EQ(Eval("getLocalObjectPos(-1, -1)"), "0,0,0");
  EXPECT_EQ(Lua("return getLocalObjectRotation(A, 100)"), "0,0,0");

  // A player's 101st local object is refused; the other player is untouched.
  for (int i = 1; i < kLocalObjectsPerPlayer; ++i) Local().Add(a_, 9, 0, 0, 0, 0, 0, 0, 0);
  EXPECT_EQ(Lua("return createLocalObject(A, 1, 0, 0, 0, 0, 0, 0, 0)"), "-1");
  EXPECT_EQ(Lua("return createLocalObject(B, 1, 0, 0, 0, 0, 0, 0, 0)"), "0");
  Settle();
  EXPECT_EQ(alpha_->Count("CreateLocalObject"), 1u);
  EXPECT_EQ(bravo_->Count("CreateLocalObject"), 1u);
}

TEST_F(ObjectNativesTest, APlayersLocalObjectsAreGoneAfterTheyLeave) {
  ASSERT_EQ(Lua("for i = 1, 3 do createLocalObject(B, 700 + i, 1, 1, 1, 0, 0, 0, 0) end"), "");
  ASSERT_EQ(Lua("return getLocalObjectModel(B, 2)"), "703");
  bravo_->Disconnect();
  ASSERT_TRUE(PumpUntil([&] { return !GetPlayerPool()->IsInUse(b_); }));
  EXPECT_EQ(Lua("local n = 0; for s = 0, 99 do n = n + getLocalObjectModel(B, s) end; return n"),
            "0");
  EXPECT_EQ(Lua("return getLocalObjectPos(B, 0)"), "0,0,0");
}

}  // namespace
