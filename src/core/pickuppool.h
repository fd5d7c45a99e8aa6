// Pickups: 100 global ones every player sees and 25 local ones per player
// slot. The clients detect collection; the pools only hold what the script
// placed. The record travels byte for byte in the world download.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/playerpool.h"

inline constexpr int kMaxGlobalPickups = 100;
inline constexpr int kLocalPickupsPerPlayer = 25;
inline constexpr uint32_t kMaxPickupAmount = 1000000000;
inline constexpr uint8_t kMaxGenericPickupType = 50;
inline constexpr uint8_t kWeaponPickupType = 3;

enum PickupKind : uint8_t {
  kPickupFree = 0,
  kPickupGeneric = 1,
  kPickupWeapon = 2,
  kPickupCash = 3,
};

#pragma pack(push, 1)
struct PickupRecord {
  uint8_t kind;        // 0: free, and then the whole record is zero
  uint8_t pickupType;  // cash 0, weapon 3, generic the script's type (at most 50)
  uint32_t model;      // cash 0, weapon the weapon id, generic the model
  uint32_t amount;     // cash or ammunition (at most 1,000,000,000); generic 0
  float x, y, z;
};
#pragma pack(pop)
static_assert(sizeof(PickupRecord) == 22, "PickupRecord is a wire format");
static_assert(offsetof(PickupRecord, pickupType) == 1 && offsetof(PickupRecord, model) == 2 &&
                  offsetof(PickupRecord, amount) == 6 && offsetof(PickupRecord, x) == 10,
              "PickupRecord is a wire format");

// The value rules every creation applies (the clients get the script's own
// values; the record keeps these).
uint32_t PickupWeaponRule(uint32_t weapon);
uint32_t PickupAmountRule(uint32_t amount);
uint8_t PickupTypeRule(uint8_t type);

class GlobalPickupPool {
 public:
  GlobalPickupPool();
  void Clear();

  // The id the next creation takes, or -1.
  int FindFreeSlot() const;
  bool AddCashPickup(uint32_t amount, float x, float y, float z);
  bool AddWeaponPickup(uint32_t weapon, uint32_t ammo, float x, float y, float z);
  bool AddGenericPickup(uint32_t model, uint8_t type, float x, float y, float z);
  bool Destroy(uint8_t id);
  // Any id; outside the pool reads as a free record.
  const PickupRecord& Get(uint16_t id) const;

  PickupRecord records[kMaxGlobalPickups];

 private:
  bool Store(const PickupRecord& record);
};

// Player p's slot s is records[p * 25 + s]. Creation wants a player whose
// slot is in use; a player id above 99 is refused everywhere.
class LocalPickupPool {
 public:
  LocalPickupPool();
  void Clear();
  // Zeroes the player's 25 records (a new player in the slot starts with none).
  bool ClearPlayer(uint16_t playerId);

  // The player's first free slot; -1 when the player is above 99, not in use,
  // or has 25 pickups.
  int FindFreeSlot(uint16_t playerId) const;
  bool AddCashPickup(uint16_t playerId, uint32_t amount, float x, float y, float z);
  bool AddWeaponPickup(uint16_t playerId, uint32_t weapon, uint32_t ammo, float x, float y,
                       float z);
  bool AddGenericPickup(uint16_t playerId, uint32_t model, uint8_t type, float x, float y,
                        float z);
  bool Destroy(uint16_t playerId, uint8_t slot);
  const PickupRecord& Get(uint16_t playerId, uint16_t slot) const;

  PickupRecord records[kMaxPlayers * kLocalPickupsPerPlayer];

 private:
  bool Store(uint16_t playerId, const PickupRecord& record);
};
