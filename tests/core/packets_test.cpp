// The packet loop: movement packets update the sender's record and reach the
// other spawned players (near ones always, far ones one time in eight),
// the status packet is answered, departures free the slot, and the world
// time reaches spawned players.
#include <gtest/gtest.h>
#include <enet/enet.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "core/gameclock.h"
#include "core/log.h"
#include "core/packets.h"
#include "core/vehiclepool.h"
#include "game_fixture.h"

namespace {

using gametest::Comp;
using gametest::Plain;
using gametest::SamePacket;
using gametest::Want;

template <typename T>
void Put(std::vector<uint8_t>& p, size_t offset, T v) {
  std::memcpy(p.data() + offset, &v, sizeof v);
}

// Packet 92 with a recognisable filler in the uninterpreted bytes.
std::vector<uint8_t> OnFoot(float x, float y, uint8_t tag = 0) {
  std::vector<uint8_t> p(1 + kOnFootBlockSize);
  p[0] = kPacketOnFootSync;
  for (size_t i = 1; i < p.size(); ++i) p[i] = static_cast<uint8_t>(tag + i);
  Put(p, 1 + 2, x);
  Put(p, 1 + 6, y);
  Put(p, 1 + 10, 5.0f);
  return p;
}

// The relay of a block packet: u8 id, c8 sender, the block.
net::BitStream& BlockRelay(Rpc&& want, uint8_t sender, const std::vector<uint8_t>& packet) {
  return want.u8(packet[0]).c8(sender).bytes(packet.data() + 1, packet.size() - 1).Stream();
}

class PacketTest : public gametest::GameTest {
 protected:
  // Joins a player and, unless told otherwise, places it with an on-foot packet
  // (which also makes it spawned).
  support::TestClient& Player(const std::string& name, float x, float y, bool spawn = true) {
    support::TestClient& c = ConnectAndJoin(name);
    const auto id = static_cast<uint8_t>(c.Index());
    if (spawn) {
      EXPECT_TRUE(c.SendRaw(OnFoot(x, y)));
      EXPECT_TRUE(PumpUntil([&] { return Record(id).spawned && Record(id).x == x; }));
    }
    return c;
  }
  static uint8_t Id(const support::TestClient& c) { return static_cast<uint8_t>(c.Index()); }
  // The numbers (block bytes 21..24) of the on-foot relays `c` got from `sender`.
  static std::set<int> NumbersFrom(const support::TestClient& c, uint8_t sender) {
    std::set<int> numbers;
    for (const auto& bytes : c.Packets(kPacketOnFootSync)) {
      net::BitStream in(bytes.data(), static_cast<uint32_t>(bytes.size() * 8));
      int number = 0;
      if (Plain<uint8_t>(in) == kPacketOnFootSync && Comp<uint8_t>(in) == sender &&
          in.IgnoreBits(21 * 8) && in.Read(number))
        numbers.insert(number);
    }
    return numbers;
  }
};

TEST_F(PacketTest, OnFootPacketFillsTheRecordAndIsRelayedWithTheSender) {
  support::TestClient& a = Player("Alpha", 0, 0, false);
  support::TestClient& b = Player("Bravo", 10, 10);
  PlayerRecord& r = Record(Id(a));
  r.vehicle = 5;
  r.seat = 2;
  std::vector<uint8_t> p = OnFoot(-1.5f, 2.25f, 40);
  Put(p, 1 + 14, 1.0f);  // heading in radians
  p[1 + 18] = 90;        // health
  p[1 + 19] = 45;        // armour
  p[1 + 20] = 31;        // weapon
  p[1 + 39] = 0xFF;      // phone status
  ASSERT_TRUE(a.SendRaw(p));
  ASSERT_TRUE(PumpUntil([&] { return b.PacketCount(kPacketOnFootSync) == 1; }));

  EXPECT_TRUE(SamePacket(b.Packets(kPacketOnFootSync)[0], BlockRelay(Want(), Id(a), p)));

  EXPECT_EQ(+r.spawned, 1);
  EXPECT_EQ(+r.vehicle, 0u);
  EXPECT_EQ(+r.seat, 0);
  EXPECT_EQ(+r.x, -1.5f);
  EXPECT_EQ(+r.y, 2.25f);
  EXPECT_EQ(+r.z, 5.0f);
  EXPECT_EQ(+r.angle, static_cast<float>(1.0f * 57.29577951308402));
  EXPECT_EQ(+r.health, 90.0f);
  EXPECT_EQ(+r.armour, 45.0f);
  EXPECT_EQ(+r.weapon, 31);
  EXPECT_EQ(+r.phoneStatus, -1);
  EXPECT_EQ(std::vector<uint8_t>(r.onFootBlock, r.onFootBlock + kOnFootBlockSize),
            std::vector<uint8_t>(p.begin() + 1, p.end()));
}

TEST_F(PacketTest, NearAlwaysFarOneInEightUnspawnedNever) {
  support::TestClient& a = Player("Alpha", 0, 0);
  support::TestClient& near = Player("Near", 199.9f, 0);
  support::TestClient& far = Player("Far", 0, 200.0f);
  support::TestClient& idle = Player("Idle", 1, 1, false);
  ASSERT_LT(GetDistanceBetweenPlayers(Id(a), Id(near)), 200.0f);
  ASSERT_EQ(GetDistanceBetweenPlayers(Id(a), Id(far)), 200.0f);
  EXPECT_EQ(GetDistanceBetweenPlayers(Id(a), 99), -1.0f);
  for (auto* c : {&near, &far, &idle}) c->Clear();

  // Only the far receiver draws: one draw per packet, replayed here.
  constexpr int kPackets = 240;
  constexpr unsigned kSeed = 20240611;
  srand(kSeed);
  std::set<int> expectedFar;
  for (int i = 0; i < kPackets; ++i)
    if (rand() % 8 == 0) expectedFar.insert(i);
  ASSERT_GT(expectedFar.size(), kPackets / 16u);
  ASSERT_LT(expectedFar.size(), kPackets / 4u);

  srand(kSeed);
  for (int i = 0; i < kPackets; ++i) {
    std::vector<uint8_t> p = OnFoot(0, 0);
    Put(p, 1 + 21, i);  // the packet's number, in bytes the server does not read
    ASSERT_TRUE(a.SendRaw(p));
    ASSERT_TRUE(PumpUntil([&] { return NumbersFrom(near, Id(a)).size() == size_t(i + 1); }))
        << "near player missed packet " << i;
  }
  ASSERT_TRUE(PumpUntil([&] { return NumbersFrom(far, Id(a)).size() >= expectedFar.size(); }));
  EXPECT_EQ(NumbersFrom(far, Id(a)), expectedFar);
  EXPECT_EQ(idle.PacketCount(kPacketOnFootSync), 0u);
}

TEST_F(PacketTest, DriverSyncIsReencodedAndFollowedOnlyForARealVehicle) {
  VehiclePool* vehicles = GetVehiclePool();
  ASSERT_EQ(vehicles->Add(150, 0, 0, 0, 0, 1, 1), 1);
  support::TestClient& a = Player("Alpha", 0, 0);
  support::TestClient& b = Player("Bravo", 5, 5);

  const float vectors[5][3] = {
      {12.5f, 1.25f, -3}, {0, 0, 0}, {1, 2, 3}, {10.5f, 6.25f, 10}, {0.5f, 0.5f, 0.5f}};
  auto build = [&](uint16_t vehicleId) {
    Rpc s = Want();
    s.u8(kPacketDriverSync).c16(vehicleId).c16(0xBEEF).c32(0x12345678);
    for (uint8_t f : {1, 0, 1, 1, 8, 44, 55, 66}) s.c8(f);  // tyres, f8, colours, player armour
    s.c32(7).c16(88).c8(14).c8(15).c16(750);  // f12, player health, f14, f15, vehicle health
    for (const auto& v : vectors) s.vec3(v[0], v[1], v[2]);
    const net::BitStream& bits = s.Stream();
    return std::vector<uint8_t>(bits.GetData(), bits.GetData() + bits.GetNumberOfBytesUsed());
  };
  // The vectors as the server reads them back.
  float read[5][3];
  {
    net::BitStream s;
    for (const auto& v : vectors) s.WriteVector(v[0], v[1], v[2]);
    for (auto& v : read) ASSERT_TRUE(s.ReadVector(v[0], v[1], v[2]));
  }

  ASSERT_TRUE(a.SendRaw(build(1)));
  ASSERT_TRUE(PumpUntil([&] { return b.PacketCount(kPacketDriverSync) == 1; }));

  // Fifteen fields, and the vehicle's health in place of the speed.
  Rpc expected = Want();
  expected.u8(kPacketDriverSync).c8(Id(a)).c16(1).c16(0xBEEF).c32(0x12345678);
  for (uint8_t f : {1, 0, 1, 1, 8, 44, 55, 66}) expected.c8(f);  // tyres, f8, colours, armour
  expected.c32(7).c16(88).c8(14).c8(15).vec3(750.0f, read[0][1], read[0][2]);
  for (int i = 1; i < 5; ++i) expected.vec3(read[i][0], read[i][1], read[i][2]);
  EXPECT_TRUE(SamePacket(b.Packets(kPacketDriverSync)[0], expected.Stream()));

  const PlayerRecord& r = Record(Id(a));
  EXPECT_EQ(+r.vehicle, 1u);
  EXPECT_EQ(+r.seat, 0);
  EXPECT_EQ(+r.armour, 66.0f);
  EXPECT_EQ(+r.health, 88.0f);
  EXPECT_EQ(+r.x, read[3][0]);
  EXPECT_EQ(+r.y, read[3][1]);
  EXPECT_EQ(+r.z, read[3][2]);
  EXPECT_EQ(+r.angle, read[0][1]);
  const VehicleRecord& v = *vehicles->Get(1);
  EXPECT_EQ(std::vector<uint8_t>(v.tyres, v.tyres + 4), (std::vector<uint8_t>{1, 0, 1, 1}));
  EXPECT_EQ(+v.colour1, 44);
  EXPECT_EQ(+v.colour2, 55);
  EXPECT_EQ(+v.health, 750.0f);
  EXPECT_EQ(+v.speed, read[0][0]);
  EXPECT_EQ(+v.angle, read[0][1]);
  EXPECT_EQ(+v.x, read[3][0]);
  EXPECT_EQ(+v.spawnX, 0.0f);
  EXPECT_EQ(+v.used, 1);
  EXPECT_EQ(+v.lastUsedMs, gametest::frozenNowMs);

  // No such vehicle, or none: relayed all the same, but nothing follows it.
  Record(Id(a)).vehicle = 0;
  ASSERT_TRUE(a.SendRaw(build(0)));
  ASSERT_TRUE(a.SendRaw(build(9)));
  ASSERT_TRUE(a.SendRaw(build(0xFFFF)));
  ASSERT_TRUE(PumpUntil([&] { return b.PacketCount(kPacketDriverSync) == 4; })) << b.PacketCount(kPacketDriverSync);
  EXPECT_EQ(+Record(Id(a)).vehicle, 0u);
}

TEST_F(PacketTest, PassengerSyncPutsThePlayerInTheVehicle) {
  VehiclePool* vehicles = GetVehiclePool();
  ASSERT_EQ(vehicles->Add(150, 5, 6, 7, 0, 1, 1), 1);
  support::TestClient& a = Player("Alpha", 0, 0);
  support::TestClient& b = Player("Bravo", 5, 5);
  std::vector<uint8_t> p(1 + kPassengerBlockSize, 0xAB);
  p[0] = kPacketPassengerSync;
  p[1] = 2;                            // seat
  Put<uint16_t>(p, 1 + 1, 150);        // health
  p[1 + 3] = 80;                       // armour
  Put<uint32_t>(p, 1 + 8, 1);          // vehicle
  ASSERT_TRUE(a.SendRaw(p));
  ASSERT_TRUE(PumpUntil([&] { return b.PacketCount(kPacketPassengerSync) == 1; }));

  EXPECT_TRUE(SamePacket(b.Packets(kPacketPassengerSync)[0], BlockRelay(Want(), Id(a), p)));
  const PlayerRecord& r = Record(Id(a));
  EXPECT_EQ(+r.vehicle, 1u);
  EXPECT_EQ(+r.seat, 2);
  EXPECT_EQ(+r.health, 150.0f);
  EXPECT_EQ(+r.armour, 80.0f);
  EXPECT_EQ(+r.x, 5.0f);
  EXPECT_EQ(+r.y, 6.0f);
  EXPECT_EQ(+r.z, 7.0f);
  EXPECT_EQ(+vehicles->Get(1)->used, 1);
  EXPECT_EQ(+vehicles->Get(1)->lastUsedMs, gametest::frozenNowMs);
}

TEST_F(PacketTest, StatusIsRecordedRelayedWithTeamAndScoreAndAnsweredWithThePing) {
  support::TestClient& a = Player("Alpha", 0, 0);
  support::TestClient& b = Player("Bravo", 5, 5);
  PlayerRecord& r = Record(Id(a));
  r.team = 3;
  r.score = -5;
  std::vector<uint8_t> p(1 + kStatusBlockSize);
  p[0] = kPacketStatus;
  Put<int32_t>(p, 1, -100);
  p[1 + 4] = 7;     // interior
  p[1 + 5] = 4;     // wanted level
  p[1 + 6] = 120;   // skin
  Put<uint32_t>(p, 1 + 7, 0x7FC01234);  // a NaN with a payload: relayed bit for bit
  ASSERT_TRUE(a.SendRaw(p));
  ASSERT_TRUE(PumpUntil([&] {
    return b.PacketCount(kPacketStatus) == 1 && a.PacketCount(kPacketPingAnswer) == 1;
  }));

  EXPECT_EQ(+r.cash, static_cast<uint32_t>(-100));
  EXPECT_EQ(+r.interior, 7);
  EXPECT_EQ(+r.wantedLevel, 4);
  EXPECT_EQ(+r.skin, 120);

  // The ping is the network's own figure: read it from the relay, then
  // check every byte around it and the answer that repeats it.
  const std::vector<uint8_t> relay = b.Packets(kPacketStatus)[0];
  net::BitStream in(relay.data(), static_cast<uint32_t>(relay.size() * 8));
  uint8_t id = 0, sender = 0;
  uint32_t ping = 0;
  ASSERT_TRUE(in.Read(id) && in.ReadCompressed(sender) && in.IgnoreBits(32) && in.Read(ping));
  EXPECT_LT(ping, 1000u);
  EXPECT_TRUE(SamePacket(relay, Want().u8(kPacketStatus).c8(Id(a)).i32(-100).u32(ping)
                                    .u32(0x7FC01234).i8(3).i32(-5).Stream()));
  const auto answer = a.Packets(kPacketPingAnswer)[0];
  net::BitStream answered(answer.data(), static_cast<uint32_t>(answer.size() * 8));
  EXPECT_EQ(Plain<uint8_t>(answered), kPacketPingAnswer);
  EXPECT_NEAR(static_cast<double>(Comp<uint32_t>(answered)), static_cast<double>(ping), 50.0);
  EXPECT_LT(answered.GetNumberOfUnreadBits(), 8u);
  EXPECT_EQ(a.PacketCount(kPacketStatus), 0u);
}

TEST_F(PacketTest, OpaqueBlocksAndTimeStamps) {
  support::TestClient& a = Player("Alpha", 0, 0);
  support::TestClient& b = Player("Bravo", 5, 5);
  std::vector<uint8_t> p95(1 + kPacket95BlockSize), p98(1 + kPacket98BlockSize);
  for (size_t i = 0; i < p98.size(); ++i) p98[i] = static_cast<uint8_t>(200 - i);
  for (size_t i = 0; i < p95.size(); ++i) p95[i] = static_cast<uint8_t>(i * 3);
  p95[0] = kPacket95;
  p98[0] = kPacket98;
  // A stamped departure, which only the network library may announce.
  ASSERT_TRUE(a.SendRaw(std::vector<uint8_t>{25, 1, 2, 3, 4, 19}));
  ASSERT_TRUE(a.SendRaw(std::vector<uint8_t>{25, 1, 2, 3, 4, 20}));
  ASSERT_TRUE(a.SendRaw(p95));
  ASSERT_TRUE(a.SendRaw(p98));
  // A stamped on-foot packet is read after its stamp.
  std::vector<uint8_t> stamped = {25, 9, 9, 9, 9};
  const std::vector<uint8_t> moved = OnFoot(42, 43);
  stamped.insert(stamped.end(), moved.begin(), moved.end());
  ASSERT_TRUE(a.SendRaw(stamped));
  ASSERT_TRUE(PumpUntil([&] {
    return b.PacketCount(kPacket95) == 1 && b.PacketCount(kPacket98) == 1 &&
           b.PacketCount(kPacketOnFootSync) == 1;
  }));

  EXPECT_TRUE(SamePacket(b.Packets(kPacket95)[0], BlockRelay(Want(), Id(a), p95)));
  EXPECT_TRUE(SamePacket(b.Packets(kPacket98)[0], BlockRelay(Want(), Id(a), p98)));
  EXPECT_TRUE(SamePacket(b.Packets(kPacketOnFootSync)[0], BlockRelay(Want(), Id(a), moved)));
  EXPECT_EQ(+Record(Id(a)).x, 42.0f);
  EXPECT_TRUE(GetPlayerPool()->IsInUse(Id(a)));
}

// An orderly leave (reason 1), and a client that joins and falls silent
// (reason 0): ENet directly, so nothing says goodbye when it goes.
TEST_F(PacketTest, DeparturesRaiseTheirReasonThenFreeTheSlot) {
  support::TestClient& a = Player("Alpha", 0, 0);
  support::TestClient& b = Player("Bravo", 5, 5);
  const uint8_t alphaId = Id(a);
  sink_.events.clear();
  std::vector<bool> inUseWhenHeard;
  sink_.onDisconnect = [&](uint8_t p) { inUseWhenHeard.push_back(GetPlayerPool()->IsInUse(p)); };
  a.Disconnect();
  ASSERT_TRUE(PumpUntil([&] { return b.Count("PlayerDisconnect") == 1; }));
  EXPECT_EQ(sink_.events, std::vector<std::string>{"disconnect " + std::to_string(alphaId) + " 1"});
  EXPECT_FALSE(GetPlayerPool()->IsInUse(alphaId));
  EXPECT_TRUE(gametest::SameBits(b.LastRpc("PlayerDisconnect"), Want().c8(alphaId).c8(1).Stream()));
  EXPECT_NE(server_.ReadFile(kLogFileName).find("[LEAVE] Alpha has left the server. [Quit]"),
            std::string::npos);

  ENetHost* host = enet_host_create(nullptr, 1, 2, 0, 0);
  ASSERT_NE(host, nullptr);
  ENetAddress address{};
  enet_address_set_host_ip(&address, "127.0.0.1");
  address.port = server_.Port();
  ENetPeer* peer = enet_host_connect(host, &address, 2, 0);
  ASSERT_NE(peer, nullptr);
  bool connected = false, accepted = false;
  auto drain = [&] {
    ENetEvent ev;
    while (enet_host_service(host, &ev, 0) > 0) {
      connected = connected || ev.type == ENET_EVENT_TYPE_CONNECT;
      if (ev.type != ENET_EVENT_TYPE_RECEIVE) continue;
      accepted = accepted || ev.packet->data[0] == net::ID_CONNECTION_REQUEST_ACCEPTED;
      enet_packet_destroy(ev.packet);
    }
  };
  auto send = [&](const std::vector<uint8_t>& bytes) {
    enet_peer_send(peer, 0, enet_packet_create(bytes.data(), bytes.size(), ENET_PACKET_FLAG_RELIABLE));
  };
  ASSERT_TRUE(PumpUntil([&] { drain(); return connected; }));
  send({net::ID_CONNECTION_REQUEST});
  ASSERT_TRUE(PumpUntil([&] { drain(); return accepted; }));
  net::BitStream join;
  gametest::JoinPayload(join, "Ghost", gametest::GoodVersion());
  std::vector<uint8_t> rpc = {net::ID_RPC, 10, 'C', 'l', 'i', 'e', 'n', 't', 'J', 'o', 'i', 'n'};
  for (int i = 0; i < 4; ++i) rpc.push_back(static_cast<uint8_t>(join.GetNumberOfBitsUsed() >> (8 * i)));
  rpc.insert(rpc.end(), join.GetData(), join.GetData() + join.GetNumberOfBytesUsed());
  send(rpc);
  ASSERT_TRUE(PumpUntil([&] { drain(); return sink_.events.size() == 2; }));
  const int id = gametest::RecordingSink::PlayerOf(sink_.events.back());

  enet_peer_reset(peer);  // gone without a word
  enet_host_destroy(host);
  ASSERT_TRUE(PumpUntil([&] { return sink_.events.size() == 3; }, 10000));
  EXPECT_EQ(sink_.events.back(), "disconnect " + std::to_string(id) + " 0");
  EXPECT_FALSE(GetPlayerPool()->IsInUse(id));
  EXPECT_EQ(inUseWhenHeard, (std::vector<bool>{true, true}));
  sink_.onDisconnect = nullptr;
}

TEST_F(PacketTest, WorldTimeGoesToSpawnedPlayersExceptAtMidnight) {
  support::TestClient& a = Player("Alpha", 0, 0);
  support::TestClient& idle = Player("Idle", 0, 0, false);
  uint8_t hour, minute;
  GetGameClock(hour, minute);

  SetGameClock(12, 5);
  BroadcastWorldTime();
  ASSERT_TRUE(a.WaitForPacket(kPacketWorldTime, 1));
  SetGameClock(0, 0);
  BroadcastWorldTime();
  SetGameClock(0, 1);
  BroadcastWorldTime();
  ASSERT_TRUE(a.WaitForPacket(kPacketWorldTime, 2));
  SetGameClock(hour, minute);

  EXPECT_EQ(a.Packets(kPacketWorldTime),
            (std::vector<std::vector<uint8_t>>{{97, 5, 12}, {97, 1, 0}}));
  // The idle player was sent nothing before the last packet reached Alpha.
  idle.Pump();
  EXPECT_EQ(idle.PacketCount(kPacketWorldTime), 0u);
}

}  // namespace
