// The world's pools: the contract they all keep (one row per pool), each
// pool's own rules, and the world's allocation around the layer hooks.
#include "core/world.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
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
bool In(int id, int count) { return id >= 0 && id < count; }
bool Free(const std::string& hex) { return hex.find_first_not_of('0') == std::string::npos; }
template <typename T>
std::string_view Raw(const T& pool) { return {reinterpret_cast<const char*>(&pool), sizeof pool}; }

// One pool as the contract sees it. An id of -1 is the largest of the pool's
// id type, as a negative script id arrives.
// The whole pool's memory; add gives the id taken, or -1; set, how many
// setters took the id; read, the record as its getter reads it; made and
// changed, the record after add and after set.
struct PoolRow {
  const char* name; int first, count; std::vector<int> outside; std::string_view raw;
  std::function<int()> add; std::function<bool(int)> destroy; std::function<int(int)> set; int setters;
  std::function<std::string(int)> read; std::string made, changed;
};

// A pool of slots: a global one, or the owner's row of a local one (`at` is
// then the owner, passed before the slot).
template <typename P, typename Add, typename Set, typename... At>
PoolRow Slots(const char* name, P* p, int count, Add add, Set set, int setters, const std::string& made,
              const std::string& changed, At... at) {
  return {name, 0, count, {count, -1}, Raw(p->records),
          [=] { const int id = p->FindFreeSlot(at...);  // 0xFFFF: none, for objects
                return add(*p, at...) && id != 0xFFFF ? id : -1; },
          [=](int id) { return p->Destroy(at..., id); }, [=](int id) { return set(*p, at..., id); },
          setters, [=](int id) { return Hex(p->Get(at..., id)); }, made, changed};
}

std::vector<PoolRow> Rows() {
  VehicleRecord vehicle(130, 1, 2, 3, 90, 1, 1), vehicleChanged = vehicle;
  vehicleChanged.used = 1, vehicleChanged.lastUsedMs = 5;
  const std::string actor = Hex(StaticActorRecord{7, 1, 2, 3, 4, 0, 1, ""});
  const std::string object = Hex(ObjectRecord{77, 1, 2, 3, 4, 5, 6, 7}), objectChanged = Hex(ObjectRecord{77, 4, 5, 6, 7, 8, 9, 3});
  const std::string icon = Hex(IconRecord{1, 1, 0x22, 0x33, 1.5f, -2.5f, 100, {255, 255, 255, 255}, 0});
  const std::string iconChanged = Hex(IconRecord{1, 1, 77, 0x33, 4, 5, 6, {0x10, 0x20, 0x30, 0x40}, 1});
  // Areas keep their corners as given.
  const std::string cash = Hex(PickupRecord{kPickupCash, 0, 0, 5, 1, 2, 3}), area = Hex(AreaRecord{1, 5, 4, 3, -1, -2, -3});
  auto iconAdd = [](auto& p, auto... at) { return p.Add(at..., 1.5f, -2.5f, 100, 0x33, 0x22, 7); };
  auto iconSet = [](auto& p, auto... at) { return p.SetFlashing(at..., 1) + p.SetPosition(at..., 4, 5, 6) +
                                                   p.SetSize(at..., 77) + p.SetColor(at..., 0x10, 0x20, 0x30, 0x40); };
  auto objectAdd = [](auto& p, auto... at) { return (p.Add(at..., 77, 1, 2, 3, 4, 5, 6, 7), true); };
  auto localObjectAdd = [](auto& p, auto... at) { return p.Add(at..., 77, 1, 2, 3, 4, 5, 6, 7); };
  auto objectSet = [](auto& p, auto... at) { return p.SetPosition(at..., 4, 5, 6) + p.SetRotation(at..., 7, 8, 9) +
                                                     p.SetInterior(at..., 3); };
  auto cashAdd = [](auto& p, auto... at) { return p.AddCashPickup(at..., 5, 1, 2, 3); };
  auto none = [](auto&...) { return 0; };
  return {
      Slots("global icons", gGlobalIconPool, kMaxGlobalIcons, iconAdd, iconSet, 4, icon, iconChanged),
      Slots("local icons", gLocalIconPool, kLocalIconsPerPlayer, iconAdd, iconSet, 4, icon, iconChanged, kOwner),
      Slots("global objects", gGlobalObjectPool, kMaxGlobalObjects, objectAdd, objectSet, 3, object, objectChanged),
      Slots("local objects", gLocalObjectPool, kLocalObjectsPerPlayer, localObjectAdd, objectSet, 3, object,
            objectChanged, kOwner),
      Slots("global pickups", gGlobalPickupPool, kMaxGlobalPickups, cashAdd, none, 0, cash, cash),
      Slots("local pickups", gLocalPickupPool, kLocalPickupsPerPlayer, cashAdd, none, 0, cash, cash, kOwner),
      {"actors", 0, kMaxStaticActors, {kMaxStaticActors, -1}, Raw(gStaticActorPool->records),
       [] { const uint16_t id = gStaticActorPool->Add(7, 1, 2, 3, 4, 1); return id == kNoStaticActor ? -1 : int{id}; },
       [](int id) { return gStaticActorPool->Destroy(id); },
       [](int id) { return int{gStaticActorPool->Find(id) != nullptr} + gStaticActorPool->Exists(id); }, 2,
       [](int id) { return In(id, kMaxStaticActors) ? Hex(gStaticActorPool->records[id]) : "0"; }, actor, actor},
      {"markers", 0, kMaxMarkers, {kMaxMarkers, -1}, Raw(gMarkerPool->records),
       [] { const int id = gMarkerPool->FindFreeSlot(); return gMarkerPool->AddCheckpoint(1, 2, 3, 4) ? id : -1; },
       [](int id) { return gMarkerPool->DestroyCheckpoint(id); },
       [](int id) { return gMarkerPool->SetCheckpointRadius(id, 8) + gMarkerPool->SetCheckpointPosition(id, 11, 12, 13); },
       2, [](int id) { return In(id, kMaxMarkers) ? Hex(gMarkerPool->records[id]) : std::to_string(gMarkerPool->GetKind(id)); },
       Hex(MarkerRecord{kMarkerCheckpoint, 0, 0, 0, 1, 2, 3, 4}), Hex(MarkerRecord{kMarkerCheckpoint, 0, 0, 0, 11, 12, 13, 8})},
      {"vehicles", 1, kMaxVehicles - 1, {0, kMaxVehicles, -1, -256}, Raw(GetVehiclePool()->records),
       [] { return GetVehiclePool()->Add(130, 1, 2, 3, 90, 1, 1); }, [](int id) { return GetVehiclePool()->Delete(id); },
       [](int id) { auto& v = *GetVehiclePool(); return v.MarkUsed(id, 5) + v.ReportDestroyed(id, true) + v.Exists(id); }, 3,
       [](int id) { return GetVehiclePool()->Get(id) ? Hex(*GetVehiclePool()->Get(id)) : "0"; },
       Hex(vehicle), Hex(vehicleChanged)},
      {"areas", 1, kMaxAreas - 1, {0, kMaxAreas, -1}, Raw(gAreaPool->areas),
       [] { return int{gAreaPool->Add(5, 4, 3, -1, -2, -3)}; },
       [](int id) { return gAreaPool->Destroy(id); }, [](int) { return 0; }, 0,
       [](int id) { return In(id, kMaxAreas) ? Hex(gAreaPool->areas[id]) : "0"; }, area, area},
  };
}

class PoolTest : public ::testing::Test {
 protected:
  void SetUp() override { Hold(kOwner); }
  void Hold(uint8_t id) { ASSERT_TRUE(ConnectPlayer("Holder", GetPlayerPool(), id)); }
  support::Seam seam;
};

TEST_F(PoolTest, EveryPoolTakesTheLowestFreeIdRefusesWhenFullAndClearsOnDestroy) {
  for (const PoolRow& row : Rows()) {
    SCOPED_TRACE(row.name);
    for (int id = row.first; id < row.first + row.count; ++id) ASSERT_EQ(row.add(), id);
    EXPECT_EQ(row.read(row.first + row.count - 1), row.made);
    const std::string full(row.raw);
    EXPECT_EQ(row.add(), -1);
    EXPECT_EQ(std::string(row.raw), full);  // nothing stored anywhere
    const int mid = row.first + row.count / 2;
    EXPECT_EQ(row.set(mid), row.setters);
    EXPECT_EQ(row.read(mid), row.changed);
    // Destroyed twice, then refused; and ids outside the pool, refused.
    std::vector<int> refused = row.outside;
    refused.insert(refused.begin(), {mid + 1, mid});
    for (int id : {mid + 1, mid}) EXPECT_TRUE(row.destroy(id));
    for (int id : refused) {
      const int destroyed = row.destroy(id), set = row.set(id);
      EXPECT_EQ(Join(destroyed, set, Free(row.read(id))), "0|0|1") << id;
    }
    EXPECT_EQ((std::vector<int>{row.add(), row.add()}), (std::vector<int>{mid, mid + 1}));
  }
}

TEST_F(PoolTest, ActorsOfSkinZeroAndObjectsOfModelZeroStayFreeAndANewActorKeepsNothingOfTheOld) {
  StaticActorPool& a = *gStaticActorPool;
  EXPECT_EQ((std::vector<int64_t>{a.Add(0, 1, 2, 3, 4, 1), a.Exists(0)}), Values(0, 0));
  ASSERT_EQ(a.Add(50, 5, 6, 7, 8, 1), 0);
  EXPECT_EQ(a.Find(0), &a.records[0]);
  a.records[0].animation = 12, a.records[0].skin = 0;  // as the skin setter frees it: the other fields stay
  std::strcpy(a.records[0].name, "Old Guard");
  ASSERT_EQ(a.Add(61, 5, 6, 7, 8, 0), 0);
  EXPECT_EQ(Hex(a.records[0]), Hex(StaticActorRecord{61, 5, 6, 7, 8, 0, 0, ""}));
  a.Clear();
  GlobalObjectPool& g = *gGlobalObjectPool;
  g.Add(0, 9, 9, 9, 9, 9, 9, 9);  // fills a record that still counts as free
  EXPECT_EQ(Join(a.Exists(0), g.FindFreeSlot(), g.SetPosition(0, 1, 1, 1)), "0|0|0");
  g.Add(1, 9, 9, 9, 9, 9, 9, 9), g.Clear();
  EXPECT_EQ(g.FindFreeSlot(), 0);
}

TEST_F(PoolTest, LocalRowsBelongToTheirPlayerAndPlayersBeyondThePoolAreRefused) {
  LocalIconPool& i = *gLocalIconPool;
  LocalObjectPool& o = *gLocalObjectPool;
  LocalPickupPool& k = *gLocalPickupPool;
  // Icons need no player in use; objects and pickups do.
  ASSERT_TRUE(i.Add(8, 0, 0, 0, 5, 2, 0));
  EXPECT_EQ(Values(i.records[8 * kLocalIconsPerPlayer].optionFlag, o.FindFreeSlot(8), k.FindFreeSlot(8),
                   k.AddCashPickup(8, 1, 0, 0, 0)), Values(0, kNoObject, -1, 0));
  Hold(3);
  ASSERT_TRUE(o.Add(3, 20, 0, 0, 0, 0, 0, 0, 0) && k.AddCashPickup(3, 5, 1, 2, 3) &&
              o.Add(kOwner, 20, 0, 0, 0, 0, 0, 0, 0) && k.AddCashPickup(kOwner, 5, 1, 2, 3));
  EXPECT_EQ(Values(o.records[3 * kLocalObjectsPerPlayer].model, k.records[3 * kLocalPickupsPerPlayer].amount), Values(20, 5));
  EXPECT_TRUE(o.ClearPlayer(kOwner) && i.ClearPlayer(8) && k.ClearPlayer(kOwner));  // each his row only
  EXPECT_TRUE(Zero(o.Get(kOwner, 0)) && Zero(i.Get(8, 0)) && Zero(k.Get(kOwner, 0)) && !Zero(o.Get(3, 0)) &&
              !Zero(k.Get(3, 0)));
  // A player not in use: objects refused, but Destroy trusts its caller's test.
  GetPlayerPool()->inUse[3] = 0;
  EXPECT_FALSE(o.FindFreeSlot(3) != kNoObject || o.Add(3, 1, 0, 0, 0, 0, 0, 0, 0) || o.SetPosition(3, 0, 1, 1, 1) ||
               o.SetRotation(3, 0, 1, 1, 1) || o.SetInterior(3, 0, 1) || o.ClearPlayer(3));
  EXPECT_TRUE(o.Destroy(3, 0));
  for (int p : {kMaxPlayers, 261, 0xFFFF}) {
    EXPECT_EQ(Values(o.FindFreeSlot(p), i.FindFreeSlot(p), k.FindFreeSlot(p)), Values(kNoObject, -1, -1));
    EXPECT_FALSE(o.Add(p, 1, 0, 0, 0, 0, 0, 0, 0) || o.SetPosition(p, 0, 0, 0, 0) ||
                 o.SetRotation(p, 0, 0, 0, 0) || o.SetInterior(p, 0, 0) || o.Destroy(p, 0) ||
                 o.ClearPlayer(p) || i.Add(p, 0, 0, 0, 1, 1, 1) || i.SetFlashing(p, 0, 1) ||
                 i.SetPosition(p, 0, 0, 0, 0) || i.SetSize(p, 0, 1) || i.SetColor(p, 0, 1, 1, 1, 1) ||
                 i.Destroy(p, 0) || i.ClearPlayer(p) || k.AddCashPickup(p, 1, 0, 0, 0) ||
                 k.Destroy(p, 0) || k.ClearPlayer(p));
    EXPECT_TRUE(Zero(o.Get(p, 0)) && Zero(i.Get(p, 0)) && Zero(k.Get(p, 0)));
  }
}

// Kinds sharing ids, refusals of the other kind and the full pool are checked
// through the marker natives; here the corona's record and ids beyond the pool.
TEST_F(PoolTest, CoronasKeepTheirSizeAndIdsBeyondThePoolAreRefused) {
  MarkerPool& m = *gMarkerPool;
  ASSERT_TRUE(m.AddCorona(10, 20, 30, 5, 6, 7) && m.SetCoronaColor(0, 44, 255, 254) && m.SetCoronaPosition(0, 14, 15, 16));
  EXPECT_EQ(Hex(m.records[0]), Hex(MarkerRecord{kMarkerCorona, 44, 255, 254, 14, 15, 16, kCoronaSize}));
  EXPECT_FALSE(m.DestroyCorona(kMaxMarkers) || m.SetCoronaColor(255, 1, 1, 1) || m.SetCoronaPosition(255, 1, 1, 1));
  m.Clear();
  EXPECT_EQ(Values(m.GetKind(0), m.FindFreeSlot()), Values(kMarkerFree, 0));
}

TEST(PickupRules, WeaponsAmountsAndTypes) {
  const std::pair<uint32_t, uint32_t> weapons[] = {{0, 0}, {12, 12}, {13, 0}, {14, 14}, {16, 0}, {29, 29},
                                                   {30, 0}, {34, 34}, {35, 0}, {36, 0}, {0xFFFFFFFF, 0}};
  for (auto [weapon, stored] : weapons) EXPECT_EQ(PickupWeaponRule(weapon), stored) << weapon;
  for (uint32_t amount : {2000000000u, 0xFFFFFFFFu, kMaxPickupAmount}) EXPECT_EQ(PickupAmountRule(amount), kMaxPickupAmount);
  EXPECT_EQ(Values(PickupTypeRule(50), PickupTypeRule(200)), Values(50, 50));
  // What each kind of creation stores, globally and locally, is checked through the pickup natives.
}

TEST_F(PoolTest, SpawnClassesRefuseFarOrNonFiniteValuesAndHoldTenOf180Members) {
  SpawnClassPool& s = *gSpawnClassPool;
  s.AddMember(9, 100, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6);  // a member may join a free class (checked below)
  s.AddClass("Cops", 0x11, 0x22, 0x33, 1.5f, 2.5f, 3.5f, 90.0f, -1.0f, -2.0f, -10000.0f, 7);
  s.AddMember(0, 0x0102, 4.5f, 5.5f, 6.5f, 180.0f, 22, 0x0A0B0C0D, 25, 2, 31, 3);
  const SpawnClassRecord cops{1, 1.5f, 2.5f, 3.5f, 90, -1, -2, -10000, {0x11, 0x22, 0x33}, 7, "Cops",
                              {{1, 0, 4.5f, 5.5f, 6.5f, 180, 0x0102, {22, 25, 31}, {0x0A0B0C0D, 2, 3}}}};
  EXPECT_EQ(Hex(s.classes[0]), Hex(cops));
  for (float bad : {10000.5f, NAN, INFINITY, -INFINITY}) {
    s.AddClass("bad", 0, 0, 0, bad, 0, 0, 0, 0, 0, 0, 0), s.AddClass("bad", 0, 0, 0, 0, 0, 0, 0, 0, 0, bad, 0);
    s.AddMember(0, 100, bad, 0, 0, 0, 1, 2, 3, 4, 5, 6), s.AddMember(0, 100, 0, 0, 0, bad, 1, 2, 3, 4, 5, 6);
  }
  EXPECT_EQ(Values(s.FindFreeClass(), s.FindFreeMember(0), s.classes[9].used), Values(1, 1, 0));
  s.AddMember(0, 100, -10000.0f, 0, 0, 0, 1, 2, 3, 4, 5, 6);
  EXPECT_EQ(s.FindFreeMember(0), 2);
  // An empty name is a blank, a long one is cut; interiors above 18 and 13 become 0.
  s.AddClass("", 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 13), s.AddClass(nullptr, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 19);
  s.AddClass(std::string(150, 'n').c_str(), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 18);
  EXPECT_EQ(Join(std::string(s.classes[1].name) + s.classes[2].name + s.classes[3].name,
                 s.classes[3].members[0].used,  // nothing spilled past the name
                 s.classes[1].interior, s.classes[2].interior, s.classes[3].interior, SpawnInteriorRule(12)),
            "  " + std::string(99, 'n') + "|0|0|0|18|12");
  while (s.FindFreeClass() >= 0) s.AddClass("c", 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
  while (s.FindFreeMember(2) >= 0) s.AddMember(2, 100, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6);
  const std::string full(Raw(s.classes));
  s.AddClass("eleventh", 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
  s.AddMember(2, 100, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6), s.AddMember(kMaxSpawnClasses, 100, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6);
  EXPECT_EQ(std::string(Raw(s.classes)), full);
  EXPECT_EQ(Values(s.FindFreeMember(kMaxSpawnClasses), s.classes[2].members[kMaxClassMembers - 1].classId), Values(-1, 2));
  EXPECT_EQ(Hex(s.classes[9].members[0]),  // adding its class left the member alone
            Hex(ClassMemberRecord{1, 9, 0, 0, 0, 0, 100, {1, 3, 5}, {2, 4, 6}}));
}

TEST_F(PoolTest, WeaponShopsHoldTheDefaultStockAndRefuseBadSlotsAndWeapons) {
  WeaponShopTable& t = *gWeaponShopTable;
  EXPECT_EQ(Hex(t.slots[0]) + Hex(t.Get(4, 4)), Hex(WeaponShopSlot{17, 10000, 500}) + Hex(WeaponShopSlot{18, 5680, 360}));
  EXPECT_EQ(&t.Get(4, 4), &t.slots[3 * kWeaponShopSlots + 3]);
  for (int weapon : {30, 35, 13, 16, 255}) EXPECT_FALSE(t.SetWeaponData(2, 3, weapon, 1, 1)) << weapon;
  EXPECT_EQ(Values(t.Get(1, 5).ammo, t.Get(3, 3).weapon, t.Get(4, 5).price, t.Get(2, 3).weapon), Values(5000, 14, 9300, 9));
  ASSERT_TRUE(t.SetWeaponData(2, 3, 34, 1, 1) && t.SetWeaponData(1, 1, 24, 20000, 4000000000u) &&
              t.SetWeaponData(1, 2, 24, 10000, 0) && t.SetWeaponData(1, 3, 0, 0xFFFFFFFF, 0));
  EXPECT_EQ(Hex(t.Get(1, 1)), Hex(WeaponShopSlot{24, 4000000000u, 10000}));
  EXPECT_EQ(Values(t.Get(2, 3).weapon, t.Get(1, 2).ammo, t.Get(1, 3).ammo), Values(34, 10000, 10000));
  for (auto [shop, slot] : {std::pair{0, 1}, {5, 1}, {1, 0}, {1, 6}, {255, 255}})
    EXPECT_FALSE(t.SetWeaponData(shop, slot, 22, 1, 1) || !Zero(t.Get(shop, slot))) << shop << "/" << slot;
  t.Clear();
  EXPECT_EQ(t.Get(4, 4).weapon, 0);
}

TEST_F(PoolTest, ALeaversObjectsGoAtOnceHisPickupsAndIconsWhenTheSlotIsTaken) {
  Hold(6);
  for (uint8_t p : {uint8_t{6}, kOwner})
    ASSERT_TRUE(gLocalPickupPool->AddCashPickup(p, 10, 0, 0, 0) && gLocalIconPool->Add(p, 0, 0, 0, 1, 1, 1) &&
                gLocalObjectPool->Add(p, 100, 1, 1, 1, 1, 1, 1, 1) && gLocalObjectPool->Add(p, 1, 1, 1, 1, 1, 1, 1, 1));
  DisconnectPlayer(kReasonRestart, 6);
  EXPECT_TRUE(Zero(gLocalObjectPool->Get(6, 0)) && Zero(gLocalObjectPool->Get(6, 1)) &&
              !Zero(gLocalPickupPool->Get(6, 0)) && !Zero(gLocalIconPool->Get(6, 0)));
  Hold(6);
  EXPECT_TRUE(Zero(gLocalPickupPool->Get(6, 0)) && Zero(gLocalIconPool->Get(6, 0)));
  EXPECT_FALSE(Zero(gLocalPickupPool->Get(kOwner, 0)) || Zero(gLocalIconPool->Get(kOwner, 0)) ||
               Zero(gLocalObjectPool->Get(kOwner, 1)));
}

// Which pools exist, a bit each, and what existed when each layer's hook ran.
int Existing() {
  const void* pools[] = {gGlobalObjectPool, gLocalObjectPool, gSpawnClassPool, gStaticActorPool,
                         gWeaponShopTable,  gGlobalPickupPool, gLocalPickupPool, gMarkerPool,
                         gAreaPool,         gGlobalIconPool,  gLocalIconPool,  gNetGame};
  int bits = 0;
  for (int i = 0; i < 12; ++i) bits |= pools[i] ? 1 << i : 0;
  return bits;
}
std::vector<int> seen;

TEST(WorldAllocationTest, PoolsAppearInTheStartUpOrderAroundTheLayerHooksAndFreeAgain) {
  ASSERT_EQ(gNetGame, nullptr);
  AllocateWorld({[] { seen.push_back(Existing()); }, [] { seen.push_back(Existing()); },
                 [] { seen.push_back(Existing()); }, [] { seen.push_back(Existing()); }});
  // Objects, spawn classes, actors; the shops; pickups and markers; then
  // areas, icons and the NetGame.
  EXPECT_EQ(Join(seen[0], seen[1], seen[2], seen[3], Existing()), Join(0b1111, 0b11111, 0b11111111, 0b11111111, 0xFFF));
  gGlobalObjectPool->Add(400, 0, 0, 0, 0, 0, 0, 0), gWeaponShopTable->SetWeaponData(1, 1, 22, 1, 1);
  gWeaponShopsFlag = 1, gVehicleRespawnDelay = 5000;
  FreeWorld();
  EXPECT_EQ(Existing(), 1 << 11);  // the NetGame is not the world's to free
  AllocateWorld(WorldLayerHooks{});
  // The defaults again; the shops flag and the respawn delay are not part of the world.
  EXPECT_EQ(Join(gGlobalObjectPool->FindFreeSlot(), gWeaponShopTable->Get(1, 1).weapon, gWeaponShopsFlag,
                 gVehicleRespawnDelay), "0|17|1|5000");
  gWeaponShopsFlag = 0, gVehicleRespawnDelay = kDefaultVehicleRespawnDelayMs;
  FreeWorld();
  delete std::exchange(gNetGame, nullptr);
  auto seam = std::make_unique<support::Seam>();
  const int running = Existing();
  seam.reset();
  EXPECT_EQ(Join(running, Existing()), Join(0xFFF, 0));  // stopping the server frees the world
}

}  // namespace
