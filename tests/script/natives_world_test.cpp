// The world natives: objects, markers, icons, pickups and static actors. Ids
// and the lowest free slot, the payloads, the records they keep (after the
// pool's rules, while the calls carry the script's own values), the guards.
#include <cstring>
#include <string>
#include <utility>

#include "core/actorpool.h"
#include "core/iconpool.h"
#include "core/markerpool.h"
#include "core/objectpool.h"
#include "core/pickuppool.h"
#include "core/playerpool.h"
#include "core/world.h"
#include "script/native_test_support.h"
#include "script/script_host.h"

namespace {

using namespace nativetest;
using WorldNatives = Natives;

Sent Actor(StaticActorRecord r) { return AB("CreateStaticActor").bytes(&r, sizeof r); }

// An object's creation: model, position and rotation, interior.
Sent Object(Send&& r, uint32_t model, std::initializer_list<float> place = {0, 0, 0, 0, 0, 0},
            uint8_t interior = 0) {
  r.c32(model);
  for (float v : place) r.f32(v);
  return r.c8(interior);
}

Sent Created(uint32_t model) { return Object(AB("CreateGlobalObject"), model); }

TEST_F(WorldNatives, GlobalObjects) {
  // The freed index comes first again; models keep all 32 unsigned bits; model
  // 0 is announced, but the record stays free and the index is reused.
  // clang-format off
  Check({{"createGlobalObject(1337, 1.5, -2, 3, 90, 0.25, 180, 259)", "0",
          {Object(AB("CreateGlobalObject"), 1337, {1.5f, -2, 3, 90, 0.25f, 180}, 3)}},
         {"createGlobalObject(2000, 0, 0, 0, 0, 0, 0, 0)", "1", {Created(2000)}},
         {"getGlobalObjectModel(0)", "1337"},
         {"getGlobalObjectInterior(0)", "3"},
         {"getGlobalObjectPos(0)", "1.5,-2,3"},
         {"getGlobalObjectRotation(0)", "90,0.25,180"},
         {"destroyGlobalObject(0)", "", {AB("DestroyGlobalObject").c16(0)}},
         {"createGlobalObject(4294967295, 0, 0, 0, 0, 0, 0, 0)", "0", {Created(4294967295u)}},
         {"getGlobalObjectModel(0)", "4294967295"},
         {"createGlobalObject(0, 7, 7, 7, 0, 0, 0, 0)", "2",
          {Object(AB("CreateGlobalObject"), 0, {7, 7, 7, 0, 0, 0})}},
         {"getGlobalObjectModel(2)", "0"},
         {"createGlobalObject(5, 0, 0, 0, 0, 0, 0, 0)", "2", {Created(5)}},
         {"destroyGlobalObject(2)", "", {AB("DestroyGlobalObject").c16(2)}},
         // Only used ids; ids keep their low 16 bits, the interior its low 8.
         {"setGlobalObjectPos(1000, 1, 2, 3)", ""},
         {"setGlobalObjectPos(2, 1, 2, 3)", ""},
         {"setGlobalObjectRotation(2, 1, 2, 3)", ""},
         {"setGlobalObjectInterior(-1, 4)", ""},
         {"moveGlobalObject(2, 1, 2, 3, 4)", ""},
         {"moveGlobalObjectAngles(1000, 1, 2, 3, 4)", ""},
         {"destroyGlobalObject(2)", ""},
         {"moveGlobalObjectAngles(300, 1, 2, 3, 0.5)", ""},
         {"getGlobalObjectModel(2)", "0"},
         {"getGlobalObjectPos(0)", "0,0,0"},
         {"setGlobalObjectPos(65536, 4, 5, 6)", "",
          {AB("SetGlobalObjectPos").c16(0).f32(4).f32(5).f32(6)}},
         {"setGlobalObjectRotation(0, 7, 8, 9)", "",
          {AB("SetGlobalObjectRotation").c16(0).f32(7).f32(8).f32(9)}},
         {"setGlobalObjectInterior(0, 260)", "", {AB("SetGlobalObjectInterior").c16(0).c8(4)}},
         {"getGlobalObjectInterior(0)", "4"},
         {"getGlobalObjectPos(0)", "4,5,6"},
         {"getGlobalObjectRotation(0)", "7,8,9"},
         // The getters check nothing and stay inside the pool.
         {"getGlobalObjectModel(-1)", "0"},
         {"getGlobalObjectInterior(40000)", "0"},
         {"getGlobalObjectPos(999)", "0,0,0"},
         {"getGlobalObjectRotation(1000)", "0,0,0"},
         // Moves store the target at once; stop checks nothing.
         {"createGlobalObject(22, 0, 0, 0, 0, 0, 0, 0)", "2", {Created(22)}},
         {"createGlobalObject(23, 0, 0, 0, 0, 0, 0, 0)", "3", {Created(23)}},
         {"createGlobalObject(24, 0, 0, 0, 0, 0, 0, 0)", "4", {Created(24)}},
         {"createGlobalObject(25, 0, 0, 0, 0, 0, 0, 0)", "5", {Created(25)}},
         {"moveGlobalObject(5, 10, 20, 30, 2)", "",
          {AB("MoveGlobalObject").c16(5).f32(10).f32(20).f32(30).f32(2)}},
         {"moveGlobalObjectAngles(4, 45, 90, 135, 0.5)", "",
          {AB("MoveGlobalObjectAngles").c16(4).f32(45).f32(90).f32(135).f32(0.5f)}},
         {"getGlobalObjectPos(5)", "10,20,30"},
         {"getGlobalObjectRotation(4)", "45,90,135"},
         {"stopGlobalObject(5)", "", {AB("StopGlobalObject").c16(5)}},
         {"stopGlobalObject(300)", "", {AB("StopGlobalObject").c16(300)}}});
  // clang-format on
  while (gGlobalObjectPool->FindFreeSlot() != kNoObject) {
    gGlobalObjectPool->Add(1, 0, 0, 0, 0, 0, 0, 0);
  }
  Check({{"createGlobalObject(100, 0, 0, 0, 0, 0, 0, 0)", "-1"}});  // a full pool
}

// Local objects belong to one player, guarded on sixteen bits.
TEST_F(WorldNatives, LocalObjects) {
  // clang-format off
  Check({{"createLocalObject(0, 1500, 1, 2, 3, 4, 5, 6, 20)", "0",
          {Object(A("CreateLocalObject"), 1500, {1, 2, 3, 4, 5, 6}, 20)}},
         {"createLocalObject(0, 1501, 0, 0, 0, 0, 0, 0, 0)", "1",
          {Object(A("CreateLocalObject"), 1501)}},
         {"getLocalObjectModel(0, 0)", "1500"},
         {"getLocalObjectModel(1, 0)", "0"},
         {"setLocalObjectPos(0, 1, 7, 8, 9)", "",
          {A("SetLocalObjectPos").c16(1).f32(7).f32(8).f32(9)}},
         {"setLocalObjectRotation(0, 1, 10, 11, 12)", "",
          {A("SetLocalObjectRotation").c16(1).f32(10).f32(11).f32(12)}},
         {"setLocalObjectInterior(0, 1, 258)", "", {A("SetLocalObjectInterior").c16(1).c8(2)}},
         {"getLocalObjectInterior(0, 1)", "2"},
         {"getLocalObjectPos(0, 1)", "7,8,9"},
         {"getLocalObjectRotation(0, 1)", "10,11,12"},
         {"destroyLocalObject(0, 1)", "", {A("DestroyLocalObject").c16(1)}},
         {"getLocalObjectModel(0, 1)", "0"},
         // Not connected; 256 (not read as 0).
         {"createLocalObject(77, 1, 0, 0, 0, 0, 0, 0, 0)", "-1"},
         {"createLocalObject(256, 1, 0, 0, 0, 0, 0, 0, 0)", "-1"}});
  // clang-format on
  // Not connected; 256 (not read as 0); slot 100; a free slot.
  Refused({"77, 0", "256, 0", "0, 100", "0, 1"},
          {"destroyLocalObject(#)", "setLocalObjectPos(#, 1, 1, 1)",
           "setLocalObjectRotation(#, 1, 1, 1)", "setLocalObjectInterior(#, 1)"});
  // clang-format off
  Check({{"getLocalObjectModel(0, 0)", "1500"},
         {"getLocalObjectPos(0, 0)", "1,2,3"},
         {"setLocalObjectPos(65536, 0, 3, 3, 3)", "",
          {A("SetLocalObjectPos").c16(0).f32(3).f32(3).f32(3)}},
         {"getLocalObjectPos(0, 0)", "3,3,3"},
         // The getters check nothing and stay inside the pool.
         {"getLocalObjectModel(100, 0)", "0"},
         {"getLocalObjectPos(-1, -1)", "0,0,0"},
         {"getLocalObjectRotation(0, 100)", "0,0,0"}});
  // clang-format on
  // A player's 101st local object is refused; the other player is untouched.
  for (int i = 1; i < 100; ++i) {
    gLocalObjectPool->Add(0, 9, 0, 0, 0, 0, 0, 0, 0);
  }
  Check(
      {{"createLocalObject(0, 1, 0, 0, 0, 0, 0, 0, 0)", "-1"},
       {"createLocalObject(1, 1, 0, 0, 0, 0, 0, 0, 0)", "0", {Object(B("CreateLocalObject"), 1)}}});
  seam.Drop(1);  // a player's row is empty once they leave
  EXPECT_EQ(seam.Take(), support::Line("PlayerDisconnect", {0}, Want().c8(1).c8(1)));
  Check({{"getLocalObjectModel(1, 0)", "0"}});
}

TEST_F(WorldNatives, GlobalMarkers) {
  const MarkerRecord* m = gMarkerPool->records;
  // Checkpoints and coronas share the lowest free ids; the id keeps 8 bits;
  // ids past the pool are free.
  // clang-format off
  Check({{"createGlobalCheckpoint(1, 2, 3, 4)", "0",
          {AB("CreateCheckpoint").f32(1).f32(2).f32(3).f32(4)}},
         {"createGlobalCorona(5, 6, 7, 300, -1, 255)", "1",
          {AB("CreateCorona").f32(5).f32(6).f32(7).c8(44).c8(255).c8(255)}},
         {"getGlobalMarkerType(0)", "1"},
         {"getGlobalMarkerType(257)", "2"},
         {"getGlobalMarkerType(60)", "0"}});
  // clang-format on
  EXPECT_EQ(Field(m[0].radius), 4);
  EXPECT_EQ(Field(m[1].radius), 5.5f);
  EXPECT_EQ(m[1].red, 44);
  EXPECT_EQ(m[1].green, 255);
  const MarkerRecord checkpoint = m[0];
  const MarkerRecord corona = m[1];
  // Changes need their own kind.
  Refused({""}, {"destroyGlobalCorona(0)", "setGlobalCoronaRGB(0, 1, 1, 1)",
                 "setGlobalCoronaPos(0, 1, 1, 1)", "destroyGlobalCheckpoint(1)",
                 "setGlobalCheckpointRadius(1, 8)", "setGlobalCheckpointPos(1, 1, 1, 1)",
                 "setGlobalCheckpointRadius(50, 8)", "destroyGlobalCheckpoint(2)"});
  EXPECT_EQ(Hex(m[0]), Hex(checkpoint));
  EXPECT_EQ(Hex(m[1]), Hex(corona));
  // clang-format off
  Check({{"setGlobalCheckpointRadius(256, 8)", "", {AB("SetCheckpointRadius").c8(0).f32(8)}},
         {"setGlobalCheckpointPos(0, 1, 2, 3)", "",
          {AB("SetCheckpointPos").c8(0).f32(1).f32(2).f32(3)}},
         {"setGlobalCoronaRGB(1, 300, -1, 255)", "",
          {AB("SetCoronaRGB").c8(1).c8(44).c8(255).c8(255)}},
         {"setGlobalCoronaPos(1, 4, 5, 6)", "", {AB("SetCoronaPos").c8(1).f32(4).f32(5).f32(6)}}});
  // clang-format on
  EXPECT_EQ(Field(m[0].radius), 8);
  EXPECT_EQ(Field(m[0].z), 3);
  EXPECT_EQ(Field(m[1].x), 4);
  EXPECT_EQ(m[1].red, 44);
  // clang-format off
  Check({{"destroyGlobalCheckpoint(0)", "", {AB("DestroyCheckpoint").c8(0)}},
         {"getGlobalMarkerType(0)", "0"},
         {"createGlobalCorona(0, 0, 0, 1, 2, 3)", "0",
          {AB("CreateCorona").f32(0).f32(0).f32(0).c8(1).c8(2).c8(3)}},
         {"destroyGlobalCorona(1)", "", {AB("DestroyCorona").c8(1)}},
         {"getGlobalMarkerType(1)", "0"},
         {"createGlobalCheckpoint(0, 0, 0, 1)", "1",
          {AB("CreateCheckpoint").f32(0).f32(0).f32(0).f32(1)}}});
  // clang-format on
  while (gMarkerPool->FindFreeSlot() >= 0) gMarkerPool->AddCheckpoint(0, 0, 0, 1);
  // The 51st.
  Check({{"createGlobalCorona(0, 0, 0, 1, 1, 1)", "-1"},
         {"createGlobalCheckpoint(0, 0, 0, 1)", "-1"}});
}

// Local markers keep only flags and go to their player; no kind is kept for a
// local slot: either family's natives accept it; the freed slot is the next
// one given out.
TEST_F(WorldNatives, LocalMarkers) {
  uint8_t* flags = GetPlayerPool()->localMarkers[0];
  const Sent checkpoint0 = A("CreateLocalCheckpoint").f32(0).f32(0).f32(0).f32(1);
  // clang-format off
  Check({{"createLocalCheckpoint(0, 1, 2, 3, 4)", "0",
          {A("CreateLocalCheckpoint").f32(1).f32(2).f32(3).f32(4)}},
         {"createLocalCorona(0, 5, 6, 7, 20, 1, 300)", "1",
          {A("CreateLocalCorona").f32(5).f32(6).f32(7).c8(20).c8(1).c8(44)}}});
  // clang-format on
  EXPECT_EQ(flags[0], 1);
  EXPECT_EQ(flags[1], 1);
  EXPECT_EQ(flags[2], 0);
  // clang-format off
  Check({{"setLocalCheckpointRadius(0, 1, 9)", "", {A("SetLocalCheckpointRadius").c8(1).f32(9)}},
         {"setLocalCheckpointPos(0, 1, 1, 2, 3)", "",
          {A("SetLocalCheckpointPos").c8(1).f32(1).f32(2).f32(3)}},
         {"setLocalCoronaRGB(0, 0, 1, 2, 3)", "", {A("SetLocalCoronaRGB").c8(0).c8(1).c8(2).c8(3)}},
         {"setLocalCoronaPos(0, 0, 4, 5, 6)", "",
          {A("SetLocalCoronaPos").c8(0).f32(4).f32(5).f32(6)}},
         {"destroyLocalCorona(0, 0)", "", {A("DestroyLocalCorona").c8(0)}}});
  // clang-format on
  EXPECT_EQ(flags[0], 0);
  Check({{"createLocalCheckpoint(0, 0, 0, 0, 1)", "0", {checkpoint0}},
         {"destroyLocalCheckpoint(0, 1)", "", {A("DestroyLocalCheckpoint").c8(1)}}});
  // Players not connected get no results.
  Refused({""},
          {"createLocalCorona(77, 0, 0, 0, 1, 1, 1)", "createLocalCheckpoint(100, 0, 0, 0, 1)"});
  // A free slot, slots 25 and 255, a player without markers, a player not
  // connected.
  Refused({"0, 1", "0, 25", "0, 255", "1, 0", "77, 0"},
          {"destroyLocalCheckpoint(#)", "setLocalCheckpointRadius(#, 3)",
           "setLocalCheckpointPos(#, 1, 1, 1)", "destroyLocalCorona(#)",
           "setLocalCoronaRGB(#, 1, 1, 1)", "setLocalCoronaPos(#, 1, 1, 1)"});
  EXPECT_EQ(GetPlayerPool()->localMarkers[77][0], 0);
  EXPECT_EQ(flags[0], 1);
  EXPECT_EQ(flags[1], 0);
  // Player ids keep their low 8 bits; a corona's natives take a checkpoint's slot;
  // a player with 25 markers gets -1.
  Check({{"createLocalCheckpoint(256, 0, 0, 0, 1)", "1", {checkpoint0}},
         {"destroyLocalCorona(0, 1)", "", {A("DestroyLocalCorona").c8(1)}}});
  EXPECT_EQ(flags[1], 0);
  std::memset(flags, 1, 25);
  Check({{"createLocalCorona(0, 0, 0, 0, 1, 1, 1)", "-1"},
         {"createLocalCheckpoint(0, 0, 0, 0, 1)", "-1"}});
  // Whatever slot a newcomer gets, leftovers there must not count.
  seam.Drop(1);
  for (int p = 1; p < 100; ++p) {
    std::memset(GetPlayerPool()->localMarkers[p], 1, 25);
  }
  ASSERT_EQ(seam.Join("Charlie"), 1);
  Check({{"createLocalCheckpoint(1, 0, 0, 0, 1)",
          "0",
          {B("CreateLocalCheckpoint").f32(0).f32(0).f32(0).f32(1)}}});
}

TEST_F(WorldNatives, GlobalIcons) {
  const IconRecord* r = gGlobalIconPool->records;
  const Sent plain = AB("CreateGlobalIcon").vec3(0, 0, 0).c8(1).c8(1).c8(0);
  // The flag is kept as a bit, the byte is sent.
  // clang-format off
  Check({{"createGlobalIcon(30, 40, 0, 5, 2, 7)", "0",
          {AB("CreateGlobalIcon").vec3(30, 40, 0).c8(5).c8(2).c8(7)}},
         {"createGlobalIcon(0, 0, 0, 300, 17, 0)", "1",
          {AB("CreateGlobalIcon").vec3(0, 0, 0).c8(44).c8(17).c8(0)}},
         {"createGlobalIcon()", "-1"}});
  // clang-format on
  EXPECT_EQ(Hex(r[0]), Hex(IconRecord{1, 1, 2, 5, 30, 40, 0, {255, 255, 255, 255}, 0}));
  EXPECT_EQ(Hex(r[1]), Hex(IconRecord{1, 0, 17, 44, 0, 0, 0, {255, 255, 255, 255}, 0}));
  Check({{"destroyGlobalIcon(1)", "", {AB("DestroyGlobalIcon").c16(1)}}});
  const IconRecord kept = r[0];
  Refused({""}, {"setGlobalIconColor(100, 1, 2, 3, 4)", "setGlobalIconColor(1, 1, 2, 3, 4)",
                 "setGlobalIconSize(1, 9)", "setGlobalIconPosition(-1, 1, 2, 3)",
                 "toggleGlobalIconFlashing(1, 1)", "destroyGlobalIcon(1)"});
  EXPECT_EQ(Hex(r[0]), Hex(kept));
  EXPECT_EQ(r[1].used, 0);
  // Ids keep their low 16 bits, colours and sizes their low 8; flashing above
  // 1 is 1, and 256 is 0.
  // clang-format off
  Check({{"setGlobalIconColor(65536, 1, 2, 3, 300)", "",
          {AB("SetGlobalIconColor").c16(0).c8(1).c8(2).c8(3).c8(44)}},
         {"setGlobalIconSize(0, 20)", "", {AB("SetGlobalIconSize").c16(0).c8(20)}},
         {"setGlobalIconPosition(0, 0, 0, -12.5)", "",
          {AB("SetGlobalIconPosition").c16(0).vec3(0, 0, -12.5f)}},
         {"toggleGlobalIconFlashing(0, 256)", "", {AB("ToggleGlobalIconFlashing").c16(0).c8(0)}},
         {"toggleGlobalIconFlashing(0, 5)", "", {AB("ToggleGlobalIconFlashing").c16(0).c8(1)}}});
  // clang-format on
  EXPECT_EQ(Hex(r[0]), Hex(IconRecord{1, 1, 20, 5, 0, 0, -12.5f, {1, 2, 3, 44}, 1}));
  // A full pool gives -1; a freed id comes back first.
  while (gGlobalIconPool->FindFreeSlot() >= 0) gGlobalIconPool->Add(0, 0, 0, 1, 1, 0);
  Check({{"createGlobalIcon(0, 0, 0, 1, 1, 0)", "-1"},
         {"destroyGlobalIcon(5)", "", {AB("DestroyGlobalIcon").c16(5)}},
         {"createGlobalIcon(0, 0, 0, 1, 1, 0)", "5", {plain}}});
}

// Local icons go to their player with the slot; only the record is tested.
TEST_F(WorldNatives, LocalIcons) {
  const auto icon = [](int player, int slot) {
    return gLocalIconPool->Get(static_cast<uint16_t>(player), static_cast<uint16_t>(slot));
  };
  const auto plain = [](Send&& to) -> Sent { return to.vec3(0, 0, 0).c8(1).c8(1).c8(0); };
  // clang-format off
  Check({{"createLocalIcon(0, 0, 50, 0, 3, 4, 2)", "0",
          {A("CreateLocalIcon").vec3(0, 50, 0).c8(3).c8(4).c8(2)}},
         {"createLocalIcon(0, 0, 0, 0, 1, 1, 0)", "1", {plain(A("CreateLocalIcon"))}},
         {"createLocalIcon(1, 0, 0, 0, 1, 1, 0)", "0", {plain(B("CreateLocalIcon"))}},
         {"setLocalIconColor(0, 1, 10, 20, 30, 40)", "",
          {A("SetLocalIconColor").c16(1).c8(10).c8(20).c8(30).c8(40)}},
         {"setLocalIconSize(0, 1, 6)", "", {A("SetLocalIconSize").c16(1).c8(6)}},
         {"setLocalIconPosition(0, 1, 1, 2, 3)", "",
          {A("SetLocalIconPosition").c16(1).vec3(1, 2, 3)}}});
  // clang-format on
  EXPECT_EQ(icon(0, 0).optionFlag, 1);
  EXPECT_EQ(icon(0, 1).optionFlag, 0);
  Check({{"toggleLocalIconFlashing(0, 1, 9)", "", {A("ToggleLocalIconFlashing").c16(1).c8(1)}},
         {"destroyLocalIcon(0, 0)", "", {A("DestroyLocalIcon").c16(0)}}});
  EXPECT_EQ(Hex(icon(0, 1)), Hex(IconRecord{1, 0, 6, 1, 1, 2, 3, {10, 20, 30, 40}, 1}));
  EXPECT_EQ(icon(0, 0).used, 0);
  EXPECT_EQ(icon(1, 0).used, 1);
  // A free slot, slot 25, players outside 0..99 (256 too).
  Refused({"0, 3", "0, 25", "32768, 0"},
          {"destroyLocalIcon(#)", "setLocalIconColor(#, 1, 2, 3, 4)", "setLocalIconSize(#, 1)",
           "setLocalIconPosition(#, 1, 2, 3)", "toggleLocalIconFlashing(#, 1)"});
  Refused({"100, 0, 0, 0, 1, 1, 0", "-1, 0, 0, 0, 1, 1, 0", "256, 0, 0, 0, 1, 1, 0"},
          {"createLocalIcon(#)"}, "-1");
  EXPECT_EQ(icon(0, 0).used, 0);
  // No player guard: a slot without a connection keeps records all the same.
  Check({{"createLocalIcon(65536, 0, 0, 0, 1, 1, 0)", "0", {plain(A("CreateLocalIcon"))}},
         {"createLocalIcon(77, 0, 0, 0, 8, 8, 0)", "0"},
         {"setLocalIconSize(77, 0, 9)", ""}});
  EXPECT_EQ(icon(77, 0).size, 9);
  while (gLocalIconPool->FindFreeSlot(0) >= 0) gLocalIconPool->Add(0, 0, 0, 0, 1, 1, 0);
  Check({{"createLocalIcon(0, 0, 0, 0, 1, 1, 0)", "-1"}});  // the 26th
}

TEST_F(WorldNatives, GlobalPickups) {
  const PickupRecord* p = gGlobalPickupPool->records;
  // clang-format off
  Check({{"createGlobalWeaponPickup(16, 2000000000, 1.5, -2.25, 3)", "0",
          {AB("CreateGlobalWeaponPickup").c32(16).c32(2000000000).f32(1.5f).f32(-2.25f).f32(3)}},
         {"createGlobalCashPickup(-1, 4, 5, 6)", "1",
          {AB("CreateGlobalCashPickup").c32(4294967295u).f32(4).f32(5).f32(6)}},
         {"createGlobalGenericPickup(4000000000, 99, 7, 8, 9)", "2",
          {AB("CreateGlobalGenericPickup").c32(4000000000u).c8(99).f32(7).f32(8).f32(9)}},
         {"createGlobalGenericPickup(1240, 300, 0, 0, 0)", "3",
          {AB("CreateGlobalGenericPickup").c32(1240).c8(44).f32(0).f32(0).f32(0)}},
         // Ids are bytes (256 is 0); ids past the pool read as free.
         {"getGlobalPickupType(0)", "2"},
         {"getGlobalPickupType(1)", "3"},
         {"getGlobalPickupType(2)", "1"},
         {"getGlobalPickupType(256)", "2"},
         {"getGlobalPickupType(4)", "0"},
         {"getGlobalPickupType(100)", "0"},
         {"getGlobalPickupType(255)", "0"}});
  // clang-format on
  // Weapon 16 is no pickup weapon; amounts up to 10^9; generic types up to 50.
  EXPECT_EQ(Hex(p[0]), Hex(PickupRecord{kPickupWeapon, 3, 0, 1000000000, 1.5f, -2.25f, 3}));
  EXPECT_EQ(Hex(p[1]), Hex(PickupRecord{kPickupCash, 0, 0, 1000000000, 4, 5, 6}));
  EXPECT_EQ(Hex(p[2]), Hex(PickupRecord{kPickupGeneric, 50, 4000000000u, 0, 7, 8, 9}));
  EXPECT_EQ(Hex(p[3]), Hex(PickupRecord{kPickupGeneric, 44, 1240, 0, 0, 0, 0}));
  // A full pool gives -1 and sends nothing; only a used pickup is destroyed.
  while (gGlobalPickupPool->FindFreeSlot() >= 0) {
    gGlobalPickupPool->AddCashPickup(1, 0, 0, 0);
  }
  // clang-format off
  Check({{"createGlobalCashPickup(1, 0, 0, 0)", "-1"},
         {"createGlobalWeaponPickup(22, 1, 0, 0, 0)", "-1"},
         {"createGlobalGenericPickup(1240, 1, 0, 0, 0)", "-1"},
         {"destroyGlobalPickup(42)", "", {AB("DestroyGlobalPickup").c8(42)}},
         {"destroyGlobalPickup(42)", ""},
         {"destroyGlobalPickup(142)", ""},
         {"destroyGlobalPickup(298)", ""},
         {"getGlobalPickupType(42)", "0"},
         {"createGlobalGenericPickup(1240, 1, 0, 0, 0)", "42",
          {AB("CreateGlobalGenericPickup").c32(1240).c8(1).f32(0).f32(0).f32(0)}}});
  // clang-format on
}

// Local pickups belong to one player and reach only him.
TEST_F(WorldNatives, LocalPickups) {
  // clang-format off
  Check({{"createLocalWeaponPickup(0, 30, -1, 1, 2, 3)", "0",
          {A("CreateLocalWeaponPickup").c32(30).c32(4294967295u).f32(1).f32(2).f32(3)}},
         {"createLocalCashPickup(256, 2000000000, 4, 5, 6)", "1",
          {A("CreateLocalCashPickup").c32(2000000000).f32(4).f32(5).f32(6)}},
         {"createLocalGenericPickup(0, 1240, 99, 7, 8, 9)", "2",
          {A("CreateLocalGenericPickup").c32(1240).c8(99).f32(7).f32(8).f32(9)}},
         {"getLocalPickupType(0, 0)", "2"},
         {"getLocalPickupType(0, 1)", "3"},
         {"getLocalPickupType(0, 2)", "1"},
         {"getLocalPickupType(0, 25)", "0"},
         {"getLocalPickupType(1, 0)", "0"}});
  // clang-format on
  const PickupRecord* local = &gLocalPickupPool->Get(0, 0);
  EXPECT_EQ(Hex(local[0]), Hex(PickupRecord{kPickupWeapon, 3, 0, 1000000000, 1, 2, 3}));
  EXPECT_EQ(Hex(local[1]), Hex(PickupRecord{kPickupCash, 0, 0, 1000000000, 4, 5, 6}));
  EXPECT_EQ(Hex(local[2]), Hex(PickupRecord{kPickupGeneric, 50, 1240, 0, 7, 8, 9}));
  // A full player gets -1 while the other still has room; destroying tells the
  // player whatever the slot held; only a used slot changes.
  while (gLocalPickupPool->FindFreeSlot(0) >= 0) {
    gLocalPickupPool->AddCashPickup(0, 1, 0, 0, 0);
  }
  // clang-format off
  Check({{"createLocalCashPickup(0, 1, 0, 0, 0)", "-1"},
         {"createLocalWeaponPickup(0, 22, 1, 0, 0, 0)", "-1"},
         {"createLocalGenericPickup(0, 1240, 1, 0, 0, 0)", "-1"},
         {"createLocalCashPickup(1, 1, 0, 0, 0)", "0",
          {B("CreateLocalCashPickup").c32(1).f32(0).f32(0).f32(0)}},
         {"destroyLocalPickup(0, 30)", "", {A("DestroyLocalPickup").c8(30)}},
         {"destroyLocalPickup(0, 1)", "", {A("DestroyLocalPickup").c8(1)}},
         {"getLocalPickupType(0, 1)", "0"},
         {"createLocalCashPickup(0, 1, 0, 0, 0)", "1",
          {A("CreateLocalCashPickup").c32(1).f32(0).f32(0).f32(0)}}});
  // clang-format on
  // The player guard refuses slots not in use.
  const std::vector<std::string> players = {"7", "100", "255", "-1"};
  Refused(players,
          {"createLocalCashPickup(#, 1, 0, 0, 0)", "createLocalWeaponPickup(#, 22, 1, 0, 0, 0)",
           "createLocalGenericPickup(#, 1240, 1, 0, 0, 0)", "destroyLocalPickup(#, 0)"});
  Refused(players, {"getLocalPickupType(#, 0)"}, "0");
  for (int slot = 0; slot < 25; ++slot) {
    EXPECT_EQ(gLocalPickupPool->Get(7, slot).kind, kPickupFree) << slot;
  }
}

TEST_F(WorldNatives, StaticActors) {
  StaticActorRecord* r = gStaticActorPool->records;
  // Creation sends the stored record; 0 is true for the blip; skin 300 is
  // byte 44; skin 0 leaves the record free.
  // clang-format off
  Check({{"createStaticActor(50, 1.5, -2.5, 3.25, 90, 0)", "0",
          {Actor({50, 1.5f, -2.5f, 3.25f, 90, 0, 1, ""})}},
         {"createStaticActor(51, 0, 0, 0, 0, nil)", "1", {Actor({51, 0, 0, 0, 0, 0, 0, ""})}},
         {"createStaticActor(300, 0, 0, 0, 0, false)", "2", {Actor({44, 0, 0, 0, 0, 0, 0, ""})}},
         {"createStaticActor(0, 7, 8, 9, 10, true)", "3", {Actor({0, 7, 8, 9, 10, 0, 1, ""})}},
         {"createStaticActor(256, 7, 8, 9, 10, true)", "3", {Actor({0, 7, 8, 9, 10, 0, 1, ""})}},
         {"getStaticActorSkin(3)", "0"}});
  // clang-format on
  EXPECT_EQ(Hex(r[2]), Hex(StaticActorRecord{44, 0, 0, 0, 0, 0, 0, ""}));
  const std::string n39(39, 'n');
  const auto animation = [](uint8_t v) -> Sent {
    return AB("SetStaticActorAnimation").c16(1).c8(v);
  };
  // Animations above 35 and 28 become 0; the id keeps 16 bits; names up to 39
  // characters, ending at their first zero; each coordinate within 10000, not
  // NaN nor infinite.
  // clang-format off
  Check({{"setStaticActorAnimation(65537, 28)", "", {animation(0)}},
         {"setStaticActorAnimation(65537, 35)", "", {animation(35)}},
         {"setStaticActorAnimation(65537, 36)", "", {animation(0)}},
         {"setStaticActorAnimation(65537, 268)", "", {animation(12)}},
         {"getStaticActorAnimation(1)", "12"},
         {"setStaticActorName(1, '" + n39 + "')", "",
          {AB("SetStaticActorName").c16(1).c8(39).chars(n39.data(), 39)}},
         {"setStaticActorName(1, '" + n39 + "x')", ""},
         {"setStaticActorName(1, nil)", ""},
         {"getStaticActorName(1)", "'" + n39 + "'"},
         {"getStaticActorName(0)", "''"},
         {"setStaticActorPos(1, 10000, -10000, 0)", "",
          {AB("SetStaticActorPos").c16(1).f32(10000).f32(-10000).f32(0)}},
         {"setStaticActorPos(1, 10000.5, 0, 0)", ""},
         {"setStaticActorPos(1, 0, -10000.5, 0)", ""},
         {"setStaticActorPos(1, 0, 0, 0/0)", ""},
         {"setStaticActorPos(1, 0, 0, math.huge)", ""},
         {"getStaticActorPos(1)", "10000,-10000,0"},
         {"setStaticActorAngle(1, 270.5)", "", {AB("SetStaticActorAngle").c16(1).f32(270.5f)}},
         {"toggleStaticActorBlip(1, 300)", "", {AB("ToggleStaticActorBlip").c16(1).c8(44)}},
         {"setStaticActorSkin(1, 172)", "", {AB("SetStaticActorSkin").c16(1).c8(172)}},
         {"getStaticActorAngle(1)", "270.5"},
         {"getStaticActorSkin(1)", "172"},
         {"setStaticActorName(0, 'Guard')", "",
          {AB("SetStaticActorName").c16(0).c8(5).chars("Guard", 5)}},
         {"setStaticActorName(0, '')", "", {AB("SetStaticActorName").c16(0).c8(0)}},
         {"getStaticActorName(0)", "''"},
         {"setStaticActorName(0, 'ab\\0' .. string.rep('z', 60))", "",
          {AB("SetStaticActorName").c16(0).c8(2).chars("ab", 2)}},
         {"getStaticActorName(0)", "'ab'"}});
  // clang-format on
  EXPECT_EQ(r[1].blip, 44);
  EXPECT_EQ(std::memcmp(r[0].name, "ab\0\0\0\0", 6), 0);  // no tail of "Guard"
  // The skin rule can free the record, the other fields stay; free ids are
  // refused.
  Check({{"setStaticActorSkin(0, 8)", "", {AB("SetStaticActorSkin").c16(0).c8(0)}},
         {"setStaticActorSkin(1, 173)", "", {AB("SetStaticActorSkin").c16(1).c8(0)}}});
  EXPECT_EQ(r[0].skin, 0);
  EXPECT_EQ(r[1].skin, 0);
  EXPECT_EQ(Field(r[0].x), 1.5f);
  const std::vector<std::string> ids = {"0", "1", "100", "65535", "-1"};
  Refused(ids, {"getStaticActorSkin(#)", "getStaticActorAnimation(#)", "getStaticActorAngle(#)"},
          "0");
  Refused(ids, {"getStaticActorName(#)"}, "nil");
  Refused(ids, {"getStaticActorPos(#)"}, "0,0,0");
  Refused(ids, {"setStaticActorAngle(#, 5)", "setStaticActorSkin(#, 50)",
                "setStaticActorAnimation(#, 5)", "setStaticActorName(#, 'x')",
                "setStaticActorPos(#, 1, 1, 1)", "toggleStaticActorBlip(#, 1)",
                "destroyStaticActor(#)"});
  // A freed id is taken again with the old name gone; destroy zeroes it.
  Check({{"createStaticActor(70, 0, 0, 0, 0, 1)", "0", {Actor({70, 0, 0, 0, 0, 0, 1, ""})}},
         {"getStaticActorName(0)", "''"},
         {"destroyStaticActor(0)", "", {AB("DestroyStaticActor").c16(0)}},
         {"destroyStaticActor(0)", ""}});
  EXPECT_EQ(Hex(r[0]), Hex(StaticActorRecord{}));
  for (int i = 0; i < 100; ++i) gStaticActorPool->Add(7, 0, 0, 0, 0, 0);
  Check({{"createStaticActor(7, 0, 0, 0, 0, 1)", "-1"}});  // a full pool
}

}  // namespace

// A script host without a world: the getters give nothing, creations -1, and
// changes are refused quietly.
TEST(WorldNativesWithoutAWorld, GettersGiveNothingAndCreationsAreRefused) {
  scripttest::ScriptHost host("");
  const std::pair<const char*, const char*> cases[] = {
      {"getGlobalObjectModel(0)", ""},
      {"getGlobalObjectInterior(0)", ""},
      {"getGlobalObjectPos(0)", ""},
      {"getGlobalObjectRotation(0)", ""},
      {"getLocalObjectModel(0, 0)", ""},
      {"getLocalObjectInterior(0, 0)", ""},
      {"getLocalObjectPos(0, 0)", ""},
      {"getLocalObjectRotation(0, 0)", ""},
      {"createGlobalObject(1, 0, 0, 0, 0, 0, 0, 0)", "-1"},
      {"createLocalObject(0, 1, 0, 0, 0, 0, 0, 0, 0)", "-1"},
      {"destroyGlobalObject(0)", ""},
      {"setGlobalObjectPos(0, 1, 1, 1)", ""},
      {"createGlobalCheckpoint(0, 0, 0, 1)", "-1"},
      {"createGlobalIcon(0, 0, 0, 1, 1, 0)", "-1"},
      {"createStaticActor(1, 0, 0, 0, 0, 1)", "-1"},
  };
  for (const auto& [call, result] : cases) EXPECT_EQ(scripttest::Eval(call), result) << call;
}
