#include "core/iconpool.h"

#include <cstring>

namespace {
const IconRecord kFreeIcon{};

int FirstFree(const IconRecord* records, int count) {
  for (int i = 0; i < count; ++i) {
    if (!records[i].used) return i;
  }
  return -1;
}

void Fill(IconRecord& r, float x, float y, float z, uint8_t type, uint8_t size, uint8_t flag) {
  // Only zeroed records are free, so flashing starts at 0.
  r.used = 1;
  r.optionFlag = flag != 0 ? 1 : 0;
  r.size = size;
  r.type = type;
  r.x = x, r.y = y, r.z = z;
  std::memset(r.colour, 0xFF, sizeof r.colour);
}

bool SetFlashingOf(IconRecord* r, uint8_t value) {
  if (!r) return false;
  r->flashing = value;
  return true;
}

bool SetPositionOf(IconRecord* r, float x, float y, float z) {
  if (!r) return false;
  r->x = x, r->y = y, r->z = z;
  return true;
}

bool SetSizeOf(IconRecord* r, uint8_t size) {
  if (!r) return false;
  r->size = size;
  return true;
}

bool SetColorOf(IconRecord* r, uint8_t c0, uint8_t c1, uint8_t c2, uint8_t c3) {
  if (!r) return false;
  r->colour[0] = c0, r->colour[1] = c1, r->colour[2] = c2, r->colour[3] = c3;
  return true;
}

bool DestroyOf(IconRecord* r) {
  if (!r) return false;
  std::memset(r, 0, sizeof *r);
  return true;
}
}  // namespace

// --- global ---

GlobalIconPool::GlobalIconPool() { Clear(); }

void GlobalIconPool::Clear() { std::memset(records, 0, sizeof records); }

int GlobalIconPool::FindFreeSlot() const { return FirstFree(records, kMaxGlobalIcons); }

bool GlobalIconPool::Add(float x, float y, float z, uint8_t type, uint8_t size, uint8_t flag) {
  const int id = FindFreeSlot();
  if (id < 0) return false;
  Fill(records[id], x, y, z, type, size, flag);
  return true;
}

IconRecord* GlobalIconPool::Used(uint16_t id) {
  return id < kMaxGlobalIcons && records[id].used ? &records[id] : nullptr;
}

bool GlobalIconPool::SetFlashing(uint16_t id, uint8_t value) {
  return SetFlashingOf(Used(id), value);
}
bool GlobalIconPool::SetPosition(uint16_t id, float x, float y, float z) {
  return SetPositionOf(Used(id), x, y, z);
}
bool GlobalIconPool::SetSize(uint16_t id, uint8_t size) { return SetSizeOf(Used(id), size); }
bool GlobalIconPool::SetColor(uint16_t id, uint8_t c0, uint8_t c1, uint8_t c2, uint8_t c3) {
  return SetColorOf(Used(id), c0, c1, c2, c3);
}
bool GlobalIconPool::Destroy(uint16_t id) { return DestroyOf(Used(id)); }

const IconRecord& GlobalIconPool::Get(uint16_t id) const {
  return id < kMaxGlobalIcons ? records[id] : kFreeIcon;
}

// --- local ---

LocalIconPool::LocalIconPool() { Clear(); }

void LocalIconPool::Clear() { std::memset(records, 0, sizeof records); }

bool LocalIconPool::ClearPlayer(uint16_t playerId) {
  if (playerId >= kMaxPlayers) return false;
  std::memset(&records[playerId * kLocalIconsPerPlayer], 0,
              sizeof(IconRecord) * kLocalIconsPerPlayer);
  return true;
}

int LocalIconPool::FindFreeSlot(uint16_t playerId) const {
  if (playerId >= kMaxPlayers) return -1;
  return FirstFree(&records[playerId * kLocalIconsPerPlayer], kLocalIconsPerPlayer);
}

bool LocalIconPool::Add(uint16_t playerId, float x, float y, float z, uint8_t type, uint8_t size,
                        uint8_t flag) {
  const int slot = FindFreeSlot(playerId);
  if (slot < 0) return false;
  Fill(records[playerId * kLocalIconsPerPlayer + slot], x, y, z, type, size, flag);
  return true;
}

IconRecord* LocalIconPool::Used(uint16_t playerId, uint16_t slot) {
  if (playerId >= kMaxPlayers || slot >= kLocalIconsPerPlayer) return nullptr;
  IconRecord* r = &records[playerId * kLocalIconsPerPlayer + slot];
  return r->used ? r : nullptr;
}

bool LocalIconPool::SetFlashing(uint16_t playerId, uint16_t slot, uint8_t value) {
  return SetFlashingOf(Used(playerId, slot), value);
}
bool LocalIconPool::SetPosition(uint16_t playerId, uint16_t slot, float x, float y, float z) {
  return SetPositionOf(Used(playerId, slot), x, y, z);
}
bool LocalIconPool::SetSize(uint16_t playerId, uint16_t slot, uint8_t size) {
  return SetSizeOf(Used(playerId, slot), size);
}
bool LocalIconPool::SetColor(uint16_t playerId, uint16_t slot, uint8_t c0, uint8_t c1, uint8_t c2,
                             uint8_t c3) {
  return SetColorOf(Used(playerId, slot), c0, c1, c2, c3);
}
bool LocalIconPool::Destroy(uint16_t playerId, uint16_t slot) {
  return DestroyOf(Used(playerId, slot));
}

const IconRecord& LocalIconPool::Get(uint16_t playerId, uint16_t slot) const {
  if (playerId >= kMaxPlayers || slot >= kLocalIconsPerPlayer) return kFreeIcon;
  return records[playerId * kLocalIconsPerPlayer + slot];
}
