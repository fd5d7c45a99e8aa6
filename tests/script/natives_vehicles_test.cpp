// The vehicle natives through a running server: the records they change (and
// those they must leave to the driver's sync), each payload layout bit for bit
// and its target, the guards, and the model names and respawn delay.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/game_fixture.h"
#include "core/names.h"
#include "core/netgame.h"
#include "core/playerpool.h"
#include "core/vehiclepool.h"
#include "net/bitstream.h"
#include "script/script_host.h"

namespace {

using scripttest::Eval;
using scripttest::RunLua;

const char* const kVehicleRpcs[] = {
    "SpawnVehicle",     "DestroyVehicle",    "SetVehicleToRespawn", "SetVehicleSpawnInfo",
    "SetVehiclePos",    "SetVehicleAngle",   "SetVehicleHealth",    "SetVehicleSpeed",
    "SetVehicleColor",  "ToggleVehicleLocked", "SetVehicleTireState", "ToggleVehicleLights",
    "RepairVehicle",    "ExplodeVehicle",    "PutPlayerInVehicle",  "RemovePlayerFromVehicle"};

// The expected payload, written with the same stream the server uses.
struct Want {
  net::BitStream s;
  Want& u8(uint8_t v) { s.Write(v); return *this; }
  Want& u32(uint32_t v) { s.Write(v); return *this; }
  Want& f32(float v) { s.Write(v); return *this; }
  Want& c8(uint8_t v) { s.WriteCompressed(v); return *this; }
  Want& c16(uint16_t v) { s.WriteCompressed(v); return *this; }
  Want& c32(uint32_t v) { s.WriteCompressed(v); return *this; }
};

// Same bit count and the same bits (the pad bits of the last byte aside).
void ExpectPayload(const support::ReceivedRpc* got, const Want& want, const std::string& what) {
  ASSERT_NE(got, nullptr) << what << " not received";
  const uint32_t bits = want.s.GetNumberOfBitsUsed();
  ASSERT_EQ(got->bits, bits) << what;
  std::vector<uint8_t> expected(want.s.GetData(), want.s.GetData() + want.s.GetNumberOfBytesUsed());
  std::vector<uint8_t> actual = got->data;
  ASSERT_EQ(actual.size(), expected.size()) << what;
  if (bits % 8 && !actual.empty()) {
    const uint8_t mask = static_cast<uint8_t>(0xFF << (8 - bits % 8));
    actual.back() &= mask;
    expected.back() &= mask;
  }
  EXPECT_EQ(actual, expected) << what;
}

class VehicleNativesTest : public gametest::GameTest {
 protected:
  void SetUp() override {
    GameTest::SetUp();
    alpha_ = &ConnectAndJoin("Alpha");
    bravo_ = &ConnectAndJoin("Bravo");
    a_ = static_cast<uint8_t>(alpha_->Index());
    b_ = static_cast<uint8_t>(bravo_->Index());
    for (auto* c : {alpha_, bravo_}) {
      for (const char* name : kVehicleRpcs) c->Watch(name);
      c->Watch("CreatePlayerExplosion");
    }
  }
  void TearDown() override {
    gVehicleRespawnDelay = kDefaultVehicleRespawnDelayMs;
    GameTest::TearDown();
  }

  VehiclePool& Pool() { return *gNetGame->vehiclePool; }

  // Runs a statement that must not fail, then waits until both clients have
  // everything sent before it.
  void Call(const std::string& lua) {
    ASSERT_EQ(RunLua(lua), "") << lua;
    Settle();
  }
  // Reliable calls arrive in order: an explosion sent to all after everything
  // else marks the end.
  void Settle() {
    const size_t a = alpha_->Count("CreatePlayerExplosion");
    const size_t b = bravo_->Count("CreatePlayerExplosion");
    ASSERT_EQ(RunLua("createExplosion(0, 0, 0, 0)"), "");
    ASSERT_TRUE(PumpUntil([&] {
      return alpha_->Count("CreatePlayerExplosion") > a && bravo_->Count("CreatePlayerExplosion") > b;
    }));
  }
  size_t Total(support::TestClient& c) {
    size_t n = 0;
    for (const char* name : kVehicleRpcs) n += c.Count(name);
    return n;
  }
  std::string Id(int id) const { return std::to_string(id); }

  support::TestClient* alpha_ = nullptr;
  support::TestClient* bravo_ = nullptr;
  uint8_t a_ = 0;
  uint8_t b_ = 0;
};

TEST_F(VehicleNativesTest, CreateClampsTheColoursAndSpawnsTheVehicleForEachPlayer) {
  EXPECT_EQ(Eval("createVehicle(130, 1.5, -2, 3, 90, 101, 200)"), "1");
  Settle();
  const VehicleRecord* v = Pool().Get(1);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(uint32_t{v->model}, 130u);
  EXPECT_EQ(v->spawnColour1, 0);  // 101 is no colour
  EXPECT_EQ(v->colour2, 200);     // the high half stays
  Want want;
  want.u32(1).u32(130).f32(1.5f).f32(-2).f32(3).f32(90).u8(0).u8(200).f32(1000)
      .f32(1.5f).f32(-2).f32(3).f32(90).u8(0).u8(200).f32(1000).u8(0);
  for (auto* c : {alpha_, bravo_}) {
    EXPECT_EQ(c->Count("SpawnVehicle"), 1u);
    ExpectPayload(c->LastRpc("SpawnVehicle"), want, "SpawnVehicle");
  }

  // Colour bytes: 100 and -1 (255) stay, 127 becomes 0, 128 stays.
  EXPECT_EQ(Eval("createVehicle(236, 0, 0, 0, 0, 100, -1)"), "2");
  EXPECT_EQ(Eval("createVehicle(236, 0, 0, 0, 0, 127, 128)"), "3");
  EXPECT_EQ(Pool().Get(2)->colour1, 100);
  EXPECT_EQ(Pool().Get(2)->colour2, 255);
  EXPECT_EQ(Pool().Get(3)->colour1, 0);
  EXPECT_EQ(Pool().Get(3)->colour2, 128);

  // Refused models create nothing, send nothing and return nothing.
  for (const char* model : {"165", "180", "181", "213", "129", "237", "-1", "130 + 4294967296"}) {
    EXPECT_EQ(Eval(std::string("createVehicle(") + model + ", 0, 0, 0, 0, 0, 0)"), "") << model;
  }
  Settle();
  EXPECT_EQ(Pool().FindFreeSlot(), 4);
  EXPECT_EQ(alpha_->Count("SpawnVehicle"), 3u);

  // A full pool: nothing created, nothing sent.
  while (Pool().FindFreeSlot() > 0) Pool().Add(130, 0, 0, 0, 0, 0, 0);
  EXPECT_EQ(Eval("createVehicle(130, 0, 0, 0, 0, 0, 0)"), "");
  Settle();
  EXPECT_EQ(alpha_->Count("SpawnVehicle"), 3u);
}

TEST_F(VehicleNativesTest, DestroyFreesTheSlotFirstAndTakesTheLow16BitsOfTheId) {
  for (int i = 1; i <= 3; ++i) ASSERT_EQ(Eval("createVehicle(130, 0, 0, 0, 0, 0, 0)"), Id(i));
  Call("destroyVehicle(65537)");  // vehicle 1
  EXPECT_FALSE(Pool().Exists(1));
  EXPECT_TRUE(Pool().Exists(2));
  for (auto* c : {alpha_, bravo_}) {
    ExpectPayload(c->LastRpc("DestroyVehicle"), Want().c16(1), "DestroyVehicle");
  }
  EXPECT_EQ(Eval("createVehicle(131, 0, 0, 0, 0, 0, 0)"), "1");

  Call("destroyVehicle(1 - 65536); destroyVehicle(0); destroyVehicle(4); destroyVehicle(500)");
  EXPECT_FALSE(Pool().Exists(1));  // -65535 cut to 16 bits is 1
  Call("destroyVehicle(1); destroyVehicle(0); destroyVehicle(-1)");
  EXPECT_EQ(alpha_->Count("DestroyVehicle"), 2u);
}

TEST_F(VehicleNativesTest, StateSettersStoreWhatTheServerKeepsAndSendEachLayout) {
  ASSERT_EQ(Eval("createVehicle(130, 1, 2, 3, 4, 5, 6)"), "1");
  Call("setVehiclePos(1, 10.5, -20, 30); setVehicleAngle(1, 45); setVehicleHealth(1, 250.5);"
       "setVehicleSpeed(1, 3.5); setVehicleColor(1, 200, 100); setVehicleLockedState(1, 258)");
  const VehicleRecord* v = Pool().Get(1);
  EXPECT_EQ(Eval("getVehiclePos(1)"), "10.5,-20,30");
  EXPECT_EQ(Eval("getVehicleAngle(1)"), "45");
  EXPECT_EQ(Eval("getVehicleHealth(1)"), "250.5");
  EXPECT_EQ(Eval("getVehicleSpeed(1)"), "0");  // only the driver's sync sets it
  EXPECT_EQ(Eval("getVehicleColor(1)"), "-1,100");
  EXPECT_EQ(Eval("getVehicleLockedState(1)"), "2");
  EXPECT_EQ(Eval("getVehicleModel(1)"), "130");
  EXPECT_EQ(float{v->spawnX}, 1.0f);  // the spawn values stay
  EXPECT_EQ(v->spawnColour1, 5);

  for (auto* c : {alpha_, bravo_}) {
    ExpectPayload(c->LastRpc("SetVehiclePos"), Want().u32(1).f32(10.5f).f32(-20).f32(30),
                  "SetVehiclePos");
    ExpectPayload(c->LastRpc("SetVehicleAngle"), Want().u32(1).f32(45), "SetVehicleAngle");
    ExpectPayload(c->LastRpc("SetVehicleHealth"), Want().u32(1).f32(250.5f), "SetVehicleHealth");
    ExpectPayload(c->LastRpc("SetVehicleSpeed"), Want().u32(1).f32(3.5f), "SetVehicleSpeed");
    ExpectPayload(c->LastRpc("SetVehicleColor"), Want().u32(1).u8(255).u8(100), "SetVehicleColor");
    ExpectPayload(c->LastRpc("ToggleVehicleLocked"), Want().u32(1).u8(2), "ToggleVehicleLocked");
  }

  // Colour bytes 128..254 become 255; 255 and 0..127 stay.
  Call("setVehicleColor(1, 254, 127)");
  EXPECT_EQ(Eval("getVehicleColor(1)"), "-1,127");
  Call("setVehicleColor(1, -1, 128 + 256)");
  EXPECT_EQ(Eval("getVehicleColor(1)"), "-1,-1");
}

TEST_F(VehicleNativesTest, ClientSideEffectsLeaveTheRecordAlone) {
  ASSERT_EQ(Eval("createVehicle(130, 0, 0, 0, 0, 0, 0)"), "1");
  while (Pool().FindFreeSlot() != 44) Pool().Add(130, 0, 0, 0, 0, 0, 0);
  ASSERT_EQ(Pool().Add(130, 0, 0, 0, 0, 0, 0), 44);
  Pool().Get(1)->health = 300;

  // The tyre natives reach a vehicle by its id modulo 256.
  Call("setVehicleTireState(300, 1, 1); toggleVehicleLights(65537, 5); repairVehicle(1);"
       "explodeVehicle(1)");
  for (auto* c : {alpha_, bravo_}) {
    ExpectPayload(c->LastRpc("SetVehicleTireState"), Want().u8(44).u8(1).u8(1),
                  "SetVehicleTireState");
    ExpectPayload(c->LastRpc("ToggleVehicleLights"), Want().c16(1).c8(1), "ToggleVehicleLights");
    ExpectPayload(c->LastRpc("RepairVehicle"), Want().c32(1), "RepairVehicle");
    ExpectPayload(c->LastRpc("ExplodeVehicle"), Want().u32(1), "ExplodeVehicle");
  }
  EXPECT_EQ(Eval("getVehicleTireState(300, 1)"), "0");
  EXPECT_EQ(Eval("getVehicleHealth(1)"), "300");
  EXPECT_EQ(Pool().respawnState[1], kRespawnNone);  // only a client's report starts it

  // The light flag is cut to a byte before it is clamped.
  Call("toggleVehicleLights(1, 256)");
  ExpectPayload(alpha_->LastRpc("ToggleVehicleLights"), Want().c16(1).c8(0), "lights off");

  // Tyre 1..4 and state 0 or 1 only.
  Call("setVehicleTireState(44, 0, 1); setVehicleTireState(44, 5, 1); setVehicleTireState(44, 1, 2);"
       "setVehicleTireState(45, 1, 1)");
  EXPECT_EQ(alpha_->Count("SetVehicleTireState"), 1u);

  // What the driver's sync reports is what the getter returns.
  Pool().Get(44)->tyres[3] = 1;
  EXPECT_EQ(Eval("getVehicleTireState(44, 4)"), "1");
  EXPECT_EQ(Eval("getVehicleTireState(300, 4)"), "1");
  EXPECT_EQ(Eval("getVehicleTireState(44, 0)"), "");
  EXPECT_EQ(Eval("getVehicleTireState(44, 5)"), "");
  EXPECT_EQ(Eval("getVehicleTireState(45, 1)"), "");
}

TEST_F(VehicleNativesTest, SpawnInfoAndRespawn) {
  ASSERT_EQ(Eval("createVehicle(130, 1, 2, 3, 4, 5, 6)"), "1");
  Call("setVehicleSpawnInfo(1, 7, 8, 9, 180)");
  EXPECT_EQ(Eval("getVehiclePos(1)"), "1,2,3");  // the current position stays
  EXPECT_EQ(Eval("getVehicleAngle(1)"), "4");
  for (auto* c : {alpha_, bravo_}) {
    ExpectPayload(c->LastRpc("SetVehicleSpawnInfo"), Want().u32(1).f32(7).f32(8).f32(9).f32(180),
                  "SetVehicleSpawnInfo");
  }

  VehicleRecord* v = Pool().Get(1);
  // Driven just now and a wreck just reported: the respawn machine (frozen
  // clock) leaves both alone while the test pumps.
  v->used = 1;
  v->lastUsedMs = gametest::frozenNowMs;
  v->health = 500;
  v->colour1 = 9;
  Pool().respawnState[1] = kRespawnWreckWaiting;
  Pool().stateTime[1] = gametest::frozenNowMs;
  Call("setVehicleToRespawn(1)");
  EXPECT_EQ(Eval("getVehiclePos(1)"), "7,8,9");
  EXPECT_EQ(Eval("getVehicleAngle(1)"), "180");
  EXPECT_EQ(v->used, 0);
  EXPECT_EQ(uint32_t{v->lastUsedMs}, 0u);
  EXPECT_EQ(float{v->health}, 500.0f);
  EXPECT_EQ(v->colour1, 9);
  EXPECT_EQ(Pool().respawnState[1], kRespawnWreckWaiting);
  for (auto* c : {alpha_, bravo_}) {
    ExpectPayload(c->LastRpc("SetVehicleToRespawn"), Want().u32(1), "SetVehicleToRespawn");
  }
}

TEST_F(VehicleNativesTest, TheVehicleGuardRefusesEverySetterAndGetterAlike) {
  ASSERT_EQ(Eval("createVehicle(130, 1, 2, 3, 4, 5, 6)"), "1");
  Pool().Get(1)->locked = 3;
  // 0, beyond the pool, a free slot, negative, and 2^32 + 1 (no wrap to 1).
  for (const char* id : {"0", "500", "2", "-1", "4294967297", "'x'"}) {
    const std::string v = id;
    ASSERT_EQ(RunLua("setVehiclePos(" + v + ", 0, 0, 0); setVehicleAngle(" + v + ", 0);"
                     "setVehicleHealth(" + v + ", 0); setVehicleSpeed(" + v + ", 0);"
                     "setVehicleColor(" + v + ", 0, 0); setVehicleLockedState(" + v + ", 0);"
                     "repairVehicle(" + v + "); explodeVehicle(" + v + ");"
                     "setVehicleToRespawn(" + v + "); setVehicleSpawnInfo(" + v + ", 0, 0, 0, 0);"
                     "toggleVehicleLights(" + v + ", 1); setVehicleTireState(" + v + ", 1, 1);"
                     "putPlayerInVehicle(" + Id(a_) + ", " + v + ", 0)"),
              "")
        << id;
    EXPECT_EQ(Eval("getVehicleModel(" + v + ")"), "0") << id;
    EXPECT_EQ(Eval("getVehiclePos(" + v + ")"), "0,0,0") << id;
    EXPECT_EQ(Eval("getVehicleAngle(" + v + ")"), "0") << id;
    EXPECT_EQ(Eval("getVehicleHealth(" + v + ")"), "0") << id;
    EXPECT_EQ(Eval("getVehicleSpeed(" + v + ")"), "0") << id;
    EXPECT_EQ(Eval("getVehicleColor(" + v + ")"), "-1,-1") << id;
    EXPECT_EQ(Eval("getVehicleLockedState(" + v + ")"), "0") << id;
    EXPECT_EQ(Eval("getVehicleTireState(" + v + ", 1)"), "") << id;
  }
  Settle();
  EXPECT_EQ(Total(*alpha_), 1u);  // the creation
  EXPECT_EQ(Total(*bravo_), 1u);
  EXPECT_EQ(Eval("getVehiclePos(1)"), "1,2,3");
  EXPECT_EQ(Eval("getVehicleLockedState(1)"), "3");
}

TEST_F(VehicleNativesTest, PlayersAndVehicles) {
  ASSERT_EQ(Eval("createVehicle(130, 0, 0, 0, 0, 0, 0)"), "1");
  ASSERT_EQ(Eval("createVehicle(130, 0, 0, 0, 0, 0, 0)"), "2");
  const std::string A = Id(a_);
  EXPECT_EQ(Eval("isPlayerInAnyVehicle(" + A + ")"), "0");
  EXPECT_EQ(Eval("isPlayerInVehicle(" + A + ", 1)"), "0");
  EXPECT_EQ(Eval("getPlayerVehicleID(" + A + ")"), "0");
  Call("removePlayerFromVehicle(" + A + ")");  // on foot: nothing to do
  EXPECT_EQ(alpha_->Count("RemovePlayerFromVehicle"), 0u);

  // The seat is not limited, only cut to a byte; the record waits for the
  // client's sync.
  Call("putPlayerInVehicle(" + A + ", 1, 300)");
  ExpectPayload(alpha_->LastRpc("PutPlayerInVehicle"), Want().u32(1).u8(44), "PutPlayerInVehicle");
  EXPECT_EQ(bravo_->Count("PutPlayerInVehicle"), 0u);
  EXPECT_EQ(uint32_t{Record(a_).vehicle}, 0u);

  Record(a_).vehicle = 1;  // as the driver's sync reports it
  EXPECT_EQ(Eval("isPlayerInAnyVehicle(" + A + ")"), "1");
  EXPECT_EQ(Eval("isPlayerInVehicle(" + A + ", 1)"), "1");
  EXPECT_EQ(Eval("isPlayerInVehicle(" + A + ", 2)"), "0");
  EXPECT_EQ(Eval("getPlayerVehicleID(" + A + ")"), "1");
  Call("removePlayerFromVehicle(" + A + ")");
  ExpectPayload(alpha_->LastRpc("RemovePlayerFromVehicle"), Want(), "RemovePlayerFromVehicle");
  EXPECT_EQ(bravo_->Count("RemovePlayerFromVehicle"), 0u);

  // A vehicle the player still sits in, destroyed since: the guard refuses it.
  Record(a_).vehicle = 7;
  EXPECT_EQ(Eval("isPlayerInVehicle(" + A + ", 7)"), "0");

  // The player guard: beyond 99, a free slot, -1 (255).
  for (const char* p : {"100", "77", "-1"}) {
    const std::string P = p;
    EXPECT_EQ(Eval("isPlayerInAnyVehicle(" + P + ")"), "0") << p;
    EXPECT_EQ(Eval("isPlayerInVehicle(" + P + ", 1)"), "0") << p;
    EXPECT_EQ(Eval("getPlayerVehicleID(" + P + ")"), "") << p;
    ASSERT_EQ(RunLua("putPlayerInVehicle(" + P + ", 1, 0); removePlayerFromVehicle(" + P + ")"), "");
  }
  Settle();
  EXPECT_EQ(alpha_->Count("PutPlayerInVehicle") + bravo_->Count("PutPlayerInVehicle"), 1u);
  EXPECT_EQ(alpha_->Count("RemovePlayerFromVehicle") + bravo_->Count("RemovePlayerFromVehicle"), 1u);
}

// --- without a network ---

TEST(VehicleNamesNatives, NamesByModelAndModelsByName) {
  scripttest::ScriptHost host("");
  const std::string name130 = VehicleNameOfModel(130);
  for (const char* refused : {"180", "165", "129", "237", "-1", "'x'"}) {
    EXPECT_EQ(Eval(std::string("getVehicleNameFromModelID(") + refused + ")"), "nil") << refused;
  }
  EXPECT_EQ(Eval("getVehicleNameFromModelID(130)"), "'" + name130 + "'");
  EXPECT_EQ(Eval("getVehicleNameFromModelID(65536 + 130.7)"), "'" + name130 + "'");  // low 16 bits
  EXPECT_EQ(Eval("getVehicleNameFromModelID(236)"),
            "'" + std::string(VehicleNameOfModel(236)) + "'");

  EXPECT_EQ(Eval("getVehicleModelIDFromName('')"), "130");
  EXPECT_EQ(Eval("getVehicleModelIDFromName(string.upper(getVehicleNameFromModelID(200)))"),
            std::to_string(FindVehicleModelByName(ToLowerCopy(VehicleNameOfModel(200)))));
  EXPECT_EQ(Eval("getVehicleModelIDFromName('no such vehicle at all')"), "-1");
  EXPECT_EQ(Eval("getVehicleModelIDFromName(nil)"), "-1");
  EXPECT_EQ(Eval("getVehicleModelIDFromName({})"), "-1");
  // The text ends at its first NUL.
  EXPECT_EQ(Eval("getVehicleModelIDFromName(getVehicleNameFromModelID(200) .. '\\0zz')"),
            std::to_string(FindVehicleModelByName(VehicleNameOfModel(200))));
}

TEST(VehicleNativesWithoutAWorld, RefuseQuietly) {
  scripttest::ScriptHost host("");
  ASSERT_EQ(gNetGame, nullptr);
  EXPECT_EQ(Eval("createVehicle(130, 0, 0, 0, 0, 0, 0)"), "");
  EXPECT_EQ(RunLua("destroyVehicle(1); setVehiclePos(1, 0, 0, 0); setVehicleColor(1, 0, 0);"
                   "setVehicleTireState(1, 1, 1); toggleVehicleLights(1, 1);"
                   "setVehicleToRespawn(1); putPlayerInVehicle(0, 1, 0); removePlayerFromVehicle(0)"),
            "");
  EXPECT_EQ(Eval("getVehiclePos(1)"), "0,0,0");
  EXPECT_EQ(Eval("getVehicleColor(1)"), "-1,-1");
  EXPECT_EQ(Eval("getVehicleTireState(1, 1)"), "");
  EXPECT_EQ(Eval("isPlayerInAnyVehicle(0)"), "0");
  EXPECT_EQ(Eval("getPlayerVehicleID(0)"), "");
}

TEST(VehicleRespawnDelayNative, TakesTheLow32BitsOfTheTruncatedNumber) {
  scripttest::ScriptHost host("");
  const char* const cases[][2] = {
      {"-1", "4294967295"}, {"4294967296 + 5", "5"}, {"1.9", "1"}, {"60000", "60000"}};
  for (const auto& c : cases) {
    EXPECT_EQ(Eval(std::string("setVehicleRespawnDelay(") + c[0] + ")"), "");
    EXPECT_EQ(std::to_string(gVehicleRespawnDelay), c[1]) << c[0];
  }
  gVehicleRespawnDelay = kDefaultVehicleRespawnDelayMs;
}

}  // namespace
