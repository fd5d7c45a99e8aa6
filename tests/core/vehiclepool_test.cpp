#include "core/vehiclepool.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/clock.h"
#include "core/netgame.h"
#include "core/rpc.h"
#include "record_bytes.h"
#include "support/server_fixture.h"
#include "support/test_client.h"

namespace {

using support::TestClient;

uint32_t fakeNow = 0;
uint32_t FakeClock() { return fakeNow; }

// Installs the test clock for a test's lifetime and puts the global delay back.
struct ClockGuard {
  explicit ClockGuard(uint32_t start) {
    fakeNow = start;
    core::SetClockForTesting(FakeClock);
  }
  ~ClockGuard() {
    core::SetClockForTesting(nullptr);
    gVehicleRespawnDelay = kDefaultVehicleRespawnDelayMs;
  }
};

int AddSedan(VehiclePool& pool) { return pool.Add(130, 1, 2, 3, 90, 1, 1); }

// --- the pool's own rules ---

TEST(VehiclePoolTest, ModelsOutsideTheTableAndPlaceholdersAreRefused) {
  VehiclePool pool;
  for (uint32_t model : {129u, 237u, 165u, 180u, 181u, 213u, 0u, 0xFFFFFFFFu, 0x10000082u}) {
    EXPECT_EQ(pool.Add(model, 0, 0, 0, 0, 0, 0), -1) << model;
  }
  EXPECT_EQ(pool.FindFreeSlot(), 1);
  EXPECT_EQ(pool.Add(130, 0, 0, 0, 0, 0, 0), 1);
  EXPECT_EQ(pool.Add(236, 0, 0, 0, 0, 0, 0), 2);
}

TEST(VehiclePoolTest, IdsRunFromOneTo499AndTheLowestFreeIsReused) {
  VehiclePool pool;
  for (int expected = 1; expected <= 499; ++expected) ASSERT_EQ(AddSedan(pool), expected);
  EXPECT_EQ(pool.FindFreeSlot(), -1);
  EXPECT_EQ(AddSedan(pool), -1);

  EXPECT_TRUE(pool.Delete(1));
  EXPECT_FALSE(pool.Delete(1));
  EXPECT_FALSE(pool.Exists(1));
  EXPECT_EQ(pool.Get(1), nullptr);
  EXPECT_EQ(AddSedan(pool), 1);  // ids 2 and 3 stay in use

  // Slot 0 is never a vehicle; a negative script id arrives as a huge one.
  for (uint32_t id : {0u, 500u, 0xFFFFFFFFu, 0xFFFFFF00u}) {
    EXPECT_FALSE(pool.Exists(id)) << id;
    EXPECT_EQ(pool.Get(id), nullptr) << id;
    EXPECT_FALSE(pool.Delete(id)) << id;
    EXPECT_FALSE(pool.ReportDestroyed(id, true)) << id;
    EXPECT_FALSE(pool.MarkUsed(id, 5)) << id;
  }
  pool.ProcessRespawn(500);
  pool.ProcessRespawn(0xFFFF);

  pool.DeleteAll();
  for (int id = 0; id < kMaxVehicles; ++id) {
    ASSERT_EQ(pool.inUse[id], 0);
    ASSERT_EQ(pool.records[id], nullptr);
  }
  EXPECT_EQ(AddSedan(pool), 1);
}

TEST(VehiclePoolTest, ADestructionReportIsTakenOnlyWhileNoRespawnIsUnderWay) {
  ClockGuard clock(5000);
  VehiclePool pool;
  ASSERT_EQ(AddSedan(pool), 1);
  EXPECT_TRUE(pool.ReportDestroyed(1, true));
  EXPECT_EQ(pool.respawnState[1], kRespawnDestroyed);
  EXPECT_EQ(pool.destroyedFlag[1], 1);
  EXPECT_EQ(pool.stateTime[1], 5000u);

  fakeNow = 6000;
  EXPECT_FALSE(pool.ReportDestroyed(1, false));  // state 1
  EXPECT_EQ(pool.destroyedFlag[1], 1);
  EXPECT_EQ(pool.stateTime[1], 5000u);

  pool.CheckRespawns();  // 1 -> 2
  EXPECT_EQ(pool.respawnState[1], kRespawnWreckWaiting);
  EXPECT_EQ(pool.destroyedFlag[1], 0);
  EXPECT_FALSE(pool.ReportDestroyed(1, true));  // state 2
  EXPECT_EQ(pool.destroyedFlag[1], 0);
  EXPECT_EQ(pool.stateTime[1], 5000u);

  fakeNow = 15000;  // exactly 10000 ms: still a wreck
  pool.CheckRespawns();
  EXPECT_EQ(pool.respawnState[1], kRespawnWreckWaiting);
  fakeNow = 15001;
  pool.CheckRespawns();
  EXPECT_EQ(pool.respawnState[1], kRespawnNone);
  EXPECT_EQ(pool.stateTime[1], 0u);
  EXPECT_TRUE(pool.ReportDestroyed(1, false));  // the machine is free again
}

TEST(VehiclePoolTest, AClockReadingZeroIsStoredAsOneSoTheStampIsNotNever) {
  ClockGuard clock(0);
  VehiclePool pool;
  ASSERT_EQ(AddSedan(pool), 1);
  ASSERT_EQ(AddSedan(pool), 2);
  ASSERT_TRUE(pool.MarkUsed(1, 0));
  EXPECT_EQ(+pool.Get(1)->lastUsedMs, 1u);
  EXPECT_EQ(pool.Get(1)->used, 1);
  ASSERT_TRUE(pool.ReportDestroyed(2, false));
  EXPECT_EQ(pool.stateTime[2], 1u);

  // A vehicle driven at time 0 is still respawned once the delay has passed.
  fakeNow = kDefaultVehicleRespawnDelayMs + 2;
  pool.CheckRespawns();
  EXPECT_EQ(pool.Get(1)->used, 0);
  EXPECT_EQ(+pool.Get(1)->lastUsedMs, 0u);
}

// --- the respawn machine as the clients see it ---

class VehicleRespawnTest : public ::testing::Test {
 protected:
  VehicleRespawnTest() : clock_(1000) {}
  void SetUp() override {
    testing::internal::CaptureStdout();
    server_.Start();
    pool_ = GetVehiclePool();
  }
  void TearDown() override { testing::internal::GetCapturedStdout(); }

  // Connects a client and, when `name` is given, makes it a joined player.
  void Join(TestClient& client, const char* name) {
    ASSERT_TRUE(client.Connect(server_.Port()));
    const uint8_t index = static_cast<uint8_t>(client.Index());
    ASSERT_TRUE(server_.PumpUntil(
        [&] { return GetPlayerAddress(index) != net::UNASSIGNED_SYSTEM_ADDRESS; }));
    if (name) {
      ASSERT_TRUE(ConnectPlayer(name, GetPlayerPool(), index));
    }
  }
  bool Until(const std::function<bool()>& cond, std::initializer_list<TestClient*> clients) {
    return support::WaitUntil(cond, 3000, [&] {
      server_.Pump();
      for (TestClient* c : clients) c->Pump();
    });
  }
  static std::vector<std::string> Names(const TestClient& client) {
    std::vector<std::string> names;
    for (const auto& rpc : client.AllRpcs()) names.push_back(rpc.name);
    return names;
  }
  static uint16_t VehicleIdOf(const support::ReceivedRpc& rpc) {
    auto reader = rpc.Reader();
    uint16_t id = 0;
    EXPECT_TRUE(reader->ReadCompressed(id));
    EXPECT_EQ(reader->GetNumberOfUnreadBits(), 0u);
    return id;
  }

  ClockGuard clock_;
  InProcessServer server_;
  VehiclePool* pool_ = nullptr;
};

const std::initializer_list<std::string> kVehicleNotices = {
    "SpawnVehicle", "Respawn_ExplodeVehicle", "Respawn_RespawnVehicle"};

TEST_F(VehicleRespawnTest, SpawnVehicleGoesToJoinedPlayersOnlyWithEveryFieldPlain) {
  TestClient alice(kVehicleNotices);
  TestClient bystander(kVehicleNotices);  // connected, never joined
  Join(alice, "Alice");
  Join(bystander, nullptr);

  const int id = pool_->Add(200, 1.5f, -2.5f, 3.25f, 90.0f, 3, 250);
  ASSERT_EQ(id, 1);
  pool_->Get(1)->x = 11.0f;  // current values differ from the spawn values
  pool_->Get(1)->health = 640.0f;
  pool_->Get(1)->locked = 1;
  SpawnVehicleForAll(1);
  ASSERT_TRUE(Until([&] { return alice.Count("SpawnVehicle") == 1; }, {&alice, &bystander}));

  // Id, model, the spawn values (health 1000), then the current ones, locked.
  const support::ReceivedRpc& spawn = *alice.LastRpc("SpawnVehicle");
  EXPECT_EQ(spawn.bits, spawn.data.size() * 8);
  EXPECT_EQ(spawn.data, recordbytes::PlainBytes(1u, 200u, 1.5f, -2.5f, 3.25f, 90.0f, uint8_t{3},
                                                uint8_t{250}, 1000.0f, 11.0f, -2.5f, 3.25f,
                                                90.0f, uint8_t{3}, uint8_t{250}, 640.0f,
                                                uint8_t{1}));

  // The respawn notices go to every connection; the bystander's first notice
  // is the explosion, so no "SpawnVehicle" was queued for it before.
  ASSERT_TRUE(pool_->ReportDestroyed(1, true));
  ASSERT_TRUE(Until([&] { return bystander.Count("Respawn_ExplodeVehicle") == 1; },
                    {&alice, &bystander}));
  EXPECT_EQ(bystander.Count("SpawnVehicle"), 0u);
}

TEST_F(VehicleRespawnTest, AReportedWreckExplodesOnlyWithItsFlagAndRespawnsAfterTenSeconds) {
  TestClient alice(kVehicleNotices);
  Join(alice, "Alice");
  ASSERT_EQ(pool_->Add(130, 5, 6, 7, 0, 1, 1), 1);
  ASSERT_EQ(pool_->Add(131, 5, 6, 7, 0, 1, 1), 2);
  SpawnVehicleForAll(2);

  fakeNow = 5000;
  ASSERT_TRUE(pool_->ReportDestroyed(2, true));
  ASSERT_TRUE(pool_->ReportDestroyed(1, false));
  server_.Pump();
  EXPECT_EQ(pool_->respawnState[1], kRespawnWreckWaiting);
  EXPECT_EQ(pool_->respawnState[2], kRespawnWreckWaiting);
  pool_->Get(2)->x = 99.0f;  // the last position a sync packet reported

  fakeNow = 15001;
  server_.Pump();
  EXPECT_EQ(pool_->respawnState[1], kRespawnNone);
  EXPECT_EQ(pool_->respawnState[2], kRespawnNone);
  // The server keeps the reported position until the next sync says otherwise.
  EXPECT_EQ(+pool_->Get(2)->x, 99.0f);

  ASSERT_TRUE(Until([&] { return alice.Count("Respawn_RespawnVehicle") == 2; }, {&alice}));
  EXPECT_EQ(Names(alice), (std::vector<std::string>{"SpawnVehicle", "Respawn_ExplodeVehicle",
                                                    "Respawn_RespawnVehicle",
                                                    "Respawn_RespawnVehicle"}));
  EXPECT_EQ(VehicleIdOf(*alice.LastRpc("Respawn_ExplodeVehicle")), 2);
  EXPECT_EQ(VehicleIdOf(alice.Rpcs("Respawn_RespawnVehicle")[0]), 1);
  EXPECT_EQ(VehicleIdOf(alice.Rpcs("Respawn_RespawnVehicle")[1]), 2);
}

TEST_F(VehicleRespawnTest, ADrivenVehicleLeftAloneIsRespawnedOnceAfterTheDelay) {
  TestClient alice(kVehicleNotices);
  Join(alice, "Alice");
  ASSERT_EQ(pool_->Add(130, 0, 0, 0, 0, 1, 1), 1);
  ASSERT_EQ(pool_->Add(131, 0, 0, 0, 0, 1, 1), 2);  // never driven
  ASSERT_EQ(pool_->Add(132, 0, 0, 0, 0, 1, 1), 3);  // the sentinel
  ASSERT_TRUE(pool_->MarkUsed(1, 20000));

  fakeNow = 20000 + kDefaultVehicleRespawnDelayMs;
  server_.Pump();
  EXPECT_EQ(pool_->Get(1)->used, 1);
  fakeNow += 1;
  server_.Pump();
  EXPECT_EQ(pool_->Get(1)->used, 0);
  EXPECT_EQ(+pool_->Get(1)->lastUsedMs, 0u);

  // Much later: neither the respawned vehicle nor the undriven one comes back.
  fakeNow += 10 * kDefaultVehicleRespawnDelayMs;
  server_.Pump();
  server_.Pump();
  ASSERT_TRUE(pool_->ReportDestroyed(3, true));
  server_.Pump();
  ASSERT_TRUE(Until([&] { return alice.Count("Respawn_ExplodeVehicle") == 1; }, {&alice}));
  EXPECT_EQ(Names(alice),
            (std::vector<std::string>{"Respawn_RespawnVehicle", "Respawn_ExplodeVehicle"}));
  EXPECT_EQ(VehicleIdOf(alice.Rpcs("Respawn_RespawnVehicle")[0]), 1);
  EXPECT_EQ(VehicleIdOf(*alice.LastRpc("Respawn_ExplodeVehicle")), 3);
}

TEST_F(VehicleRespawnTest, AnIdleWreckIsRespawnedByTheDelayWithoutWaitingForTheWreckTime) {
  TestClient alice(kVehicleNotices);
  Join(alice, "Alice");
  gVehicleRespawnDelay = 30000;
  ASSERT_EQ(pool_->Add(130, 0, 0, 0, 0, 1, 1), 1);
  ASSERT_TRUE(pool_->MarkUsed(1, 10000));
  fakeNow = 38000;
  ASSERT_TRUE(pool_->ReportDestroyed(1, true));
  server_.Pump();
  EXPECT_EQ(pool_->respawnState[1], kRespawnWreckWaiting);

  fakeNow = 40001;  // 2001 ms after the report, 30001 after the last drive
  server_.Pump();
  EXPECT_EQ(pool_->respawnState[1], kRespawnNone);
  ASSERT_TRUE(Until([&] { return alice.Count("Respawn_RespawnVehicle") == 1; }, {&alice}));
  EXPECT_EQ(Names(alice),
            (std::vector<std::string>{"Respawn_ExplodeVehicle", "Respawn_RespawnVehicle"}));
}

}  // namespace
