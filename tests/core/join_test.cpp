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
#include "core/rpc.h"
#include "core/settings.h"
#include "core/spawnclasspool.h"
#include "core/vehiclepool.h"
#include "core/weaponshops.h"
#include "game_fixture.h"

namespace querytest {
std::string QueryReply(uint16_t port);  // query_test.cpp
}

namespace {

using gametest::BytesOf;
using gametest::Comp;
using gametest::GoodVersion;
using gametest::Plain;
using gametest::RawBytes;

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
  EXPECT_FALSE(IsValidNickname("Tab\tName"));
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
      {"Racer", GoodVersion() + 1, true, "InvalidVersion"},  // the version comes first
      {"Bad-Name", GoodVersion(), true, "Internal_RestartTheGame"},  // then the restart
      {"ab", GoodVersion(), false, "InvalidName_Physical"},
      {"abcdefghijklmno", GoodVersion(), false, "InvalidName_Physical"},
      {"Bad-Name", GoodVersion(), false, "InvalidName_Physical"},
      {"Esc\x1b[2J", GoodVersion(), false, "InvalidName_Physical"},
      {"Del\x7fName", GoodVersion(), false, "InvalidName_Physical"},
      {"bySTANDER", GoodVersion(), false, "InvalidName"},  // in use, whatever the case
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.expected + std::string(" for ") + k.name);
    gNetGame->restartPending = k.restartPending;
    gNetGame->restartStartMs = gametest::frozenNowMs;  // not due: the main loop must not complete it
    support::TestClient& c = Connect();
    const int index = c.Index();
    SendJoin(c, k.name, k.version);
    ASSERT_TRUE(PumpUntil([&] { return c.Count(k.expected) == 1 && !c.Connected(); }));
    EXPECT_EQ(c.AllRpcs().size(), 1u);
    EXPECT_FALSE(gNetGame->playerPool->IsInUse(index));
    EXPECT_FALSE(Record(static_cast<uint8_t>(index)).present);
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
  const std::vector<std::string> expected = {"InitialConnection", "AmmunationData",
                                             "AmmunationData",    "AmmunationData",
                                             "AmmunationData",    "DownloadComplete"};
  EXPECT_EQ(DownloadNames(c), expected);

  auto in = c.LastRpc("InitialConnection")->Reader();
  EXPECT_EQ(Comp<uint8_t>(*in), c.Index());
  EXPECT_EQ(Comp<uint8_t>(*in), 1);
  EXPECT_EQ(Comp<uint8_t>(*in), 0);   // weather
  EXPECT_EQ(Comp<uint8_t>(*in), 0);   // weapon shops
  EXPECT_EQ(Comp<uint16_t>(*in), 50);  // player limit
  EXPECT_EQ(Comp<uint8_t>(*in), 0);   // static initial wanted level
  for (int count = 0; count < 7; ++count) EXPECT_EQ(Comp<uint16_t>(*in), 0) << count;
  EXPECT_EQ(in->GetNumberOfUnreadBits(), 0u);

  // The default stock, ammunition before price.
  const auto shops = c.Rpcs("AmmunationData");
  const WeaponShopTable defaults;
  for (uint8_t shop = 1; shop <= 4; ++shop) {
    auto s = shops[shop - 1].Reader();
    EXPECT_EQ(Comp<uint8_t>(*s), shop - 1);
    for (uint8_t slot = 1; slot <= 5; ++slot) {
      const WeaponShopSlot& e = defaults.Get(shop, slot);
      EXPECT_EQ(Comp<uint8_t>(*s), +e.weapon);
      EXPECT_EQ(Comp<uint32_t>(*s), +e.ammo);
      EXPECT_EQ(Comp<uint32_t>(*s), +e.price);
    }
    EXPECT_EQ(s->GetNumberOfUnreadBits(), 0u);
  }
  EXPECT_EQ(c.Count("DownloadComplete"), 1u);
  EXPECT_EQ(c.LastRpc("DownloadComplete")->bits, 0u);
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
  ASSERT_TRUE(gGlobalIconPool->SetFlashing(1, 1));

  ASSERT_EQ(gStaticActorPool->Add(50, 1, 2, 3, 4, 1), 0);
  ASSERT_EQ(gStaticActorPool->Add(60, 5, 6, 7, 8, 0), 1);
  std::strcpy(gStaticActorPool->Find(1)->name, "Guard");
  ASSERT_TRUE(gStaticActorPool->Destroy(0));

  gSpawnClassPool->AddClass("Cops", 0, 0, 255, 1, 2, 3, 4, 5, 6, 7, 3);
  gSpawnClassPool->AddMember(0, 280, 1, 2, 3, 4, 22, 100, 25, 50, 0, 0);
  gSpawnClassPool->AddMember(0, 281, 5, 6, 7, 8, 24, 10, 0, 0, 0, 0);
  gSpawnClassPool->AddClass("Robbers", 255, 0, 0, -1, -2, -3, -4, -5, -6, -7, 0);
  ASSERT_EQ(gSpawnClassPool->FindFreeClass(), 2);

  VehiclePool* vehicles = gNetGame->vehiclePool;
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

  const std::vector<std::string> expectedOrder = {
      "InitialConnection", "MarkerData",     "MarkerData",     "PickupData",     "PickupData",
      "AmmunationData",    "AmmunationData", "AmmunationData", "AmmunationData", "ObjectData",
      "ObjectData",        "IconData",       "IconData",       "ActorData",      "SpawnData",
      "SpawnData",         "VehicleData",    "VehicleData",    "PlayerData",     "PlayerData",
      "NewSpawn",          "DownloadComplete"};
  ASSERT_EQ(DownloadNames(gamma), expectedOrder);

  {
    auto in = gamma.LastRpc("InitialConnection")->Reader();
    const std::vector<unsigned> head = {Comp<uint8_t>(*in), Comp<uint8_t>(*in),
                                        Comp<uint8_t>(*in), Comp<uint8_t>(*in)};
    EXPECT_EQ(head, (std::vector<unsigned>{gammaId, 1, 3, 1}));
    EXPECT_EQ(Comp<uint16_t>(*in), 300);
    EXPECT_EQ(Comp<uint8_t>(*in), 1);
    std::vector<unsigned> counts;
    for (int i = 0; i < 7; ++i) counts.push_back(Comp<uint16_t>(*in));
    // markers, pickups, objects, icons, actors, spawn classes, vehicles
    EXPECT_EQ(counts, (std::vector<unsigned>{2, 2, 2, 2, 1, 2, 2}));
    EXPECT_EQ(in->GetNumberOfUnreadBits(), 0u);
  }
  {
    const auto markers = gamma.Rpcs("MarkerData");
    const uint8_t ids[] = {1, 2};
    for (int i = 0; i < 2; ++i) {
      auto in = markers[i].Reader();
      const MarkerRecord& m = gMarkerPool->records[ids[i]];
      EXPECT_EQ(Comp<uint8_t>(*in), ids[i]);
      EXPECT_EQ(Comp<uint8_t>(*in), +m.kind);
      EXPECT_EQ(Comp<uint8_t>(*in), +m.red);
      EXPECT_EQ(Comp<uint8_t>(*in), +m.green);
      EXPECT_EQ(Comp<uint8_t>(*in), +m.blue);
      EXPECT_EQ(Plain<float>(*in), +m.x);
      EXPECT_EQ(Plain<float>(*in), +m.y);
      EXPECT_EQ(Plain<float>(*in), +m.z);
      EXPECT_EQ(Plain<float>(*in), +m.radius);
      EXPECT_EQ(in->GetNumberOfUnreadBits(), 0u);
    }
    EXPECT_EQ(+gMarkerPool->records[1].kind, kMarkerCorona);
  }
  {
    const auto pickups = gamma.Rpcs("PickupData");
    const uint16_t ids[] = {0, 2};
    for (int i = 0; i < 2; ++i) {
      auto in = pickups[i].Reader();
      EXPECT_EQ(Comp<uint16_t>(*in), ids[i]);
      EXPECT_EQ(RawBytes(*in, 22), BytesOf(gGlobalPickupPool->records[ids[i]]));
      EXPECT_EQ(in->GetNumberOfUnreadBits(), 0u);
    }
  }
  {
    auto in = gamma.Rpcs("AmmunationData")[1].Reader();
    EXPECT_EQ(Comp<uint8_t>(*in), 1);
    for (int slot = 1; slot <= 2; ++slot) {
      Comp<uint8_t>(*in);
      Comp<uint32_t>(*in);
      Comp<uint32_t>(*in);
    }
    EXPECT_EQ(Comp<uint8_t>(*in), 22);
    EXPECT_EQ(Comp<uint32_t>(*in), 77u);    // ammunition
    EXPECT_EQ(Comp<uint32_t>(*in), 1234u);  // then price
  }
  {
    const auto objects = gamma.Rpcs("ObjectData");
    const uint16_t ids[] = {0, 2};
    for (int i = 0; i < 2; ++i) {
      auto in = objects[i].Reader();
      EXPECT_EQ(Plain<uint32_t>(*in), ids[i]);
      EXPECT_EQ(RawBytes(*in, 29), BytesOf(gGlobalObjectPool->records[ids[i]]));
      EXPECT_EQ(in->GetNumberOfUnreadBits(), 0u);
    }
  }
  {
    const auto icons = gamma.Rpcs("IconData");
    for (uint32_t id = 0; id < 2; ++id) {
      auto in = icons[id].Reader();
      EXPECT_EQ(Comp<uint32_t>(*in), id);
      EXPECT_EQ(RawBytes(*in, 21), BytesOf(gGlobalIconPool->records[id]));
      EXPECT_EQ(in->GetNumberOfUnreadBits(), 0u);
    }
    EXPECT_EQ(gGlobalIconPool->records[1].colour[3], 44);
  }
  {
    auto in = gamma.LastRpc("ActorData")->Reader();
    EXPECT_EQ(Comp<uint16_t>(*in), 1);
    EXPECT_EQ(RawBytes(*in, 59), BytesOf(gStaticActorPool->records[1]));
    EXPECT_EQ(in->GetNumberOfUnreadBits(), 0u);
  }
  {
    const auto classes = gamma.Rpcs("SpawnData");
    for (uint8_t id = 0; id < 2; ++id) {
      auto in = classes[id].Reader();
      EXPECT_EQ(Comp<uint8_t>(*in), id);
      EXPECT_EQ(RawBytes(*in, 6433), BytesOf(gSpawnClassPool->classes[id]));
      EXPECT_EQ(in->GetNumberOfUnreadBits(), 0u);
    }
    EXPECT_EQ(+gSpawnClassPool->classes[0].members[1].skin, 281);
  }
  {
    const auto cars = gamma.Rpcs("VehicleData");
    const uint32_t ids[] = {3, 7};
    for (int i = 0; i < 2; ++i) {
      auto in = cars[i].Reader();
      const VehicleRecord& v = *vehicles->Get(ids[i]);
      EXPECT_EQ(Comp<uint32_t>(*in), ids[i]);
      EXPECT_EQ(Comp<uint32_t>(*in), +v.model);
      EXPECT_EQ(Plain<float>(*in), +v.spawnX);
      EXPECT_EQ(Plain<float>(*in), +v.spawnY);
      EXPECT_EQ(Plain<float>(*in), +v.spawnZ);
      EXPECT_EQ(Plain<float>(*in), +v.spawnAngle);
      EXPECT_EQ(Comp<uint8_t>(*in), +v.spawnColour1);
      EXPECT_EQ(Comp<uint8_t>(*in), +v.spawnColour2);
      EXPECT_EQ(Plain<float>(*in), +v.spawnHealth);
      EXPECT_EQ(Plain<float>(*in), +v.x);
      EXPECT_EQ(Plain<float>(*in), +v.y);
      EXPECT_EQ(Plain<float>(*in), +v.z);
      EXPECT_EQ(Plain<float>(*in), +v.angle);
      EXPECT_EQ(Comp<uint8_t>(*in), +v.colour1);
      EXPECT_EQ(Comp<uint8_t>(*in), +v.colour2);
      EXPECT_EQ(Plain<float>(*in), +v.health);
      EXPECT_EQ(Comp<uint8_t>(*in), +v.locked);
      EXPECT_EQ(in->GetNumberOfUnreadBits(), 0u);
    }
    EXPECT_EQ(+vehicles->Get(7)->x, 700.0f);
    EXPECT_EQ(+vehicles->Get(7)->spawnX, 70.0f);
  }
  {
    // The others by name, never the joiner itself.
    const auto players = gamma.Rpcs("PlayerData");
    std::vector<std::string> seen;
    for (const auto& p : players) {
      auto in = p.Reader();
      const uint8_t id = Comp<uint8_t>(*in);
      const uint8_t length = Comp<uint8_t>(*in);
      const auto name = RawBytes(*in, length);
      EXPECT_EQ(in->GetNumberOfUnreadBits(), 0u);
      EXPECT_NE(id, gammaId);
      seen.push_back(std::to_string(id) + ":" + std::string(name.begin(), name.end()));
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"0:Alpha", "1:Beta"}));
  }
  {
    // Spawned but never moved: the record's position, not the spawn call's.
    auto in = gamma.LastRpc("NewSpawn")->Reader();
    EXPECT_EQ(Comp<uint8_t>(*in), alphaId);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(Plain<float>(*in), 0.0f);
    EXPECT_EQ(Comp<uint8_t>(*in), 77);
    EXPECT_EQ(in->GetNumberOfUnreadBits(), 0u);
  }
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
    inUse = gNetGame->playerPool->IsInUse(id);
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

  auto in = alpha.LastRpc("PlayerConnect")->Reader();
  EXPECT_EQ(Comp<uint8_t>(*in), bravoId);
  EXPECT_EQ(Comp<uint8_t>(*in), 5);
  EXPECT_EQ(RawBytes(*in, 5), (std::vector<uint8_t>{'B', 'r', 'a', 'v', 'o'}));
  EXPECT_EQ(in->GetNumberOfUnreadBits(), 0u);
  EXPECT_EQ(bravo.Count("PlayerConnect"), 0u);
  EXPECT_EQ(bravo.Count("PlayerData"), 1u);
}

TEST_F(JoinTest, SecondJoinOnAJoinedConnectionIsIgnored) {
  support::TestClient& alpha = ConnectAndJoin("Alpha");
  support::TestClient& bravo = Connect();
  const uint8_t bravoId = Join(bravo, "Bravo");

  SendJoin(bravo, "Charlie", GoodVersion());
  // A chat line sent after it shows when the server has handled it.
  net::BitStream chat;
  chat.Write(bravoId);
  chat.Write(static_cast<uint8_t>(2));
  chat.WriteBytes("hi", 2);
  ASSERT_TRUE(bravo.SendRpc("PlayerChat", chat));
  ASSERT_TRUE(PumpUntil([&] { return bravo.Count("PlayerChat") == 1 && alpha.Count("PlayerChat") == 1; }));

  EXPECT_EQ(bravo.Count("InitialConnection"), 1u);
  EXPECT_EQ(bravo.Count("DownloadComplete"), 1u);
  EXPECT_EQ(bravo.Count("InvalidVersion") + bravo.Count("InvalidName"), 0u);
  EXPECT_EQ(alpha.Count("PlayerConnect"), 1u);
  EXPECT_STREQ(gNetGame->playerPool->Name(bravoId), "Bravo");
  EXPECT_EQ(sink_.events.back(), "chat " + std::to_string(bravoId) + " hi");
  EXPECT_EQ(std::count(sink_.events.begin(), sink_.events.end(),
                       "connect " + std::to_string(bravoId)),
            1);
  EXPECT_TRUE(bravo.Connected());
}

}  // namespace
