// World objects: global ones every player sees (ids 0..999) and each player's
// own local ones (slots 0..99 per player). The record is sent as raw bytes in
// the world download.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/playerpool.h"

inline constexpr int kMaxGlobalObjects = 1000;
inline constexpr int kLocalObjectsPerPlayer = 100;
inline constexpr uint16_t kNoObject = 0xFFFF;

#pragma pack(push, 1)
struct ObjectRecord {
  uint32_t model;  // 0: the record is free
  float x, y, z;
  float rotationX, rotationY, rotationZ;
  uint8_t interior;
};
#pragma pack(pop)
static_assert(sizeof(ObjectRecord) == 29, "ObjectRecord is a wire format");
static_assert(offsetof(ObjectRecord, x) == 4 && offsetof(ObjectRecord, rotationX) == 16 &&
                  offsetof(ObjectRecord, interior) == 28,
              "ObjectRecord is a wire format");

class GlobalObjectPool {
 public:
  GlobalObjectPool();
  void Clear();

  // The lowest free id, or 0xFFFF.
  uint16_t FindFreeSlot() const;
  // Fills the lowest free record; nothing when the pool is full. A model of 0
  // leaves the record free.
  void Add(uint32_t model, float x, float y, float z, float rotationX, float rotationY,
           float rotationZ, uint8_t interior);
  bool SetPosition(uint16_t id, float x, float y, float z);
  bool SetRotation(uint16_t id, float rotationX, float rotationY, float rotationZ);
  bool SetInterior(uint16_t id, uint8_t interior);
  bool Destroy(uint16_t id);
  // The record of any id; an id outside the pool reads as a free record.
  const ObjectRecord& Get(uint16_t id) const;

  ObjectRecord records[kMaxGlobalObjects];

 private:
  ObjectRecord* InUse(uint16_t id);
};

// Player p's slot s is records[p * 100 + s]. Operations that name a player
// want one whose slot is in use in the player pool, except Destroy, whose
// caller has checked; every operation refuses a player id above 99.
class LocalObjectPool {
 public:
  LocalObjectPool();
  void Clear();

  // The player's lowest free slot; 0xFFFF when the player is not in use or
  // has 100 objects.
  uint16_t FindFreeSlot(uint16_t playerId) const;
  bool Add(uint16_t playerId, uint32_t model, float x, float y, float z, float rotationX,
           float rotationY, float rotationZ, uint8_t interior);
  bool SetPosition(uint16_t playerId, uint16_t slot, float x, float y, float z);
  bool SetRotation(uint16_t playerId, uint16_t slot, float rotationX, float rotationY,
                   float rotationZ);
  bool SetInterior(uint16_t playerId, uint16_t slot, uint8_t interior);
  bool Destroy(uint16_t playerId, uint16_t slot);
  // Zeroes the player's 100 records; false when the player is not in use.
  bool ClearPlayer(uint16_t playerId);
  // The record of any player and slot; outside the pool reads as free.
  const ObjectRecord& Get(uint16_t playerId, uint16_t slot) const;

  ObjectRecord records[kMaxPlayers * kLocalObjectsPerPlayer];

 private:
  ObjectRecord* InUse(uint16_t playerId, uint16_t slot);
};
