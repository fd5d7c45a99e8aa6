#include "core/vehiclepool.h"

#include <cstring>

#include "core/clock.h"
#include "core/names.h"
#include "core/netgame.h"
#include "core/playerpool.h"
#include "core/rpc.h"
#include "core/world.h"

uint32_t gVehicleRespawnDelay = kDefaultVehicleRespawnDelayMs;

namespace {
bool IsVehicleId(uint32_t id) { return id >= 1 && id < kMaxVehicles; }
}  // namespace

VehicleRecord::VehicleRecord(uint32_t model, float x, float y, float z, float angle,
                             uint8_t colour1, uint8_t colour2)
    : locked(0),
      model(model),
      spawnHealth(1000.0f),
      health(1000.0f),
      speed(0.0f),
      spawnX(x), x(x),
      spawnY(y), y(y),
      spawnZ(z), z(z),
      spawnAngle(angle), angle(angle),
      spawnColour1(colour1), colour1(colour1),
      spawnColour2(colour2), colour2(colour2),
      tyres{0, 0, 0, 0},
      lastUsedMs(0),
      used(0) {}

VehiclePool::VehiclePool() {
  std::memset(inUse, 0, sizeof inUse);
  std::memset(respawnState, 0, sizeof respawnState);
  std::memset(destroyedFlag, 0, sizeof destroyedFlag);
  std::memset(stateTime, 0, sizeof stateTime);
  for (auto& record : records) record = nullptr;
}

VehiclePool::~VehiclePool() { DeleteAll(); }

int VehiclePool::FindFreeSlot() const {
  for (int id = 1; id < kMaxVehicles; ++id) {
    if (!inUse[id]) return id;
  }
  return -1;
}

bool VehiclePool::Exists(uint32_t id) const { return IsVehicleId(id) && inUse[id] != 0; }

VehicleRecord* VehiclePool::Get(uint32_t id) { return Exists(id) ? records[id] : nullptr; }
const VehicleRecord* VehiclePool::Get(uint32_t id) const {
  return Exists(id) ? records[id] : nullptr;
}

int VehiclePool::Add(uint32_t model, float x, float y, float z, float angle, uint8_t colour1,
                     uint8_t colour2) {
  if (model > static_cast<uint32_t>(kLastVehicleModel) ||
      !IsValidVehicleModel(static_cast<int>(model))) {
    return -1;
  }
  const int id = FindFreeSlot();
  if (id < 0) return -1;
  records[id] = new VehicleRecord(model, x, y, z, angle, colour1, colour2);
  inUse[id] = 1;
  respawnState[id] = kRespawnNone;
  destroyedFlag[id] = 0;
  stateTime[id] = 0;
  return id;
}

bool VehiclePool::Delete(uint32_t id) {
  if (!Exists(id)) return false;
  delete records[id];
  records[id] = nullptr;
  inUse[id] = 0;
  respawnState[id] = kRespawnNone;
  destroyedFlag[id] = 0;
  stateTime[id] = 0;
  return true;
}

void VehiclePool::DeleteAll() {
  for (uint32_t id = 1; id < kMaxVehicles; ++id) {
    if (inUse[id]) Delete(id);
  }
}

bool VehiclePool::ReportDestroyed(uint32_t id, bool explode) {
  if (!Exists(id) || respawnState[id] != kRespawnNone) return false;
  destroyedFlag[id] = explode ? 1 : 0;
  respawnState[id] = kRespawnDestroyed;
  stateTime[id] = NonZeroStamp(core::NowMs());
  reportWaiting = true;
  return true;
}

bool VehiclePool::MarkUsed(uint32_t id, uint32_t nowMs) {
  VehicleRecord* record = Get(id);
  if (!record) return false;
  record->used = 1;
  record->lastUsedMs = NonZeroStamp(nowMs);
  return true;
}

void VehiclePool::CheckRespawns() {
  reportWaiting = false;
  for (uint16_t id = 1; id < kMaxVehicles; ++id) {
    if (!inUse[id]) continue;
    const VehicleRecord* record = records[id];
    // A vehicle nobody has driven since it appeared stays where it is.
    if (record->used && record->lastUsedMs != 0 &&
        core::HasElapsed(core::NowMs(), record->lastUsedMs, gVehicleRespawnDelay)) {
      respawnState[id] = kRespawnNow;
    }
    ProcessRespawn(id);
  }
}

void VehiclePool::ProcessRespawn(uint16_t id) {
  if (id >= kMaxVehicles || !inUse[id] || respawnState[id] == kRespawnNone) return;

  if (respawnState[id] == kRespawnDestroyed) {
    if (destroyedFlag[id]) Rpc("Respawn_ExplodeVehicle").c16(id).ToAll();
    respawnState[id] = kRespawnWreckWaiting;
    destroyedFlag[id] = 0;
    return;
  }
  if (respawnState[id] != kRespawnNow &&
      !core::HasElapsed(core::NowMs(), stateTime[id], kWreckRespawnDelayMs)) {
    return;
  }

  Rpc("Respawn_RespawnVehicle").c16(id).ToAll();
  respawnState[id] = kRespawnNone;
  stateTime[id] = 0;
  records[id]->lastUsedMs = 0;
  records[id]->used = 0;
}

VehiclePool* GetVehiclePool() { return gNetGame ? gNetGame->vehiclePool : nullptr; }

void SpawnVehicleForAll(uint32_t vehicleId) {
  PlayerPool* players = GetPlayerPool();
  const VehiclePool* pool = GetVehiclePool();
  const VehicleRecord* v = pool ? pool->Get(vehicleId) : nullptr;
  if (!players || !v) return;
  // The same fields in the same order as the world download's "VehicleData",
  // but every one a plain write.
  Rpc rpc("SpawnVehicle");
  rpc.u32(vehicleId).u32(v->model)
      .f32(v->spawnX).f32(v->spawnY).f32(v->spawnZ).f32(v->spawnAngle)
      .u8(v->spawnColour1).u8(v->spawnColour2).f32(v->spawnHealth)
      .f32(v->x).f32(v->y).f32(v->z).f32(v->angle)
      .u8(v->colour1).u8(v->colour2).f32(v->health).u8(v->locked);
  uint16_t receivers[kMaxPlayers];
  size_t count = 0;
  for (int id = 0; id < kMaxPlayers; ++id)
    if (players->IsInUse(id)) receivers[count++] = static_cast<uint16_t>(id);
  rpc.ToPlayers(std::span<const uint16_t>(receivers, count));
}
