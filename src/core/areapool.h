// Axis-aligned boxes the game mode watches: a sweep, at most about four times
// a second, keeps each player's current area and raises the enter and leave
// events.
#pragma once

#include <cstdint>

inline constexpr int kMaxAreas = 2000;  // ids 1..1999; id 0 is never used
inline constexpr uint32_t kAreaSweepIntervalMs = 250;

#pragma pack(push, 1)
struct AreaRecord {
  uint8_t inUse;
  float minX, minY, minZ;
  float maxX, maxY, maxZ;
};
#pragma pack(pop)
static_assert(sizeof(AreaRecord) == 25, "AreaRecord is packed");

class AreaPool {
 public:
  AreaPool();
  ~AreaPool();
  AreaPool(const AreaPool&) = delete;
  AreaPool& operator=(const AreaPool&) = delete;

  // Clears every area and stamps the sweep time, without any event.
  void Reset();
  // Stores the box (corners unchecked) in the lowest free id; -1 when full.
  int16_t Add(float minX, float minY, float minZ, float maxX, float maxY, float maxZ);
  // Frees the area; every player in it leaves it (with the event). False for
  // an unknown id.
  bool Destroy(uint16_t areaId);
  // The sweep, offered on every main-loop pass; it runs only when more than
  // 250 ms have passed since the last one.
  void Process();

  AreaRecord areas[kMaxAreas];
  uint32_t lastSweepMs;

 private:
  void SweepPlayer(uint8_t playerId);
};
