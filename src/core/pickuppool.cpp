#include "core/pickuppool.h"

#include <cstring>

namespace {
const PickupRecord kFreePickup{};

int FirstFree(const PickupRecord* records, int count) {
  for (int i = 0; i < count; ++i) {
    if (records[i].kind == kPickupFree) return i;
  }
  return -1;
}

PickupRecord Cash(uint32_t amount, float x, float y, float z) {
  return PickupRecord{kPickupCash, 0, 0, PickupAmountRule(amount), x, y, z};
}

PickupRecord Weapon(uint32_t weapon, uint32_t ammo, float x, float y, float z) {
  return PickupRecord{kPickupWeapon, kWeaponPickupType, PickupWeaponRule(weapon),
                      PickupAmountRule(ammo), x, y, z};
}

PickupRecord Generic(uint32_t model, uint8_t type, float x, float y, float z) {
  return PickupRecord{kPickupGeneric, PickupTypeRule(type), model, 0, x, y, z};
}
}  // namespace

uint32_t PickupWeaponRule(uint32_t weapon) {
  // Ids without a weapon, and the charge pack, make no weapon pickup.
  if (weapon == 13 || weapon == 16 || weapon == 30 || weapon >= 35) return 0;
  return weapon;
}

uint32_t PickupAmountRule(uint32_t amount) {
  return amount > kMaxPickupAmount ? kMaxPickupAmount : amount;
}

uint8_t PickupTypeRule(uint8_t type) {
  return type > kMaxGenericPickupType ? kMaxGenericPickupType : type;
}

// --- global ---

GlobalPickupPool::GlobalPickupPool() { Clear(); }

void GlobalPickupPool::Clear() { std::memset(records, 0, sizeof records); }

int GlobalPickupPool::FindFreeSlot() const { return FirstFree(records, kMaxGlobalPickups); }

bool GlobalPickupPool::Store(const PickupRecord& record) {
  const int id = FindFreeSlot();
  if (id < 0) return false;
  records[id] = record;
  return true;
}

bool GlobalPickupPool::AddCashPickup(uint32_t amount, float x, float y, float z) {
  return Store(Cash(amount, x, y, z));
}

bool GlobalPickupPool::AddWeaponPickup(uint32_t weapon, uint32_t ammo, float x, float y,
                                       float z) {
  return Store(Weapon(weapon, ammo, x, y, z));
}

bool GlobalPickupPool::AddGenericPickup(uint32_t model, uint8_t type, float x, float y, float z) {
  return Store(Generic(model, type, x, y, z));
}

bool GlobalPickupPool::Destroy(uint8_t id) {
  if (id >= kMaxGlobalPickups || records[id].kind == kPickupFree) return false;
  std::memset(&records[id], 0, sizeof records[id]);
  return true;
}

const PickupRecord& GlobalPickupPool::Get(uint16_t id) const {
  return id < kMaxGlobalPickups ? records[id] : kFreePickup;
}

// --- local ---

LocalPickupPool::LocalPickupPool() { Clear(); }

void LocalPickupPool::Clear() { std::memset(records, 0, sizeof records); }

bool LocalPickupPool::ClearPlayer(uint16_t playerId) {
  if (playerId >= kMaxPlayers) return false;
  std::memset(&records[playerId * kLocalPickupsPerPlayer], 0,
              sizeof(PickupRecord) * kLocalPickupsPerPlayer);
  return true;
}

int LocalPickupPool::FindFreeSlot(uint16_t playerId) const {
  const PlayerPool* players = GetPlayerPool();
  if (playerId >= kMaxPlayers || !players || !players->IsInUse(playerId)) return -1;
  return FirstFree(&records[playerId * kLocalPickupsPerPlayer], kLocalPickupsPerPlayer);
}

bool LocalPickupPool::Store(uint16_t playerId, const PickupRecord& record) {
  const int slot = FindFreeSlot(playerId);
  if (slot < 0) return false;
  records[playerId * kLocalPickupsPerPlayer + slot] = record;
  return true;
}

bool LocalPickupPool::AddCashPickup(uint16_t playerId, uint32_t amount, float x, float y,
                                    float z) {
  return Store(playerId, Cash(amount, x, y, z));
}

bool LocalPickupPool::AddWeaponPickup(uint16_t playerId, uint32_t weapon, uint32_t ammo, float x,
                                      float y, float z) {
  return Store(playerId, Weapon(weapon, ammo, x, y, z));
}

bool LocalPickupPool::AddGenericPickup(uint16_t playerId, uint32_t model, uint8_t type, float x,
                                       float y, float z) {
  return Store(playerId, Generic(model, type, x, y, z));
}

bool LocalPickupPool::Destroy(uint16_t playerId, uint8_t slot) {
  if (playerId >= kMaxPlayers || slot >= kLocalPickupsPerPlayer) return false;
  PickupRecord& r = records[playerId * kLocalPickupsPerPlayer + slot];
  if (r.kind == kPickupFree) return false;
  std::memset(&r, 0, sizeof r);
  return true;
}

const PickupRecord& LocalPickupPool::Get(uint16_t playerId, uint16_t slot) const {
  if (playerId >= kMaxPlayers || slot >= kLocalPickupsPerPlayer) return kFreePickup;
  return records[playerId * kLocalPickupsPerPlayer + slot];
}
