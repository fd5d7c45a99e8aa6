// The marker natives through a running server: ids shared by checkpoints and
// coronas, the kind checks, the local in-use flags, what every notice carries
// (bit for bit) and to whom, and that a refused call stores and sends nothing.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "core/game_fixture.h"
#include "core/markerpool.h"
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

const char* const kMarkerRpcs[] = {
    "CreateCheckpoint", "DestroyCheckpoint", "SetCheckpointRadius", "SetCheckpointPos",
    "CreateCorona", "DestroyCorona", "SetCoronaRGB", "SetCoronaPos",
    "CreateLocalCheckpoint", "DestroyLocalCheckpoint", "SetLocalCheckpointRadius",
    "SetLocalCheckpointPos", "CreateLocalCorona", "DestroyLocalCorona", "SetLocalCoronaRGB",
    "SetLocalCoronaPos"};

class MarkerNativesTest : public gametest::GameTest {
 protected:
  void SetUp() override {
    GameTest::SetUp();
    alpha_ = &ConnectAndJoin("Alpha");
    bravo_ = &ConnectAndJoin("Bravo");
    a_ = static_cast<uint8_t>(alpha_->Index());
    b_ = static_cast<uint8_t>(bravo_->Index());
    for (auto* c : {alpha_, bravo_}) {
      for (const char* name : kMarkerRpcs) c->Watch(name);
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
    for (const char* name : kMarkerRpcs) n += c.Count(name);
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
  MarkerRecord& Marker(int id) { return gMarkerPool->records[id]; }
  uint8_t* Flags(uint8_t player) { return GetPlayerPool()->localMarkers[player]; }

  support::TestClient* alpha_ = nullptr;
  support::TestClient* bravo_ = nullptr;
  uint8_t a_ = 0;
  uint8_t b_ = 0;
};

TEST_F(MarkerNativesTest, CheckpointsAndCoronasShareTheLowestFreeIds) {
  EXPECT_EQ(Eval("createGlobalCheckpoint(1, 2, 3, 4)"), "0");
  EXPECT_EQ(Eval("createGlobalCorona(5, 6, 7, 300, -1, 255)"), "1");
  Settle();
  EXPECT_EQ(Marker(0).kind, kMarkerCheckpoint);
  EXPECT_EQ(Copy(Marker(0).radius), 4.0f);
  EXPECT_EQ(Marker(0).red + Marker(0).green + Marker(0).blue, 0);
  EXPECT_EQ(Marker(1).kind, kMarkerCorona);
  EXPECT_EQ(Copy(Marker(1).radius), 5.5f);
  EXPECT_EQ(Marker(1).red, 44);
  EXPECT_EQ(Marker(1).green, 255);
  EXPECT_EQ(Marker(1).blue, 255);
  EXPECT_EQ(Eval("getGlobalMarkerType(0)"), "1");
  EXPECT_EQ(Eval("getGlobalMarkerType(257)"), "2");  // the id keeps 8 bits
  EXPECT_EQ(Eval("getGlobalMarkerType(60)"), "0");

  for (auto* c : {alpha_, bravo_}) {
    auto cp = Last(*c, "CreateCheckpoint", 128);
    for (float v : {1.0f, 2.0f, 3.0f, 4.0f}) EXPECT_EQ(Plain<float>(*cp), v);
    // Three floats, then c8 44 and c8 255 twice (9 bits each).
    auto corona = Last(*c, "CreateCorona", 96 + 27);
    for (float v : {5.0f, 6.0f, 7.0f}) EXPECT_EQ(Plain<float>(*corona), v);
    EXPECT_EQ(Comp<uint8_t>(*corona), 44);
    EXPECT_EQ(Comp<uint8_t>(*corona), 255);
    EXPECT_EQ(Comp<uint8_t>(*corona), 255);
  }

  EXPECT_EQ(Eval("destroyGlobalCheckpoint(0)"), "");
  EXPECT_EQ(Eval("getGlobalMarkerType(0)"), "0");
  EXPECT_EQ(Eval("createGlobalCorona(0, 0, 0, 1, 2, 3)"), "0");
  EXPECT_EQ(Eval("destroyGlobalCorona(1)"), "");
  EXPECT_EQ(Eval("getGlobalMarkerType(1)"), "0");
  EXPECT_EQ(Eval("createGlobalCheckpoint(0, 0, 0, 1)"), "1");
  Settle();
  EXPECT_EQ(Comp<uint8_t>(*Last(*alpha_, "DestroyCheckpoint", 5)), 0);
  EXPECT_EQ(Comp<uint8_t>(*Last(*bravo_, "DestroyCorona", 5)), 1);
}

TEST_F(MarkerNativesTest, TheFiftyFirstMarkerIsRefused) {
  for (int i = 0; i < kMaxMarkers - 1; ++i) ASSERT_TRUE(gMarkerPool->AddCheckpoint(0, 0, 0, 1));
  EXPECT_EQ(Eval("createGlobalCorona(0, 0, 0, 1, 1, 1)"), "49");
  EXPECT_EQ(Eval("createGlobalCorona(0, 0, 0, 1, 1, 1)"), "-1");
  EXPECT_EQ(Eval("createGlobalCheckpoint(0, 0, 0, 1)"), "-1");
  Settle();
  EXPECT_EQ(alpha_->Count("CreateCorona"), 1u);
  EXPECT_EQ(alpha_->Count("CreateCheckpoint"), 0u);
}

TEST_F(MarkerNativesTest, GlobalChangesNeedTheirOwnKind) {
  ASSERT_EQ(Eval("createGlobalCheckpoint(0, 0, 0, 2)"), "0");
  ASSERT_EQ(Eval("createGlobalCorona(0, 0, 0, 9, 9, 9)"), "1");
  Settle();
  const size_t before = Total(*alpha_);
  const MarkerRecord checkpoint = Marker(0), corona = Marker(1);

  EXPECT_EQ(Eval("destroyGlobalCorona(0)"), "");
  EXPECT_EQ(Eval("setGlobalCoronaRGB(0, 1, 1, 1)"), "");
  EXPECT_EQ(Eval("setGlobalCoronaPos(0, 1, 1, 1)"), "");
  EXPECT_EQ(Eval("destroyGlobalCheckpoint(1)"), "");
  EXPECT_EQ(Eval("setGlobalCheckpointRadius(1, 8)"), "");
  EXPECT_EQ(Eval("setGlobalCheckpointPos(1, 1, 1, 1)"), "");
  EXPECT_EQ(Eval("setGlobalCheckpointRadius(50, 8)"), "");
  EXPECT_EQ(Eval("destroyGlobalCheckpoint(2)"), "");  // free
  Settle();
  EXPECT_EQ(Total(*alpha_), before);
  EXPECT_EQ(std::memcmp(&Marker(0), &checkpoint, sizeof checkpoint), 0);
  EXPECT_EQ(std::memcmp(&Marker(1), &corona, sizeof corona), 0);

  EXPECT_EQ(Eval("setGlobalCheckpointRadius(256, 8)"), "");  // id 0
  EXPECT_EQ(Eval("setGlobalCheckpointPos(0, 1, 2, 3)"), "");
  EXPECT_EQ(Eval("setGlobalCoronaRGB(1, 300, -1, 255)"), "");
  EXPECT_EQ(Eval("setGlobalCoronaPos(1, 4, 5, 6)"), "");
  Settle();
  EXPECT_EQ(Copy(Marker(0).radius), 8.0f);
  EXPECT_EQ(Copy(Marker(0).z), 3.0f);
  EXPECT_EQ(Marker(1).red, 44);
  EXPECT_EQ(Marker(1).green, 255);
  EXPECT_EQ(Marker(1).blue, 255);
  EXPECT_EQ(Copy(Marker(1).radius), 5.5f);
  EXPECT_EQ(Copy(Marker(1).x), 4.0f);
  for (auto* c : {alpha_, bravo_}) {
    auto radius = Last(*c, "SetCheckpointRadius", 5 + 32);
    EXPECT_EQ(Comp<uint8_t>(*radius), 0);
    EXPECT_EQ(Plain<float>(*radius), 8.0f);
    auto pos = Last(*c, "SetCheckpointPos", 5 + 96);
    EXPECT_EQ(Comp<uint8_t>(*pos), 0);
    for (float v : {1.0f, 2.0f, 3.0f}) EXPECT_EQ(Plain<float>(*pos), v);
    auto rgb = Last(*c, "SetCoronaRGB", 5 + 27);
    EXPECT_EQ(Comp<uint8_t>(*rgb), 1);
    EXPECT_EQ(Comp<uint8_t>(*rgb), 44);
    EXPECT_EQ(Comp<uint8_t>(*rgb), 255);
    EXPECT_EQ(Comp<uint8_t>(*rgb), 255);
    auto cpos = Last(*c, "SetCoronaPos", 5 + 96);
    EXPECT_EQ(Comp<uint8_t>(*cpos), 1);
    for (float v : {4.0f, 5.0f, 6.0f}) EXPECT_EQ(Plain<float>(*cpos), v);
  }
}

TEST_F(MarkerNativesTest, LocalMarkersKeepOnlyFlagsAndGoToTheirPlayer) {
  EXPECT_EQ(Lua("return createLocalCheckpoint(A, 1, 2, 3, 4)"), "0");
  EXPECT_EQ(Lua("return createLocalCorona(A, 5, 6, 7, 20, 1, 300)"), "1");
  Settle();
  EXPECT_EQ(Flags(a_)[0], 1);
  EXPECT_EQ(Flags(a_)[1], 1);
  EXPECT_EQ(Flags(a_)[2], 0);
  EXPECT_EQ(Total(*bravo_), 0u);
  auto cp = Last(*alpha_, "CreateLocalCheckpoint", 128);
  for (float v : {1.0f, 2.0f, 3.0f, 4.0f}) EXPECT_EQ(Plain<float>(*cp), v);
  auto corona = Last(*alpha_, "CreateLocalCorona", 96 + 9 + 5 + 9);
  for (float v : {5.0f, 6.0f, 7.0f}) EXPECT_EQ(Plain<float>(*corona), v);
  EXPECT_EQ(Comp<uint8_t>(*corona), 20);
  EXPECT_EQ(Comp<uint8_t>(*corona), 1);
  EXPECT_EQ(Comp<uint8_t>(*corona), 44);

  // No kind is kept for a local slot: either family's natives accept it.
  EXPECT_EQ(Lua("return setLocalCheckpointRadius(A, 1, 9)"), "");
  EXPECT_EQ(Lua("return setLocalCheckpointPos(A, 1, 1, 2, 3)"), "");
  EXPECT_EQ(Lua("return setLocalCoronaRGB(A, 0, 1, 2, 3)"), "");
  EXPECT_EQ(Lua("return setLocalCoronaPos(A, 0, 4, 5, 6)"), "");
  EXPECT_EQ(Lua("return destroyLocalCorona(A, 0)"), "");
  Settle();
  EXPECT_EQ(Flags(a_)[0], 0);
  EXPECT_EQ(Total(*bravo_), 0u);
  auto radius = Last(*alpha_, "SetLocalCheckpointRadius", 5 + 32);
  EXPECT_EQ(Comp<uint8_t>(*radius), 1);
  EXPECT_EQ(Plain<float>(*radius), 9.0f);
  auto pos = Last(*alpha_, "SetLocalCheckpointPos", 5 + 96);
  EXPECT_EQ(Comp<uint8_t>(*pos), 1);
  for (float v : {1.0f, 2.0f, 3.0f}) EXPECT_EQ(Plain<float>(*pos), v);
  auto rgb = Last(*alpha_, "SetLocalCoronaRGB", 4 * 5);
  for (int v : {0, 1, 2, 3}) EXPECT_EQ(Comp<uint8_t>(*rgb), v);
  auto cpos = Last(*alpha_, "SetLocalCoronaPos", 5 + 96);
  EXPECT_EQ(Comp<uint8_t>(*cpos), 0);
  EXPECT_EQ(Plain<float>(*cpos), 4.0f);
  EXPECT_EQ(Comp<uint8_t>(*Last(*alpha_, "DestroyLocalCorona", 5)), 0);

  // The freed slot is the next one given out.
  EXPECT_EQ(Lua("return createLocalCheckpoint(A, 0, 0, 0, 1)"), "0");
  EXPECT_EQ(Lua("return destroyLocalCheckpoint(A, 1)"), "");
  Settle();
  EXPECT_EQ(Flags(a_)[1], 0);
  EXPECT_EQ(Comp<uint8_t>(*Last(*alpha_, "DestroyLocalCheckpoint", 5)), 1);
}

TEST_F(MarkerNativesTest, LocalMarkerRefusals) {
  ASSERT_EQ(Lua("return createLocalCheckpoint(A, 0, 0, 0, 1)"), "0");
  Settle();
  const size_t before = Total(*alpha_);

  // A player who is not connected: no results, nothing kept.
  EXPECT_EQ(Eval("createLocalCorona(77, 0, 0, 0, 1, 1, 1)"), "");
  EXPECT_EQ(Eval("createLocalCheckpoint(100, 0, 0, 0, 1)"), "");
  EXPECT_EQ(Flags(77)[0], 0);
  // Free slots, a slot beyond 24, a wrong count.
  EXPECT_EQ(Lua("return destroyLocalCheckpoint(A, 1)"), "");
  EXPECT_EQ(Lua("return destroyLocalCheckpoint(A, 25)"), "");
  EXPECT_EQ(Lua("return setLocalCoronaRGB(A, 255, 1, 1, 1)"), "");
  EXPECT_EQ(Lua("return setLocalCheckpointRadius(B, 0, 3)"), "");  // B has none
  EXPECT_EQ(Lua("return destroyLocalCorona(A)"), "");
  Settle();
  EXPECT_EQ(Total(*alpha_), before);
  EXPECT_EQ(Total(*bravo_), 0u);
  EXPECT_EQ(Flags(a_)[0], 1);

  // Player ids keep their low 8 bits: A + 256 is A.
  EXPECT_EQ(Lua("return createLocalCheckpoint(A + 256, 0, 0, 0, 1)"), "1");

  // A player with 25 local markers gets -1 and nothing is sent.
  for (int s = 0; s < kLocalMarkersPerPlayer; ++s) Flags(a_)[s] = 1;
  EXPECT_EQ(Lua("return createLocalCorona(A, 0, 0, 0, 1, 1, 1)"), "-1");
  EXPECT_EQ(Lua("return createLocalCheckpoint(A, 0, 0, 0, 1)"), "-1");
  Settle();
  EXPECT_EQ(alpha_->Count("CreateLocalCorona"), 0u);
  EXPECT_EQ(alpha_->Count("CreateLocalCheckpoint"), 2u);
}

TEST_F(MarkerNativesTest, ANewPlayerInASlotStartsWithNoLocalMarkers) {
  ASSERT_EQ(Lua("for i = 1, 25 do createLocalCheckpoint(B, 0, 0, 0, 1) end"), "");
  ASSERT_EQ(Lua("return createLocalCheckpoint(B, 0, 0, 0, 1)"), "-1");
  bravo_->Disconnect();
  ASSERT_TRUE(PumpUntil([&] { return !GetPlayerPool()->IsInUse(b_); }));
  // Whatever slot the newcomer gets, leftovers there must not count.
  for (int p = 0; p < kMaxPlayers; ++p) {
    if (!GetPlayerPool()->IsInUse(p)) std::memset(Flags(static_cast<uint8_t>(p)), 1, 25);
  }
  support::TestClient& charlie = ConnectAndJoin("Charlie");
  const std::string c = std::to_string(charlie.Index());
  EXPECT_EQ(Eval("createLocalCheckpoint(" + c + ", 0, 0, 0, 1)"), "0");
}

}  // namespace
