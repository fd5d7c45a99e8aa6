// The client calls: what each relays and to whom, with which bits, what it
// changes and which event it raises; and the calls a client makes for
// somebody else, which are dropped whole. (Calls cut short, and calls from
// connections that never joined: hostile_test.cpp.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/log.h"
#include "core/vehiclepool.h"
#include "game_fixture.h"

namespace {

using gametest::SameBits;
using gametest::Want;

class ClientCallTest : public gametest::GameTest {
 protected:
  void SetUp() override {
    GameTest::SetUp();
    alpha_ = &ConnectAndJoin("Alpha");
    bravo_ = &ConnectAndJoin("Bravo");
    a_ = static_cast<uint8_t>(alpha_->Index());
    b_ = static_cast<uint8_t>(bravo_->Index());
    sink_.events.clear();
    alpha_->Clear();
    bravo_->Clear();
  }

  static void Send(support::TestClient& from, const char* name, Rpc& payload) {
    ASSERT_TRUE(from.SendRpc(name, payload.Stream()));
  }
  static Rpc& Chat(Rpc& payload, uint8_t id, const std::string& text) {
    return payload.u8(id).u8(static_cast<uint8_t>(text.size())).chars(text.data(), text.size());
  }
  static Rpc& Chat(Rpc&& payload, uint8_t id, const std::string& text) { return Chat(payload, id, text); }
  std::string Log() const { return server_.ReadFile(kLogFileName); }
  std::string Id(uint8_t id) const { return std::to_string(id); }

  support::TestClient* alpha_ = nullptr;
  support::TestClient* bravo_ = nullptr;
  uint8_t a_ = 0, b_ = 0;
};

TEST_F(ClientCallTest, ChatGoesBitForBitToEveryoneUnlessMuted) {
  // A tail after the text is not relayed: a long one would go to every
  // player. A line break in the text must not start a line of its own in the log.
  Rpc chat = Want();
  Chat(chat, a_, "hello 100%s\n[JOIN] Admin");
  const std::string tail(65536, 't');
  Send(*alpha_, "PlayerChat",
       Chat(Want(), a_, "hello 100%s\n[JOIN] Admin").bit(true).chars(tail.data(), tail.size()));
  ASSERT_TRUE(PumpUntil([&] { return alpha_->Count("PlayerChat") == 1 && bravo_->Count("PlayerChat") == 1; }));
  EXPECT_TRUE(SameBits(alpha_->LastRpc("PlayerChat"), chat.Stream()));
  EXPECT_TRUE(SameBits(bravo_->LastRpc("PlayerChat"), chat.Stream()));
  EXPECT_NE(Log().find("[CHAT] Alpha: hello 100%s?[JOIN] Admin"), std::string::npos);

  // Muted: logged and raised, relayed to nobody (Bravo's line after it is
  // the only one either of them gets).
  Record(a_).muted = 1;
  Send(*alpha_, "PlayerChat", Chat(Want(), a_, "quiet"));
  Settle(*alpha_);
  Rpc loud = Want();
  Chat(loud, b_, "loud");
  Send(*bravo_, "PlayerChat", loud);
  ASSERT_TRUE(PumpUntil([&] { return alpha_->Count("PlayerChat") == 2 && bravo_->Count("PlayerChat") == 2; }));
  EXPECT_TRUE(SameBits(alpha_->LastRpc("PlayerChat"), loud.Stream()));
  EXPECT_NE(Log().find("[MUTED] Alpha: quiet"), std::string::npos);
  EXPECT_EQ(Log().find("[CHAT] Alpha: quiet"), std::string::npos);
  EXPECT_EQ(sink_.events, (std::vector<std::string>{"chat " + Id(a_) + " hello 100%s\n[JOIN] Admin",
                                                     "chat " + Id(a_) + " quiet",
                                                     "chat " + Id(b_) + " loud"}));
}

TEST_F(ClientCallTest, CallsForSomebodyElseAndOverlongCommandsAreDropped) {
  Record(b_).spawned = 1;
  // Alpha speaks, dies and walks into things as Bravo.
  Send(*alpha_, "PlayerChat", Chat(Want(), b_, "I am Bravo"));
  Send(*alpha_, "OnPlayerEnterVehicle", Want().u8(b_).u32(5).u8(0));
  Send(*alpha_, "OnPlayerExitVehicle", Want().c8(b_).c16(5));
  for (const char* name : {"PlayerDeath", "OnPlayerEnterGlobalMarker", "OnPlayerExitGlobalMarker",
                           "OnPlayerEnterLocalMarker", "OnPlayerExitLocalMarker"})
    Send(*alpha_, name, Want().u8(b_).u8(1).u8(2));
  for (const char* name : {"OnPlayerEnterGlobalPickup", "OnPlayerEnterLocalPickup"})
    Send(*alpha_, name, Want().u8(b_).u8(4));
  // A command line of 256 characters is over the limit; 255 is not.
  const std::string line(256, 'x');
  Send(*alpha_, "CommandSend", Want().u32(256).chars(line.data(), 256));
  Send(*alpha_, "CommandSend", Want().u32(255).chars(line.data(), 255));
  Settle(*alpha_);

  EXPECT_EQ(sink_.events, std::vector<std::string>{"command " + Id(a_) + " " + line.substr(0, 255)});
  EXPECT_EQ(+Record(b_).spawned, 1);
  EXPECT_EQ(alpha_->Count("PlayerChat") + bravo_->Count("PlayerChat"), 0u);
  EXPECT_EQ(alpha_->Count("PlayerDeath") + bravo_->Count("PlayerDeath"), 0u);
  EXPECT_EQ(Log().find("I am Bravo"), std::string::npos);
}

TEST_F(ClientCallTest, DeathClearsSpawnRelaysUnchangedAndRaisesKillerBeforeReason) {
  Record(a_).spawned = 1;
  Rpc death = Want();
  death.u8(a_).u8(7).u8(9);  // player, reason, killer
  Send(*alpha_, "PlayerDeath", death);
  ASSERT_TRUE(PumpUntil([&] { return alpha_->Count("PlayerDeath") == 1 && bravo_->Count("PlayerDeath") == 1; }));
  EXPECT_EQ(+Record(a_).spawned, 0);
  EXPECT_TRUE(SameBits(bravo_->LastRpc("PlayerDeath"), death.Stream()));
  EXPECT_EQ(sink_.events, std::vector<std::string>{"death " + Id(a_) + " 9 7"});
}

TEST_F(ClientCallTest, NewSpawnSetsTheRecordButNotThePositionAndTellsTheOthers) {
  Record(a_).x = 11;  // as the last movement packet left it
  Send(*alpha_, "NewSpawn", Want().c16(3).c16(65535).f32(1).f32(-2).f32(3.5f).f32(90).c8(200));
  ASSERT_TRUE(PumpUntil([&] { return bravo_->Count("NewSpawn") == 1 && !sink_.events.empty(); }));

  const PlayerRecord& r = Record(a_);
  EXPECT_EQ(+r.spawned, 1);
  EXPECT_EQ(+r.classInfo[0], 3);
  EXPECT_EQ(+r.classInfo[1], -1);
  EXPECT_EQ(+r.skin, 200);
  EXPECT_EQ(+r.x, 11.0f);
  EXPECT_EQ(alpha_->Count("NewSpawn"), 0u);
  EXPECT_TRUE(SameBits(bravo_->LastRpc("NewSpawn"),
                       Want().c8(a_).f32(1).f32(-2).f32(3.5f).f32(90).c8(200).Stream()));
  EXPECT_EQ(sink_.events, std::vector<std::string>{"spawn " + Id(a_)});
}

TEST_F(ClientCallTest, NoticesRaiseTheirEventsAndVehicleEntryGoesToTheOthers) {
  Send(*alpha_, "OnPlayerEnterVehicle", Want().u8(a_).u32(123456).u8(2));
  Send(*alpha_, "OnPlayerExitVehicle", Want().c8(a_).c16(40000));
  const char* markerCalls[] = {"OnPlayerEnterGlobalMarker", "OnPlayerExitGlobalMarker",
                               "OnPlayerEnterLocalMarker", "OnPlayerExitLocalMarker"};
  for (uint8_t i = 0; i < 4; ++i) Send(*alpha_, markerCalls[i], Want().u8(a_).u8(10 + i).u8(20 + i));
  for (const char* name : {"OnPlayerEnterGlobalPickup", "OnPlayerEnterLocalPickup"})
    Send(*alpha_, name, Want().u8(a_).u8(99));
  Send(*alpha_, "OnPlayerKeyPress", Want().c32(0x1FF));
  Send(*alpha_, "SendVehicleEntry", Want().c16(321).c8(1));  // no such vehicle
  Settle(*alpha_);
  ASSERT_TRUE(PumpUntil([&] { return bravo_->Count("SendVehicleEntry") == 1; }));

  const std::string p = Id(a_);
  EXPECT_EQ(sink_.events, (std::vector<std::string>{
                              "entervehicle " + p + " 123456 2",
                              "exitvehicle " + p + " -25536",
                              "enterglobalmarker " + p + " 10 20",
                              "exitglobalmarker " + p + " 11 21",
                              "enterlocalmarker " + p + " 12 22",
                              "exitlocalmarker " + p + " 13 23",
                              "enterglobalpickup " + p + " 99",
                              "enterlocalpickup " + p + " 99",
                              "keypress " + p + " 255",
                          }));
  EXPECT_TRUE(SameBits(bravo_->LastRpc("SendVehicleEntry"), Want().c8(a_).c16(321).c8(1).Stream()));
  EXPECT_EQ(alpha_->Count("SendVehicleEntry"), 0u);
}

TEST_F(ClientCallTest, VehicleDeathStartsTheRespawnOnceAndOnlyForARealVehicle) {
  VehiclePool* pool = GetVehiclePool();
  ASSERT_EQ(pool->Add(150, 0, 0, 0, 0, 1, 1), 1);
  auto death = [](support::TestClient& from, int16_t id) {
    Send(from, "VehicleDeath", Want().c16(static_cast<uint16_t>(id)).bit(true));
  };
  for (int16_t bad : {0, 2, 500, -1}) death(*alpha_, bad);
  Settle(*alpha_);
  EXPECT_EQ(+pool->respawnState[1], kRespawnNone);

  // The respawn sweep of the next pass takes it on and explodes it everywhere.
  death(*alpha_, 1);
  Settle(*alpha_);
  EXPECT_NE(+pool->respawnState[1], kRespawnNone);
  EXPECT_EQ(+pool->stateTime[1], gametest::frozenNowMs);
  ASSERT_TRUE(PumpUntil([&] { return bravo_->Count("Respawn_ExplodeVehicle") == 1; }));

  // A second report while the respawn is under way changes nothing.
  gametest::frozenNowMs += 5;
  death(*bravo_, 1);
  Settle(*bravo_);
  gametest::frozenNowMs -= 5;
  EXPECT_EQ(+pool->stateTime[1], gametest::frozenNowMs);
  Settle(*bravo_);
  EXPECT_EQ(bravo_->Count("Respawn_ExplodeVehicle"), 1u);
}

}  // namespace
