// Natives of the static actors. Every change goes to all players; the creation
// carries the whole 59-byte record and no id (the clients take the first free
// one, as the pool does).
#include <cmath>
#include <cstring>

#include "core/actorpool.h"
#include "core/rpc.h"
#include "core/world.h"
#include "script/native_list.h"
#include "script/natives.h"

namespace natives {
namespace {

constexpr float kActorCoordinateLimit = 10000.0f;
constexpr size_t kMaxActorNameLength = kStaticActorNameSize - 1;

// The record of an existing actor (id cut to 16 bits), or null.
StaticActorRecord* ArgActor(lua_State* L, int index) {
  return gStaticActorPool ? gStaticActorPool->Find(script::ArgU16(L, index)) : nullptr;
}

// Skins above 172, and 8, are no actor skin: they become 0, which leaves the
// record counted as free.
uint8_t ActorSkinRule(uint8_t skin) { return skin > 172 || skin == 8 ? 0 : skin; }

uint8_t ActorAnimationRule(uint8_t animation) {
  return animation > 35 || animation == 28 ? 0 : animation;
}

// Written as "within" so that NaN is refused too: it has no magnitude to
// compare and would reach every client.
bool WithinActorLimit(float v) { return std::fabs(v) <= kActorCoordinateLimit; }

int PushZeros(lua_State* L, int count) {
  for (int i = 0; i < count; ++i) lua_pushnumber(L, 0);
  return count;
}

}  // namespace

int CreateStaticActor(lua_State* L) {
  const uint8_t skin = script::ArgU8(L, 1);
  const float x = script::ArgFloat(L, 2);
  const float y = script::ArgFloat(L, 3);
  const float z = script::ArgFloat(L, 4);
  const float angle = script::ArgFloat(L, 5);
  const uint8_t blip = script::ArgBool(L, 6) ? 1 : 0;
  const uint16_t id =
      gStaticActorPool ? gStaticActorPool->Add(skin, x, y, z, angle, blip) : kNoStaticActor;
  if (id == kNoStaticActor) {
    lua_pushnumber(L, -1);
    return 1;
  }
  const StaticActorRecord& record = gStaticActorPool->records[id];
  Rpc("CreateStaticActor").bytes(&record, sizeof record).ToAll();
  lua_pushnumber(L, id);
  return 1;
}

int DestroyStaticActor(lua_State* L) {
  const uint16_t id = script::ArgU16(L, 1);
  if (gStaticActorPool && gStaticActorPool->Destroy(id)) {
    Rpc("DestroyStaticActor").c16(id).ToAll();
  }
  return 0;
}

int GetStaticActorName(lua_State* L) {
  const StaticActorRecord* actor = ArgActor(L, 1);
  if (!actor) {
    lua_pushnil(L);
    return 1;
  }
  lua_pushlstring(L, actor->name, strnlen(actor->name, sizeof actor->name));
  return 1;
}

int GetStaticActorAnimation(lua_State* L) {
  const StaticActorRecord* actor = ArgActor(L, 1);
  lua_pushnumber(L, actor ? actor->animation : 0);
  return 1;
}

int GetStaticActorSkin(lua_State* L) {
  const StaticActorRecord* actor = ArgActor(L, 1);
  lua_pushnumber(L, actor ? actor->skin : 0);
  return 1;
}

int GetStaticActorAngle(lua_State* L) {
  const StaticActorRecord* actor = ArgActor(L, 1);
  lua_pushnumber(L, actor ? actor->angle : 0);
  return 1;
}

int GetStaticActorPos(lua_State* L) {
  const StaticActorRecord* actor = ArgActor(L, 1);
  if (!actor) return PushZeros(L, 3);
  lua_pushnumber(L, actor->x);
  lua_pushnumber(L, actor->y);
  lua_pushnumber(L, actor->z);
  return 3;
}

int SetStaticActorName(lua_State* L) {
  StaticActorRecord* actor = ArgActor(L, 1);
  size_t length = 0;
  const char* text = script::ArgText(L, 2, &length);
  if (!actor || !text) return 0;
  if (length > kMaxActorNameLength) return 0;
  // The rest of the field is cleared too: the record goes byte for byte to
  // every joining player, who should not get the tail of an older name.
  std::memset(actor->name, 0, sizeof actor->name);
  std::memcpy(actor->name, text, length);
  Rpc("SetStaticActorName")
      .c16(script::ArgU16(L, 1))
      .c8(static_cast<uint8_t>(length))
      .chars(actor->name, length)
      .ToAll();
  return 0;
}

int SetStaticActorAnimation(lua_State* L) {
  StaticActorRecord* actor = ArgActor(L, 1);
  if (!actor) return 0;
  actor->animation = ActorAnimationRule(script::ArgU8(L, 2));
  Rpc("SetStaticActorAnimation").c16(script::ArgU16(L, 1)).c8(actor->animation).ToAll();
  return 0;
}

int SetStaticActorSkin(lua_State* L) {
  StaticActorRecord* actor = ArgActor(L, 1);
  if (!actor) return 0;
  actor->skin = ActorSkinRule(script::ArgU8(L, 2));
  Rpc("SetStaticActorSkin").c16(script::ArgU16(L, 1)).c8(actor->skin).ToAll();
  return 0;
}

int SetStaticActorAngle(lua_State* L) {
  StaticActorRecord* actor = ArgActor(L, 1);
  if (!actor) return 0;
  actor->angle = script::ArgFloat(L, 2);
  Rpc("SetStaticActorAngle").c16(script::ArgU16(L, 1)).f32(actor->angle).ToAll();
  return 0;
}

int SetStaticActorPos(lua_State* L) {
  const float x = script::ArgFloat(L, 2);
  const float y = script::ArgFloat(L, 3);
  const float z = script::ArgFloat(L, 4);
  if (!WithinActorLimit(x) || !WithinActorLimit(y) || !WithinActorLimit(z)) return 0;
  StaticActorRecord* actor = ArgActor(L, 1);
  if (!actor) return 0;
  actor->x = x, actor->y = y, actor->z = z;
  Rpc("SetStaticActorPos").c16(script::ArgU16(L, 1)).f32(x).f32(y).f32(z).ToAll();
  return 0;
}

int ToggleStaticActorBlip(lua_State* L) {
  StaticActorRecord* actor = ArgActor(L, 1);
  if (!actor) return 0;
  actor->blip = script::ArgU8(L, 2);
  Rpc("ToggleStaticActorBlip").c16(script::ArgU16(L, 1)).c8(actor->blip).ToAll();
  return 0;
}

}  // namespace natives
