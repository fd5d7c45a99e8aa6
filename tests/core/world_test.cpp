// The world's pools: the contract they all keep (one row per pool), each
// pool's own rules, and the world's allocation around the layer hooks.
#include "core/world.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "core/actorpool.h"
#include "core/areapool.h"
#include "core/iconpool.h"
#include "core/markerpool.h"
#include "core/netgame.h"
#include "core/objectpool.h"
#include "core/pickuppool.h"
#include "core/spawnclasspool.h"
#include "core/vehiclepool.h"
#include "core/weaponshops.h"
#include "record_bytes.h"
#include "support/seam.h"

namespace {

constexpr uint8_t kOwner = 7;  // the player whose row the local pools test

// Whether `id` indexes an array of `size` records.
bool In(int id, size_t size) { return id >= 0 && static_cast<size_t>(id) < size; }
bool Free(const std::string& hex) { return hex.find_first_not_of('0') == std::string::npos; }
template <typename T>
std::string_view Raw(const T& pool) {
  return {reinterpret_cast<const char*>(&pool), sizeof pool};
}

// A call that takes an existing id and refuses any other: a setter, or a
// lookup for a pool without setters.
struct Call {
  const char* name;
  std::function<bool(int)> run;
};

// One pool as the contract sees it. An id of -1 is the largest of the pool's
// id type, as a negative script id arrives.
struct PoolRow {
  const char* name;
  // The ids, from `first`: as many as the game mode is promised, written out.
  int first;
  int capacity;
  std::vector<int> outside;  // ids beyond the pool
  std::string_view raw;      // the whole pool's memory
  std::function<int()> add;  // the id taken, or -1
  std::function<bool(int)> destroy;
  std::vector<Call> calls;
  std::function<std::string(int)> read;  // the record as its getter reads it
  std::string made;                      // the record after add
  std::string changed;                   // the record after every call
};

// The id an add takes: the free slot it found, or -1 when the add was refused
// or no slot was free (0xFFFF for objects, whose add gives no result).
template <typename Pool, typename... At>
std::function<int()> AddInFreeSlot(Pool* pool, std::function<bool()> add, At... at) {
  return [=] {
    const int id = pool->FindFreeSlot(at...);
    if (!add()) return -1;
    return id == 0xFFFF ? -1 : id;
  };
}

// The setters of the icons and objects, global (no `at`) or the owner's row.
template <typename Pool, typename... At>
std::vector<Call> IconSetters(Pool* pool, At... at) {
  return {{"SetFlashing", [=](int id) { return pool->SetFlashing(at..., id, 1); }},
          {"SetPosition", [=](int id) { return pool->SetPosition(at..., id, 4, 5, 6); }},
          {"SetSize", [=](int id) { return pool->SetSize(at..., id, 77); }},
          {"SetColor", [=](int id) { return pool->SetColor(at..., id, 0x10, 0x20, 0x30, 0x40); }}};
}
template <typename Pool, typename... At>
std::vector<Call> ObjectSetters(Pool* pool, At... at) {
  return {{"SetPosition", [=](int id) { return pool->SetPosition(at..., id, 4, 5, 6); }},
          {"SetRotation", [=](int id) { return pool->SetRotation(at..., id, 7, 8, 9); }},
          {"SetInterior", [=](int id) { return pool->SetInterior(at..., id, 3); }}};
}

std::vector<PoolRow> Rows() {
  GlobalIconPool* globalIcons = gGlobalIconPool;
  LocalIconPool* localIcons = gLocalIconPool;
  GlobalObjectPool* globalObjects = gGlobalObjectPool;
  LocalObjectPool* localObjects = gLocalObjectPool;
  GlobalPickupPool* globalPickups = gGlobalPickupPool;
  LocalPickupPool* localPickups = gLocalPickupPool;
  StaticActorPool* actors = gStaticActorPool;
  MarkerPool* markers = gMarkerPool;
  VehiclePool* vehicles = GetVehiclePool();
  AreaPool* areas = gAreaPool;

  const std::string icon =
      Hex(IconRecord{1, 1, 0x22, 0x33, 1.5f, -2.5f, 100, {255, 255, 255, 255}, 0});
  const std::string iconChanged =
      Hex(IconRecord{1, 1, 77, 0x33, 4, 5, 6, {0x10, 0x20, 0x30, 0x40}, 1});
  const std::string object = Hex(ObjectRecord{77, 1, 2, 3, 4, 5, 6, 7});
  const std::string objectChanged = Hex(ObjectRecord{77, 4, 5, 6, 7, 8, 9, 3});
  const std::string cash = Hex(PickupRecord{kPickupCash, 0, 0, 5, 1, 2, 3});
  const std::string actor = Hex(StaticActorRecord{7, 1, 2, 3, 4, 0, 1, ""});
  const std::string checkpoint = Hex(MarkerRecord{kMarkerCheckpoint, 0, 0, 0, 1, 2, 3, 4});
  const std::string checkpointChanged =
      Hex(MarkerRecord{kMarkerCheckpoint, 0, 0, 0, 11, 12, 13, 8});
  const VehicleRecord vehicle(130, 1, 2, 3, 90, 1, 1);
  VehicleRecord vehicleChanged = vehicle;
  vehicleChanged.used = 1;
  vehicleChanged.lastUsedMs = 5;
  const std::string area = Hex(AreaRecord{1, 5, 4, 3, -1, -2, -3});  // corners kept as given

  return {
      {.name = "global icons",
       .first = 0,
       .capacity = 100,
       .outside = {100, -1},
       .raw = Raw(globalIcons->records),
       .add = AddInFreeSlot(globalIcons,
                            [=] { return globalIcons->Add(1.5f, -2.5f, 100, 0x33, 0x22, 7); }),
       .destroy = [=](int id) { return globalIcons->Destroy(id); },
       .calls = IconSetters(globalIcons),
       .read = [=](int id) { return Hex(globalIcons->Get(id)); },
       .made = icon,
       .changed = iconChanged},
      {.name = "local icons",
       .first = 0,
       .capacity = 25,
       .outside = {25, -1},
       .raw = Raw(localIcons->records),
       .add = AddInFreeSlot(
           localIcons, [=] { return localIcons->Add(kOwner, 1.5f, -2.5f, 100, 0x33, 0x22, 7); },
           kOwner),
       .destroy = [=](int id) { return localIcons->Destroy(kOwner, id); },
       .calls = IconSetters(localIcons, kOwner),
       .read = [=](int id) { return Hex(localIcons->Get(kOwner, id)); },
       .made = icon,
       .changed = iconChanged},
      {.name = "global objects",
       .first = 0,
       .capacity = 1000,
       .outside = {1000, -1},
       .raw = Raw(globalObjects->records),
       .add = AddInFreeSlot(globalObjects,
                            [=] {
                              globalObjects->Add(77, 1, 2, 3, 4, 5, 6, 7);
                              return true;
                            }),
       .destroy = [=](int id) { return globalObjects->Destroy(id); },
       .calls = ObjectSetters(globalObjects),
       .read = [=](int id) { return Hex(globalObjects->Get(id)); },
       .made = object,
       .changed = objectChanged},
      {.name = "local objects",
       .first = 0,
       .capacity = 100,
       .outside = {100, -1},
       .raw = Raw(localObjects->records),
       .add = AddInFreeSlot(
           localObjects, [=] { return localObjects->Add(kOwner, 77, 1, 2, 3, 4, 5, 6, 7); },
           kOwner),
       .destroy = [=](int id) { return localObjects->Destroy(kOwner, id); },
       .calls = ObjectSetters(localObjects, kOwner),
       .read = [=](int id) { return Hex(localObjects->Get(kOwner, id)); },
       .made = object,
       .changed = objectChanged},
      {.name = "global pickups",
       .first = 0,
       .capacity = 100,
       .outside = {100, -1},
       .raw = Raw(globalPickups->records),
       .add =
           AddInFreeSlot(globalPickups, [=] { return globalPickups->AddCashPickup(5, 1, 2, 3); }),
       .destroy = [=](int id) { return globalPickups->Destroy(id); },
       .calls = {},
       .read = [=](int id) { return Hex(globalPickups->Get(id)); },
       .made = cash,
       .changed = cash},
      {.name = "local pickups",
       .first = 0,
       .capacity = 25,
       .outside = {25, -1},
       .raw = Raw(localPickups->records),
       .add = AddInFreeSlot(
           localPickups, [=] { return localPickups->AddCashPickup(kOwner, 5, 1, 2, 3); }, kOwner),
       .destroy = [=](int id) { return localPickups->Destroy(kOwner, id); },
       .calls = {},
       .read = [=](int id) { return Hex(localPickups->Get(kOwner, id)); },
       .made = cash,
       .changed = cash},
      {.name = "static actors",
       .first = 0,
       .capacity = 100,
       .outside = {100, -1},
       .raw = Raw(actors->records),
       .add =
           [=] {
             const uint16_t id = actors->Add(7, 1, 2, 3, 4, 1);
             return id == kNoStaticActor ? -1 : int{id};
           },
       .destroy = [=](int id) { return actors->Destroy(id); },
       .calls = {{"Find", [=](int id) { return actors->Find(id) != nullptr; }},
                 {"Exists", [=](int id) { return actors->Exists(id); }}},
       .read =
           [=](int id) {
             return In(id, std::size(actors->records)) ? Hex(actors->records[id]) : "0";
           },
       .made = actor,
       .changed = actor},
      {.name = "global markers",
       .first = 0,
       .capacity = 50,
       .outside = {50, -1},
       .raw = Raw(markers->records),
       .add = AddInFreeSlot(markers, [=] { return markers->AddCheckpoint(1, 2, 3, 4); }),
       .destroy = [=](int id) { return markers->DestroyCheckpoint(id); },
       .calls = {{"SetCheckpointRadius",
                  [=](int id) { return markers->SetCheckpointRadius(id, 8); }},
                 {"SetCheckpointPosition",
                  [=](int id) { return markers->SetCheckpointPosition(id, 11, 12, 13); }}},
       .read =
           [=](int id) {
             if (In(id, std::size(markers->records))) return Hex(markers->records[id]);
             return std::to_string(markers->GetKind(id));
           },
       .made = checkpoint,
       .changed = checkpointChanged},
      {.name = "vehicles",
       .first = 1,
       .capacity = 499,
       .outside = {0, 500, -1, -256},
       .raw = Raw(vehicles->records),
       .add = [=] { return vehicles->Add(130, 1, 2, 3, 90, 1, 1); },
       .destroy = [=](int id) { return vehicles->Delete(id); },
       .calls = {{"MarkUsed", [=](int id) { return vehicles->MarkUsed(id, 5); }},
                 {"ReportDestroyed", [=](int id) { return vehicles->ReportDestroyed(id, true); }},
                 {"Exists", [=](int id) { return vehicles->Exists(id); }}},
       .read = [=](int id) { return vehicles->Get(id) ? Hex(*vehicles->Get(id)) : "0"; },
       .made = Hex(vehicle),
       .changed = Hex(vehicleChanged)},
      {.name = "areas",
       .first = 1,
       .capacity = 1999,
       .outside = {0, 2000, -1},
       .raw = Raw(areas->areas),
       .add = [=] { return int{areas->Add(5, 4, 3, -1, -2, -3)}; },
       .destroy = [=](int id) { return areas->Destroy(id); },
       .calls = {},
       .read =
           [=](int id) { return In(id, std::size(areas->areas)) ? Hex(areas->areas[id]) : "0"; },
       .made = area,
       .changed = area},
  };
}

class PoolTest : public ::testing::Test {
 protected:
  void SetUp() override { Hold(kOwner); }
  void Hold(uint8_t id) { ASSERT_TRUE(ConnectPlayer("Holder", GetPlayerPool(), id)); }
  support::Seam seam;
};

// The contract for one pool; a failed fill ends only this row.
void CheckPool(const PoolRow& row) {
  const int last = row.first + row.capacity - 1;
  for (int id = row.first; id <= last; ++id) ASSERT_EQ(row.add(), id);
  EXPECT_EQ(row.read(last), row.made);
  const std::string full(row.raw);
  EXPECT_EQ(row.add(), -1);  // one past the capacity
  EXPECT_TRUE(std::string(row.raw) == full) << "the refused add stored something";
  const int mid = row.first + row.capacity / 2;
  for (const Call& call : row.calls) EXPECT_TRUE(call.run(mid)) << call.name;
  EXPECT_EQ(row.read(mid), row.changed);
  // Destroyed twice, then refused; and ids outside the pool, refused.
  EXPECT_TRUE(row.destroy(mid + 1));
  EXPECT_TRUE(row.destroy(mid));
  std::vector<int> refused = row.outside;
  refused.insert(refused.begin(), {mid + 1, mid});
  for (int id : refused) {
    EXPECT_FALSE(row.destroy(id)) << id;
    for (const Call& call : row.calls) EXPECT_FALSE(call.run(id)) << call.name << " " << id;
    EXPECT_TRUE(Free(row.read(id))) << id;
  }
  EXPECT_EQ(row.add(), mid);
  EXPECT_EQ(row.add(), mid + 1);
}

TEST_F(PoolTest, EveryPoolTakesTheLowestFreeIdRefusesWhenFullAndClearsOnDestroy) {
  for (const PoolRow& row : Rows()) {
    SCOPED_TRACE(row.name);
    CheckPool(row);
  }
}

TEST_F(PoolTest, ActorsOfSkinZeroAndObjectsOfModelZeroStayFreeAndANewActorKeepsNothingOfTheOld) {
  StaticActorPool& a = *gStaticActorPool;
  EXPECT_EQ(a.Add(0, 1, 2, 3, 4, 1), 0);
  EXPECT_FALSE(a.Exists(0));
  ASSERT_EQ(a.Add(50, 5, 6, 7, 8, 1), 0);
  EXPECT_EQ(a.Find(0), &a.records[0]);
  // As the skin setter frees it: the other fields stay.
  a.records[0].animation = 12;
  a.records[0].skin = 0;
  std::strcpy(a.records[0].name, "Old Guard");
  ASSERT_EQ(a.Add(61, 5, 6, 7, 8, 0), 0);
  EXPECT_EQ(Hex(a.records[0]), Hex(StaticActorRecord{61, 5, 6, 7, 8, 0, 0, ""}));
  a.Clear();
  EXPECT_FALSE(a.Exists(0));
  GlobalObjectPool& g = *gGlobalObjectPool;
  g.Add(0, 9, 9, 9, 9, 9, 9, 9);  // fills a record that still counts as free
  EXPECT_EQ(g.FindFreeSlot(), 0);
  EXPECT_FALSE(g.SetPosition(0, 1, 1, 1));
  g.Add(1, 9, 9, 9, 9, 9, 9, 9);
  g.Clear();
  EXPECT_EQ(g.FindFreeSlot(), 0);
}

TEST_F(PoolTest, LocalRowsBelongToTheirPlayerAndPlayersBeyondThePoolAreRefused) {
  LocalIconPool& i = *gLocalIconPool;
  LocalObjectPool& o = *gLocalObjectPool;
  LocalPickupPool& k = *gLocalPickupPool;
  // Icons need no player in use; objects and pickups do.
  ASSERT_TRUE(i.Add(8, 0, 0, 0, 5, 2, 0));
  EXPECT_EQ(+i.records[8 * 25].optionFlag, 0);  // 25 icons a player
  EXPECT_EQ(o.FindFreeSlot(8), kNoObject);
  EXPECT_EQ(k.FindFreeSlot(8), -1);
  EXPECT_FALSE(k.AddCashPickup(8, 1, 0, 0, 0));
  Hold(3);
  ASSERT_TRUE(o.Add(3, 20, 0, 0, 0, 0, 0, 0, 0));
  ASSERT_TRUE(k.AddCashPickup(3, 5, 1, 2, 3));
  ASSERT_TRUE(o.Add(kOwner, 20, 0, 0, 0, 0, 0, 0, 0));
  ASSERT_TRUE(k.AddCashPickup(kOwner, 5, 1, 2, 3));
  EXPECT_EQ(+o.records[3 * 100].model, 20u);  // 100 objects a player
  EXPECT_EQ(+k.records[3 * 25].amount, 5u);   // 25 pickups a player
  // Each clears his row only.
  EXPECT_TRUE(o.ClearPlayer(kOwner));
  EXPECT_TRUE(i.ClearPlayer(8));
  EXPECT_TRUE(k.ClearPlayer(kOwner));
  EXPECT_TRUE(Zero(o.Get(kOwner, 0)));
  EXPECT_TRUE(Zero(i.Get(8, 0)));
  EXPECT_TRUE(Zero(k.Get(kOwner, 0)));
  EXPECT_FALSE(Zero(o.Get(3, 0)));
  EXPECT_FALSE(Zero(k.Get(3, 0)));
  // A player not in use: objects refused, but Destroy trusts its caller's test.
  GetPlayerPool()->inUse[3] = 0;
  EXPECT_EQ(o.FindFreeSlot(3), kNoObject);
  EXPECT_FALSE(o.Add(3, 1, 0, 0, 0, 0, 0, 0, 0));
  EXPECT_FALSE(o.SetPosition(3, 0, 1, 1, 1));
  EXPECT_FALSE(o.SetRotation(3, 0, 1, 1, 1));
  EXPECT_FALSE(o.SetInterior(3, 0, 1));
  EXPECT_FALSE(o.ClearPlayer(3));
  EXPECT_TRUE(o.Destroy(3, 0));
  // A player beyond the pool: every call refused, nothing read.
  const struct {
    const char* call;
    std::function<bool(uint16_t)> run;
  } refusals[] = {
      {"object Add", [&](uint16_t p) { return o.Add(p, 1, 0, 0, 0, 0, 0, 0, 0); }},
      {"object SetPosition", [&](uint16_t p) { return o.SetPosition(p, 0, 0, 0, 0); }},
      {"object SetRotation", [&](uint16_t p) { return o.SetRotation(p, 0, 0, 0, 0); }},
      {"object SetInterior", [&](uint16_t p) { return o.SetInterior(p, 0, 0); }},
      {"object Destroy", [&](uint16_t p) { return o.Destroy(p, 0); }},
      {"object ClearPlayer", [&](uint16_t p) { return o.ClearPlayer(p); }},
      {"icon Add", [&](uint16_t p) { return i.Add(p, 0, 0, 0, 1, 1, 1); }},
      {"icon SetFlashing", [&](uint16_t p) { return i.SetFlashing(p, 0, 1); }},
      {"icon SetPosition", [&](uint16_t p) { return i.SetPosition(p, 0, 0, 0, 0); }},
      {"icon SetSize", [&](uint16_t p) { return i.SetSize(p, 0, 1); }},
      {"icon SetColor", [&](uint16_t p) { return i.SetColor(p, 0, 1, 1, 1, 1); }},
      {"icon Destroy", [&](uint16_t p) { return i.Destroy(p, 0); }},
      {"icon ClearPlayer", [&](uint16_t p) { return i.ClearPlayer(p); }},
      {"pickup AddCashPickup", [&](uint16_t p) { return k.AddCashPickup(p, 1, 0, 0, 0); }},
      {"pickup Destroy", [&](uint16_t p) { return k.Destroy(p, 0); }},
      {"pickup ClearPlayer", [&](uint16_t p) { return k.ClearPlayer(p); }},
  };
  for (int p : {100, 261, 0xFFFF}) {
    SCOPED_TRACE("player " + std::to_string(p));
    EXPECT_EQ(o.FindFreeSlot(p), kNoObject);
    EXPECT_EQ(i.FindFreeSlot(p), -1);
    EXPECT_EQ(k.FindFreeSlot(p), -1);
    for (const auto& refusal : refusals) EXPECT_FALSE(refusal.run(p)) << refusal.call;
    EXPECT_TRUE(Zero(o.Get(p, 0)));
    EXPECT_TRUE(Zero(i.Get(p, 0)));
    EXPECT_TRUE(Zero(k.Get(p, 0)));
  }
}

// Kinds sharing ids, refusals of the other kind and the full pool are checked
// through the marker natives; here the corona's record and ids beyond the pool.
TEST_F(PoolTest, CoronasKeepTheirSizeAndIdsBeyondThePoolAreRefused) {
  MarkerPool& m = *gMarkerPool;
  ASSERT_TRUE(m.AddCorona(10, 20, 30, 5, 6, 7));
  ASSERT_TRUE(m.SetCoronaColor(0, 44, 255, 254));
  ASSERT_TRUE(m.SetCoronaPosition(0, 14, 15, 16));
  EXPECT_EQ(Hex(m.records[0]), Hex(MarkerRecord{kMarkerCorona, 44, 255, 254, 14, 15, 16, 5.5f}));
  EXPECT_FALSE(m.DestroyCorona(50));
  EXPECT_FALSE(m.SetCoronaColor(255, 1, 1, 1));
  EXPECT_FALSE(m.SetCoronaPosition(255, 1, 1, 1));
  m.Clear();
  EXPECT_EQ(m.GetKind(0), kMarkerFree);
  EXPECT_EQ(m.FindFreeSlot(), 0);
}

TEST(PickupRules, WeaponsAmountsAndTypes) {
  // clang-format off
  const std::pair<uint32_t, uint32_t> weapons[] = {
      {0, 0}, {12, 12}, {13, 0}, {14, 14}, {16, 0}, {29, 29},
      {30, 0}, {34, 34}, {35, 0}, {36, 0}, {0xFFFFFFFF, 0}};
  // clang-format on
  for (auto [weapon, stored] : weapons) EXPECT_EQ(PickupWeaponRule(weapon), stored) << weapon;
  for (uint32_t amount : {2000000000u, 0xFFFFFFFFu, 1000000000u})
    EXPECT_EQ(PickupAmountRule(amount), 1000000000u) << amount;
  EXPECT_EQ(+PickupTypeRule(50), 50);
  EXPECT_EQ(+PickupTypeRule(200), 50);
  // What each kind of creation stores, globally and locally, is checked
  // through the pickup natives.
}

TEST_F(PoolTest, SpawnClassesRefuseFarOrNonFiniteValuesAndHoldTenOf180Members) {
  SpawnClassPool& s = *gSpawnClassPool;
  s.AddMember(9, 100, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6);  // a member may join a free class (below)
  s.AddClass("Cops", 0x11, 0x22, 0x33, 1.5f, 2.5f, 3.5f, 90.0f, -1.0f, -2.0f, -10000.0f, 7);
  s.AddMember(0, 0x0102, 4.5f, 5.5f, 6.5f, 180.0f, 22, 0x0A0B0C0D, 25, 2, 31, 3);
  // clang-format off
  const SpawnClassRecord cops{
      1, 1.5f, 2.5f, 3.5f, 90, -1, -2, -10000, {0x11, 0x22, 0x33}, 7, "Cops",
      {{1, 0, 4.5f, 5.5f, 6.5f, 180, 0x0102, {22, 25, 31}, {0x0A0B0C0D, 2, 3}}}};
  // clang-format on
  EXPECT_EQ(Hex(s.classes[0]), Hex(cops));
  for (float bad : {10000.5f, NAN, INFINITY, -INFINITY}) {
    s.AddClass("bad", 0, 0, 0, bad, 0, 0, 0, 0, 0, 0, 0);
    s.AddClass("bad", 0, 0, 0, 0, 0, 0, 0, 0, 0, bad, 0);
    s.AddMember(0, 100, bad, 0, 0, 0, 1, 2, 3, 4, 5, 6);
    s.AddMember(0, 100, 0, 0, 0, bad, 1, 2, 3, 4, 5, 6);
  }
  EXPECT_EQ(s.FindFreeClass(), 1);
  EXPECT_EQ(s.FindFreeMember(0), 1);
  EXPECT_EQ(+s.classes[9].used, 0);
  s.AddMember(0, 100, -10000.0f, 0, 0, 0, 1, 2, 3, 4, 5, 6);
  EXPECT_EQ(s.FindFreeMember(0), 2);
  // An empty name is a blank, a long one is cut; interiors above 18 and 13 become 0.
  s.AddClass("", 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 13);
  s.AddClass(nullptr, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 19);
  s.AddClass(std::string(150, 'n').c_str(), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 18);
  EXPECT_STREQ(s.classes[1].name, " ");
  EXPECT_STREQ(s.classes[2].name, " ");
  EXPECT_EQ(std::string(s.classes[3].name), std::string(99, 'n'));
  EXPECT_EQ(+s.classes[3].members[0].used, 0);  // nothing spilled past the name
  EXPECT_EQ(+s.classes[1].interior, 0);
  EXPECT_EQ(+s.classes[2].interior, 0);
  EXPECT_EQ(+s.classes[3].interior, 18);
  EXPECT_EQ(SpawnInteriorRule(12), 12);
  // Ten classes, ids 0 to 9, each of 180 members, slots 0 to 179.
  for (int id = 4; id < 10; ++id) {
    ASSERT_EQ(s.FindFreeClass(), id);
    s.AddClass("c", 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
  }
  EXPECT_EQ(s.FindFreeClass(), -1);
  for (int slot = 0; slot < 180; ++slot) {
    ASSERT_EQ(s.FindFreeMember(2), slot);
    s.AddMember(2, 100, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6);
  }
  EXPECT_EQ(s.FindFreeMember(2), -1);
  const std::string full(Raw(s.classes));
  s.AddClass("eleventh", 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
  s.AddMember(2, 100, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6);
  s.AddMember(10, 100, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6);
  EXPECT_EQ(std::string(Raw(s.classes)), full);
  EXPECT_EQ(s.FindFreeMember(10), -1);
  EXPECT_EQ(+s.classes[2].members[179].classId, 2);
  EXPECT_EQ(Hex(s.classes[9].members[0]),  // adding its class left the member alone
            Hex(ClassMemberRecord{1, 9, 0, 0, 0, 0, 100, {1, 3, 5}, {2, 4, 6}}));
}

TEST_F(PoolTest, WeaponShopsHoldTheDefaultStockAndRefuseBadSlotsAndWeapons) {
  WeaponShopTable& t = *gWeaponShopTable;
  EXPECT_EQ(Hex(t.slots[0]), Hex(WeaponShopSlot{17, 10000, 500}));
  EXPECT_EQ(Hex(t.Get(4, 4)), Hex(WeaponShopSlot{18, 5680, 360}));
  EXPECT_EQ(&t.Get(4, 4), &t.slots[3 * 5 + 3]);  // 5 slots a shop, both counted from 1
  for (int weapon : {30, 35, 13, 16, 255})
    EXPECT_FALSE(t.SetWeaponData(2, 3, weapon, 1, 1)) << weapon;
  EXPECT_EQ(+t.Get(1, 5).ammo, 5000u);
  EXPECT_EQ(+t.Get(3, 3).weapon, 14);
  EXPECT_EQ(+t.Get(4, 5).price, 9300u);
  EXPECT_EQ(+t.Get(2, 3).weapon, 9);
  ASSERT_TRUE(t.SetWeaponData(2, 3, 34, 1, 1));
  ASSERT_TRUE(t.SetWeaponData(1, 1, 24, 20000, 4000000000u));
  ASSERT_TRUE(t.SetWeaponData(1, 2, 24, 10000, 0));
  ASSERT_TRUE(t.SetWeaponData(1, 3, 0, 0xFFFFFFFF, 0));
  EXPECT_EQ(Hex(t.Get(1, 1)), Hex(WeaponShopSlot{24, 4000000000u, 10000}));
  EXPECT_EQ(+t.Get(2, 3).weapon, 34);
  EXPECT_EQ(+t.Get(1, 2).ammo, 10000u);
  EXPECT_EQ(+t.Get(1, 3).ammo, 10000u);
  for (auto [shop, slot] : {std::pair{0, 1}, {5, 1}, {1, 0}, {1, 6}, {255, 255}}) {
    SCOPED_TRACE("shop " + std::to_string(shop) + " slot " + std::to_string(slot));
    EXPECT_FALSE(t.SetWeaponData(shop, slot, 22, 1, 1));
    EXPECT_TRUE(Zero(t.Get(shop, slot)));
  }
  t.Clear();
  EXPECT_EQ(+t.Get(4, 4).weapon, 0);
}

TEST_F(PoolTest, ALeaversObjectsGoAtOnceHisPickupsAndIconsWhenTheSlotIsTaken) {
  Hold(6);
  for (uint8_t p : {uint8_t{6}, kOwner}) {
    SCOPED_TRACE(int{p});
    ASSERT_TRUE(gLocalPickupPool->AddCashPickup(p, 10, 0, 0, 0));
    ASSERT_TRUE(gLocalIconPool->Add(p, 0, 0, 0, 1, 1, 1));
    ASSERT_TRUE(gLocalObjectPool->Add(p, 100, 1, 1, 1, 1, 1, 1, 1));
    ASSERT_TRUE(gLocalObjectPool->Add(p, 1, 1, 1, 1, 1, 1, 1, 1));
  }
  DisconnectPlayer(kReasonRestart, 6);
  EXPECT_TRUE(Zero(gLocalObjectPool->Get(6, 0)));
  EXPECT_TRUE(Zero(gLocalObjectPool->Get(6, 1)));
  EXPECT_FALSE(Zero(gLocalPickupPool->Get(6, 0)));
  EXPECT_FALSE(Zero(gLocalIconPool->Get(6, 0)));
  Hold(6);
  EXPECT_TRUE(Zero(gLocalPickupPool->Get(6, 0)));
  EXPECT_TRUE(Zero(gLocalIconPool->Get(6, 0)));
  EXPECT_FALSE(Zero(gLocalPickupPool->Get(kOwner, 0)));
  EXPECT_FALSE(Zero(gLocalIconPool->Get(kOwner, 0)));
  EXPECT_FALSE(Zero(gLocalObjectPool->Get(kOwner, 1)));
}

// Which pools exist, a bit each, and what existed when each layer's hook ran.
int Existing() {
  const void* pools[] = {gGlobalObjectPool, gLocalObjectPool,  gSpawnClassPool,  gStaticActorPool,
                         gWeaponShopTable,  gGlobalPickupPool, gLocalPickupPool, gMarkerPool,
                         gAreaPool,         gGlobalIconPool,   gLocalIconPool,   gNetGame};
  int bits = 0;
  for (size_t i = 0; i < std::size(pools); ++i) {
    if (pools[i]) bits |= 1 << i;
  }
  return bits;
}
// Filled by the hooks, which are plain function pointers and cannot capture.
std::vector<int> seen;

TEST(WorldAllocationTest, PoolsAppearInTheStartUpOrderAroundTheLayerHooksAndFreeAgain) {
  ASSERT_EQ(gNetGame, nullptr);
  seen.clear();  // a repeated run starts from nothing
  AllocateWorld({[] { seen.push_back(Existing()); }, [] { seen.push_back(Existing()); },
                 [] { seen.push_back(Existing()); }, [] { seen.push_back(Existing()); }});
  // Objects, spawn classes, actors; the shops; pickups and markers; then
  // areas, icons and the NetGame.
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0], 0b1111);
  EXPECT_EQ(seen[1], 0b11111);
  EXPECT_EQ(seen[2], 0b11111111);
  EXPECT_EQ(seen[3], 0b11111111);
  EXPECT_EQ(Existing(), 0xFFF);
  gGlobalObjectPool->Add(400, 0, 0, 0, 0, 0, 0, 0);
  gWeaponShopTable->SetWeaponData(1, 1, 22, 1, 1);
  gWeaponShopsFlag = 1;
  gVehicleRespawnDelay = 5000;
  FreeWorld();
  EXPECT_EQ(Existing(), 1 << 11);  // the NetGame is not the world's to free
  AllocateWorld(WorldLayerHooks{});
  // The defaults again; the shops flag and the respawn delay are not part of the world.
  EXPECT_EQ(gGlobalObjectPool->FindFreeSlot(), 0);
  EXPECT_EQ(+gWeaponShopTable->Get(1, 1).weapon, 17);
  EXPECT_EQ(+gWeaponShopsFlag, 1);
  EXPECT_EQ(gVehicleRespawnDelay, 5000u);
  gWeaponShopsFlag = 0;
  gVehicleRespawnDelay = kDefaultVehicleRespawnDelayMs;
  FreeWorld();
  delete std::exchange(gNetGame, nullptr);
  auto seam = std::make_unique<support::Seam>();
  EXPECT_EQ(Existing(), 0xFFF);
  seam.reset();
  EXPECT_EQ(Existing(), 0);  // stopping the server frees the world
}

}  // namespace
