#include "core/spawnclasspool.h"

#include <cmath>
#include <cstring>
#include <initializer_list>

namespace {
// A NaN would pass a plain magnitude test and reach every client.
bool WithinLimit(std::initializer_list<float> values) {
  for (float v : values) {
    if (!std::isfinite(v) || std::fabs(v) > kSpawnCoordinateLimit) return false;
  }
  return true;
}
}  // namespace

uint8_t SpawnInteriorRule(uint8_t interior) {
  return interior > 18 || interior == 13 ? 0 : interior;
}

SpawnClassPool::SpawnClassPool() { Clear(); }

void SpawnClassPool::Clear() { std::memset(classes, 0, sizeof classes); }

int SpawnClassPool::FindFreeClass() const {
  for (int id = 0; id < kMaxSpawnClasses; ++id) {
    if (!classes[id].used) return id;
  }
  return -1;
}

int SpawnClassPool::FindFreeMember(uint8_t classId) const {
  if (classId >= kMaxSpawnClasses) return -1;
  for (int slot = 0; slot < kMaxClassMembers; ++slot) {
    if (!classes[classId].members[slot].used) return slot;
  }
  return -1;
}

void SpawnClassPool::AddClass(const char* name, uint8_t colour0, uint8_t colour1,
                              uint8_t colour2, float x, float y, float z, float angle,
                              float secondX, float secondY, float secondZ, uint8_t interior) {
  if (!WithinLimit({x, y, z, angle, secondX, secondY, secondZ})) return;
  const int id = FindFreeClass();
  if (id < 0) return;
  if (!name || !*name) name = " ";

  SpawnClassRecord& c = classes[id];
  c.colour[0] = colour0, c.colour[1] = colour1, c.colour[2] = colour2;
  c.x = x, c.y = y, c.z = z, c.angle = angle;
  c.secondX = secondX, c.secondY = secondY, c.secondZ = secondZ;
  c.used = 1;
  c.interior = SpawnInteriorRule(interior);
  std::strncpy(c.name, name, kSpawnClassNameSize - 1);
  c.name[kSpawnClassNameSize - 1] = '\0';
}

void SpawnClassPool::AddMember(uint8_t classId, uint16_t skin, float x, float y, float z,
                               float angle, uint8_t weapon0, uint32_t ammo0, uint8_t weapon1,
                               uint32_t ammo1, uint8_t weapon2, uint32_t ammo2) {
  if (!WithinLimit({x, y, z, angle})) return;
  const int slot = FindFreeMember(classId);
  if (slot < 0) return;

  ClassMemberRecord& m = classes[classId].members[slot];
  m.used = 1;
  m.classId = classId;
  m.x = x, m.y = y, m.z = z, m.angle = angle;
  m.skin = skin;
  m.weapon[0] = weapon0, m.weapon[1] = weapon1, m.weapon[2] = weapon2;
  m.ammo[0] = ammo0, m.ammo[1] = ammo1, m.ammo[2] = ammo2;
}
