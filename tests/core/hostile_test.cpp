// A hostile client: every message cut at every length, and random bytes, from
// a joined connection and from one that never joined. The server must keep
// serving the others, and nothing but the sender's own record may change.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "core/packets.h"
#include "core/vehiclepool.h"
#include "game_fixture.h"

namespace {

using Bytes = std::vector<uint8_t>;

const char* const kCallNames[] = {
    "ClientJoin", "NewSpawn", "CommandSend", "PlayerDeath", "PlayerChat",
    "OnPlayerEnterGlobalPickup", "OnPlayerEnterLocalPickup", "OnPlayerEnterGlobalMarker",
    "OnPlayerExitGlobalMarker", "OnPlayerEnterLocalMarker", "OnPlayerExitLocalMarker",
    "OnPlayerEnterVehicle", "OnPlayerExitVehicle", "OnPlayerKeyPress", "SendVehicleEntry",
    "VehicleDeath"};

struct Call {
  std::string name;
  Bytes data;
  uint32_t bits = 0;
};

Call MakeCall(const std::string& name, const std::function<void(net::BitStream&)>& write) {
  net::BitStream s;
  write(s);
  return {name, Bytes(s.GetData(), s.GetData() + s.GetNumberOfBytesUsed()),
          s.GetNumberOfBitsUsed()};
}

// One well-formed call of every kind that acts for player `p` on vehicle 1.
std::vector<Call> WellFormedCalls(uint8_t p) {
  auto three = [p](net::BitStream& s) {
    s.Write(p);
    s.Write(static_cast<uint8_t>(1));
    s.Write(static_cast<uint8_t>(2));
  };
  auto pickup = [p](net::BitStream& s) {
    s.Write(p);
    s.Write(static_cast<uint8_t>(3));
  };
  return {
      MakeCall("ClientJoin", [](net::BitStream& s) {
        gametest::JoinPayload(s, "Intruder", gametest::GoodVersion());
      }),
      MakeCall("NewSpawn", [](net::BitStream& s) {
        s.WriteCompressed(static_cast<uint16_t>(1));
        s.WriteCompressed(static_cast<uint16_t>(300));
        for (float f : {1.0f, 2.0f, 3.0f, 4.0f}) s.Write(f);
        s.WriteCompressed(static_cast<uint8_t>(200));
      }),
      MakeCall("CommandSend", [](net::BitStream& s) {
        s.Write(static_cast<uint32_t>(5));
        s.WriteBytes("/test", 5);
      }),
      MakeCall("PlayerDeath", three),
      MakeCall("PlayerChat", [p](net::BitStream& s) {
        s.Write(p);
        s.Write(static_cast<uint8_t>(5));
        s.WriteBytes("hello", 5);
      }),
      MakeCall("OnPlayerEnterGlobalPickup", pickup),
      MakeCall("OnPlayerEnterLocalPickup", pickup),
      MakeCall("OnPlayerEnterGlobalMarker", three),
      MakeCall("OnPlayerExitGlobalMarker", three),
      MakeCall("OnPlayerEnterLocalMarker", three),
      MakeCall("OnPlayerExitLocalMarker", three),
      MakeCall("OnPlayerEnterVehicle", [p](net::BitStream& s) {
        s.Write(p);
        s.Write(static_cast<uint32_t>(1));
        s.Write(static_cast<uint8_t>(0));
      }),
      MakeCall("OnPlayerExitVehicle", [p](net::BitStream& s) {
        s.WriteCompressed(p);
        s.WriteCompressed(static_cast<uint16_t>(1));
      }),
      MakeCall("OnPlayerKeyPress", [](net::BitStream& s) {
        s.WriteCompressed(static_cast<uint32_t>(0x1234));
      }),
      MakeCall("SendVehicleEntry", [](net::BitStream& s) {
        s.WriteCompressed(static_cast<uint16_t>(1));
        s.WriteCompressed(static_cast<uint8_t>(0));
      }),
      MakeCall("VehicleDeath", [](net::BitStream& s) {
        s.WriteCompressed(static_cast<uint16_t>(1));
        s.WriteBit(true);
      }),
  };
}

// One well-formed movement packet of every kind, naming vehicle 1.
std::vector<Bytes> WellFormedPackets() {
  std::vector<Bytes> packets;
  Bytes onFoot(1 + kOnFootBlockSize, 7);
  onFoot[0] = kPacketOnFootSync;
  packets.push_back(onFoot);
  net::BitStream driver;
  driver.Write(static_cast<uint8_t>(kPacketDriverSync));
  driver.WriteCompressed(static_cast<uint16_t>(1));
  driver.WriteCompressed(static_cast<uint16_t>(2));
  driver.WriteCompressed(static_cast<uint32_t>(3));
  for (int i = 0; i < 8; ++i) driver.WriteCompressed(static_cast<uint8_t>(i));  // tyres to armour
  driver.WriteCompressed(static_cast<uint32_t>(70000));
  driver.WriteCompressed(static_cast<uint16_t>(100));  // player health
  driver.WriteCompressed(static_cast<uint8_t>(14));
  driver.WriteCompressed(static_cast<uint8_t>(15));
  driver.WriteCompressed(static_cast<uint16_t>(900));  // vehicle health
  for (int i = 0; i < 5; ++i) driver.WriteVector(1.0f + i, 2.0f, 3.0f);
  packets.emplace_back(driver.GetData(), driver.GetData() + driver.GetNumberOfBytesUsed());
  Bytes passenger(1 + kPassengerBlockSize, 0);
  passenger[0] = kPacketPassengerSync;
  passenger[1 + 8] = 1;
  packets.push_back(passenger);
  for (auto [id, size] : {std::pair<uint8_t, uint32_t>{kPacket95, kPacket95BlockSize},
                          {kPacketStatus, kStatusBlockSize},
                          {kPacket98, kPacket98BlockSize}}) {
    Bytes p(1 + size, 9);
    p[0] = id;
    packets.push_back(p);
  }
  Bytes stamped = {25, 1, 2, 3, 4};
  stamped.insert(stamped.end(), onFoot.begin(), onFoot.end());
  packets.push_back(stamped);
  return packets;
}

// Everything a client's messages could reach.
struct World {
  PlayerPool players;
  Bytes vehicles;
  static World Take() {
    World w{*gNetGame->playerPool, {}};
    const VehiclePool& v = *gNetGame->vehiclePool;
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
    ASSERT_EQ(gNetGame->vehiclePool->Add(150, 0, 0, 0, 0, 1, 1), 1);
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

  // Sends a command line after everything else and waits for the script to
  // get it: then everything before it has been handled.
  void Settle(support::TestClient& from, const std::string& line) {
    net::BitStream s;
    s.Write(static_cast<uint32_t>(line.size()));
    s.WriteBytes(line.data(), static_cast<uint32_t>(line.size()));
    ASSERT_TRUE(from.SendRpc("CommandSend", s));
    const std::string expected = "command " + std::to_string(from.Index()) + " " + line;
    ASSERT_TRUE(PumpUntil([&] { return !sink_.events.empty() && sink_.events.back() == expected; },
                          20000));
    sink_.events.pop_back();
  }

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

  for (support::TestClient* from : {&joined, &stranger}) {
    for (const Call& call : WellFormedCalls(h)) {
      // A stranger's join would be refused and its connection closed: its
      // cut-short joins are tried on connections of their own below.
      if (from == &stranger && call.name == "ClientJoin") continue;
      for (uint32_t bits = 0; bits < call.bits; ++bits)
        ASSERT_TRUE(from->SendRpc(call.name, call.data.data(), bits));
    }
    for (const Bytes& packet : WellFormedPackets())
      for (size_t n = 1; n < packet.size(); ++n)
        ASSERT_TRUE(from->SendRaw(Bytes(packet.begin(), packet.begin() + n)));
  }
  // The stranger's whole messages count for nothing either.
  for (const Call& call : WellFormedCalls(h)) {
    if (call.name != "ClientJoin") {
      ASSERT_TRUE(stranger.SendRpc(call.name, call.data.data(), call.bits));
    }
  }
  for (const Bytes& packet : WellFormedPackets()) ASSERT_TRUE(stranger.SendRaw(packet));
  Settle(joined, "/settle-joined");
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
        const char* name = kCallNames[random() % std::size(kCallNames)];
        if (from == &stranger && std::strcmp(name, "ClientJoin") == 0) continue;
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
  Settle(joined, "/settle-random");
  const size_t rpcsBefore = stranger.AllRpcs().size();
  SendJoin(stranger, "Latecomer", 0);
  ASSERT_TRUE(PumpUntil([&] { return stranger.AllRpcs().size() > rpcsBefore; }, 20000));

  // Whatever the hostile client managed, it managed as itself.
  EXPECT_TRUE(gNetGame->playerPool->IsInUse(h));
  for (const std::string& event : sink_.events)
    EXPECT_EQ(gametest::RecordingSink::PlayerOf(event), h) << event;
  const PlayerPool& now = *gNetGame->playerPool;
  const PlayerPool& then = before.players;
  for (int id = 0; id < kMaxPlayers; ++id) {
    if (id == h) continue;
    EXPECT_EQ(std::memcmp(&now.records[id], &then.records[id], sizeof(PlayerRecord)), 0) << id;
    EXPECT_EQ(now.inUse[id], then.inUse[id]) << id;
    EXPECT_STREQ(now.names[id], then.names[id]) << id;
  }
  // Vehicles come and go only by the script.
  EXPECT_EQ(std::memcmp(gNetGame->vehiclePool->inUse, before.vehicles.data(), kMaxVehicles), 0);
  ExpectOthersStillServed();
}

}  // namespace
