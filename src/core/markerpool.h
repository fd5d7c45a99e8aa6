// Global markers: checkpoints (with a radius) and coronas (with a colour),
// sharing ids 0..49. Local markers keep only their in-use flags, in the player
// pool.
#pragma once

#include <cstdint>

inline constexpr int kMaxMarkers = 50;
inline constexpr float kCoronaSize = 5.5f;

enum MarkerKind : uint8_t {
  kMarkerFree = 0,
  kMarkerCheckpoint = 1,
  kMarkerCorona = 2,
};

#pragma pack(push, 1)
struct MarkerRecord {
  uint8_t kind;
  uint8_t red, green, blue;  // a checkpoint holds 0, 0, 0
  float x, y, z;
  float radius;  // a corona's size, always 5.5
};
#pragma pack(pop)
static_assert(sizeof(MarkerRecord) == 20, "MarkerRecord is packed");

class MarkerPool {
 public:
  MarkerPool();
  void Clear();

  // The lowest free id (the one the next add takes), or -1.
  int FindFreeSlot() const;
  bool AddCheckpoint(float x, float y, float z, float radius);
  bool AddCorona(uint8_t red, uint8_t green, uint8_t blue, float x, float y, float z);
  // Each operation below refuses an id that does not hold its own kind.
  bool DestroyCheckpoint(uint8_t id);
  bool DestroyCorona(uint8_t id);
  bool SetCheckpointRadius(uint8_t id, float radius);
  bool SetCheckpointPosition(uint8_t id, float x, float y, float z);
  bool SetCoronaColor(uint8_t id, uint8_t red, uint8_t green, uint8_t blue);
  bool SetCoronaPosition(uint8_t id, float x, float y, float z);
  // 0 for a free id or one above 49, else the record's kind.
  uint8_t GetKind(uint8_t id) const;

  MarkerRecord records[kMaxMarkers];

 private:
  MarkerRecord* OfKind(uint8_t id, uint8_t kind);
};
