// The vehicles the game mode has created (ids 1..499; slot 0 is never used)
// and the respawn machine that explodes reported wrecks on every client and
// brings back wrecked and abandoned vehicles.
#pragma once

#include <cstdint>

inline constexpr int kMaxVehicles = 500;  // slots 0..499
inline constexpr uint32_t kDefaultVehicleRespawnDelayMs = 120000;
inline constexpr uint32_t kWreckRespawnDelayMs = 10000;

enum VehicleRespawnState : uint8_t {
  kRespawnNone = 0,
  kRespawnDestroyed = 1,
  kRespawnWreckWaiting = 2,
  kRespawnNow = 3,
};

// How long a driven vehicle may stand unused before it is respawned. Written
// only by the script; it survives a restart.
extern uint32_t gVehicleRespawnDelay;

// Spawn values and current values stand in pairs, spawn first.
#pragma pack(push, 1)
struct VehicleRecord {
  VehicleRecord(uint32_t model, float x, float y, float z, float angle, uint8_t colour1,
                uint8_t colour2);

  uint8_t locked;
  uint32_t model;
  float spawnHealth;
  float health;
  float speed;
  float spawnX, x;
  float spawnY, y;
  float spawnZ, z;
  float spawnAngle, angle;
  uint8_t spawnColour1, colour1;
  uint8_t spawnColour2, colour2;
  uint8_t tyres[4];
  uint32_t lastUsedMs;  // 0: not driven since creation or the last respawn
  uint8_t used;
};
#pragma pack(pop)
static_assert(sizeof(VehicleRecord) == 62, "VehicleRecord is packed");

class VehiclePool {
 public:
  VehiclePool();
  ~VehiclePool();
  VehiclePool(const VehiclePool&) = delete;
  VehiclePool& operator=(const VehiclePool&) = delete;

  // The lowest free id 1..499, or -1.
  int FindFreeSlot() const;
  // True for an id 1..499 whose slot holds a vehicle. The id is unsigned: a
  // negative script id is a huge number here, never a small one.
  bool Exists(uint32_t id) const;
  // The record of an existing vehicle, or null.
  VehicleRecord* Get(uint32_t id);
  const VehicleRecord* Get(uint32_t id) const;
  // Creates a vehicle in the lowest free slot; its id, or -1 when the pool is
  // full or the model is not a vehicle (outside 130..236 or a placeholder).
  int Add(uint32_t model, float x, float y, float z, float angle, uint8_t colour1,
          uint8_t colour2);
  bool Delete(uint32_t id);
  void DeleteAll();

  // A client's report that the vehicle was destroyed; taken only while no
  // respawn is under way. False (nothing changed) otherwise.
  bool ReportDestroyed(uint32_t id, bool explode);
  // A sync packet named the vehicle at `nowMs`: the idle delay counts from here.
  bool MarkUsed(uint32_t id, uint32_t nowMs);

  // One sweep of the respawn machine over every vehicle (each main-loop pass).
  void CheckRespawns();
  void ProcessRespawn(uint16_t id);

  uint8_t inUse[kMaxVehicles];
  uint8_t respawnState[kMaxVehicles];
  uint8_t destroyedFlag[kMaxVehicles];
  uint32_t stateTime[kMaxVehicles];  // when the destruction was reported; 0 when none
  VehicleRecord* records[kMaxVehicles];
  // A destruction reported since the last sweep: the main loop sweeps for it
  // in the same pass (else once a millisecond).
  bool reportWaiting = false;
};

// The current vehicle pool of the network game (null before start-up).
VehiclePool* GetVehiclePool();

// Sends "SpawnVehicle" for an existing vehicle to each player in use, one by
// one in ascending id.
void SpawnVehicleForAll(uint32_t vehicleId);

// A time stamp taken as "now" where 0 means "never": a clock that reads 0 is
// stored as 1, so the stamp is not mistaken for "never".
inline uint32_t NonZeroStamp(uint32_t nowMs) { return nowMs ? nowMs : 1; }
