// The packet loop: movement packets update the sender's record and reach the
// other spawned players (near ones always, far ones one time in eight), the
// status packet is answered, departures free the slot, the world time reaches
// spawned players, and a flood is taken a bounded share per pass.
#include "core/packets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/gameclock.h"
#include "core/log.h"
#include "core/playerpool.h"
#include "core/vehiclepool.h"
#include "core/world.h"
#include "support/count.h"
#include "support/seam.h"

namespace {

using Bytes = std::vector<uint8_t>;
using support::Want;

// A packet written in hex, as it goes on the wire.
Bytes FromHex(const std::string& hex) {
  Bytes out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}
void Send(support::Seam& seam, int from, const Bytes& p) {
  seam.Packet(from, net::BitStream(p.data(), static_cast<uint32_t>(p.size() * 8)));
}
// Packet 92 placing its sender at x, y, z.
Bytes OnFoot(float x, float y, float z = 0) {
  Bytes p(1 + kOnFootBlockSize, 0);
  const float at[] = {x, y, z};
  std::memcpy(&p[1 + 2], at, sizeof at);
  p[0] = kPacketOnFootSync;
  return p;
}
// How Take() shows a relay of packet `p` from `sender`: the id, the sender, the block.
std::string BlockRelay(std::initializer_list<int> to, uint8_t sender, const Bytes& p,
                       Rpc&& body = Want()) {
  if (p.size() > 1) body.c8(sender).bytes(p.data() + 1, p.size() - 1);
  while (body.Stream().GetNumberOfBitsUsed() % 8) body.bit(false);
  return support::Line("#" + std::to_string(p[0]), to, body);
}
PlayerRecord& Record(int id) { return GetPlayerPool()->records[id]; }
// The record's movement fields, as one line.
std::string Rec(int id) {
  const PlayerRecord& r = Record(id);
  char out[200];
  std::snprintf(out, sizeof out,
                "spawned %d in %u/%d at %.9g,%.9g,%.9g angle %.9g health %g armour %g weapon %d "
                "phone %d",
                r.spawned, r.vehicle, r.seat, r.x, r.y, r.z, r.angle, r.health, r.armour, r.weapon,
                r.phoneStatus);
  return out;
}

TEST(Packets, OnFootFillsTheRecordAndReachesNearAlwaysFarOneInEightIdleNever) {
  support::Seam seam;
  for (const char* name : {"Alpha", "Near", "Far", "Idle"}) seam.Join(name);
  Send(seam, 1, OnFoot(199.9f, 0));
  Send(seam, 2, OnFoot(0, 200.0f));
  seam.Take();
  Record(0).vehicle = 5;
  Record(0).seat = 2;
  // At -1.5, 2.25, 5 heading 1 radian, health 90, armour 45, weapon 31, phone 0xFF.
  const Bytes p = FromHex(
      "5c292a0000c0bf000010400000a0400000803f5a2d1f3e3f404142434445464748494a4b4c4d4e4fff"
      "5152535455565758595a5b5c5d5e");
  srand(1);
  Send(seam, 0, p);
  EXPECT_EQ(seam.Take(), BlockRelay({1}, 0, p));
  EXPECT_EQ(
      Rec(0),
      "spawned 1 in 0/0 at -1.5,2.25,5 angle 57.2957802 health 90 armour 45 weapon 31 phone -1");
  EXPECT_EQ(Bytes(Record(0).onFootBlock, Record(0).onFootBlock + kOnFootBlockSize),
            Bytes(p.begin() + 1, p.end()));

  Send(seam, 0, OnFoot(0, 0));
  seam.Take();
  EXPECT_LT(GetDistanceBetweenPlayers(0, 1), 200);
  EXPECT_EQ(GetDistanceBetweenPlayers(0, 2), 200);
  EXPECT_EQ(GetDistanceBetweenPlayers(0, 99), -1);
  // Away from the origin, a gap along y counts as one along x does.
  Send(seam, 2, OnFoot(0, 300));
  Send(seam, 0, OnFoot(0, 100));
  seam.Take();
  EXPECT_EQ(GetDistanceBetweenPlayers(0, 2), 200);
  Send(seam, 2, OnFoot(0, 200));
  Send(seam, 0, OnFoot(0, 0));
  seam.Take();
  // Only the far receiver draws, once per packet: these are its draws after srand(1).
  srand(1);
  std::string receivers;
  for (int i = 0; i < 24; ++i) {
    Send(seam, 0, OnFoot(0, 0));
    const std::string sent = seam.Take();
    receivers += sent.substr(3, sent.find(' ') - 2);
  }
  EXPECT_EQ(receivers,
            ">1 >1 >1 >1 >1 >1 >1 >1 >1 >1 >1 >1 >1 >1 >1 >1 >1 >1 >1 >1,2 >1 >1,2 >1 >1 ");
}

TEST(Packets, DriverAndPassengerSync) {
  support::Seam seam;
  seam.Join("Alpha");
  seam.Join("Bravo");
  Send(seam, 1, OnFoot(5, 5));
  VehiclePool* vehicles = GetVehiclePool();
  ASSERT_EQ(vehicles->Add(150, 5, 6, 7, 0, 1, 1), 1);
  const VehicleRecord& car = *vehicles->Get(1);
  auto driver = [&](uint16_t vehicleId) {
    Rpc s = Want();
    s.u8(kPacketDriverSync).c16(vehicleId).c16(0xBEEF).c32(0x12345678);
    for (uint8_t f : {1, 0, 1, 1, 8, 44, 55, 66}) s.c8(f);  // tyres, f8, colours, player armour
    s.c32(7).c16(88).c8(14).c8(15).c16(750);  // f12, player health, f14, f15, vehicle health
    s.vec3(12.5f, 1.25f, -3).vec3(0, 0, 0).vec3(1, 2, 3);
    s.vec3(10.5f, 6.25f, 10).vec3(0.5f, 0.5f, 0.5f);
    seam.Packet(0, s);
  };
  seam.Take();
  // Fifteen fields, and the vehicle's health in place of the speed.
  driver(1);
  EXPECT_EQ(seam.Take(),
            "#93>1 862efbe3c2b1a0946118e05837217bcb1efb9c01da27f7f9b403e3f80000000783a37a01a5"
            "13562507360503e208eead4d90868aed8ae9ff2e4f2e4f2e48/496");
  EXPECT_EQ(Rec(0),
            "spawned 0 in 1/0 at 10.4996777,6.2495966,9.99997997 angle 1.24967921 "
            "health 88 armour 66 weapon 0 phone 0");
  char state[200];
  std::snprintf(state, sizeof state,
                "tyres %d%d%d%d colours %d,%d health %g speed %.9g angle %.9g at %.9g,%.9g,%.9g "
                "spawn %g used %d",
                car.tyres[0], car.tyres[1], car.tyres[2], car.tyres[3], car.colour1, car.colour2,
                car.health, car.speed, car.angle, car.x, car.y, car.z, car.spawnX, car.used);
  EXPECT_EQ(std::string(state),
            "tyres 1011 colours 44,55 health 750 speed 12.499754 angle 1.24967921 "
            "at 10.4996777,6.2495966,9.99997997 spawn 5 used 1");
  EXPECT_EQ(+car.lastUsedMs, seam.clock.Now());
  // No such vehicle, or none: relayed all the same, but nothing follows it.
  Record(0).vehicle = 0;
  for (uint16_t id : {0, 9, 0xFFFF}) driver(id);
  const std::string relays = seam.Take();
  EXPECT_EQ(+Record(0).vehicle, 0u);
  EXPECT_EQ(std::count(relays.begin(), relays.end(), '#'), 3);

  vehicles->Get(1)->used = 0;
  seam.clock.Advance(10);
  const Bytes passenger = FromHex(
      "5e"
      "02"
      "9600"
      "50"
      "abababab"
      "01000000");  // seat, health, armour, -, vehicle
  Send(seam, 0, passenger);
  EXPECT_EQ(seam.Take(), BlockRelay({1}, 0, passenger));
  EXPECT_EQ(Rec(0),
            "spawned 0 in 1/2 at 10.4996777,6.2495966,9.99997997 angle 1.24967921 "
            "health 150 armour 80 weapon 0 phone 0");  // in the car's place
  EXPECT_EQ(+car.used, 1);
  EXPECT_EQ(+car.lastUsedMs, seam.clock.Now());
}

TEST(Packets, StatusOpaqueBlocksStampsDeparturesWorldTimeAndFloods) {
  support::Seam seam;
  for (const char* name : {"Alpha", "Bravo", "Gone", "Lost"}) seam.Join(name);
  Send(seam, 0, OnFoot(0, 0));
  Send(seam, 1, OnFoot(5, 5));
  seam.Take();
  Record(0).team = 3;
  Record(0).score = -5;
  // Cash -100, interior 7, wanted level 4, skin 120, and a NaN with a payload, relayed bit for bit.
  Send(seam, 0, FromHex("609cffffff0704783412c07f"));
  // The relay with the ping (the recorder's is 0), team and score; the answer repeats the ping.
  Rpc status = Want();
  status.c8(0).i32(-100).u32(0).u32(0x7FC01234).i8(3).i32(-5);
  EXPECT_EQ(seam.Take(), BlockRelay({1}, 0, {96}, std::move(status)) + "\n" +
                             BlockRelay({0}, 0, {99}, std::move(Want().c32(0))));
  const PlayerRecord& r = Record(0);
  EXPECT_EQ(+r.cash, 4294967196u);
  EXPECT_EQ(+r.interior, 7);
  EXPECT_EQ(+r.wantedLevel, 4);
  EXPECT_EQ(+r.skin, 120);

  const Bytes p95 = FromHex("5f0306090c0f1215181b1e2124272a2d3033");
  const Bytes p98 = FromHex(
      "62c7c6c5c4c3c2c1c0bfbebdbcbbbab9b8b7b6b5b4b3b2b1b0afaeadacabaaa9a8a7a6a5a4a3a2a1a09f");
  // A stamped departure, which only the network library may announce; a
  // stamped on-foot packet is read after its stamp.
  for (const Bytes& p : {FromHex("190102030413"), FromHex("190102030414"), p95, p98}) {
    Send(seam, 0, p);
  }
  Bytes stamped = {25, 9, 9, 9, 9};
  const Bytes moved = OnFoot(42, 43);
  stamped.insert(stamped.end(), moved.begin(), moved.end());
  Send(seam, 0, stamped);
  EXPECT_EQ(seam.Take(), BlockRelay({1}, 0, p95) + "\n" + BlockRelay({1}, 0, p98) + "\n" +
                             BlockRelay({1}, 0, moved));
  EXPECT_EQ(+Record(0).x, 42.0f);
  EXPECT_EQ(seam.events.Take(), "");

  // An orderly leave (reason 1) and a lost connection (reason 0); the slot is
  // freed after the script heard of it.
  std::vector<bool> inUseWhenHeard;
  seam.events.onRaise = [&](const ScriptEvent& e) {
    inUseWhenHeard.push_back(GetPlayerPool()->IsInUse(static_cast<int>(e.args[0].number)));
  };
  seam.Drop(2);
  seam.Drop(3, true);
  seam.events.onRaise = nullptr;
  EXPECT_EQ(seam.events.Take(), "disconnect 2 1\ndisconnect 3 0");
  ASSERT_EQ(inUseWhenHeard.size(), 2u);
  EXPECT_TRUE(inUseWhenHeard[0]);
  EXPECT_TRUE(inUseWhenHeard[1]);
  EXPECT_EQ(seam.Take(), "PlayerDisconnect>0,1,3 9440/10\nPlayerDisconnect>0,1 9c00/10");
  EXPECT_FALSE(GetPlayerPool()->IsInUse(2));
  EXPECT_FALSE(GetPlayerPool()->IsInUse(3));
  const std::string log = seam.Server().ReadFile(kLogFileName);
  EXPECT_NE(log.find("[LEAVE] Gone has left the server. [Quit]"), log.npos);

  // The world time goes to spawned players (not to the joined Idle), except at midnight.
  seam.Join("Idle");
  uint8_t hour = 0;
  uint8_t minute = 0;
  GetGameClock(hour, minute);
  for (auto [h, m] : {std::pair{12, 5}, {0, 0}, {0, 1}}) {
    SetGameClock(static_cast<uint8_t>(h), static_cast<uint8_t>(m));
    BroadcastWorldTime();
  }
  SetGameClock(hour, minute);
  EXPECT_EQ(seam.Take(), "#97>0,1 050c/16\n#97>0,1 0100/16");

  // A flood is taken 1024 packets per pass, so the main loop keeps coming round;
  // what is beyond the sender's budget (a burst of 100) is taken and dropped unread.
  seam.clock.Advance(1000);
  seam.Take();
  for (uint32_t n = 1; n <= 1024 + 5; ++n) {
    const Bytes p = OnFoot(0, 0, static_cast<float>(n));  // z: which packet the record last saw
    seam.Peer().InjectMessage(0, p.data(), static_cast<uint32_t>(p.size()), false);
    if (n == 1024) seam.clock.Advance(1000);  // the last five a second later
  }
  ProcessPackets();
  EXPECT_EQ(+Record(0).z, 100.0f);
  EXPECT_EQ(support::CountOccurrences(seam.Take(), "#92>1 "), 100u);
  // The last five waited for the next pass; they arrived with the budget refilled.
  ProcessPackets();
  EXPECT_EQ(+Record(0).z, 1029.0f);
  EXPECT_EQ(support::CountOccurrences(seam.Take(), "#92>1 "), 5u);
}

}  // namespace
