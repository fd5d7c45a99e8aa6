// The client calls: what each relays and to whom, with which bits, what it
// changes and which event it raises; and the calls a client makes for
// somebody else, or cuts short, which are dropped whole.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/log.h"
#include "core/vehiclepool.h"
#include "game_fixture.h"

namespace {

using gametest::Comp;
using gametest::Plain;
using gametest::RawBytes;

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

  // Sends a call from `from`, then a command line after it: once the script
  // has that line, the server has handled the call.
  void SendAndSettle(support::TestClient& from, const char* name, const net::BitStream& payload) {
    ASSERT_TRUE(from.SendRpc(name, payload));
    Settle(from);
  }
  void Settle(support::TestClient& from) {
    const std::string line = "/settle" + std::to_string(++settles_);
    net::BitStream command;
    command.Write(static_cast<uint32_t>(line.size()));
    command.WriteBytes(line.data(), static_cast<uint32_t>(line.size()));
    ASSERT_TRUE(from.SendRpc("CommandSend", command));
    const std::string expected = "command " + std::to_string(from.Index()) + " " + line;
    ASSERT_TRUE(PumpUntil([&] {
      return !sink_.events.empty() && sink_.events.back() == expected;
    }));
    sink_.events.pop_back();
  }

  static net::BitStream* Chat(net::BitStream& s, uint8_t id, const std::string& text) {
    s.Write(id);
    s.Write(static_cast<uint8_t>(text.size()));
    s.WriteBytes(text.data(), static_cast<uint32_t>(text.size()));
    return &s;
  }
  static void Three(net::BitStream& s, uint8_t a, uint8_t b, uint8_t c) {
    s.Write(a);
    s.Write(b);
    s.Write(c);
  }
  std::string Log() const { return server_.ReadFile(kLogFileName); }
  std::string Id(uint8_t id) const { return std::to_string(id); }

  support::TestClient* alpha_ = nullptr;
  support::TestClient* bravo_ = nullptr;
  uint8_t a_ = 0, b_ = 0;
  int settles_ = 0;
};

TEST_F(ClientCallTest, ChatIsRelayedBitForBitToEveryoneLoggedAndRaised) {
  net::BitStream chat;
  Chat(chat, a_, "hello 100%s");
  chat.WriteBit(true);  // three stray bits: the relay keeps the exact count
  chat.WriteBit(false);
  chat.WriteBit(true);
  ASSERT_TRUE(alpha_->SendRpc("PlayerChat", chat));
  ASSERT_TRUE(PumpUntil([&] {
    return alpha_->Count("PlayerChat") == 1 && bravo_->Count("PlayerChat") == 1;
  }));
  for (auto* c : {alpha_, bravo_}) {
    const auto* got = c->LastRpc("PlayerChat");
    EXPECT_EQ(got->bits, chat.GetNumberOfBitsUsed());
    EXPECT_EQ(got->data, std::vector<uint8_t>(chat.GetData(), chat.GetData() + chat.GetNumberOfBytesUsed()));
  }
  EXPECT_NE(Log().find("[CHAT] Alpha: hello 100%s"), std::string::npos);
  EXPECT_EQ(sink_.events, std::vector<std::string>{"chat " + Id(a_) + " hello 100%s"});
}

TEST_F(ClientCallTest, MutedChatIsLoggedAndRaisedButNotRelayed) {
  Record(a_).muted = 1;
  net::BitStream chat;
  SendAndSettle(*alpha_, "PlayerChat", *Chat(chat, a_, "quiet"));
  net::BitStream after;
  ASSERT_TRUE(bravo_->SendRpc("PlayerChat", *Chat(after, b_, "loud")));
  ASSERT_TRUE(PumpUntil([&] {
    return alpha_->Count("PlayerChat") == 1 && bravo_->Count("PlayerChat") == 1;
  }));
  // The only line either of them got is Bravo's.
  EXPECT_EQ(alpha_->LastRpc("PlayerChat")->data[0], b_);
  EXPECT_EQ(bravo_->LastRpc("PlayerChat")->data[0], b_);
  EXPECT_NE(Log().find("[MUTED] Alpha: quiet"), std::string::npos);
  EXPECT_EQ(Log().find("[CHAT] Alpha: quiet"), std::string::npos);
  EXPECT_EQ(sink_.events.front(), "chat " + Id(a_) + " quiet");
}

TEST_F(ClientCallTest, CallsForSomebodyElseOrCutShortAreDroppedWhole) {
  Record(b_).spawned = 1;
  // Alpha speaks, dies and walks into things as Bravo.
  net::BitStream chat, death, vehicle, exitVehicle, marker, pickup;
  Chat(chat, b_, "I am Bravo");
  Three(death, b_, 1, 2);
  vehicle.Write(b_);
  vehicle.Write(static_cast<uint32_t>(5));
  vehicle.Write(static_cast<uint8_t>(0));
  exitVehicle.WriteCompressed(b_);
  exitVehicle.WriteCompressed(static_cast<uint16_t>(5));
  Three(marker, b_, 1, 2);
  pickup.Write(b_);
  pickup.Write(static_cast<uint8_t>(4));
  const std::vector<std::pair<const char*, net::BitStream*>> forged = {
      {"PlayerChat", &chat},
      {"PlayerDeath", &death},
      {"OnPlayerEnterVehicle", &vehicle},
      {"OnPlayerExitVehicle", &exitVehicle},
      {"OnPlayerEnterGlobalMarker", &marker},
      {"OnPlayerExitGlobalMarker", &marker},
      {"OnPlayerEnterLocalMarker", &marker},
      {"OnPlayerExitLocalMarker", &marker},
      {"OnPlayerEnterGlobalPickup", &pickup},
      {"OnPlayerEnterLocalPickup", &pickup},
  };
  for (const auto& [name, payload] : forged) ASSERT_TRUE(alpha_->SendRpc(name, *payload));

  // Alpha's own chat with a length beyond its text, and commands too long or
  // beyond the payload.
  net::BitStream shortChat;
  shortChat.Write(a_);
  shortChat.Write(static_cast<uint8_t>(10));
  shortChat.WriteBytes("only5", 5);
  ASSERT_TRUE(alpha_->SendRpc("PlayerChat", shortChat));
  net::BitStream longCommand;
  const std::string line(256, 'x');
  longCommand.Write(static_cast<uint32_t>(line.size()));
  longCommand.WriteBytes(line.data(), 256);
  ASSERT_TRUE(alpha_->SendRpc("CommandSend", longCommand));
  net::BitStream cutCommand;
  cutCommand.Write(static_cast<uint32_t>(20));
  cutCommand.WriteBytes("/short", 6);
  ASSERT_TRUE(alpha_->SendRpc("CommandSend", cutCommand));
  Settle(*alpha_);

  EXPECT_TRUE(sink_.events.empty()) << sink_.events.front();
  EXPECT_EQ(+Record(b_).spawned, 1);
  EXPECT_EQ(alpha_->Count("PlayerChat") + bravo_->Count("PlayerChat"), 0u);
  EXPECT_EQ(alpha_->Count("PlayerDeath") + bravo_->Count("PlayerDeath"), 0u);
  EXPECT_EQ(Log().find("I am Bravo"), std::string::npos);

  // A command of exactly 255 characters still goes through.
  net::BitStream longest;
  longest.Write(static_cast<uint32_t>(255));
  longest.WriteBytes(line.data(), 255);
  ASSERT_TRUE(alpha_->SendRpc("CommandSend", longest));
  ASSERT_TRUE(PumpUntil([&] { return sink_.events.size() == 1; }));
  EXPECT_EQ(sink_.events[0], "command " + Id(a_) + " " + line.substr(0, 255));
}

TEST_F(ClientCallTest, UnjoinedConnectionIsIgnoredEntirely) {
  support::TestClient& stranger = Connect();
  net::BitStream spawn;
  spawn.WriteCompressed(static_cast<uint16_t>(1));
  spawn.WriteCompressed(static_cast<uint16_t>(2));
  for (int i = 0; i < 4; ++i) spawn.Write(1.0f);
  spawn.WriteCompressed(static_cast<uint8_t>(3));
  net::BitStream command;
  command.Write(static_cast<uint32_t>(2));
  command.WriteBytes("/x", 2);
  net::BitStream chat;
  Chat(chat, static_cast<uint8_t>(stranger.Index()), "psst");
  net::BitStream entry;
  entry.WriteCompressed(static_cast<uint16_t>(1));
  entry.WriteCompressed(static_cast<uint8_t>(0));
  ASSERT_TRUE(stranger.SendRpc("NewSpawn", spawn));
  ASSERT_TRUE(stranger.SendRpc("CommandSend", command));
  ASSERT_TRUE(stranger.SendRpc("PlayerChat", chat));
  ASSERT_TRUE(stranger.SendRpc("SendVehicleEntry", entry));
  // Joining afterwards shows the server has handled what came before.
  const uint8_t id = Join(stranger, "Stranger");
  EXPECT_EQ(sink_.events, std::vector<std::string>{"connect " + Id(id)});
  EXPECT_EQ(alpha_->Count("NewSpawn") + alpha_->Count("PlayerChat") +
                alpha_->Count("SendVehicleEntry"),
            0u);
}

TEST_F(ClientCallTest, DeathClearsSpawnRelaysUnchangedAndRaisesKillerBeforeReason) {
  Record(a_).spawned = 1;
  net::BitStream death;
  Three(death, a_, 7, 9);  // player, reason, killer
  ASSERT_TRUE(alpha_->SendRpc("PlayerDeath", death));
  ASSERT_TRUE(PumpUntil([&] {
    return alpha_->Count("PlayerDeath") == 1 && bravo_->Count("PlayerDeath") == 1;
  }));
  EXPECT_EQ(+Record(a_).spawned, 0);
  EXPECT_EQ(bravo_->LastRpc("PlayerDeath")->data, (std::vector<uint8_t>{a_, 7, 9}));
  EXPECT_EQ(bravo_->LastRpc("PlayerDeath")->bits, 24u);
  EXPECT_EQ(sink_.events, std::vector<std::string>{"death " + Id(a_) + " 9 7"});
}

TEST_F(ClientCallTest, NewSpawnSetsTheRecordButNotThePositionAndTellsTheOthers) {
  Record(a_).x = 11;  // as the last movement packet left it
  net::BitStream spawn;
  spawn.WriteCompressed(static_cast<uint16_t>(3));
  spawn.WriteCompressed(static_cast<uint16_t>(65535));
  for (float f : {1.0f, -2.0f, 3.5f, 90.0f}) spawn.Write(f);
  spawn.WriteCompressed(static_cast<uint8_t>(200));
  ASSERT_TRUE(alpha_->SendRpc("NewSpawn", spawn));
  ASSERT_TRUE(PumpUntil([&] { return bravo_->Count("NewSpawn") == 1 && !sink_.events.empty(); }));

  const PlayerRecord& r = Record(a_);
  EXPECT_EQ(+r.spawned, 1);
  EXPECT_EQ(+r.present, 1);
  EXPECT_EQ(+r.classInfo[0], 3);
  EXPECT_EQ(+r.classInfo[1], -1);
  EXPECT_EQ(+r.skin, 200);
  EXPECT_EQ(+r.x, 11.0f);
  EXPECT_EQ(alpha_->Count("NewSpawn"), 0u);

  auto in = bravo_->LastRpc("NewSpawn")->Reader();
  EXPECT_EQ(Comp<uint8_t>(*in), a_);
  EXPECT_EQ(Plain<float>(*in), 1.0f);
  EXPECT_EQ(Plain<float>(*in), -2.0f);
  EXPECT_EQ(Plain<float>(*in), 3.5f);
  EXPECT_EQ(Plain<float>(*in), 90.0f);
  EXPECT_EQ(Comp<uint8_t>(*in), 200);
  EXPECT_EQ(in->GetNumberOfUnreadBits(), 0u);
  EXPECT_EQ(sink_.events, std::vector<std::string>{"spawn " + Id(a_)});
}

TEST_F(ClientCallTest, NoticesRaiseTheirEventsWithTheirArguments) {
  net::BitStream vehicle;
  vehicle.Write(a_);
  vehicle.Write(static_cast<uint32_t>(123456));
  vehicle.Write(static_cast<uint8_t>(2));
  ASSERT_TRUE(alpha_->SendRpc("OnPlayerEnterVehicle", vehicle));
  net::BitStream exitVehicle;
  exitVehicle.WriteCompressed(a_);
  exitVehicle.WriteCompressed(static_cast<uint16_t>(40000));
  ASSERT_TRUE(alpha_->SendRpc("OnPlayerExitVehicle", exitVehicle));
  const char* markerCalls[] = {"OnPlayerEnterGlobalMarker", "OnPlayerExitGlobalMarker",
                               "OnPlayerEnterLocalMarker", "OnPlayerExitLocalMarker"};
  for (int i = 0; i < 4; ++i) {
    net::BitStream marker;
    Three(marker, a_, static_cast<uint8_t>(10 + i), static_cast<uint8_t>(20 + i));
    ASSERT_TRUE(alpha_->SendRpc(markerCalls[i], marker));
  }
  for (const char* name : {"OnPlayerEnterGlobalPickup", "OnPlayerEnterLocalPickup"}) {
    net::BitStream pickup;
    pickup.Write(a_);
    pickup.Write(static_cast<uint8_t>(99));
    ASSERT_TRUE(alpha_->SendRpc(name, pickup));
  }
  net::BitStream key;
  key.WriteCompressed(static_cast<uint32_t>(0x1FF));
  ASSERT_TRUE(alpha_->SendRpc("OnPlayerKeyPress", key));
  Settle(*alpha_);

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
                              "key " + p + " 255",
                          }));
}

TEST_F(ClientCallTest, VehicleEntryGoesToAllButTheSenderEvenForNoVehicle) {
  net::BitStream entry;
  entry.WriteCompressed(static_cast<uint16_t>(321));  // no such vehicle
  entry.WriteCompressed(static_cast<uint8_t>(1));
  ASSERT_TRUE(alpha_->SendRpc("SendVehicleEntry", entry));
  ASSERT_TRUE(PumpUntil([&] { return bravo_->Count("SendVehicleEntry") == 1; }));
  Settle(*alpha_);
  EXPECT_EQ(alpha_->Count("SendVehicleEntry"), 0u);
  auto in = bravo_->LastRpc("SendVehicleEntry")->Reader();
  EXPECT_EQ(Comp<uint8_t>(*in), a_);
  EXPECT_EQ(Comp<uint16_t>(*in), 321);
  EXPECT_EQ(Comp<uint8_t>(*in), 1);
  EXPECT_EQ(in->GetNumberOfUnreadBits(), 0u);
  EXPECT_TRUE(sink_.events.empty());
}

TEST_F(ClientCallTest, VehicleDeathStartsTheRespawnOnceAndOnlyForARealVehicle) {
  VehiclePool* pool = gNetGame->vehiclePool;
  ASSERT_EQ(pool->Add(150, 0, 0, 0, 0, 1, 1), 1);
  auto death = [](int16_t id, bool explode) {
    auto s = std::make_unique<net::BitStream>();
    s->WriteCompressed(static_cast<uint16_t>(id));
    s->WriteBit(explode);
    return s;
  };
  for (int16_t bad : {0, 2, 500, -1}) ASSERT_TRUE(alpha_->SendRpc("VehicleDeath", *death(bad, true)));
  Settle(*alpha_);
  EXPECT_EQ(+pool->respawnState[1], kRespawnNone);

  // The respawn sweep of the next pass takes it on and explodes it everywhere.
  SendAndSettle(*alpha_, "VehicleDeath", *death(1, true));
  EXPECT_NE(+pool->respawnState[1], kRespawnNone);
  EXPECT_EQ(+pool->stateTime[1], gametest::frozenNowMs);
  ASSERT_TRUE(PumpUntil([&] { return bravo_->Count("Respawn_ExplodeVehicle") == 1; }));

  // A second report while the respawn is under way changes nothing.
  gametest::frozenNowMs += 5;
  SendAndSettle(*bravo_, "VehicleDeath", *death(1, true));
  gametest::frozenNowMs -= 5;
  EXPECT_EQ(+pool->stateTime[1], gametest::frozenNowMs);
  Settle(*bravo_);
  EXPECT_EQ(bravo_->Count("Respawn_ExplodeVehicle"), 1u);

  // A stranger cannot wreck it either.
  ASSERT_TRUE(pool->Add(150, 0, 0, 0, 0, 1, 1) == 2);
  support::TestClient& stranger = Connect();
  ASSERT_TRUE(stranger.SendRpc("VehicleDeath", *death(2, true)));
  Join(stranger, "Stranger");
  EXPECT_EQ(+pool->respawnState[2], kRespawnNone);
}

}  // namespace
