// Joining: the refusals, the world download decoded message by message, and
// what the other players and the script see.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/actorpool.h"
#include "core/iconpool.h"
#include "core/join.h"
#include "core/log.h"
#include "core/markerpool.h"
#include "core/objectpool.h"
#include "core/pickuppool.h"
#include "core/settings.h"
#include "core/spawnclasspool.h"
#include "core/vehiclepool.h"
#include "core/weaponshops.h"
#include "game_fixture.h"

namespace querytest {
std::string QueryReply(uint16_t port);  // query_test.cpp
}

namespace {

using gametest::GoodVersion;
using gametest::SameBits;
using gametest::Want;

class JoinTest : public gametest::GameTest {
 protected:
  void TearDown() override {
    gServerWeather = 0;
    gStaticInitialWantedLevel = 0;
    gWeaponShopsFlag = 0;
    GameTest::TearDown();
  }

  // The names of the calls `c` received, from its first "InitialConnection".
  static std::vector<std::string> DownloadNames(const support::TestClient& c) {
    std::vector<std::string> names;
    bool started = false;
    for (const auto& r : c.AllRpcs()) {
      started = started || r.name == "InitialConnection";
      if (started) names.push_back(r.name);
    }
    return names;
  }
  // A weapon shop's stock as "AmmunationData" carries it: ammunition, then price.
  static void Shop(Rpc& want, uint8_t shop) {
    want.c8(static_cast<uint8_t>(shop - 1));
    for (uint8_t slot = 1; slot <= 5; ++slot) {
      const WeaponShopSlot& s = gWeaponShopTable->Get(shop, slot);
      want.c8(s.weapon).c32(s.ammo).c32(s.price);
    }
  }
};

TEST(NicknameRule, LengthDashAndControlBytes) {
  EXPECT_TRUE(IsValidNickname("abc"));
  EXPECT_TRUE(IsValidNickname("abcdefghijklmn"));  // 14
  EXPECT_TRUE(IsValidNickname("(1) a b_[x]!"));
  EXPECT_TRUE(IsValidNickname("Jos\xC3\xA9"));  // bytes above 127 are letters to somebody
  EXPECT_FALSE(IsValidNickname("ab"));
  EXPECT_FALSE(IsValidNickname("abcdefghijklmno"));  // 15
  EXPECT_FALSE(IsValidNickname("Bad-Name"));
  EXPECT_FALSE(IsValidNickname("Esc\x1b[2J"));
  EXPECT_FALSE(IsValidNickname("Del\x7fName"));
  EXPECT_FALSE(IsValidNickname(""));
  EXPECT_FALSE(IsValidNickname(nullptr));
}

TEST_F(JoinTest, RefusalsInTheirOrderReachTheClientThenCloseIt) {
  support::TestClient& bystander = ConnectAndJoin("Bystander");
  bystander.Clear();
  struct Case {
    std::string name;
    uint32_t version;
    bool restartPending;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"Racer", GoodVersion() + 1, true, "InvalidVersion"},          // the version first
      {"Bad-Name", GoodVersion(), true, "Internal_RestartTheGame"},  // then the restart
      {"Esc\x1b[2J", GoodVersion(), false, "InvalidName_Physical"},
      {"bySTANDER", GoodVersion(), false, "InvalidName"},  // in use, whatever the case
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.expected);
    gNetGame->restartPending = k.restartPending;
    gNetGame->restartStartMs = gametest::frozenNowMs;  // not due: the main loop must not complete it
    support::TestClient& c = Connect();
    const int index = c.Index();
    SendJoin(c, k.name, k.version);
    ASSERT_TRUE(PumpUntil([&] { return c.Count(k.expected) == 1 && !c.Connected(); }));
    EXPECT_EQ(c.AllRpcs().size(), 1u);
    EXPECT_TRUE(SameBits(c.LastRpc(k.expected), net::BitStream()));
    EXPECT_FALSE(GetPlayerPool()->IsInUse(index));
  }
  gNetGame->restartPending = 0;

  // A request too short to hold its version has none to compare.
  support::TestClient& shortJoin = Connect();
  net::BitStream nameOnly;
  nameOnly.WriteCompressed(static_cast<uint8_t>(5));
  nameOnly.WriteBytes("Short", 5);
  ASSERT_TRUE(shortJoin.SendRpc("ClientJoin", nameOnly));
  ASSERT_TRUE(PumpUntil([&] { return shortJoin.Count("InvalidVersion") == 1; }));

  // Only the restart notice went to everybody; nobody was told of a join and
  // nothing was logged.
  EXPECT_EQ(bystander.Count("Internal_RestartTheGame"), 1u);
  EXPECT_EQ(bystander.AllRpcs().size(), 1u);
  EXPECT_EQ(server_.ReadFile(kLogFileName).find("[JOIN] Racer"), std::string::npos);
  EXPECT_EQ(sink_.events, std::vector<std::string>{"connect 0"});
}

TEST_F(JoinTest, EmptyWorldGivesSevenZeroCountsAndTheFourShops) {
  support::TestClient& c = ConnectAndJoin("Loner");
  EXPECT_EQ(DownloadNames(c),
            (std::vector<std::string>{"InitialConnection", "AmmunationData", "AmmunationData",
                                      "AmmunationData", "AmmunationData", "DownloadComplete"}));
  Rpc initial = Want();
  initial.c8(static_cast<uint8_t>(c.Index())).c8(1).c8(0).c8(0).c16(50).c8(0);
  for (int count = 0; count < 7; ++count) initial.c16(0);
  EXPECT_TRUE(SameBits(c.LastRpc("InitialConnection"), initial.Stream()));
  // The default stock.
  for (uint8_t shop = 1; shop <= 4; ++shop) {
    Rpc want = Want();
    Shop(want, shop);
    EXPECT_TRUE(SameBits(&c.Rpcs("AmmunationData")[shop - 1], want.Stream())) << +shop;
  }
  EXPECT_TRUE(SameBits(c.LastRpc("DownloadComplete"), net::BitStream()));
}

TEST_F(JoinTest, FullDownloadCarriesEveryPoolFieldByField) {
  // Two players before the joiner: one spawned (its client said where, but
  // only movement packets move the record), one not.
  support::TestClient& alpha = ConnectAndJoin("Alpha");
  ConnectAndJoin("Beta");
  const auto alphaId = static_cast<uint8_t>(alpha.Index());
  net::BitStream spawn;
  spawn.WriteCompressed(static_cast<uint16_t>(1));
  spawn.WriteCompressed(static_cast<uint16_t>(2));
  for (float f : {100.0f, 200.0f, 300.0f, 1.5f}) spawn.Write(f);
  spawn.WriteCompressed(static_cast<uint8_t>(77));
  ASSERT_TRUE(alpha.SendRpc("NewSpawn", spawn));
  ASSERT_TRUE(PumpUntil([&] { return Record(alphaId).spawned == 1; }));

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
  ASSERT_TRUE(gWeaponShopTable->SetWeaponData(2, 3, 22, 77, 1234));
  gGlobalObjectPool->Add(3000, 1, 2, 3, 4, 5, 6, 7);
  gGlobalObjectPool->Add(3001, 1, 2, 3, 4, 5, 6, 7);
  gGlobalObjectPool->Add(3002, -1, -2, -3, 90, 180, 270, 3);
  ASSERT_TRUE(gGlobalObjectPool->Destroy(1));
  ASSERT_TRUE(gGlobalIconPool->Add(1, 2, 3, 4, 5, 0));
  ASSERT_TRUE(gGlobalIconPool->Add(6, 7, 8, 9, 10, 1));
  ASSERT_TRUE(gGlobalIconPool->SetColor(1, 11, 22, 33, 44));
  ASSERT_EQ(gStaticActorPool->Add(50, 1, 2, 3, 4, 1), 0);
  ASSERT_EQ(gStaticActorPool->Add(60, 5, 6, 7, 8, 0), 1);
  std::strcpy(gStaticActorPool->Find(1)->name, "Guard");
  ASSERT_TRUE(gStaticActorPool->Destroy(0));
  gSpawnClassPool->AddClass("Cops", 0, 0, 255, 1, 2, 3, 4, 5, 6, 7, 3);
  gSpawnClassPool->AddMember(0, 280, 1, 2, 3, 4, 22, 100, 25, 50, 0, 0);
  gSpawnClassPool->AddClass("Robbers", 255, 0, 0, -1, -2, -3, -4, -5, -6, -7, 0);
  ASSERT_EQ(gSpawnClassPool->FindFreeClass(), 2);
  VehiclePool* vehicles = GetVehiclePool();
  for (int i = 1; i <= 7; ++i) ASSERT_EQ(vehicles->Add(150 + i, i * 10.0f, 2, 3, 90, 1, 2), i);
  for (uint32_t id : {1u, 2u, 4u, 5u, 6u}) ASSERT_TRUE(vehicles->Delete(id));
  VehicleRecord* seven = vehicles->Get(7);
  seven->x = 700;  // current values differ from the spawn values
  seven->colour1 = 9;
  seven->health = 250;
  seven->locked = 1;

  support::TestClient& gamma = Connect();
  Join(gamma, "Gamma");
  const auto gammaId = static_cast<uint8_t>(gamma.Index());

  ASSERT_EQ(DownloadNames(gamma),
            (std::vector<std::string>{
                "InitialConnection", "MarkerData",     "MarkerData",     "PickupData",
                "PickupData",        "AmmunationData", "AmmunationData", "AmmunationData",
                "AmmunationData",    "ObjectData",     "ObjectData",     "IconData",
                "IconData",          "ActorData",      "SpawnData",      "SpawnData",
                "VehicleData",       "VehicleData",    "PlayerData",     "PlayerData",
                "NewSpawn",          "DownloadComplete"}));

  // markers, pickups, objects, icons, actors, spawn classes, vehicles
  EXPECT_TRUE(SameBits(gamma.LastRpc("InitialConnection"),
                       Want().c8(gammaId).c8(1).c8(3).c8(1).c16(300).c8(1)
                           .c16(2).c16(2).c16(2).c16(2).c16(1).c16(2).c16(2).Stream()));
  const uint8_t markerIds[] = {1, 2};
  for (int i = 0; i < 2; ++i) {
    const MarkerRecord& m = gMarkerPool->records[markerIds[i]];
    EXPECT_TRUE(SameBits(&gamma.Rpcs("MarkerData")[i],
                         Want().c8(markerIds[i]).c8(m.kind).c8(m.red).c8(m.green).c8(m.blue)
                             .f32(m.x).f32(m.y).f32(m.z).f32(m.radius).Stream()));
  }
  EXPECT_EQ(+gMarkerPool->records[1].kind, kMarkerCorona);
  const uint16_t pickupIds[] = {0, 2};
  for (int i = 0; i < 2; ++i) {
    const PickupRecord& p = gGlobalPickupPool->records[pickupIds[i]];
    EXPECT_TRUE(SameBits(&gamma.Rpcs("PickupData")[i],
                         Want().c16(pickupIds[i]).bytes(&p, 22).Stream()));
  }
  {
    Rpc want = Want();
    Shop(want, 2);
    EXPECT_TRUE(SameBits(&gamma.Rpcs("AmmunationData")[1], want.Stream()));
    EXPECT_EQ(gWeaponShopTable->Get(2, 3).ammo, 77u);
  }
  const uint32_t objectIds[] = {0, 2};
  for (int i = 0; i < 2; ++i) {
    const ObjectRecord& o = gGlobalObjectPool->records[objectIds[i]];
    EXPECT_TRUE(SameBits(&gamma.Rpcs("ObjectData")[i],
                         Want().u32(objectIds[i]).bytes(&o, 29).Stream()));
  }
  for (uint32_t id = 0; id < 2; ++id) {
    const IconRecord& icon = gGlobalIconPool->records[id];
    EXPECT_TRUE(SameBits(&gamma.Rpcs("IconData")[id], Want().c32(id).bytes(&icon, 21).Stream()));
  }
  EXPECT_TRUE(SameBits(gamma.LastRpc("ActorData"),
                       Want().c16(1).bytes(&gStaticActorPool->records[1], 59).Stream()));
  for (uint8_t id = 0; id < 2; ++id) {
    EXPECT_TRUE(SameBits(&gamma.Rpcs("SpawnData")[id],
                         Want().c8(id).bytes(&gSpawnClassPool->classes[id], 6433).Stream()));
  }
  const uint32_t vehicleIds[] = {3, 7};
  for (int i = 0; i < 2; ++i) {
    const VehicleRecord& v = *vehicles->Get(vehicleIds[i]);
    EXPECT_TRUE(SameBits(&gamma.Rpcs("VehicleData")[i],
                         Want().c32(vehicleIds[i]).c32(v.model)
                             .f32(v.spawnX).f32(v.spawnY).f32(v.spawnZ).f32(v.spawnAngle)
                             .c8(v.spawnColour1).c8(v.spawnColour2).f32(v.spawnHealth)
                             .f32(v.x).f32(v.y).f32(v.z).f32(v.angle)
                             .c8(v.colour1).c8(v.colour2).f32(v.health).c8(v.locked).Stream()));
  }
  EXPECT_EQ(+vehicles->Get(7)->spawnX, 70.0f);
  // The others by name, never the joiner itself.
  EXPECT_TRUE(SameBits(&gamma.Rpcs("PlayerData")[0], Want().c8(0).c8(5).chars("Alpha", 5).Stream()));
  EXPECT_TRUE(SameBits(&gamma.Rpcs("PlayerData")[1], Want().c8(1).c8(4).chars("Beta", 4).Stream()));
  // Spawned but never moved: the record's position, not the spawn call's.
  EXPECT_TRUE(SameBits(gamma.LastRpc("NewSpawn"),
                       Want().c8(alphaId).f32(0).f32(0).f32(0).f32(0).c8(77).Stream()));
  EXPECT_NE(server_.ReadFile(kLogFileName).find("[JOIN] Gamma has joined the server. [127.0.0.1]"),
            std::string::npos);
}

TEST_F(JoinTest, OthersAreToldAndTheScriptHearsOfItLast) {
  support::TestClient& alpha = ConnectAndJoin("Alpha");
  const auto alphaId = static_cast<uint8_t>(alpha.Index());

  // What the script's handler finds when it runs.
  bool inUse = false, logged = false;
  std::string reply;
  sink_.onConnect = [&](uint8_t id) {
    inUse = GetPlayerPool()->IsInUse(id);
    logged = server_.ReadFile(kLogFileName).find("[JOIN] Bravo") != std::string::npos;
    reply = querytest::QueryReply(server_.Port());
    Rpc("Probe").c8(id).ToPlayer(id);  // as a script's own call would go out
  };
  support::TestClient& bravo = Connect();
  const uint8_t bravoId = Join(bravo, "Bravo");
  ASSERT_TRUE(PumpUntil([&] { return bravo.Count("Probe") == 1 && alpha.Count("PlayerConnect") == 1; }));
  sink_.onConnect = nullptr;

  EXPECT_TRUE(inUse);
  EXPECT_TRUE(logged);
  EXPECT_NE(reply.find("@Bravo#" + std::to_string(bravoId)), std::string::npos) << reply;
  EXPECT_EQ(bravo.AllRpcs().back().name, "Probe");
  EXPECT_EQ(sink_.events, (std::vector<std::string>{"connect " + std::to_string(alphaId),
                                                     "connect " + std::to_string(bravoId)}));
  EXPECT_TRUE(SameBits(alpha.LastRpc("PlayerConnect"), Want().c8(bravoId).c8(5).chars("Bravo", 5).Stream()));
  EXPECT_EQ(bravo.Count("PlayerConnect"), 0u);
}

TEST_F(JoinTest, SecondJoinOnAJoinedConnectionIsIgnored) {
  support::TestClient& alpha = ConnectAndJoin("Alpha");
  support::TestClient& bravo = ConnectAndJoin("Bravo");
  const auto bravoId = static_cast<uint8_t>(bravo.Index());
  sink_.events.clear();

  SendJoin(bravo, "Charlie", GoodVersion());
  // A chat line behind it reaches both after anything the join could send.
  net::BitStream chat;
  chat.Write(bravoId);
  chat.Write(static_cast<uint8_t>(2));
  chat.WriteBytes("hi", 2);
  ASSERT_TRUE(bravo.SendRpc("PlayerChat", chat));
  ASSERT_TRUE(PumpUntil([&] { return bravo.Count("PlayerChat") == 1 && alpha.Count("PlayerChat") == 1; }));

  EXPECT_EQ(bravo.Count("InitialConnection"), 1u);
  EXPECT_EQ(bravo.Count("InvalidVersion") + bravo.Count("InvalidName"), 0u);
  EXPECT_EQ(alpha.Count("PlayerConnect"), 1u);
  EXPECT_STREQ(GetPlayerPool()->Name(bravoId), "Bravo");
  EXPECT_EQ(sink_.events, std::vector<std::string>{"chat " + std::to_string(bravoId) + " hi"});
  EXPECT_TRUE(bravo.Connected());
  EXPECT_EQ(server_.ReadFile(kLogFileName).find("[JOIN] Charlie"), std::string::npos);
}

}  // namespace
