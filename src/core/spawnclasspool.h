// Spawn classes: up to 10 named groups of up to 180 ways to spawn, offered by
// the client before a player spawns. The server never interprets them: the
// whole class record travels byte for byte in the world download.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr int kMaxSpawnClasses = 10;
inline constexpr int kMaxClassMembers = 180;
inline constexpr int kSpawnClassNameSize = 100;  // 99 characters and the terminator
inline constexpr float kSpawnCoordinateLimit = 10000.0f;

#pragma pack(push, 1)
struct ClassMemberRecord {
  uint8_t used;
  uint8_t classId;
  float x, y, z;
  float angle;
  uint16_t skin;
  uint8_t weapon[3];
  uint32_t ammo[3];
};

struct SpawnClassRecord {
  uint8_t used;
  float x, y, z;
  float angle;
  float secondX, secondY, secondZ;
  uint8_t colour[3];  // red, green, blue
  uint8_t interior;   // 0..18, never 13
  char name[kSpawnClassNameSize];
  ClassMemberRecord members[kMaxClassMembers];
};
#pragma pack(pop)
static_assert(sizeof(ClassMemberRecord) == 35, "ClassMemberRecord is a wire format");
static_assert(sizeof(SpawnClassRecord) == 6433, "SpawnClassRecord is a wire format");
static_assert(offsetof(ClassMemberRecord, classId) == 1 && offsetof(ClassMemberRecord, x) == 2 &&
                  offsetof(ClassMemberRecord, angle) == 14 &&
                  offsetof(ClassMemberRecord, skin) == 18 &&
                  offsetof(ClassMemberRecord, weapon) == 20 && offsetof(ClassMemberRecord, ammo) == 23,
              "ClassMemberRecord is a wire format");
static_assert(offsetof(SpawnClassRecord, x) == 1 && offsetof(SpawnClassRecord, angle) == 13 &&
                  offsetof(SpawnClassRecord, secondX) == 17 &&
                  offsetof(SpawnClassRecord, colour) == 29 &&
                  offsetof(SpawnClassRecord, interior) == 32 &&
                  offsetof(SpawnClassRecord, name) == 33 && offsetof(SpawnClassRecord, members) == 133,
              "SpawnClassRecord is a wire format");

// Interiors above 18, and 13, become 0.
uint8_t SpawnInteriorRule(uint8_t interior);

class SpawnClassPool {
 public:
  SpawnClassPool();
  void Clear();

  // The first free class, or -1.
  int FindFreeClass() const;
  // The first free member slot of that class (which need not be used yet);
  // -1 when the class is above 9 or has 180 members.
  int FindFreeMember(uint8_t classId) const;
  // Stores a class in the first free slot. Refused (nothing stored) when a
  // coordinate is not finite or its magnitude is above 10000. An empty name
  // becomes " "; a longer one is cut to 99 characters.
  void AddClass(const char* name, uint8_t colour0, uint8_t colour1, uint8_t colour2, float x,
                float y, float z, float angle, float secondX, float secondY, float secondZ,
                uint8_t interior);
  // Stores a member in the class's first free slot; refused as AddClass is.
  void AddMember(uint8_t classId, uint16_t skin, float x, float y, float z, float angle,
                 uint8_t weapon0, uint32_t ammo0, uint8_t weapon1, uint32_t ammo1,
                 uint8_t weapon2, uint32_t ammo2);

  SpawnClassRecord classes[kMaxSpawnClasses];
};
