#include "core/areapool.h"

#include <cstring>

#include "core/clock.h"
#include "core/events.h"
#include "core/playerpool.h"

AreaPool::AreaPool() { Reset(); }

AreaPool::~AreaPool() { Reset(); }

void AreaPool::Reset() {
  std::memset(areas, 0, sizeof areas);
  lastSweepMs = core::NowMs();
}

int16_t AreaPool::Add(float minX, float minY, float minZ, float maxX, float maxY, float maxZ) {
  for (int id = 1; id < kMaxAreas; ++id) {
    AreaRecord& area = areas[id];
    if (area.inUse) continue;
    area = AreaRecord{1, minX, minY, minZ, maxX, maxY, maxZ};
    return static_cast<int16_t>(id);
  }
  return -1;
}

bool AreaPool::Destroy(uint16_t areaId) {
  if (areaId < 1 || areaId >= kMaxAreas || !areas[areaId].inUse) return false;
  std::memset(&areas[areaId], 0, sizeof areas[areaId]);
  const int16_t id = static_cast<int16_t>(areaId);
  for (int playerId = 0; playerId < kMaxPlayers; ++playerId) {
    // Looked up afresh each time: a leave handler may kick players.
    PlayerRecord* record = GetPlayerPool() ? GetPlayerPool()->Get(playerId) : nullptr;
    if (!record || record->area != id) continue;
    record->area = 0;
    CallOnPlayerLeaveArea(static_cast<uint8_t>(playerId), id);
  }
  return true;
}

void AreaPool::Process() {
  if (!core::HasElapsed(core::NowMs(), lastSweepMs, kAreaSweepIntervalMs)) return;
  for (int playerId = 0; playerId < kMaxPlayers; ++playerId) {
    PlayerPool* players = GetPlayerPool();
    if (!players) break;
    if (players->IsInUse(playerId)) SweepPlayer(static_cast<uint8_t>(playerId));
  }
  lastSweepMs = core::NowMs();
}

void AreaPool::SweepPlayer(uint8_t playerId) {
  PlayerPool* players = GetPlayerPool();
  const PlayerRecord& start = players->records[playerId];
  const float x = start.x, y = start.y, z = start.z;
  // Every comparison uses the area the player had when his step began, even
  // after the step has changed it (so overlapping areas alternate).
  const int16_t startArea = start.area;

  for (int areaId = 1; areaId < kMaxAreas; ++areaId) {
    // Handlers may change areas; a destroyed one is skipped from here on.
    const AreaRecord& a = areas[areaId];
    if (!a.inUse) continue;
    const int16_t id = static_cast<int16_t>(areaId);
    const bool inside = a.minX < x && x < a.maxX && a.minY < y && y < a.maxY &&
                        a.minZ < z && z < a.maxZ;
    const bool outside = x < a.minX || x > a.maxX || y < a.minY || y > a.maxY ||
                         z < a.minZ || z > a.maxZ;
    // On a face the player is neither: nothing changes for that area.
    if (inside && startArea != id) {
      players->records[playerId].area = id;
      CallOnPlayerEnterArea(playerId, id);
    } else if (outside && startArea == id) {
      players->records[playerId].area = 0;
      CallOnPlayerLeaveArea(playerId, id);
    } else {
      continue;
    }
    // The handler may have kicked the player: his slot (and record) is no
    // longer his to change.
    if (GetPlayerPool() != players || !players->IsInUse(playerId)) return;
  }
}
