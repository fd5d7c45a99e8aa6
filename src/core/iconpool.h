// Radar icons: 100 global ones every player sees and 25 local ones per player
// slot. The record travels byte for byte in the world download.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/playerpool.h"

inline constexpr int kMaxGlobalIcons = 100;
inline constexpr int kLocalIconsPerPlayer = 25;

#pragma pack(push, 1)
struct IconRecord {
  uint8_t used;
  uint8_t optionFlag;  // whether the creation's last argument was non-zero
  uint8_t size;
  uint8_t type;
  float x, y, z;
  uint8_t colour[4];  // red, green, blue, alpha
  uint8_t flashing;
};
#pragma pack(pop)
static_assert(sizeof(IconRecord) == 21, "IconRecord is a wire format");
static_assert(offsetof(IconRecord, optionFlag) == 1 && offsetof(IconRecord, size) == 2 &&
                  offsetof(IconRecord, type) == 3 && offsetof(IconRecord, x) == 4 &&
                  offsetof(IconRecord, colour) == 16 && offsetof(IconRecord, flashing) == 20,
              "IconRecord is a wire format");

class GlobalIconPool {
 public:
  GlobalIconPool();
  void Clear();

  // The id the next Add takes, or -1.
  int FindFreeSlot() const;
  // A new icon: opaque white, not flashing. False when all 100 are used.
  bool Add(float x, float y, float z, uint8_t type, uint8_t size, uint8_t flag);
  // Setters and Destroy refuse an id above 99 and a free record.
  bool SetFlashing(uint16_t id, uint8_t value);
  bool SetPosition(uint16_t id, float x, float y, float z);
  bool SetSize(uint16_t id, uint8_t size);
  bool SetColor(uint16_t id, uint8_t c0, uint8_t c1, uint8_t c2, uint8_t c3);
  bool Destroy(uint16_t id);
  // Any id; outside the pool reads as a free record.
  const IconRecord& Get(uint16_t id) const;

  IconRecord records[kMaxGlobalIcons];

 private:
  IconRecord* Used(uint16_t id);
};

// Player p's slot s is records[p * 25 + s]. The record's used byte is the only
// test (no player-in-use test): a player id above 99 is refused everywhere.
class LocalIconPool {
 public:
  LocalIconPool();
  void Clear();
  // Zeroes the player's 25 records (a new player in the slot starts with none).
  bool ClearPlayer(uint16_t playerId);

  int FindFreeSlot(uint16_t playerId) const;
  bool Add(uint16_t playerId, float x, float y, float z, uint8_t type, uint8_t size,
           uint8_t flag);
  bool SetFlashing(uint16_t playerId, uint16_t slot, uint8_t value);
  bool SetPosition(uint16_t playerId, uint16_t slot, float x, float y, float z);
  bool SetSize(uint16_t playerId, uint16_t slot, uint8_t size);
  bool SetColor(uint16_t playerId, uint16_t slot, uint8_t c0, uint8_t c1, uint8_t c2,
                uint8_t c3);
  bool Destroy(uint16_t playerId, uint16_t slot);
  const IconRecord& Get(uint16_t playerId, uint16_t slot) const;

  IconRecord records[kMaxPlayers * kLocalIconsPerPlayer];

 private:
  IconRecord* Used(uint16_t playerId, uint16_t slot);
};
