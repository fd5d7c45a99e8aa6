// The packet loop: movement packets update the sender's record and reach the
// other spawned players (near ones always, far ones one time in eight), the
// status packet is answered, departures free the slot, the world time reaches
// spawned players, and a flood is taken a bounded share per pass.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/gameclock.h"
#include "core/log.h"
#include "core/packets.h"
#include "core/playerpool.h"
#include "core/vehiclepool.h"
#include "core/world.h"
#include "support/seam.h"

namespace {

using Bytes = std::vector<uint8_t>;
using support::Want;

template <typename T>
void Put(Bytes& p, size_t offset, T v) {
  std::memcpy(p.data() + offset, &v, sizeof v);
}
void Send(support::Seam& seam, int from, const Bytes& p) {
  seam.Packet(from, net::BitStream(p.data(), static_cast<uint32_t>(p.size() * 8)));
}
// Packet 92 with a recognisable filler in the uninterpreted bytes.
Bytes OnFoot(float x, float y, uint8_t tag = 0) {
  Bytes p(1 + kOnFootBlockSize);
  for (size_t i = 0; i < p.size(); ++i) p[i] = static_cast<uint8_t>(tag + i);
  p[0] = kPacketOnFootSync;
  Put(p, 1 + 2, x);
  Put(p, 1 + 6, y);
  Put(p, 1 + 10, 5.0f);
  return p;
}
// How Take() shows a raw relay: the id, then `body` in whole bytes.
std::string Relay(int id, std::initializer_list<int> to, Rpc& body) {
  while (body.Stream().GetNumberOfBitsUsed() % 8) body.bit(false);
  return support::Line("#" + std::to_string(id), to, body);
}
std::string BlockRelay(std::initializer_list<int> to, uint8_t sender, const Bytes& p) {
  return Relay(p[0], to, Want().c8(sender).bytes(p.data() + 1, p.size() - 1));
}
std::string Rec(const PlayerRecord& r) {
  char out[200];
  std::snprintf(out, sizeof out, "spawned %d in %u/%d at %.9g,%.9g,%.9g angle %.9g health %g armour %g weapon %d phone %d",
                r.spawned, r.vehicle, r.seat, r.x, r.y, r.z, r.angle, r.health, r.armour, r.weapon,
                r.phoneStatus);
  return out;
}
PlayerRecord& Record(int id) { return GetPlayerPool()->records[id]; }

TEST(Packets, OnFootFillsTheRecordAndReachesNearAlwaysFarOneInEightIdleNever) {
  support::Seam seam;
  for (const char* name : {"Alpha", "Near", "Far", "Idle"}) seam.Join(name);
  Send(seam, 1, OnFoot(199.9f, 0));
  Send(seam, 2, OnFoot(0, 200.0f));
  seam.Take();
  Record(0).vehicle = 5;
  Record(0).seat = 2;
  Bytes p = OnFoot(-1.5f, 2.25f, 40);
  Put(p, 1 + 14, 1.0f);  // heading in radians
  p[1 + 18] = 90;        // health
  p[1 + 19] = 45;        // armour
  p[1 + 20] = 31;        // weapon
  p[1 + 39] = 0xFF;      // phone status
  srand(1);
  Send(seam, 0, p);
  EXPECT_EQ(seam.Take(), BlockRelay({1}, 0, p));
  EXPECT_EQ(Rec(Record(0)),
            "spawned 1 in 0/0 at -1.5,2.25,5 angle 57.2957802 health 90 armour 45 weapon 31 phone -1");
  EXPECT_EQ(Bytes(Record(0).onFootBlock, Record(0).onFootBlock + kOnFootBlockSize), Bytes(p.begin() + 1, p.end()));

  Send(seam, 0, OnFoot(0, 0));
  seam.Take();
  EXPECT_LT(GetDistanceBetweenPlayers(0, 1), 200.0f);
  EXPECT_EQ(GetDistanceBetweenPlayers(0, 2), 200.0f);
  EXPECT_EQ(GetDistanceBetweenPlayers(0, 99), -1.0f);
  // Only the far receiver draws, once per packet: these are its draws after srand(1).
  srand(1);
  std::string receivers;
  for (int i = 0; i < 24; ++i) {
    Send(seam, 0, OnFoot(0, 0));
    const std::string sent = seam.Take();
    receivers += sent.substr(3, sent.find(' ') - 2);
  }
  EXPECT_EQ(receivers, ">1 >1 >1 >1 >1 >1 >1 >1 >1 >1 >1 >1 >1 >1 >1 >1 >1 >1 >1 >1,2 >1 >1,2 >1 >1 ");
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
    s.c32(7).c16(88).c8(14).c8(15).c16(750)  // f12, player health, f14, f15, vehicle health
        .vec3(12.5f, 1.25f, -3).vec3(0, 0, 0).vec3(1, 2, 3).vec3(10.5f, 6.25f, 10).vec3(0.5f, 0.5f, 0.5f);
    seam.Packet(0, s);
  };
  seam.Take();
  // Fifteen fields, and the vehicle's health in place of the speed.
  driver(1);
  EXPECT_EQ(seam.Take(), "#93>1 862efbe3c2b1a0946118e05837217bcb1efb9c01da27f7f9b403e3f80000000783a37a01a5"
                         "13562507360503e208eead4d90868aed8ae9ff2e4f2e4f2e48/496");
  EXPECT_EQ(Rec(Record(0)), "spawned 0 in 1/0 at 10.4996777,6.2495966,9.99997997 angle 1.24967921 "
                            "health 88 armour 66 weapon 0 phone 0");
  EXPECT_EQ(std::string(car.tyres, car.tyres + 4), std::string("\1\0\1\1", 4));
  char state[200];
  std::snprintf(state, sizeof state, "colours %d,%d health %g speed %.9g angle %.9g at %.9g,%.9g,%.9g spawn %g used %d",
                car.colour1, car.colour2, car.health, car.speed, car.angle, car.x, car.y, car.z,
                car.spawnX, car.used);
  EXPECT_EQ(std::string(state), "colours 44,55 health 750 speed 12.499754 angle 1.24967921 "
                                "at 10.4996777,6.2495966,9.99997997 spawn 5 used 1");
  EXPECT_EQ(+car.lastUsedMs, seam.clock.Now());
  // No such vehicle, or none: relayed all the same, but nothing follows it.
  Record(0).vehicle = 0;
  for (uint16_t id : {0, 9, 0xFFFF}) driver(id);
  EXPECT_EQ(+Record(0).vehicle, 0u);
  const std::string relays = seam.Take();
  EXPECT_EQ(std::count(relays.begin(), relays.end(), '#'), 3);

  vehicles->Get(1)->used = 0;
  seam.clock.Advance(10);
  Bytes p(1 + kPassengerBlockSize, 0xAB);
  p[0] = kPacketPassengerSync;
  p[1] = 2;                      // seat
  Put<uint16_t>(p, 1 + 1, 150);  // health
  p[1 + 3] = 80;                 // armour
  Put<uint32_t>(p, 1 + 8, 1);    // vehicle
  Send(seam, 0, p);
  EXPECT_EQ(seam.Take(), BlockRelay({1}, 0, p));
  EXPECT_EQ(Rec(Record(0)), "spawned 0 in 1/2 at 10.4996777,6.2495966,9.99997997 angle 1.24967921 "
                            "health 150 armour 80 weapon 0 phone 0");  // in the car's place
  EXPECT_EQ(+car.used, 1);
  EXPECT_EQ(+car.lastUsedMs, seam.clock.Now());
}

TEST(Packets, StatusOpaqueBlocksAndTimeStamps) {
  support::Seam seam;
  seam.Join("Alpha");
  seam.Join("Bravo");
  Send(seam, 0, OnFoot(0, 0));
  Send(seam, 1, OnFoot(5, 5));
  seam.Take();
  Record(0).team = 3;
  Record(0).score = -5;
  Bytes status(1 + kStatusBlockSize);
  status[0] = kPacketStatus;
  Put<int32_t>(status, 1, -100);
  status[1 + 4] = 7;                         // interior
  status[1 + 5] = 4;                         // wanted level
  status[1 + 6] = 120;                       // skin
  Put<uint32_t>(status, 1 + 7, 0x7FC01234);  // a NaN with a payload: relayed bit for bit
  Send(seam, 0, status);
  // The relay with the ping (the recorder's is 0), team and score; the answer repeats the ping.
  EXPECT_EQ(seam.Take(), Relay(96, {1}, Want().c8(0).i32(-100).u32(0).u32(0x7FC01234).i8(3).i32(-5)) +
                             "\n" + Relay(99, {0}, Want().c32(0)));
  const PlayerRecord& r = Record(0);
  EXPECT_EQ(std::to_string(r.cash) + " " + std::to_string(r.interior) + " " +
                std::to_string(r.wantedLevel) + " " + std::to_string(r.skin),
            "4294967196 7 4 120");

  Bytes p95(1 + kPacket95BlockSize), p98(1 + kPacket98BlockSize);
  for (size_t i = 0; i < p98.size(); ++i) p98[i] = static_cast<uint8_t>(200 - i);
  for (size_t i = 0; i < p95.size(); ++i) p95[i] = static_cast<uint8_t>(i * 3);
  p95[0] = kPacket95;
  p98[0] = kPacket98;
  // A stamped departure, which only the network library may announce.
  Send(seam, 0, {25, 1, 2, 3, 4, 19});
  Send(seam, 0, {25, 1, 2, 3, 4, 20});
  Send(seam, 0, p95);
  Send(seam, 0, p98);
  // A stamped on-foot packet is read after its stamp.
  Bytes stamped = {25, 9, 9, 9, 9};
  const Bytes moved = OnFoot(42, 43);
  stamped.insert(stamped.end(), moved.begin(), moved.end());
  Send(seam, 0, stamped);
  EXPECT_EQ(seam.Take(), BlockRelay({1}, 0, p95) + "\n" + BlockRelay({1}, 0, p98) + "\n" +
                             BlockRelay({1}, 0, moved));
  EXPECT_EQ(+Record(0).x, 42.0f);
  EXPECT_TRUE(GetPlayerPool()->IsInUse(0));
  EXPECT_EQ(seam.events.Take(), "");
}

TEST(Packets, DeparturesWorldTimeAndFloods) {
  support::Seam seam;
  seam.Join("Alpha");
  seam.Join("Bravo");
  seam.Join("Idle");
  Send(seam, 0, OnFoot(0, 0));
  seam.Take();
  // An orderly leave (reason 1) and a lost connection (reason 0); the slot is
  // freed after the script heard of it.
  std::string inUseWhenHeard;
  seam.events.onRaise = [&](const ScriptEvent& e) {
    inUseWhenHeard += std::to_string(GetPlayerPool()->IsInUse(static_cast<int>(e.args[0].number)));
  };
  seam.Drop(1);
  seam.Drop(2, true);
  seam.events.onRaise = nullptr;
  EXPECT_EQ(seam.events.Take(), "disconnect 1 1\ndisconnect 2 0");
  EXPECT_EQ(inUseWhenHeard, "11");
  EXPECT_EQ(seam.Take(), "PlayerDisconnect>0,2 8c40/10\nPlayerDisconnect>0 9400/10");
  EXPECT_FALSE(GetPlayerPool()->IsInUse(1) || GetPlayerPool()->IsInUse(2));
  EXPECT_NE(seam.Server().ReadFile(kLogFileName).find("[LEAVE] Bravo has left the server. [Quit]"),
            std::string::npos);

  // The world time goes to spawned players, except at midnight.
  seam.Join("Idle");
  uint8_t hour, minute;
  GetGameClock(hour, minute);
  for (auto [h, m] : {std::pair{12, 5}, {0, 0}, {0, 1}}) {
    SetGameClock(static_cast<uint8_t>(h), static_cast<uint8_t>(m));
    BroadcastWorldTime();
  }
  SetGameClock(hour, minute);
  EXPECT_EQ(seam.Take(), "#97>0 050c/16\n#97>0 0100/16");

  // A flood is taken a bounded share per pass, so the main loop keeps coming round.
  for (uint32_t n = 1; n <= kMaxPacketsPerPass + 5; ++n) {
    Bytes p = OnFoot(0, 0);
    Put(p, 1 + 10, static_cast<float>(n));  // z: which packet the record last saw
    seam.Peer().InjectMessage(0, p.data(), static_cast<uint32_t>(p.size()));
  }
  ProcessPackets();
  EXPECT_EQ(+Record(0).z, static_cast<float>(kMaxPacketsPerPass));
  ProcessPackets();
  EXPECT_EQ(+Record(0).z, static_cast<float>(kMaxPacketsPerPass + 5));
}

}  // namespace
