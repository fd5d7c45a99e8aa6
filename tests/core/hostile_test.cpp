// A hostile client: every message cut at every length, and random bytes, from
// a joined connection and from one that never joined, and a flood. The server
// must keep serving the others, and nothing but the sender's own record may
// change.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/packets.h"
#include "core/vehiclepool.h"
#include "game_fixture.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Call {
  std::string name;
  Bytes data;
  uint32_t bits = 0;
};
Call MakeCall(const char* name, Rpc& payload) {
  const net::BitStream& s = payload.Stream();
  return {name, Bytes(s.GetData(), s.GetData() + s.GetNumberOfBytesUsed()), s.GetNumberOfBitsUsed()};
}

// One well-formed call of every kind that acts for player `p` on vehicle 1.
std::vector<Call> WellFormedCalls(uint8_t p) {
  using gametest::Want;
  Rpc join = Want();
  gametest::JoinPayload(join.Stream(), "Intruder", gametest::GoodVersion());
  return {
      MakeCall("ClientJoin", join),
      MakeCall("NewSpawn", Want().c16(1).c16(300).f32(1).f32(2).f32(3).f32(4).c8(200)),
      MakeCall("CommandSend", Want().u32(5).chars("/test", 5)),
      MakeCall("PlayerDeath", Want().u8(p).u8(1).u8(2)),
      MakeCall("PlayerChat", Want().u8(p).u8(5).chars("hello", 5)),
      MakeCall("OnPlayerEnterGlobalPickup", Want().u8(p).u8(3)),
      MakeCall("OnPlayerEnterLocalPickup", Want().u8(p).u8(3)),
      MakeCall("OnPlayerEnterGlobalMarker", Want().u8(p).u8(1).u8(2)),
      MakeCall("OnPlayerExitGlobalMarker", Want().u8(p).u8(1).u8(2)),
      MakeCall("OnPlayerEnterLocalMarker", Want().u8(p).u8(1).u8(2)),
      MakeCall("OnPlayerExitLocalMarker", Want().u8(p).u8(1).u8(2)),
      MakeCall("OnPlayerEnterVehicle", Want().u8(p).u32(1).u8(0)),
      MakeCall("OnPlayerExitVehicle", Want().c8(p).c16(1)),
      MakeCall("OnPlayerKeyPress", Want().c32(0x1234)),
      MakeCall("SendVehicleEntry", Want().c16(1).c8(0)),
      MakeCall("VehicleDeath", Want().c16(1).bit(true)),
  };
}

// One well-formed movement packet of every kind, naming vehicle 1.
std::vector<Bytes> WellFormedPackets() {
  Rpc driver = gametest::Want();
  driver.u8(kPacketDriverSync).c16(1).c16(2).c32(3);
  for (uint8_t i = 0; i < 8; ++i) driver.c8(i);  // tyres to armour
  driver.c32(70000).c16(100).c8(14).c8(15).c16(900);
  for (int i = 0; i < 5; ++i) driver.vec3(1.0f + i, 2, 3);
  const net::BitStream& d = driver.Stream();
  std::vector<Bytes> packets = {Bytes(1 + kOnFootBlockSize, 7), Bytes(d.GetData(), d.GetData() + d.GetNumberOfBytesUsed()),
                                Bytes(1 + kPassengerBlockSize, 0), Bytes(1 + kPacket95BlockSize, 9),
                                Bytes(1 + kStatusBlockSize, 9), Bytes(1 + kPacket98BlockSize, 9)};
  packets[0][0] = kPacketOnFootSync;
  packets[2][0] = kPacketPassengerSync;
  packets[2][1 + 8] = 1;
  packets[3][0] = kPacket95;
  packets[4][0] = kPacketStatus;
  packets[5][0] = kPacket98;
  Bytes stamped = {25, 1, 2, 3, 4};
  stamped.insert(stamped.end(), packets[0].begin(), packets[0].end());
  packets.push_back(stamped);
  return packets;
}

// Everything a client's messages could reach.
struct World {
  PlayerPool players;
  Bytes vehicles;
  static World Take() {
    World w{*GetPlayerPool(), {}};
    const VehiclePool& v = *GetVehiclePool();
    auto add = [&w](const void* data, size_t n) {
      const auto* b = static_cast<const uint8_t*>(data);
      w.vehicles.insert(w.vehicles.end(), b, b + n);
    };
    add(v.inUse, sizeof v.inUse);
    add(v.respawnState, sizeof v.respawnState);
    add(v.destroyedFlag, sizeof v.destroyedFlag);
    add(v.stateTime, sizeof v.stateTime);
    for (int id = 1; id < kMaxVehicles; ++id)
      if (v.records[id]) add(v.records[id], sizeof *v.records[id]);
    return w;
  }
  bool SamePlayers(const World& o) const {
    return std::memcmp(&players, &o.players, sizeof players) == 0;
  }
};

class HostileTest : public gametest::GameTest {
 protected:
  void SetUp() override {
    GameTest::SetUp();
    ASSERT_EQ(GetVehiclePool()->Add(150, 0, 0, 0, 0, 1, 1), 1);
    n1_ = &ConnectAndJoin("Near1");
    n2_ = &ConnectAndJoin("Near2");
    for (auto* c : {n1_, n2_}) {
      Bytes place(1 + kOnFootBlockSize, 0);
      place[0] = kPacketOnFootSync;
      ASSERT_TRUE(c->SendRaw(place));
    }
    // The later of the two is relayed to the earlier: wait for it, so that
    // nothing from here arrives during a test.
    ASSERT_TRUE(PumpUntil([&] {
      return Record(Index(*n1_)).spawned && Record(Index(*n2_)).spawned &&
             n1_->PacketCount(kPacketOnFootSync) + n2_->PacketCount(kPacketOnFootSync) >= 1;
    }));
  }

  // Joins the hostile client and waits until the others have been told.
  support::TestClient& JoinHostile() {
    support::TestClient& c = ConnectAndJoin("Hostile");
    const std::string id = std::to_string(c.Index());
    auto told = [&](const support::TestClient& other) {
      for (const auto& r : other.Rpcs("PlayerConnect"))
        if (std::to_string(gametest::Comp<uint8_t>(*r.Reader())) == id) return true;
      return false;
    };
    EXPECT_TRUE(PumpUntil([&] { return told(*n1_) && told(*n2_); }));
    return c;
  }

  static uint8_t Index(const support::TestClient& c) { return static_cast<uint8_t>(c.Index()); }

  // The others still chat and move.
  void ExpectOthersStillServed() {
    n1_->Clear();
    n2_->Clear();
    net::BitStream chat;
    chat.Write(Index(*n1_));
    chat.Write(static_cast<uint8_t>(2));
    chat.WriteBytes("ok", 2);
    ASSERT_TRUE(n1_->SendRpc("PlayerChat", chat));
    Bytes move(1 + kOnFootBlockSize, 0);
    move[0] = kPacketOnFootSync;
    ASSERT_TRUE(n1_->SendRaw(move));
    EXPECT_TRUE(PumpUntil([&] {
      return n2_->Count("PlayerChat") == 1 && n2_->PacketCount(kPacketOnFootSync) >= 1;
    }));
  }

  size_t RelaysTo(const support::TestClient& c) const {
    size_t n = c.Count("PlayerChat") + c.Count("PlayerDeath") + c.Count("NewSpawn") +
               c.Count("SendVehicleEntry") + c.Count("PlayerConnect");
    for (uint8_t id = kPacketOnFootSync; id <= kPacket98; ++id) n += c.PacketCount(id);
    return n;
  }

  support::TestClient* n1_ = nullptr;
  support::TestClient* n2_ = nullptr;
};

TEST_F(HostileTest, EveryMessageCutShortChangesNothingFromEitherKindOfConnection) {
  support::TestClient& joined = JoinHostile();
  support::TestClient& stranger = Connect();
  const uint8_t h = Index(joined);
  n1_->Clear();
  n2_->Clear();
  sink_.events.clear();
  const World before = World::Take();

  // From the joined client every call and packet cut short; from the stranger
  // also whole, which count for nothing either.
  for (support::TestClient* from : {&joined, &stranger}) {
    const uint32_t whole = from == &stranger ? 1 : 0;
    for (const Call& call : WellFormedCalls(h)) {
      // A stranger's join would be refused and its connection closed: its
      // cut-short joins are tried on connections of their own below.
      if (from == &stranger && call.name == "ClientJoin") continue;
      for (uint32_t bits = 0; bits < call.bits + whole; ++bits)
        ASSERT_TRUE(from->SendRpc(call.name, call.data.data(), bits));
    }
    for (const Bytes& packet : WellFormedPackets())
      for (size_t n = 1; n < packet.size() + whole; ++n)
        ASSERT_TRUE(from->SendRaw(Bytes(packet.begin(), packet.begin() + n)));
  }
  Settle(joined, 20000);
  // A join from the stranger goes behind its own messages.
  const size_t rpcsBefore = stranger.AllRpcs().size();
  SendJoin(stranger, "Latecomer", 0);
  ASSERT_TRUE(PumpUntil([&] { return stranger.AllRpcs().size() > rpcsBefore; }));
  EXPECT_EQ(stranger.AllRpcs().back().name, "InvalidVersion");

  EXPECT_TRUE(World::Take().SamePlayers(before)) << "a player record changed";
  EXPECT_TRUE(World::Take().vehicles == before.vehicles) << "the vehicle pool changed";
  EXPECT_TRUE(sink_.events.empty()) << sink_.events.front();
  EXPECT_EQ(RelaysTo(*n1_) + RelaysTo(*n2_), 0u);

  // A join cut at every length, each on a fresh connection: refused as a
  // wrong version, and no slot taken.
  const Call join = WellFormedCalls(h)[0];
  for (uint32_t bits = 0; bits < join.bits; ++bits) {
    SCOPED_TRACE(bits);
    support::TestClient& c = Connect();
    ASSERT_TRUE(c.SendRpc("ClientJoin", join.data.data(), bits));
    ASSERT_TRUE(PumpUntil([&] { return c.Count("InvalidVersion") == 1 && !c.Connected(); }));
    clients_.pop_back();
  }
  EXPECT_TRUE(World::Take().SamePlayers(before));
  ExpectOthersStillServed();
}

TEST_F(HostileTest, RandomBytesTouchNothingButTheSendersOwnRecord) {
  support::TestClient& joined = JoinHostile();
  support::TestClient& stranger = Connect();
  const uint8_t h = Index(joined);
  sink_.events.clear();
  const World before = World::Take();

  const std::vector<Call> names = WellFormedCalls(h);
  std::mt19937 random(424242);
  auto byte = [&] { return static_cast<uint8_t>(random() & 0xFF); };
  auto randomBytes = [&](size_t n) {
    Bytes b(n);
    for (auto& x : b) x = byte();
    return b;
  };
  const uint8_t firstBytes[] = {25, 19, 20, 92, 93, 94, 95, 96, 97, 98, 99};
  for (support::TestClient* from : {&joined, &stranger}) {
    for (int i = 0; i < 1500; ++i) {
      if (random() % 2) {
        const std::string name = names[random() % names.size()].name;
        if (from == &stranger && name == "ClientJoin") continue;
        const uint32_t bits = random() % 400;
        const Bytes data = randomBytes((bits + 7) / 8 + 1);
        ASSERT_TRUE(from->SendRpc(name, data.data(), bits));
      } else {
        Bytes packet = randomBytes(1 + random() % 120);
        if (random() % 4) packet[0] = firstBytes[random() % std::size(firstBytes)];
        if (packet[0] == 25 && packet.size() > 5) packet[5] = static_cast<uint8_t>(92 + random() % 8);
        ASSERT_TRUE(from->SendRaw(packet));
      }
    }
  }
  Settle(joined, 20000);
  const size_t rpcsBefore = stranger.AllRpcs().size();
  SendJoin(stranger, "Latecomer", 0);
  ASSERT_TRUE(PumpUntil([&] { return stranger.AllRpcs().size() > rpcsBefore; }, 20000));

  // Whatever the hostile client managed, it managed as itself.
  EXPECT_TRUE(GetPlayerPool()->IsInUse(h));
  for (const std::string& event : sink_.events)
    EXPECT_EQ(gametest::RecordingSink::PlayerOf(event), h) << event;
  const PlayerPool& now = *GetPlayerPool();
  const PlayerPool& then = before.players;
  for (int id = 0; id < kMaxPlayers; ++id) {
    if (id == h) continue;
    EXPECT_EQ(std::memcmp(&now.records[id], &then.records[id], sizeof(PlayerRecord)), 0) << id;
    EXPECT_EQ(now.inUse[id], then.inUse[id]) << id;
    EXPECT_STREQ(now.names[id], then.names[id]) << id;
  }
  // Vehicles come and go only by the script.
  EXPECT_EQ(std::memcmp(GetVehiclePool()->inUse, before.vehicles.data(), kMaxVehicles), 0);
  ExpectOthersStillServed();
}

// Movement sent faster than the server can relay it: each pass of the loop
// takes a bounded share, so the main loop (timers, console, world time) keeps
// coming round while the flood lasts.
TEST_F(HostileTest, AFloodDoesNotHoldThePacketLoop) {
  support::TestClient& flooder = JoinHostile();
  const uint8_t h = Index(flooder);
  std::atomic<bool> done{false};
  std::thread blaster([&] {
    Bytes p(1 + kOnFootBlockSize, 0);
    p[0] = kPacketOnFootSync;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (float n = 1; !done; ++n) {
      std::memcpy(p.data() + 1 + 10, &n, sizeof n);  // z: which packet the record last saw
      flooder.GetPeer().Send(p.data(), static_cast<uint32_t>(p.size() * 8), net::HIGH_PRIORITY,
                             net::UNRELIABLE_SEQUENCED, 0, flooder.Server(), false);
      if (std::chrono::steady_clock::now() > deadline) {
        std::fputs("HostileTest.AFloodDoesNotHoldThePacketLoop: a pass never ended\n", stderr);
        std::_Exit(1);
      }
    }
  });
  int passes = 0;  // passes that took part of the flood and then ended
  while (passes < 3) {
    const float before = Record(h).z;
    ProcessPackets();
    if (Record(h).z != before) ++passes;
  }
  done = true;
  blaster.join();
  EXPECT_TRUE(GetPlayerPool()->IsInUse(h));
}

}  // namespace
