// The world natives: objects, markers, icons, pickups and static actors. Ids
// and the lowest free slot, the payloads, the records they keep (after the
// pool's rules, while the calls carry the script's own values), the guards.
#include <cstring>
#include <string>

#include "core/actorpool.h"
#include "core/iconpool.h"
#include "core/markerpool.h"
#include "core/objectpool.h"
#include "core/pickuppool.h"
#include "core/playerpool.h"
#include "core/world.h"
#include "script/native_test_support.h"

namespace {

using namespace nativetest;
using WorldNatives = Natives;

Sent Actor(StaticActorRecord r) { return AB("CreateStaticActor").bytes(&r, sizeof r); }

// An object's creation: model, position and rotation, interior.
Sent Object(Send&& r, uint32_t model, std::initializer_list<float> place = {0, 0, 0, 0, 0, 0}, uint8_t interior = 0) {
  r.c32(model);
  for (float v : place) r.f32(v);
  return r.c8(interior);
}

TEST_F(WorldNatives, Objects) {
  const auto created = [](uint32_t model) { return Object(AB("CreateGlobalObject"), model); };
  // The freed index comes first again; models keep all 32 unsigned bits; model
  // 0 is announced, but the record stays free and the index is reused.
  Check({{"createGlobalObject(1337, 1.5, -2, 3, 90, 0.25, 180, 259), createGlobalObject(2000, 0, 0, 0, 0, 0, 0, 0)", "0,1",
          {Object(AB("CreateGlobalObject"), 1337, {1.5f, -2, 3, 90, 0.25f, 180}, 3), created(2000)}},
         {"getGlobalObjectModel(0), getGlobalObjectInterior(0), getGlobalObjectPos(0)", "1337,3,1.5,-2,3"},
         {"getGlobalObjectRotation(0)", "90,0.25,180"},
         {"destroyGlobalObject(0), createGlobalObject(4294967295, 0, 0, 0, 0, 0, 0, 0), getGlobalObjectModel(0)", "nil,0,4294967295",
          {AB("DestroyGlobalObject").c16(0), created(4294967295u)}},
         {"createGlobalObject(0, 7, 7, 7, 0, 0, 0, 0), getGlobalObjectModel(2), createGlobalObject(5, 0, 0, 0, 0, 0, 0, 0)", "2,0,2",
          {Object(AB("CreateGlobalObject"), 0, {7, 7, 7, 0, 0, 0}), created(5)}},
         {"destroyGlobalObject(2)", "", {AB("DestroyGlobalObject").c16(2)}},
         // Only used ids; ids keep their low 16 bits, the interior its low 8.
         {"do setGlobalObjectPos(1000, 1, 2, 3) setGlobalObjectPos(2, 1, 2, 3) setGlobalObjectRotation(2, 1, 2, 3) end", ""},
         {"do setGlobalObjectInterior(-1, 4) moveGlobalObject(2, 1, 2, 3, 4) moveGlobalObjectAngles(1000, 1, 2, 3, 4) end", ""},
         {"do destroyGlobalObject(2) moveGlobalObjectAngles(300, 1, 2, 3, 0.5) end", ""},
         {"getGlobalObjectModel(2), getGlobalObjectPos(0)", "0,0,0,0"},
         {"do setGlobalObjectPos(65536, 4, 5, 6) setGlobalObjectRotation(0, 7, 8, 9) setGlobalObjectInterior(0, 260) end", "",
          {AB("SetGlobalObjectPos").c16(0).f32(4).f32(5).f32(6), AB("SetGlobalObjectRotation").c16(0).f32(7).f32(8).f32(9),
           AB("SetGlobalObjectInterior").c16(0).c8(4)}},
         {"getGlobalObjectInterior(0), getGlobalObjectPos(0)", "4,4,5,6"}, {"getGlobalObjectRotation(0)", "7,8,9"},
         // The getters check nothing and stay inside the pool.
         {"getGlobalObjectModel(-1), getGlobalObjectInterior(40000), getGlobalObjectPos(999)", "0,0,0,0,0"},
         {"getGlobalObjectRotation(1000)", "0,0,0"},
         // Moves store the target at once; stop checks nothing.
         {"do for i = 2, 5 do createGlobalObject(20 + i, 0, 0, 0, 0, 0, 0, 0) end end", "", {created(22), created(23), created(24), created(25)}},
         {"do moveGlobalObject(5, 10, 20, 30, 2) moveGlobalObjectAngles(4, 45, 90, 135, 0.5) end", "",
          {AB("MoveGlobalObject").c16(5).f32(10).f32(20).f32(30).f32(2), AB("MoveGlobalObjectAngles").c16(4).f32(45).f32(90).f32(135).f32(0.5f)}},
         {"getGlobalObjectPos(5)", "10,20,30"}, {"getGlobalObjectRotation(4)", "45,90,135"},
         {"do stopGlobalObject(5) stopGlobalObject(300) end", "", {AB("StopGlobalObject").c16(5), AB("StopGlobalObject").c16(300)}}});
  while (gGlobalObjectPool->FindFreeSlot() != kNoObject) gGlobalObjectPool->Add(1, 0, 0, 0, 0, 0, 0, 0);
  Check({{"createGlobalObject(100, 0, 0, 0, 0, 0, 0, 0)", "-1"}});  // a full pool

  // Local objects belong to one player, guarded on sixteen bits.
  Check({{"createLocalObject(0, 1500, 1, 2, 3, 4, 5, 6, 20), createLocalObject(0, 1501, 0, 0, 0, 0, 0, 0, 0)", "0,1",
          {Object(A("CreateLocalObject"), 1500, {1, 2, 3, 4, 5, 6}, 20), Object(A("CreateLocalObject"), 1501)}},
         {"getLocalObjectModel(0, 0), getLocalObjectModel(1, 0)", "1500,0"},
         {"do setLocalObjectPos(0, 1, 7, 8, 9) setLocalObjectRotation(0, 1, 10, 11, 12) setLocalObjectInterior(0, 1, 258) end", "",
          {A("SetLocalObjectPos").c16(1).f32(7).f32(8).f32(9), A("SetLocalObjectRotation").c16(1).f32(10).f32(11).f32(12),
           A("SetLocalObjectInterior").c16(1).c8(2)}},
         {"getLocalObjectInterior(0, 1), getLocalObjectPos(0, 1)", "2,7,8,9"}, {"getLocalObjectRotation(0, 1)", "10,11,12"},
         {"destroyLocalObject(0, 1), getLocalObjectModel(0, 1)", "nil,0", {A("DestroyLocalObject").c16(1)}},
         // Not connected; 256 (not read as 0); slot 100; a free slot.
         {"createLocalObject(77, 1, 0, 0, 0, 0, 0, 0, 0), createLocalObject(256, 1, 0, 0, 0, 0, 0, 0, 0)", "-1,-1"},
         {"do setLocalObjectPos(256, 0, 1, 1, 1) destroyLocalObject(256, 0) setLocalObjectInterior(0, 100, 1) end", ""},
         {"setLocalObjectRotation(0, 1, 1, 1, 1)", ""}, {"getLocalObjectModel(0, 0), getLocalObjectPos(0, 0)", "1500,1,2,3"},
         {"setLocalObjectPos(65536, 0, 3, 3, 3), getLocalObjectPos(0, 0)", "nil,3,3,3", {A("SetLocalObjectPos").c16(0).f32(3).f32(3).f32(3)}},
         // The getters check nothing and stay inside the pool.
         {"getLocalObjectModel(100, 0), getLocalObjectPos(-1, -1)", "0,0,0,0"}, {"getLocalObjectRotation(0, 100)", "0,0,0"}});
  // A player's 101st local object is refused; the other player is untouched.
  for (int i = 1; i < kLocalObjectsPerPlayer; ++i) gLocalObjectPool->Add(0, 9, 0, 0, 0, 0, 0, 0, 0);
  Check({{"createLocalObject(0, 1, 0, 0, 0, 0, 0, 0, 0), createLocalObject(1, 1, 0, 0, 0, 0, 0, 0, 0)", "-1,0",
          {Object(B("CreateLocalObject"), 1)}}});
  seam.Drop(1);  // a player's row is empty once they leave
  Check({{"getLocalObjectModel(1, 0)", "0", {support::Line("PlayerDisconnect", {0}, Want().c8(1).c8(1))}}});
}

TEST_F(WorldNatives, MarkersAndIcons) {
  const MarkerRecord* m = gMarkerPool->records;
  uint8_t* flags = GetPlayerPool()->localMarkers[0];
  // Checkpoints and coronas share the lowest free ids; the id keeps 8 bits; ids past the pool are free.
  Check({{"createGlobalCheckpoint(1, 2, 3, 4), createGlobalCorona(5, 6, 7, 300, -1, 255)", "0,1",
          {AB("CreateCheckpoint").f32(1).f32(2).f32(3).f32(4), AB("CreateCorona").f32(5).f32(6).f32(7).c8(44).c8(255).c8(255)}},
         {"getGlobalMarkerType(0), getGlobalMarkerType(257), getGlobalMarkerType(60)", "1,2,0"}});
  EXPECT_EQ(Values(m[0].radius, m[1].radius, m[1].red, m[1].green), "4,5.5,44,255");
  const MarkerRecord checkpoint = m[0], corona = m[1];
  // Changes need their own kind.
  Refused({""}, {"destroyGlobalCorona(0)", "setGlobalCoronaRGB(0, 1, 1, 1)", "setGlobalCoronaPos(0, 1, 1, 1)",
                 "destroyGlobalCheckpoint(1)", "setGlobalCheckpointRadius(1, 8)", "setGlobalCheckpointPos(1, 1, 1, 1)",
                 "setGlobalCheckpointRadius(50, 8)", "destroyGlobalCheckpoint(2)"});
  EXPECT_TRUE(Same(m[0], checkpoint) && Same(m[1], corona));
  Check({{"do setGlobalCheckpointRadius(256, 8) setGlobalCheckpointPos(0, 1, 2, 3) setGlobalCoronaRGB(1, 300, -1, 255) end", "",
          {AB("SetCheckpointRadius").c8(0).f32(8), AB("SetCheckpointPos").c8(0).f32(1).f32(2).f32(3),
           AB("SetCoronaRGB").c8(1).c8(44).c8(255).c8(255)}},
         {"setGlobalCoronaPos(1, 4, 5, 6)", "", {AB("SetCoronaPos").c8(1).f32(4).f32(5).f32(6)}}});
  EXPECT_EQ(Values(m[0].radius, m[0].z, m[1].x, m[1].red), "8,3,4,44");
  Check({{"destroyGlobalCheckpoint(0), getGlobalMarkerType(0), createGlobalCorona(0, 0, 0, 1, 2, 3)", "nil,0,0",
          {AB("DestroyCheckpoint").c8(0), AB("CreateCorona").f32(0).f32(0).f32(0).c8(1).c8(2).c8(3)}},
         {"destroyGlobalCorona(1), getGlobalMarkerType(1), createGlobalCheckpoint(0, 0, 0, 1)", "nil,0,1",
          {AB("DestroyCorona").c8(1), AB("CreateCheckpoint").f32(0).f32(0).f32(0).f32(1)}}});
  while (gMarkerPool->FindFreeSlot() >= 0) gMarkerPool->AddCheckpoint(0, 0, 0, 1);
  Check({{"createGlobalCorona(0, 0, 0, 1, 1, 1), createGlobalCheckpoint(0, 0, 0, 1)", "-1,-1"}});  // the 51st

  // Local markers keep only flags and go to their player; no kind is kept for
  // a local slot: either family's natives accept it; the freed slot is the next one given out.
  const auto checkpoint0 = []() -> Sent { return A("CreateLocalCheckpoint").f32(0).f32(0).f32(0).f32(1); };
  Check({{"createLocalCheckpoint(0, 1, 2, 3, 4), createLocalCorona(0, 5, 6, 7, 20, 1, 300)", "0,1",
          {A("CreateLocalCheckpoint").f32(1).f32(2).f32(3).f32(4), A("CreateLocalCorona").f32(5).f32(6).f32(7).c8(20).c8(1).c8(44)}}});
  EXPECT_EQ(Values(flags[0], flags[1], flags[2]), "1,1,0");
  Check({{"do setLocalCheckpointRadius(0, 1, 9) setLocalCheckpointPos(0, 1, 1, 2, 3) setLocalCoronaRGB(0, 0, 1, 2, 3) end", "",
          {A("SetLocalCheckpointRadius").c8(1).f32(9), A("SetLocalCheckpointPos").c8(1).f32(1).f32(2).f32(3),
           A("SetLocalCoronaRGB").c8(0).c8(1).c8(2).c8(3)}},
         {"do setLocalCoronaPos(0, 0, 4, 5, 6) destroyLocalCorona(0, 0) end", "",
          {A("SetLocalCoronaPos").c8(0).f32(4).f32(5).f32(6), A("DestroyLocalCorona").c8(0)}}});
  EXPECT_EQ(flags[0], 0);
  Check({{"createLocalCheckpoint(0, 0, 0, 0, 1)", "0", {checkpoint0()}},
         {"destroyLocalCheckpoint(0, 1)", "", {A("DestroyLocalCheckpoint").c8(1)}}});
  // Players not connected get no results; free slots, slot 25.
  Refused({""}, {"createLocalCorona(77, 0, 0, 0, 1, 1, 1)", "createLocalCheckpoint(100, 0, 0, 0, 1)", "destroyLocalCheckpoint(0, 1)",
                 "destroyLocalCheckpoint(0, 25)", "setLocalCoronaRGB(0, 255, 1, 1, 1)", "setLocalCheckpointRadius(1, 0, 3)"});
  EXPECT_EQ(Values(GetPlayerPool()->localMarkers[77][0], flags[0], flags[1]), "0,1,0");
  // Player ids keep their low 8 bits; a player with 25 markers gets -1.
  Check({{"createLocalCheckpoint(256, 0, 0, 0, 1)", "1", {checkpoint0()}}});
  std::memset(flags, 1, kLocalMarkersPerPlayer);
  Check({{"createLocalCorona(0, 0, 0, 0, 1, 1, 1), createLocalCheckpoint(0, 0, 0, 0, 1)", "-1,-1"}});
  // Whatever slot a newcomer gets, leftovers there must not count.
  seam.Drop(1);
  for (int p = 1; p < kMaxPlayers; ++p) std::memset(GetPlayerPool()->localMarkers[p], 1, kLocalMarkersPerPlayer);
  ASSERT_EQ(seam.Join("Charlie"), 1);
  Check({{"createLocalCheckpoint(1, 0, 0, 0, 1)", "0", {B("CreateLocalCheckpoint").f32(0).f32(0).f32(0).f32(1)}}});

  const IconRecord* r = gGlobalIconPool->records;
  const auto icon = [](int player, int slot) { return gLocalIconPool->Get(static_cast<uint16_t>(player), static_cast<uint16_t>(slot)); };
  const auto plain = [](Send&& to) -> Sent { return to.vec3(0, 0, 0).c8(1).c8(1).c8(0); };
  // The flag is kept as a bit, the byte is sent.
  Check({{"createGlobalIcon(30, 40, 0, 5, 2, 7), createGlobalIcon(0, 0, 0, 300, 17, 0)", "0,1",
          {AB("CreateGlobalIcon").vec3(30, 40, 0).c8(5).c8(2).c8(7), AB("CreateGlobalIcon").vec3(0, 0, 0).c8(44).c8(17).c8(0)}},
         {"createGlobalIcon()", "-1"}});
  EXPECT_TRUE(Same(r[0], {1, 1, 2, 5, 30, 40, 0, {255, 255, 255, 255}, 0}) && Same(r[1], {1, 0, 17, 44, 0, 0, 0, {255, 255, 255, 255}, 0}));
  Check({{"destroyGlobalIcon(1)", "", {AB("DestroyGlobalIcon").c16(1)}}});
  const IconRecord kept = r[0];
  Refused({""}, {"setGlobalIconColor(100, 1, 2, 3, 4)", "setGlobalIconColor(1, 1, 2, 3, 4)", "setGlobalIconSize(1, 9)",
                 "setGlobalIconPosition(-1, 1, 2, 3)", "toggleGlobalIconFlashing(1, 1)", "destroyGlobalIcon(1)"});
  EXPECT_TRUE(Same(r[0], kept) && r[1].used == 0);
  // Ids keep their low 16 bits, colours and sizes their low 8; flashing above 1 is 1, and 256 is 0.
  Check({{"do setGlobalIconColor(65536, 1, 2, 3, 300) setGlobalIconSize(0, 20) setGlobalIconPosition(0, 0, 0, -12.5) end", "",
          {AB("SetGlobalIconColor").c16(0).c8(1).c8(2).c8(3).c8(44), AB("SetGlobalIconSize").c16(0).c8(20),
           AB("SetGlobalIconPosition").c16(0).vec3(0, 0, -12.5f)}},
         {"do toggleGlobalIconFlashing(0, 256) toggleGlobalIconFlashing(0, 5) end", "",
          {AB("ToggleGlobalIconFlashing").c16(0).c8(0), AB("ToggleGlobalIconFlashing").c16(0).c8(1)}}});
  EXPECT_TRUE(Same(r[0], {1, 1, 20, 5, 0, 0, -12.5f, {1, 2, 3, 44}, 1}));
  // A full pool gives -1; a freed id comes back first.
  while (gGlobalIconPool->FindFreeSlot() >= 0) gGlobalIconPool->Add(0, 0, 0, 1, 1, 0);
  Check({{"createGlobalIcon(0, 0, 0, 1, 1, 0)", "-1"},
         {"destroyGlobalIcon(5), createGlobalIcon(0, 0, 0, 1, 1, 0)", "nil,5", {AB("DestroyGlobalIcon").c16(5), plain(AB("CreateGlobalIcon"))}}});

  // Local icons go to their player with the slot; only the record is tested.
  Check({{"createLocalIcon(0, 0, 50, 0, 3, 4, 2), createLocalIcon(0, 0, 0, 0, 1, 1, 0), createLocalIcon(1, 0, 0, 0, 1, 1, 0)", "0,1,0",
          {A("CreateLocalIcon").vec3(0, 50, 0).c8(3).c8(4).c8(2), plain(A("CreateLocalIcon")), plain(B("CreateLocalIcon"))}},
         {"do setLocalIconColor(0, 1, 10, 20, 30, 40) setLocalIconSize(0, 1, 6) setLocalIconPosition(0, 1, 1, 2, 3) end", "",
          {A("SetLocalIconColor").c16(1).c8(10).c8(20).c8(30).c8(40), A("SetLocalIconSize").c16(1).c8(6),
           A("SetLocalIconPosition").c16(1).vec3(1, 2, 3)}}});
  EXPECT_EQ(Values(icon(0, 0).optionFlag, icon(0, 1).optionFlag), "1,0");
  Check({{"do toggleLocalIconFlashing(0, 1, 9) destroyLocalIcon(0, 0) end", "",
          {A("ToggleLocalIconFlashing").c16(1).c8(1), A("DestroyLocalIcon").c16(0)}}});
  EXPECT_TRUE(Same(icon(0, 1), {1, 0, 6, 1, 1, 2, 3, {10, 20, 30, 40}, 1}));
  EXPECT_EQ(Values(icon(0, 0).used, icon(1, 0).used), "0,1");
  // A free slot, slot 25, players outside 0..99 (256 too).
  Refused({""}, {"destroyLocalIcon(0, 3)", "setLocalIconSize(0, 25, 1)", "destroyLocalIcon(32768, 0)"});
  Refused({"100, 0, 0, 0, 1, 1, 0", "-1, 0, 0, 0, 1, 1, 0", "256, 0, 0, 0, 1, 1, 0"}, {"createLocalIcon(#)"}, "-1");
  EXPECT_EQ(icon(0, 0).used, 0);
  // No player guard: a slot without a connection keeps records all the same.
  Check({{"createLocalIcon(65536, 0, 0, 0, 1, 1, 0)", "0", {plain(A("CreateLocalIcon"))}},
         {"createLocalIcon(77, 0, 0, 0, 8, 8, 0), setLocalIconSize(77, 0, 9)", "0"}});
  EXPECT_EQ(icon(77, 0).size, 9);
  while (gLocalIconPool->FindFreeSlot(0) >= 0) gLocalIconPool->Add(0, 0, 0, 0, 1, 1, 0);
  Check({{"createLocalIcon(0, 0, 0, 0, 1, 1, 0)", "-1"}});  // the 26th
}

TEST_F(WorldNatives, PickupsAndStaticActors) {
  const PickupRecord* p = gGlobalPickupPool->records;
  Check({{"createGlobalWeaponPickup(16, 2000000000, 1.5, -2.25, 3), createGlobalCashPickup(-1, 4, 5, 6)", "0,1",
          {AB("CreateGlobalWeaponPickup").c32(16).c32(2000000000).f32(1.5f).f32(-2.25f).f32(3),
           AB("CreateGlobalCashPickup").c32(4294967295u).f32(4).f32(5).f32(6)}},
         {"createGlobalGenericPickup(4000000000, 99, 7, 8, 9), createGlobalGenericPickup(1240, 300, 0, 0, 0)", "2,3",
          {AB("CreateGlobalGenericPickup").c32(4000000000u).c8(99).f32(7).f32(8).f32(9),
           AB("CreateGlobalGenericPickup").c32(1240).c8(44).f32(0).f32(0).f32(0)}},
         // Ids are bytes (256 is 0); ids past the pool read as free.
         {"getGlobalPickupType(0), getGlobalPickupType(1), getGlobalPickupType(2), getGlobalPickupType(256)", "2,3,1,2"},
         {"getGlobalPickupType(4), getGlobalPickupType(100), getGlobalPickupType(255)", "0,0,0"}});
  // Weapon 16 is no pickup weapon; amounts up to 10^9; generic types up to 50.
  EXPECT_TRUE(Same(p[0], {kPickupWeapon, 3, 0, 1000000000, 1.5f, -2.25f, 3}) && Same(p[1], {kPickupCash, 0, 0, 1000000000, 4, 5, 6}));
  EXPECT_TRUE(Same(p[2], {kPickupGeneric, 50, 4000000000u, 0, 7, 8, 9}) && Same(p[3], {kPickupGeneric, 44, 1240, 0, 0, 0, 0}));
  // A full pool gives -1 and sends nothing; only a used pickup is destroyed.
  while (gGlobalPickupPool->FindFreeSlot() >= 0) gGlobalPickupPool->AddCashPickup(1, 0, 0, 0);
  Check({{"createGlobalCashPickup(1, 0, 0, 0), createGlobalWeaponPickup(22, 1, 0, 0, 0), createGlobalGenericPickup(1240, 1, 0, 0, 0)",
          "-1,-1,-1"},
         {"do destroyGlobalPickup(42) destroyGlobalPickup(42) destroyGlobalPickup(142) destroyGlobalPickup(298) end", "",
          {AB("DestroyGlobalPickup").c8(42)}},
         {"getGlobalPickupType(42), createGlobalGenericPickup(1240, 1, 0, 0, 0)", "0,42",
          {AB("CreateGlobalGenericPickup").c32(1240).c8(1).f32(0).f32(0).f32(0)}}});

  // Local pickups belong to one player and reach only him.
  Check({{"createLocalWeaponPickup(0, 30, -1, 1, 2, 3), createLocalCashPickup(256, 2000000000, 4, 5, 6)", "0,1",
          {A("CreateLocalWeaponPickup").c32(30).c32(4294967295u).f32(1).f32(2).f32(3),
           A("CreateLocalCashPickup").c32(2000000000).f32(4).f32(5).f32(6)}},
         {"createLocalGenericPickup(0, 1240, 99, 7, 8, 9)", "2", {A("CreateLocalGenericPickup").c32(1240).c8(99).f32(7).f32(8).f32(9)}},
         {"getLocalPickupType(0, 0), getLocalPickupType(0, 1), getLocalPickupType(0, 2), getLocalPickupType(0, 25)", "2,3,1,0"},
         {"getLocalPickupType(1, 0)", "0"}});
  const PickupRecord* local = &gLocalPickupPool->Get(0, 0);
  EXPECT_TRUE(Same(local[0], {kPickupWeapon, 3, 0, 1000000000, 1, 2, 3}) && Same(local[1], {kPickupCash, 0, 0, 1000000000, 4, 5, 6}));
  EXPECT_TRUE(Same(local[2], {kPickupGeneric, 50, 1240, 0, 7, 8, 9}));
  // A full player gets -1 while the other still has room; destroying tells the
  // player whatever the slot held; only a used slot changes.
  while (gLocalPickupPool->FindFreeSlot(0) >= 0) gLocalPickupPool->AddCashPickup(0, 1, 0, 0, 0);
  Check({{"createLocalCashPickup(0, 1, 0, 0, 0), createLocalWeaponPickup(0, 22, 1, 0, 0, 0), createLocalGenericPickup(0, 1240, 1, 0, 0, 0)",
          "-1,-1,-1"},
         {"createLocalCashPickup(1, 1, 0, 0, 0)", "0", {B("CreateLocalCashPickup").c32(1).f32(0).f32(0).f32(0)}},
         {"do destroyLocalPickup(0, 30) destroyLocalPickup(0, 1) end", "", {A("DestroyLocalPickup").c8(30), A("DestroyLocalPickup").c8(1)}},
         {"getLocalPickupType(0, 1), createLocalCashPickup(0, 1, 0, 0, 0)", "0,1", {A("CreateLocalCashPickup").c32(1).f32(0).f32(0).f32(0)}}});
  // The player guard refuses slots not in use.
  Refused({"7", "100", "255", "-1"}, {"createLocalCashPickup(#, 1, 0, 0, 0)", "createLocalWeaponPickup(#, 22, 1, 0, 0, 0)",
                                      "createLocalGenericPickup(#, 1240, 1, 0, 0, 0)", "destroyLocalPickup(#, 0)"});
  Refused({"7", "100", "255", "-1"}, {"getLocalPickupType(#, 0)"}, "0");
  for (int slot = 0; slot < kLocalPickupsPerPlayer; ++slot) EXPECT_EQ(gLocalPickupPool->Get(7, slot).kind, kPickupFree);

  StaticActorRecord* r = gStaticActorPool->records;
  // Creation sends the stored record; 0 is true for the blip; skin 300 is
  // byte 44; skin 0 leaves the record free.
  Check({{"createStaticActor(50, 1.5, -2.5, 3.25, 90, 0), createStaticActor(51, 0, 0, 0, 0, nil)", "0,1",
          {Actor({50, 1.5f, -2.5f, 3.25f, 90, 0, 1, ""}), Actor({51, 0, 0, 0, 0, 0, 0, ""})}},
         {"createStaticActor(300, 0, 0, 0, 0, false), createStaticActor(0, 7, 8, 9, 10, true)", "2,3",
          {Actor({44, 0, 0, 0, 0, 0, 0, ""}), Actor({0, 7, 8, 9, 10, 0, 1, ""})}},
         {"createStaticActor(256, 7, 8, 9, 10, true), getStaticActorSkin(3)", "3,0", {Actor({0, 7, 8, 9, 10, 0, 1, ""})}}});
  EXPECT_TRUE(Same(r[2], {44, 0, 0, 0, 0, 0, 0, ""}));
  const std::string n39(39, 'n');
  const auto animation = [](uint8_t v) -> Sent { return AB("SetStaticActorAnimation").c16(1).c8(v); };
  // Animations above 35 and 28 become 0; the id keeps 16 bits; names up to 39
  // characters, ending at their first zero; each coordinate within 10000, not NaN nor infinite.
  Check({{"do for _, v in ipairs{28, 35, 36, 268} do setStaticActorAnimation(65537, v) end end", "",
          {animation(0), animation(35), animation(0), animation(12)}}, {"getStaticActorAnimation(1)", "12"},
         {"do setStaticActorName(1, '" + n39 + "') setStaticActorName(1, '" + n39 + "x') setStaticActorName(1, nil) end", "",
          {AB("SetStaticActorName").c16(1).c8(39).chars(n39.data(), 39)}},
         {"getStaticActorName(1), getStaticActorName(0)", "'" + n39 + "',''"},
         {"do setStaticActorPos(1, 10000, -10000, 0) setStaticActorPos(1, 10000.5, 0, 0) setStaticActorPos(1, 0, -10000.5, 0) end", "",
          {AB("SetStaticActorPos").c16(1).f32(10000).f32(-10000).f32(0)}},
         {"do setStaticActorPos(1, 0, 0, 0/0) setStaticActorPos(1, 0, 0, math.huge) end", ""}, {"getStaticActorPos(1)", "10000,-10000,0"},
         {"do setStaticActorAngle(1, 270.5) toggleStaticActorBlip(1, 300) setStaticActorSkin(1, 172) end", "",
          {AB("SetStaticActorAngle").c16(1).f32(270.5f), AB("ToggleStaticActorBlip").c16(1).c8(44), AB("SetStaticActorSkin").c16(1).c8(172)}},
         {"getStaticActorAngle(1), getStaticActorSkin(1)", "270.5,172"},
         {"do setStaticActorName(0, 'Guard') setStaticActorName(0, '') end", "",
          {AB("SetStaticActorName").c16(0).c8(5).chars("Guard", 5), AB("SetStaticActorName").c16(0).c8(0)}},
         {"getStaticActorName(0), setStaticActorName(0, 'ab\\0' .. string.rep('z', 60)), getStaticActorName(0)", "'',nil,'ab'",
          {AB("SetStaticActorName").c16(0).c8(2).chars("ab", 2)}}});
  EXPECT_TRUE(r[1].blip == 44 && std::memcmp(r[0].name, "ab\0\0\0\0", 6) == 0);  // no tail of "Guard"
  // The skin rule can free the record, the other fields stay; free ids are refused.
  Check({{"do setStaticActorSkin(0, 8) setStaticActorSkin(1, 173) end", "",
          {AB("SetStaticActorSkin").c16(0).c8(0), AB("SetStaticActorSkin").c16(1).c8(0)}}});
  EXPECT_EQ(Values(r[0].skin, r[1].skin, r[0].x), "0,0,1.5");
  const std::vector<std::string> ids = {"0", "1", "100", "65535", "-1"};
  Refused(ids, {"getStaticActorSkin(#), getStaticActorAnimation(#), getStaticActorAngle(#), getStaticActorName(#), getStaticActorPos(#)"},
          "0,0,0,nil,0,0,0");
  Refused(ids, {"do setStaticActorAngle(#, 5) setStaticActorSkin(#, 50) setStaticActorAnimation(#, 5) end",
                "do setStaticActorName(#, 'x') setStaticActorPos(#, 1, 1, 1) toggleStaticActorBlip(#, 1) end", "destroyStaticActor(#)"});
  // A freed id is taken again
  // with the old name gone; destroy zeroes it.
  Check({{"createStaticActor(70, 0, 0, 0, 0, 1), getStaticActorName(0)", "0,''", {Actor({70, 0, 0, 0, 0, 0, 1, ""})}},
         {"do destroyStaticActor(0) destroyStaticActor(0) end", "", {AB("DestroyStaticActor").c16(0)}}});
  EXPECT_TRUE(Same(r[0], StaticActorRecord{}));
  for (int i = 0; i < kMaxStaticActors; ++i) gStaticActorPool->Add(7, 0, 0, 0, 0, 0);
  Check({{"createStaticActor(7, 0, 0, 0, 0, 1)", "-1"}});  // a full pool
}

}  // namespace
