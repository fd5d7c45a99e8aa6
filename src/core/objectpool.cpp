#include "core/objectpool.h"

#include <cstring>

#include "core/playerpool.h"

namespace {
const ObjectRecord kFreeObject{};

bool IsValidPlayer(uint16_t playerId) {
  const PlayerPool* players = GetPlayerPool();
  return players && players->IsInUse(playerId);
}

ObjectRecord MakeObject(uint32_t model, float x, float y, float z, float rotationX,
                        float rotationY, float rotationZ, uint8_t interior) {
  return ObjectRecord{model, x, y, z, rotationX, rotationY, rotationZ, interior};
}
}  // namespace

// --- global ---

GlobalObjectPool::GlobalObjectPool() { Clear(); }

void GlobalObjectPool::Clear() { std::memset(records, 0, sizeof records); }

uint16_t GlobalObjectPool::FindFreeSlot() const {
  for (uint16_t id = 0; id < kMaxGlobalObjects; ++id) {
    if (records[id].model == 0) return id;
  }
  return kNoObject;
}

void GlobalObjectPool::Add(uint32_t model, float x, float y, float z, float rotationX,
                           float rotationY, float rotationZ, uint8_t interior) {
  const uint16_t id = FindFreeSlot();
  if (id == kNoObject) return;
  records[id] = MakeObject(model, x, y, z, rotationX, rotationY, rotationZ, interior);
}

ObjectRecord* GlobalObjectPool::InUse(uint16_t id) {
  if (id >= kMaxGlobalObjects || records[id].model == 0) return nullptr;
  return &records[id];
}

bool GlobalObjectPool::SetPosition(uint16_t id, float x, float y, float z) {
  ObjectRecord* r = InUse(id);
  if (!r) return false;
  r->x = x, r->y = y, r->z = z;
  return true;
}

bool GlobalObjectPool::SetRotation(uint16_t id, float rotationX, float rotationY,
                                   float rotationZ) {
  ObjectRecord* r = InUse(id);
  if (!r) return false;
  r->rotationX = rotationX, r->rotationY = rotationY, r->rotationZ = rotationZ;
  return true;
}

bool GlobalObjectPool::SetInterior(uint16_t id, uint8_t interior) {
  ObjectRecord* r = InUse(id);
  if (!r) return false;
  r->interior = interior;
  return true;
}

bool GlobalObjectPool::Destroy(uint16_t id) {
  ObjectRecord* r = InUse(id);
  if (!r) return false;
  std::memset(r, 0, sizeof *r);
  return true;
}

const ObjectRecord& GlobalObjectPool::Get(uint16_t id) const {
  return id < kMaxGlobalObjects ? records[id] : kFreeObject;
}

// --- local ---

LocalObjectPool::LocalObjectPool() { Clear(); }

void LocalObjectPool::Clear() { std::memset(records, 0, sizeof records); }

uint16_t LocalObjectPool::FindFreeSlot(uint16_t playerId) const {
  if (!IsValidPlayer(playerId)) return kNoObject;
  const ObjectRecord* row = &records[playerId * kLocalObjectsPerPlayer];
  for (uint16_t slot = 0; slot < kLocalObjectsPerPlayer; ++slot) {
    if (row[slot].model == 0) return slot;
  }
  return kNoObject;
}

bool LocalObjectPool::Add(uint16_t playerId, uint32_t model, float x, float y, float z,
                          float rotationX, float rotationY, float rotationZ, uint8_t interior) {
  const uint16_t slot = FindFreeSlot(playerId);
  if (slot == kNoObject) return false;
  records[playerId * kLocalObjectsPerPlayer + slot] =
      MakeObject(model, x, y, z, rotationX, rotationY, rotationZ, interior);
  return true;
}

ObjectRecord* LocalObjectPool::InUse(uint16_t playerId, uint16_t slot) {
  if (playerId >= kMaxPlayers || slot >= kLocalObjectsPerPlayer) return nullptr;
  ObjectRecord* r = &records[playerId * kLocalObjectsPerPlayer + slot];
  return r->model != 0 ? r : nullptr;
}

bool LocalObjectPool::SetPosition(uint16_t playerId, uint16_t slot, float x, float y, float z) {
  ObjectRecord* r = IsValidPlayer(playerId) ? InUse(playerId, slot) : nullptr;
  if (!r) return false;
  r->x = x, r->y = y, r->z = z;
  return true;
}

bool LocalObjectPool::SetRotation(uint16_t playerId, uint16_t slot, float rotationX,
                                  float rotationY, float rotationZ) {
  ObjectRecord* r = IsValidPlayer(playerId) ? InUse(playerId, slot) : nullptr;
  if (!r) return false;
  r->rotationX = rotationX, r->rotationY = rotationY, r->rotationZ = rotationZ;
  return true;
}

bool LocalObjectPool::SetInterior(uint16_t playerId, uint16_t slot, uint8_t interior) {
  ObjectRecord* r = IsValidPlayer(playerId) ? InUse(playerId, slot) : nullptr;
  if (!r) return false;
  r->interior = interior;
  return true;
}

bool LocalObjectPool::Destroy(uint16_t playerId, uint16_t slot) {
  ObjectRecord* r = InUse(playerId, slot);
  if (!r) return false;
  std::memset(r, 0, sizeof *r);
  return true;
}

bool LocalObjectPool::ClearPlayer(uint16_t playerId) {
  if (!IsValidPlayer(playerId)) return false;
  std::memset(&records[playerId * kLocalObjectsPerPlayer], 0,
              sizeof(ObjectRecord) * kLocalObjectsPerPlayer);
  return true;
}

const ObjectRecord& LocalObjectPool::Get(uint16_t playerId, uint16_t slot) const {
  if (playerId >= kMaxPlayers || slot >= kLocalObjectsPerPlayer) return kFreeObject;
  return records[playerId * kLocalObjectsPerPlayer + slot];
}
