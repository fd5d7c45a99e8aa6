#include "core/actorpool.h"

#include <cstring>

StaticActorPool::StaticActorPool() { Clear(); }

void StaticActorPool::Clear() { std::memset(records, 0, sizeof records); }

uint16_t StaticActorPool::Add(uint8_t skin, float x, float y, float z, float angle,
                              uint8_t blip) {
  for (uint16_t id = 0; id < kMaxStaticActors; ++id) {
    StaticActorRecord& r = records[id];
    if (r.skin != 0) continue;
    // A record freed by a skin of 0 keeps its other fields; a new actor must
    // not show the old one's name.
    std::memset(r.name, 0, sizeof r.name);
    r.x = x, r.y = y, r.z = z;
    r.angle = angle;
    r.skin = skin;
    r.animation = 0;
    r.blip = blip;
    return id;
  }
  return kNoStaticActor;
}

bool StaticActorPool::Exists(uint16_t id) const {
  return id < kMaxStaticActors && records[id].skin != 0;
}

bool StaticActorPool::Destroy(uint16_t id) {
  if (!Exists(id)) return false;
  std::memset(&records[id], 0, sizeof records[id]);
  return true;
}

StaticActorRecord* StaticActorPool::Find(uint16_t id) {
  return Exists(id) ? &records[id] : nullptr;
}
