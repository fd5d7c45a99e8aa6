// A hostile client: every message cut at every length, then random bytes, from
// a joined connection (2) and from one that never joined (3), beside two
// players (0, 1) near each other. Nothing but the sender's own record may
// change, and the others are still served afterwards.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/log.h"
#include "core/packets.h"
#include "core/playerpool.h"
#include "core/vehiclepool.h"
#include "core/world.h"
#include "record_bytes.h"
#include "support/seam.h"

namespace {

using Bytes = std::vector<uint8_t>;
using support::Want;
constexpr int kHostile = 2;
constexpr int kStranger = 3;

struct Message {
  const char* call;  // nullptr: a raw packet
  Bytes data;
  uint32_t bits;
};

// One well-formed call of every kind that acts for the hostile player on
// vehicle 1 (the join first), and one movement packet of every kind.
std::vector<Message> WellFormed() {
  std::vector<Message> out;
  auto add = [&](const char* call, Rpc& r) {
    const net::BitStream& s = r.Stream();
    out.push_back({call, Bytes(s.GetData(), s.GetData() + s.GetNumberOfBytesUsed()),
                   s.GetNumberOfBitsUsed()});
  };
  const uint8_t p = kHostile;
  add("ClientJoin", Want().c8(8).chars("Intruder", 8).c32(support::GoodVersion()));
  add("NewSpawn", Want().c16(1).c16(300).f32(1).f32(2).f32(3).f32(4).c8(200));
  add("CommandSend", Want().u32(5).chars("/test", 5));
  add("PlayerDeath", Want().u8(p).u8(1).u8(2));
  add("PlayerChat", Want().u8(p).u8(5).chars("hello", 5));
  for (const char* call : {"OnPlayerEnterGlobalPickup", "OnPlayerEnterLocalPickup"}) {
    add(call, Want().u8(p).u8(3));
  }
  for (const char* call : {"OnPlayerEnterGlobalMarker", "OnPlayerExitGlobalMarker",
                           "OnPlayerEnterLocalMarker", "OnPlayerExitLocalMarker"}) {
    add(call, Want().u8(p).u8(1).u8(2));
  }
  add("OnPlayerEnterVehicle", Want().u8(p).u32(1).u8(0));
  add("OnPlayerExitVehicle", Want().c8(p).c16(1));
  add("OnPlayerKeyPress", Want().c32(0x1234));
  add("SendVehicleEntry", Want().c16(1).c8(0));
  add("VehicleDeath", Want().c16(1).bit(true));
  Rpc driver = Want();
  driver.u8(kPacketDriverSync).c16(1).c16(2).c32(3);
  driver.c8(0).c8(1).c8(2).c8(3).c8(4).c8(5).c8(6).c8(7);  // tyres to armour
  driver.c32(70000).c16(100).c8(14).c8(15).c16(900);       // f12, health, f14, f15, vehicle health
  driver.vec3(1, 2, 3).vec3(2, 2, 3).vec3(3, 2, 3).vec3(4, 2, 3).vec3(5, 2, 3);
  while (driver.Stream().GetNumberOfBitsUsed() % 8) driver.bit(false);
  add(nullptr, driver);
  // clang-format off
  const std::pair<uint8_t, uint32_t> blocks[] = {
      {kPacketOnFootSync, kOnFootBlockSize}, {kPacketPassengerSync, kPassengerBlockSize},
      {kPacket95, kPacket95BlockSize},       {kPacketStatus, kStatusBlockSize},
      {kPacket98, kPacket98BlockSize}};
  // clang-format on
  for (auto [id, size] : blocks) {
    Bytes b(1 + size, id == kPacketPassengerSync ? 0 : 9);
    b[0] = id;
    b[1 + 8] = id == kPacketPassengerSync ? 1 : 9;  // vehicle 1
    out.push_back({nullptr, b, static_cast<uint32_t>(b.size() * 8)});
  }
  // The on-foot packet behind a time stamp.
  const Bytes& onFoot = out[out.size() - 5].data;
  Bytes stamped = {25, 1, 2, 3, 4};
  stamped.insert(stamped.end(), onFoot.begin(), onFoot.end());
  out.push_back({nullptr, stamped, static_cast<uint32_t>(stamped.size() * 8)});
  return out;
}

// Calls come unreliably: beyond their budget they are dropped, not a reason
// to close the hostile connection before the sweep is over.
void Send(support::Seam& seam, int from, const char* call, const uint8_t* data, uint32_t bits) {
  const net::BitStream message(data, bits);
  if (call) {
    seam.Call(from, call, message, false);
  } else {
    seam.Packet(from, message);
  }
}

TEST(Hostile, CutShortThenRandomBytes) {
  support::Seam seam;
  ASSERT_EQ(GetVehiclePool()->Add(150, 0, 0, 0, 0, 1, 1), 1);
  for (const char* name : {"Near1", "Near2", "Hostile"}) seam.Join(name);
  Bytes place(1 + kOnFootBlockSize, 0);
  place[0] = kPacketOnFootSync;
  const uint32_t placeBits = static_cast<uint32_t>(place.size() * 8);
  for (int i = 0; i < 2; ++i) Send(seam, i, nullptr, place.data(), placeBits);
  ASSERT_EQ(seam.Connect(), kStranger);
  seam.Take();
  seam.events.Take();
  const auto players = std::make_unique<PlayerPool>(*GetPlayerPool());
  const VehiclePool& vehicles = *GetVehiclePool();
  const std::string carBefore = Hex(*vehicles.Get(1));
  const uint8_t respawnStateBefore = vehicles.respawnState[1];
  const uint8_t destroyedFlagBefore = vehicles.destroyedFlag[1];
  const uint32_t stateTimeBefore = vehicles.stateTime[1];
  const std::vector<Message> messages = WellFormed();
  // Cut short from the joined client; also whole from the stranger, which
  // count for nothing either. (A stranger's join is refused: below.)
  for (int from : {kHostile, kStranger}) {
    for (const Message& m : messages) {
      if (from == kStranger && m.call && std::strcmp(m.call, "ClientJoin") == 0) continue;
      const uint32_t step = m.call ? 1 : 8;
      const uint32_t end = m.bits + (from == kStranger ? step : 0);
      for (uint32_t bits = m.call ? 0 : 8; bits < end; bits += step) {
        Send(seam, from, m.call, m.data.data(), bits);
      }
    }
  }
  // Nothing sent or raised, and no player and no vehicle changed.
  EXPECT_EQ(seam.Take(), "");
  EXPECT_EQ(seam.events.Take(), "");
  EXPECT_EQ(std::memcmp(players.get(), GetPlayerPool(), sizeof(PlayerPool)), 0);
  ASSERT_NE(vehicles.Get(1), nullptr);
  EXPECT_EQ(Hex(*vehicles.Get(1)), carBefore);
  EXPECT_EQ(vehicles.respawnState[1], respawnStateBefore);
  EXPECT_EQ(vehicles.destroyedFlag[1], destroyedFlagBefore);
  EXPECT_EQ(vehicles.stateTime[1], stateTimeBefore);
  // A join cut at every length, each on a fresh connection: refused as a wrong
  // version, and no slot taken.
  for (uint32_t bits = 0; bits < messages[0].bits; ++bits) {
    Send(seam, seam.Connect(), "ClientJoin", messages[0].data.data(), bits);
    EXPECT_EQ(seam.Take(), "InvalidVersion>4 /0\nclose>4") << bits;
  }
  EXPECT_EQ(std::memcmp(players.get(), GetPlayerPool(), sizeof(PlayerPool)), 0);

  std::mt19937 random(424242);
  const uint8_t firstBytes[] = {25, 19, 20, 92, 93, 94, 95, 96, 97, 98, 99};
  for (int from : {kHostile, kStranger}) {
    for (int i = 0; i < 1500; ++i) {
      Bytes data(2 + random() % 120);
      for (uint8_t& b : data) b = static_cast<uint8_t>(random());
      if (random() % 2) {
        const char* call = messages[random() % 16].call;  // the calls come first
        if (from == kStranger && std::strcmp(call, "ClientJoin") == 0) continue;
        Send(seam, from, call, data.data(),
             static_cast<uint32_t>(random() % ((data.size() - 1) * 8)));
      } else {
        if (random() % 4) data[0] = firstBytes[random() % std::size(firstBytes)];
        if (data[0] == 25 && data.size() > 5) data[5] = static_cast<uint8_t>(92 + random() % 8);
        Send(seam, from, nullptr, data.data(), static_cast<uint32_t>(data.size() * 8));
      }
    }
  }
  // Whatever the hostile client managed, it managed as itself.
  EXPECT_TRUE(GetPlayerPool()->IsInUse(kHostile));
  for (const std::string& event : seam.events.lines) {
    const std::string firstArgument = (event + " ").substr(event.find(' '), 3);
    EXPECT_EQ(firstArgument, " 2 ") << event;
  }
  seam.events.Take();
  const PlayerPool& now = *GetPlayerPool();
  for (int id = 0; id < kMaxPlayers; ++id) {
    if (id == kHostile) continue;
    SCOPED_TRACE(id);
    EXPECT_EQ(Hex(now.records[id]), Hex(players->records[id]));
    EXPECT_EQ(now.inUse[id], players->inUse[id]);
    EXPECT_STREQ(now.names[id], players->names[id]);
  }
  // Vehicles come and go only by the script.
  EXPECT_TRUE(vehicles.inUse[1]);
  EXPECT_FALSE(vehicles.inUse[2]);
  seam.Take();

  // The others still chat and move, and the stranger's join is still answered.
  seam.Call(0, "PlayerChat", Want().u8(0).u8(2).chars("ok", 2));
  EXPECT_EQ(seam.Take("PlayerChat"),
            support::Line("PlayerChat", {0, 1, 2, 3}, Want().u8(0).u8(2).chars("ok", 2)));
  Send(seam, 0, nullptr, place.data(), placeBits);
  EXPECT_EQ(seam.Take().substr(0, 5), "#92>1");
  seam.Call(kStranger, "ClientJoin", Want().c8(8).chars("Latecomr", 8));
  EXPECT_EQ(seam.Take(), "InvalidVersion>3 /0\nclose>3");
}

// Messages from a player while the main loop is stalled: unreliable ones past
// the queue share are dropped and the log counts them; past the reserve for
// reliable ones the player is closed and leaves as anyone lost does, rather
// than have calls skipped in between.
TEST(Hostile, ReliableCallsPastTheQueueShareEndTheConnection) {
  support::Seam seam;
  seam.Join("Alpha");
  seam.Join("Bravo");
  seam.Take();
  const Bytes onFoot = [] {
    Bytes p(55, 0);
    p[0] = 92;
    return p;
  }();
  for (int i = 0; i < 5000; ++i) {
    seam.Peer().InjectMessage(0, onFoot.data(), uint32_t(onFoot.size()), false);
  }
  seam.Pump(5);  // 1024 packets a pass
  seam.clock.Advance(1000);
  seam.Pump();
  EXPECT_NE(seam.Server().ReadFile(kLogFileName).find(
                "[NET] Dropped 904 unreliable messages from Alpha (id 0): more than 4096 "
                "messages or 1 MiB waiting to be handled"),
            std::string::npos);
  EXPECT_TRUE(GetPlayerPool()->IsInUse(0));
  seam.Take();
  Rpc press("OnPlayerKeyPress");
  press.c32(1);
  const net::BitStream& payload = press.Stream();
  const std::string name = "OnPlayerKeyPress";
  Bytes call = {11, static_cast<uint8_t>(name.size())};
  call.insert(call.end(), name.begin(), name.end());
  call.insert(call.end(), {static_cast<uint8_t>(payload.GetNumberOfBitsUsed()), 0, 0, 0});
  call.insert(call.end(), payload.GetData(), payload.GetData() + payload.GetNumberOfBytesUsed());
  int queued = 0;
  while (queued < 6000 && seam.Peer().InjectMessage(0, call.data(), uint32_t(call.size()))) {
    ++queued;
  }
  EXPECT_EQ(queued, 4096 + 1024);
  seam.Pump(30);  // 256 calls a pass
  EXPECT_EQ(seam.Take("PlayerDisconnect"),
            support::Line("PlayerDisconnect", {1}, Want().c8(0).c8(0)));
  EXPECT_FALSE(GetPlayerPool()->IsInUse(0));
  EXPECT_NE(seam.Server().ReadFile(kLogFileName).find(
                "[NET] Closed connection 0 (Alpha, 10.0.0.1): it sent more reliable messages "
                "than may wait to be handled"),
            std::string::npos);
}

}  // namespace
