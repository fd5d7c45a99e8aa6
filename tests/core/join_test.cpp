// Joining: the nickname rule, the refusals, the world download as one literal
// transcript, what the others and the script see; and one join over loopback.
#include "core/join.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "core/actorpool.h"
#include "core/iconpool.h"
#include "core/log.h"
#include "core/markerpool.h"
#include "core/netgame.h"
#include "core/objectpool.h"
#include "core/packets.h"
#include "core/pickuppool.h"
#include "core/settings.h"
#include "core/spawnclasspool.h"
#include "core/vehiclepool.h"
#include "core/weaponshops.h"
#include "core/world.h"
#include "support/seam.h"
#include "support/test_client.h"

namespace {

using support::Want;

// A join request written into `join`; version 0 leaves the version out.
Rpc& JoinCall(Rpc&& join, const std::string& name, uint32_t version = support::GoodVersion()) {
  join.c8(static_cast<uint8_t>(name.size())).chars(name.data(), name.size());
  return version ? join.c32(version) : join;
}

// Take() lines with each run of eight or more zero bytes written "(N*00)".
std::string Squeeze(const std::string& lines) {
  std::string out;
  for (size_t i = 0, hex = 0; i < lines.size();) {
    if (lines[i] == ' ') hex = i + 1;  // whole bytes from the payload's start
    size_t zeros = 0;
    while ((i - hex) % 2 == 0 && lines.compare(i + 2 * zeros, 2, "00") == 0) ++zeros;
    out += zeros >= 8 ? "(" + std::to_string(zeros) + "*00)" : lines.substr(i, 1);
    i += zeros >= 8 ? 2 * zeros : 1;
  }
  return out;
}

// A weapon shop's default stock as a download carries it.
std::string Shop(int to, int shop) {
  const char* const stock[4] = {"80477a00e10270cf7d6e02e09f7d6401fe7d6d0070fe8813d30740/211",
                                "8cbc77a00e3c77a00e7c77a00cfc77a00d7c77a008/165",
                                "963c77a00dfc77a00fbc77a00ebc77a00c7c77a008/165",
                                "9ff7a00e10270d6b004c684218eb4dc05c12cd0038c0582bb08072a120/229"};
  return "AmmunationData>" + std::to_string(to) + " " + stock[shop] + "\n";
}

TEST(NicknameRule, LengthDashAndControlBytes) {
  // clang-format off
  const struct {
    const char* name;
    bool valid;
  } cases[] = {
      {"abc", true}, {"abcdefghijklmn", true}, {"(1) a b_[x]!", true}, {"Jos\xC3\xA9", true},
      {"ab", false}, {"abcdefghijklmno", false}, {"Bad-Name", false}, {"Esc\x1b[2J", false},
      {"Del\x7fName", false}, {"", false}, {nullptr, false}};
  // clang-format on
  for (const auto& k : cases) {
    EXPECT_EQ(IsValidNickname(k.name), k.valid) << (k.name ? k.name : "null");
  }
}

TEST(Join, RefusalsInTheirOrderReachTheClientThenCloseIt) {
  support::Seam seam;
  const int bystander = seam.Join("Bystander");
  const uint32_t good = support::GoodVersion();
  const struct {
    const char* name;
    uint32_t version;
    bool restartPending;
    const char* expected;
  } cases[] = {
      {"Racer", good + 1, true, "InvalidVersion>1 /0\nclose>1"},  // the version first
      {"Bad-Name", good, true, "Internal_RestartTheGame>0,1 /0\nclose>1"},
      {"Esc\x1b[2J", good, false, "InvalidName_Physical>1 /0\nclose>1"},
      {"bySTANDER", good, false, "InvalidName>1 /0\nclose>1"},  // in use, any case
      {"Short", 0, false, "InvalidVersion>1 /0\nclose>1"},      // no version at all
  };
  for (const auto& k : cases) {
    gNetGame->restartPending = k.restartPending;
    gNetGame->restartStartMs = seam.clock.Now();  // not due: the main loop must not complete it
    const int c = seam.Connect();
    seam.Call(c, "ClientJoin", JoinCall(Want(), k.name, k.version));
    EXPECT_EQ(seam.Take(), k.expected) << k.name;
    EXPECT_FALSE(GetPlayerPool()->IsInUse(c)) << k.name;
  }
  gNetGame->restartPending = 0;
  // A second join on a joined connection is ignored.
  seam.Call(bystander, "ClientJoin", JoinCall(Want(), "Charlie"));
  EXPECT_EQ(seam.Take(), "");
  EXPECT_STREQ(GetPlayerPool()->Name(bystander), "Bystander");
  EXPECT_EQ(seam.events.Take(), "");
  const std::string log = seam.Server().ReadFile(kLogFileName);
  EXPECT_EQ(log.find("[JOIN] Racer"), log.npos);
  EXPECT_EQ(log.find("[JOIN] Charlie"), log.npos);
}

// The first joiner gets an empty world; the third every pool (each with a gap
// below its last entry), the other two players and the spawned one's place.
// The others hear of the join, and the script last, when everything is done.
TEST(Join, WorldDownloadTranscript) {
  support::Seam seam;
  const int alpha = seam.Connect();
  seam.Call(alpha, "ClientJoin", JoinCall(Want(), "Alpha"));
  EXPECT_EQ(Squeeze(seam.Take()), "InitialConnection>0 846108ca186186186180/77\n" + Shop(0, 0) +
                                      Shop(0, 1) + Shop(0, 2) + Shop(0, 3) +
                                      "DownloadComplete>0 /0");
  seam.Join("Beta");
  // Spawned, but only movement packets move the record.
  seam.Call(alpha, "NewSpawn", Want().c16(1).c16(2).f32(100).f32(200).f32(300).f32(1.5f).c8(77));
  gServerWeather = 3;
  gWeaponShopsFlag = 1;
  gStaticInitialWantedLevel = 1;
  gServerSettings.maxPlayers = 300;
  // Every pool with a gap below its last entry.
  ASSERT_TRUE(gMarkerPool->AddCheckpoint(1, 2, 3, 4.5f));
  ASSERT_TRUE(gMarkerPool->AddCorona(10, 20, 30, 5, 6, 7));
  ASSERT_TRUE(gMarkerPool->AddCheckpoint(8, 9, 10, 11));
  ASSERT_TRUE(gMarkerPool->DestroyCheckpoint(0));
  ASSERT_TRUE(gGlobalPickupPool->AddCashPickup(500, 1, 2, 3));
  ASSERT_TRUE(gGlobalPickupPool->AddWeaponPickup(24, 100, 4, 5, 6));
  ASSERT_TRUE(gGlobalPickupPool->AddGenericPickup(1240, 2, 7, 8, 9));
  ASSERT_TRUE(gGlobalPickupPool->Destroy(1));
  for (uint32_t model : {3000, 3001}) gGlobalObjectPool->Add(model, 1, 2, 3, 4, 5, 6, 7);
  gGlobalObjectPool->Add(3002, -1, -2, -3, 90, 180, 270, 3);
  ASSERT_TRUE(gGlobalObjectPool->Destroy(1));
  ASSERT_TRUE(gWeaponShopTable->SetWeaponData(2, 3, 22, 77, 1234));
  ASSERT_TRUE(gGlobalIconPool->Add(1, 2, 3, 4, 5, 0));
  ASSERT_TRUE(gGlobalIconPool->Add(6, 7, 8, 9, 10, 1));
  ASSERT_TRUE(gGlobalIconPool->SetColor(1, 11, 22, 33, 44));
  ASSERT_EQ(gStaticActorPool->Add(50, 1, 2, 3, 4, 1), 0);
  ASSERT_EQ(gStaticActorPool->Add(60, 5, 6, 7, 8, 0), 1);
  ASSERT_TRUE(gStaticActorPool->Destroy(0));
  std::strcpy(gStaticActorPool->Find(1)->name, "Guard");
  gSpawnClassPool->AddClass("Cops", 0, 0, 255, 1, 2, 3, 4, 5, 6, 7, 3);
  gSpawnClassPool->AddMember(0, 280, 1, 2, 3, 4, 22, 100, 25, 50, 0, 0);
  gSpawnClassPool->AddClass("Robbers", 255, 0, 0, -1, -2, -3, -4, -5, -6, -7, 0);
  VehiclePool* vehicles = GetVehiclePool();
  for (int i = 1; i <= 7; ++i) ASSERT_EQ(vehicles->Add(150 + i, i * 10.0f, 2, 3, 90, 1, 2), i);
  for (uint32_t id : {1u, 2u, 4u, 5u, 6u}) ASSERT_TRUE(vehicles->Delete(id));
  VehicleRecord* seven = vehicles->Get(7);
  // Not the spawn values.
  seven->x = 700;
  seven->colour1 = 9;
  seven->health = 250;
  seven->locked = 1;
  seam.Take();
  seam.events.Take();

  // What the script's handler finds when it runs, and its own call to the joiner.
  bool inUseAtConnect = false;
  bool loggedAtConnect = false;
  std::string replyAtConnect;
  seam.events.onRaise = [&](const ScriptEvent&) {
    inUseAtConnect = GetPlayerPool()->IsInUse(2);
    const std::string log = seam.Server().ReadFile(kLogFileName);
    loggedAtConnect = log.find("[JOIN] Gamma") != std::string::npos;
    replyAtConnect = seam.Peer().GetOfflinePingResponse();
    Rpc("Probe").c8(2).ToPlayer(2);
  };
  seam.Call(seam.Connect(), "ClientJoin", JoinCall(Want(), "Gamma"));
  seam.events.onRaise = nullptr;
  EXPECT_EQ(
      Squeeze(seam.Take()),
      "PlayerConnect>0,1 9551d85b5b5840/50\nInitialConnection>2 946711600c72cb2cb1cb20/84\n"
      "MarkerData>2 8cb4140f0000502000006020000070200000582000/161\n"
      "MarkerData>2 9461080000002080000820800010208000182080/153\n"
      "PickupData>2 c00c0000000003d0040000000200fc0000010000010100/182\n"
      "PickupData>2 c8040b6010000000000000000381000000010400004104/182\n" +
          Shop(2, 0) + "AmmunationData>2 8cbc77a00e3c77a0085b93769024fc77a00d7c77a008/173\n" +
          Shop(2, 2) + Shop(2, 3) +
          "ObjectData>2 00000000b80b00000000803f0000004000004040000080400000a0400000c04007/264\n"
          "ObjectData>2 02000000ba0b0000000080bf000000c0000040c00000b442000034430000874303/264\n"
          "IconData>2 f0010005040000803f0000004000004040ffffffff00/176\n"
          "IconData>2 f101010a090000c0400000e040000000410b16212c00/176\n"
          "ActorData>2 c4f00002810000030100000381000000010400011dd585c990(35*00)/478\n"
          "SpawnData>2 8008000401f80000020000020200000402000005020000060200000702000007f81a1b7b"
          "8398(96*00)0800000401f8000002000002020000040200c008b0c8032000000190(6272*00)/51469\n"
          "SpawnData>2 8808000405f8000006000002060000040600000506000006060000070607f8000002937b"
          "13132b9398(6393*00)/51469\n"
          "VehicleData>2 f3e990000f04100000040000040400000b4428c80001e9100003c104000001000001"
          "01000002d10a3200007a4480/365\n"
          "VehicleData>2 f7e9d00008c4200000040000040400000b4428c80001e9100000bd1000000100000"
          "101000002d10b3200007a4388/365\n"
          "PlayerData>2 85505b1c1a1840/50\nPlayerData>2 8d10995d1840/42\n"
          // NewSpawn: the record's place, not the spawn call's.
          "NewSpawn>2 80(15*00)0134/142\nDownloadComplete>2 /0\nProbe>2 90/5");
  EXPECT_EQ(seam.events.Take(), "connect 2");
  EXPECT_TRUE(inUseAtConnect);
  EXPECT_TRUE(loggedAtConnect);
  const std::string reply =
      "0,QLM (Release RC1) Server P1,3,300,QLM Default Mode,@Alpha#0@Beta#1@Gamma#2";
  EXPECT_EQ(replyAtConnect, reply + '\0');
  const std::string log = seam.Server().ReadFile(kLogFileName);
  EXPECT_NE(log.find("[JOIN] Gamma has joined the server. [10.0.0.3]"), log.npos);
  gServerWeather = 0;
  gWeaponShopsFlag = 0;
  gStaticInitialWantedLevel = 0;
}

// Over loopback, one group per road: join and download, chat relay, movement
// relay. `c` joins as `name` and gets its whole download.
void JoinOverLoopback(InProcessServer& server, support::TestClient& c, const std::string& name,
                      const std::function<void()>& pump) {
  ASSERT_TRUE(c.Connect(server.Port()));
  ASSERT_TRUE(c.SendRpc("ClientJoin", JoinCall(Want(), name).Stream()));
  ASSERT_TRUE(support::WaitUntil([&] { return c.Count("DownloadComplete") == 1; }, 5000, pump));
}

TEST(Loopback, JoinChatAndMovement) {
  InProcessServer server;
  ASSERT_TRUE(server.Start());
  const std::initializer_list<std::string> calls = {
      "InitialConnection", "AmmunationData", "DownloadComplete", "PlayerConnect", "PlayerChat"};
  support::TestClient a(calls);
  support::TestClient b(calls);
  auto pump = [&] {
    server.Pump();
    a.Pump();
    b.Pump();
  };
  ASSERT_NO_FATAL_FAILURE(JoinOverLoopback(server, a, "Alpha", pump));
  ASSERT_NO_FATAL_FAILURE(JoinOverLoopback(server, b, "Bravo", pump));
  ASSERT_TRUE(support::WaitUntil([&] { return a.Count("PlayerConnect") == 1; }, 5000, pump));
  ASSERT_EQ(b.AllRpcs().size(), 6u);
  EXPECT_EQ(b.AllRpcs()[0].name, "InitialConnection");
  EXPECT_EQ(b.Count("AmmunationData"), 4u);
  EXPECT_EQ(b.Count("PlayerConnect"), 0u);
  const auto id = static_cast<uint8_t>(a.Index());
  ASSERT_TRUE(a.SendRpc("PlayerChat", Want().u8(id).u8(2).chars("hi", 2).Stream()));
  // Each of them hears it once.
  auto heard = [&] { return a.Count("PlayerChat") == 1 && b.Count("PlayerChat") == 1; };
  ASSERT_TRUE(support::WaitUntil(heard, 5000, pump));
  for (support::TestClient* c : {&a, &b}) {
    const support::ReceivedRpc* got = c->LastRpc("PlayerChat");
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(support::Line("PlayerChat", {}, net::BitStream(got->data.data(), got->bits)),
              support::Line("PlayerChat", {}, Want().u8(id).u8(2).chars("hi", 2)));
  }
  // Both place themselves; then Alpha's movement reaches Bravo.
  std::vector<uint8_t> onFoot(1 + kOnFootBlockSize, 7);
  onFoot[0] = kPacketOnFootSync;
  ASSERT_TRUE(a.SendRaw(onFoot));
  ASSERT_TRUE(support::WaitUntil([&] { return GetPlayerPool()->IsInWorld(id); }, 5000, pump));
  ASSERT_TRUE(b.SendRaw(onFoot));
  ASSERT_TRUE(
      support::WaitUntil([&] { return a.PacketCount(kPacketOnFootSync) == 1; }, 5000, pump));
  ASSERT_TRUE(a.SendRaw(onFoot));
  ASSERT_TRUE(
      support::WaitUntil([&] { return b.PacketCount(kPacketOnFootSync) == 1; }, 5000, pump));
  Rpc relay = Want();
  relay.u8(kPacketOnFootSync).c8(id).bytes(onFoot.data() + 1, kOnFootBlockSize);
  const uint8_t* sent = relay.Stream().GetData();
  const std::vector<uint8_t> relayed(sent, sent + relay.Stream().GetNumberOfBytesUsed());
  EXPECT_EQ(b.Packets(kPacketOnFootSync)[0], relayed);
}

}  // namespace

namespace {

// Players may share an address (a NAT); connections that never join may not
// hold more than four slots of it.
TEST(Loopback, OneAddressHasFourConnectionsWaitingToJoinAndAnyNumberJoined) {
  InProcessServer server;
  ASSERT_TRUE(server.Start());
  const std::initializer_list<std::string> calls = {"DownloadComplete"};
  std::deque<support::TestClient> joined;
  std::deque<support::TestClient> waiting;
  auto pump = [&] {
    server.Pump();
    for (support::TestClient& c : joined) c.Pump();
  };
  for (int i = 0; i < 5; ++i) {
    joined.emplace_back(calls);
    SCOPED_TRACE(i);
    ASSERT_NO_FATAL_FAILURE(
        JoinOverLoopback(server, joined.back(), "Player" + std::to_string(i), pump));
  }
  for (int i = 0; i < 4; ++i) {
    waiting.emplace_back();
    EXPECT_TRUE(waiting.back().Connect(server.Port())) << i;
  }
  support::TestClient fifth;
  EXPECT_FALSE(fifth.Connect(server.Port(), "", 500));
  EXPECT_EQ(fifth.LastRefusal(), 0);  // dropped without an answer
}

}  // namespace
