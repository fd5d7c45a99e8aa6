// The radar icon natives through a running server: the ids they hand out,
// what each change stores, what every notice carries (bit for bit) and to
// whom, the local natives' lack of a player guard, and that a refused call
// stores and sends nothing.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "core/game_fixture.h"
#include "core/iconpool.h"
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

const char* const kIconRpcs[] = {
    "CreateGlobalIcon", "DestroyGlobalIcon", "SetGlobalIconPosition", "SetGlobalIconSize",
    "SetGlobalIconColor", "ToggleGlobalIconFlashing", "CreateLocalIcon", "DestroyLocalIcon",
    "SetLocalIconPosition", "SetLocalIconSize", "SetLocalIconColor", "ToggleLocalIconFlashing"};

class IconNativesTest : public gametest::GameTest {
 protected:
  void SetUp() override {
    GameTest::SetUp();
    alpha_ = &ConnectAndJoin("Alpha");
    bravo_ = &ConnectAndJoin("Bravo");
    a_ = static_cast<uint8_t>(alpha_->Index());
    b_ = static_cast<uint8_t>(bravo_->Index());
    for (auto* c : {alpha_, bravo_}) {
      for (const char* name : kIconRpcs) c->Watch(name);
      c->Watch("TestBarrier");
    }
  }

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
    for (const char* name : kIconRpcs) n += c.Count(name);
    return n;
  }
  std::unique_ptr<net::BitStream> Last(support::TestClient& c, const char* name, uint32_t bits) {
    const support::ReceivedRpc* rpc = c.LastRpc(name);
    if (!rpc) {
      ADD_FAILURE() << name << " not received";
      return std::make_unique<net::BitStream>();
    }
    EXPECT_EQ(rpc->bits, bits) << name;
    return rpc->Reader();
  }
  // A vector write: the magnitude, then the direction as three u16.
  static void ExpectVector(net::BitStream& s, float x, float y, float z) {
    float rx = 0, ry = 0, rz = 0;
    ASSERT_TRUE(s.ReadVector(rx, ry, rz));
    EXPECT_NEAR(rx, x, 0.01f);
    EXPECT_NEAR(ry, y, 0.01f);
    EXPECT_NEAR(rz, z, 0.01f);
  }
  const IconRecord& GlobalIcon(int id) { return gGlobalIconPool->records[id]; }
  const IconRecord& LocalIcon(int player, int slot) {
    return gLocalIconPool->Get(static_cast<uint16_t>(player), static_cast<uint16_t>(slot));
  }

  support::TestClient* alpha_ = nullptr;
  support::TestClient* bravo_ = nullptr;
  uint8_t a_ = 0;
  uint8_t b_ = 0;
};

constexpr uint32_t kVectorBits = 32 + 3 * 16;

TEST_F(IconNativesTest, GlobalCreateStoresTheFlagAsABitButSendsTheByte) {
  EXPECT_EQ(Eval("createGlobalIcon(30, 40, 0, 5, 2, 7)"), "0");
  EXPECT_EQ(Eval("createGlobalIcon(0, 0, 0, 300, 17, 0)"), "1");
  Settle();
  const IconRecord& r = GlobalIcon(0);
  EXPECT_EQ(r.used, 1);
  EXPECT_EQ(r.optionFlag, 1);
  EXPECT_EQ(r.type, 5);
  EXPECT_EQ(r.size, 2);
  EXPECT_EQ(Copy(r.x), 30.0f);
  EXPECT_EQ(Copy(r.y), 40.0f);
  EXPECT_EQ(r.flashing, 0);
  for (uint8_t c : r.colour) EXPECT_EQ(c, 0xFF);
  EXPECT_EQ(GlobalIcon(1).optionFlag, 0);
  EXPECT_EQ(GlobalIcon(1).type, 44);

  for (auto* c : {alpha_, bravo_}) {
    ASSERT_EQ(c->Count("CreateGlobalIcon"), 2u);
    const auto first = c->Rpcs("CreateGlobalIcon")[0];
    EXPECT_EQ(first.bits, kVectorBits + 5 + 5 + 5);
    auto s = first.Reader();
    ExpectVector(*s, 30, 40, 0);
    EXPECT_EQ(Comp<uint8_t>(*s), 5);
    EXPECT_EQ(Comp<uint8_t>(*s), 2);
    EXPECT_EQ(Comp<uint8_t>(*s), 7);
    // A zero vector is its magnitude alone.
    auto second = Last(*c, "CreateGlobalIcon", 32 + 9 + 9 + 5);
    ExpectVector(*second, 0, 0, 0);
    EXPECT_EQ(Comp<uint8_t>(*second), 44);
    EXPECT_EQ(Comp<uint8_t>(*second), 17);
    EXPECT_EQ(Comp<uint8_t>(*second), 0);
  }
  EXPECT_EQ(Eval("createGlobalIcon(0, 0, 0, 1, 1)"), "-1");
  EXPECT_EQ(Eval("createGlobalIcon()"), "-1");
}

TEST_F(IconNativesTest, AFullGlobalPoolReturnsMinusOneAndFreedIdsComeBack) {
  for (int i = 0; i < kMaxGlobalIcons - 1; ++i) ASSERT_TRUE(gGlobalIconPool->Add(0, 0, 0, 1, 1, 0));
  EXPECT_EQ(Eval("createGlobalIcon(0, 0, 0, 1, 1, 0)"), "99");
  EXPECT_EQ(Eval("createGlobalIcon(0, 0, 0, 1, 1, 0)"), "-1");
  EXPECT_EQ(Eval("destroyGlobalIcon(5)"), "");
  EXPECT_EQ(Eval("createGlobalIcon(0, 0, 0, 1, 1, 0)"), "5");
  Settle();
  EXPECT_EQ(alpha_->Count("CreateGlobalIcon"), 2u);
  EXPECT_EQ(Comp<uint16_t>(*Last(*bravo_, "DestroyGlobalIcon", 6)), 5);
}

TEST_F(IconNativesTest, GlobalSettersStoreAndSendOnlyForUsedIds) {
  ASSERT_EQ(Eval("createGlobalIcon(0, 0, 0, 1, 1, 0)"), "0");
  ASSERT_EQ(Eval("createGlobalIcon(0, 0, 0, 1, 1, 0)"), "1");
  ASSERT_EQ(Eval("destroyGlobalIcon(1)"), "");
  Settle();
  const size_t before = Total(*alpha_);
  const IconRecord kept = GlobalIcon(0);

  EXPECT_EQ(Eval("setGlobalIconColor(100, 1, 2, 3, 4)"), "");
  EXPECT_EQ(Eval("setGlobalIconColor(1, 1, 2, 3, 4)"), "");  // destroyed
  EXPECT_EQ(Eval("setGlobalIconSize(1, 9)"), "");
  EXPECT_EQ(Eval("setGlobalIconPosition(-1, 1, 2, 3)"), "");
  EXPECT_EQ(Eval("toggleGlobalIconFlashing(1, 1)"), "");
  EXPECT_EQ(Eval("destroyGlobalIcon(1)"), "");
  EXPECT_EQ(Eval("setGlobalIconSize(0)"), "");
  Settle();
  EXPECT_EQ(Total(*alpha_), before);
  EXPECT_EQ(std::memcmp(&GlobalIcon(0), &kept, sizeof kept), 0);
  EXPECT_EQ(GlobalIcon(1).used, 0);

  // Ids keep their low 16 bits; colours and sizes their low 8.
  EXPECT_EQ(Eval("setGlobalIconColor(65536, 1, 2, 3, 300)"), "");
  EXPECT_EQ(Eval("setGlobalIconSize(0, 20)"), "");
  EXPECT_EQ(Eval("setGlobalIconPosition(0, 0, 0, -12.5)"), "");
  Settle();
  EXPECT_EQ(GlobalIcon(0).colour[0], 1);
  EXPECT_EQ(GlobalIcon(0).colour[3], 44);
  EXPECT_EQ(GlobalIcon(0).size, 20);
  EXPECT_EQ(Copy(GlobalIcon(0).z), -12.5f);
  for (auto* c : {alpha_, bravo_}) {
    auto color = Last(*c, "SetGlobalIconColor", 6 + 5 + 5 + 5 + 9);
    EXPECT_EQ(Comp<uint16_t>(*color), 0);
    for (int v : {1, 2, 3, 44}) EXPECT_EQ(Comp<uint8_t>(*color), v);
    auto size = Last(*c, "SetGlobalIconSize", 6 + 9);
    EXPECT_EQ(Comp<uint16_t>(*size), 0);
    EXPECT_EQ(Comp<uint8_t>(*size), 20);
    auto pos = Last(*c, "SetGlobalIconPosition", 6 + kVectorBits);
    EXPECT_EQ(Comp<uint16_t>(*pos), 0);
    ExpectVector(*pos, 0, 0, -12.5f);
  }
}

TEST_F(IconNativesTest, FlashingIsReducedToZeroOrOne) {
  ASSERT_EQ(Eval("createGlobalIcon(0, 0, 0, 1, 1, 0)"), "0");
  EXPECT_EQ(Eval("toggleGlobalIconFlashing(0, 5)"), "");
  EXPECT_EQ(GlobalIcon(0).flashing, 1);
  Settle();
  auto on = Last(*alpha_, "ToggleGlobalIconFlashing", 6 + 5);
  EXPECT_EQ(Comp<uint16_t>(*on), 0);
  EXPECT_EQ(Comp<uint8_t>(*on), 1);

  EXPECT_EQ(Eval("toggleGlobalIconFlashing(0, 256)"), "");  // low 8 bits: 0
  EXPECT_EQ(GlobalIcon(0).flashing, 0);
  ASSERT_EQ(Lua("return createLocalIcon(A, 0, 0, 0, 1, 1, 0)"), "0");
  EXPECT_EQ(Lua("return toggleLocalIconFlashing(A, 0, 9)"), "");
  EXPECT_EQ(LocalIcon(a_, 0).flashing, 1);
  Settle();
  auto off = Last(*bravo_, "ToggleGlobalIconFlashing", 6 + 5);
  EXPECT_EQ(Comp<uint16_t>(*off), 0);
  EXPECT_EQ(Comp<uint8_t>(*off), 0);
  auto local = Last(*alpha_, "ToggleLocalIconFlashing", 6 + 5);
  EXPECT_EQ(Comp<uint16_t>(*local), 0);
  EXPECT_EQ(Comp<uint8_t>(*local), 1);
  EXPECT_EQ(bravo_->Count("ToggleLocalIconFlashing"), 0u);
}

TEST_F(IconNativesTest, LocalIconsGoToTheirPlayerWithTheSlot) {
  EXPECT_EQ(Lua("return createLocalIcon(A, 0, 50, 0, 3, 4, 2)"), "0");
  EXPECT_EQ(Lua("return createLocalIcon(A, 0, 0, 0, 1, 1, 0)"), "1");
  EXPECT_EQ(Lua("return createLocalIcon(B, 0, 0, 0, 1, 1, 0)"), "0");
  Settle();
  EXPECT_EQ(LocalIcon(a_, 0).optionFlag, 1);
  EXPECT_EQ(Copy(LocalIcon(a_, 0).y), 50.0f);
  EXPECT_EQ(alpha_->Count("CreateLocalIcon"), 2u);
  EXPECT_EQ(bravo_->Count("CreateLocalIcon"), 1u);
  auto create = alpha_->Rpcs("CreateLocalIcon")[0].Reader();
  EXPECT_EQ(alpha_->Rpcs("CreateLocalIcon")[0].bits, kVectorBits + 15);
  ExpectVector(*create, 0, 50, 0);
  for (int v : {3, 4, 2}) EXPECT_EQ(Comp<uint8_t>(*create), v);

  EXPECT_EQ(Lua("return setLocalIconColor(A, 1, 10, 20, 30, 40)"), "");
  EXPECT_EQ(Lua("return setLocalIconSize(A, 1, 6)"), "");
  EXPECT_EQ(Lua("return setLocalIconPosition(A, 1, 1, 2, 3)"), "");
  EXPECT_EQ(Lua("return destroyLocalIcon(A, 0)"), "");
  Settle();
  EXPECT_EQ(bravo_->Count("SetLocalIconColor") + bravo_->Count("DestroyLocalIcon"), 0u);
  EXPECT_EQ(LocalIcon(a_, 1).colour[3], 40);
  EXPECT_EQ(LocalIcon(a_, 1).size, 6);
  EXPECT_EQ(Copy(LocalIcon(a_, 1).z), 3.0f);
  EXPECT_EQ(LocalIcon(a_, 0).used, 0);
  EXPECT_EQ(LocalIcon(b_, 0).used, 1);
  auto color = Last(*alpha_, "SetLocalIconColor", 6 + 5 + 3 * 9);
  EXPECT_EQ(Comp<uint16_t>(*color), 1);
  for (int v : {10, 20, 30, 40}) EXPECT_EQ(Comp<uint8_t>(*color), v);
  auto size = Last(*alpha_, "SetLocalIconSize", 6 + 5);
  EXPECT_EQ(Comp<uint16_t>(*size), 1);
  EXPECT_EQ(Comp<uint8_t>(*size), 6);
  auto pos = Last(*alpha_, "SetLocalIconPosition", 6 + kVectorBits);
  EXPECT_EQ(Comp<uint16_t>(*pos), 1);
  ExpectVector(*pos, 1, 2, 3);
  EXPECT_EQ(Comp<uint16_t>(*Last(*alpha_, "DestroyLocalIcon", 6)), 0);
}

TEST_F(IconNativesTest, LocalNativesTestOnlyTheRecordAndStayInsideThePool) {
  ASSERT_EQ(Lua("return createLocalIcon(A, 0, 0, 0, 1, 1, 0)"), "0");
  Settle();
  const size_t before = Total(*alpha_);

  // Refused: a free slot, slot 25, a wrong count, players outside 0..99.
  EXPECT_EQ(Lua("return destroyLocalIcon(A, 3)"), "");
  EXPECT_EQ(Lua("return setLocalIconSize(A, 25, 1)"), "");
  EXPECT_EQ(Lua("return createLocalIcon(A, 0, 0, 0, 1, 1)"), "-1");
  EXPECT_EQ(Eval("createLocalIcon(100, 0, 0, 0, 1, 1, 0)"), "-1");
  EXPECT_EQ(Eval("createLocalIcon(-1, 0, 0, 0, 1, 1, 0)"), "-1");
  EXPECT_EQ(Lua("return createLocalIcon(A + 256, 0, 0, 0, 1, 1, 0)"), "-1");
  EXPECT_EQ(Eval("destroyLocalIcon(32768, 0)"), "");
  Settle();
  EXPECT_EQ(Total(*alpha_), before);
  EXPECT_EQ(LocalIcon(a_, 1).used, 0);

  // The player id keeps its low 16 bits: A + 65536 is A.
  EXPECT_EQ(Lua("return createLocalIcon(A + 65536, 0, 0, 0, 1, 1, 0)"), "1");

  // No player guard: a slot without a connection keeps records all the same.
  const int freeSlot = 77;
  ASSERT_FALSE(GetPlayerPool()->IsInUse(freeSlot));
  EXPECT_EQ(Eval("createLocalIcon(77, 0, 0, 0, 8, 8, 0)"), "0");
  EXPECT_EQ(LocalIcon(freeSlot, 0).type, 8);
  EXPECT_EQ(Eval("setLocalIconSize(77, 0, 9)"), "");
  EXPECT_EQ(LocalIcon(freeSlot, 0).size, 9);

  // A player's 26th icon is refused.
  for (int s = 2; s < kLocalIconsPerPlayer; ++s) {
    ASSERT_TRUE(gLocalIconPool->Add(a_, 0, 0, 0, 1, 1, 0));
  }
  EXPECT_EQ(Lua("return createLocalIcon(A, 0, 0, 0, 1, 1, 0)"), "-1");
  Settle();
  EXPECT_EQ(alpha_->Count("CreateLocalIcon"), 2u);
  EXPECT_EQ(Total(*bravo_), 0u);
}

}  // namespace
