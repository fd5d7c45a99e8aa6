// Static actors: up to 100 characters standing at a fixed place. The record is
// what the creation call and the world download send, byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr int kMaxStaticActors = 100;
inline constexpr int kStaticActorNameSize = 40;  // 39 characters and the terminator
inline constexpr uint16_t kNoStaticActor = 0xFFFF;

#pragma pack(push, 1)
struct StaticActorRecord {
  uint8_t skin;  // 0: the record is free
  float x, y, z;
  float angle;
  uint8_t animation;
  uint8_t blip;
  char name[kStaticActorNameSize];
};
#pragma pack(pop)
static_assert(sizeof(StaticActorRecord) == 59, "StaticActorRecord is a wire format");
static_assert(offsetof(StaticActorRecord, x) == 1 && offsetof(StaticActorRecord, angle) == 13 &&
                  offsetof(StaticActorRecord, animation) == 17 &&
                  offsetof(StaticActorRecord, blip) == 18 && offsetof(StaticActorRecord, name) == 19,
              "StaticActorRecord is a wire format");

class StaticActorPool {
 public:
  StaticActorPool();
  void Clear();

  // Takes the first record whose skin is 0 (with an empty name); its id, or
  // 0xFFFF when all 100 are used. A skin of 0 leaves the record free.
  uint16_t Add(uint8_t skin, float x, float y, float z, float angle, uint8_t blip);
  bool Exists(uint16_t id) const;
  bool Destroy(uint16_t id);
  // The record of an existing actor, or null.
  StaticActorRecord* Find(uint16_t id);

  StaticActorRecord records[kMaxStaticActors];
};
