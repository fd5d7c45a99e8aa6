#include "core/playerpool.h"

#include <strings.h>

#include <cstring>

#include "core/budget.h"
#include "core/log.h"
#include "core/netgame.h"
#include "core/rpc.h"
#include "core/world.h"

const char* DisconnectReasonText(uint8_t reason) {
  switch (reason) {
    case kReasonTimedOut: return "Timed Out";
    case kReasonQuit: return "Quit";
    case kReasonBanned: return "Banned";
    case kReasonKicked: return "Kicked";
    default: return nullptr;
  }
}

void PlayerRecord::Reset() {
  std::memset(this, 0, sizeof *this);
  team = -1;
}

void PlayerRecord::ResetOnConnect() {
  Reset();
  connected = 1;
}

void PlayerRecord::ResetOnDisconnect() { Reset(); }

PlayerPool::PlayerPool() {
  std::memset(inUse, 0, sizeof inUse);
  std::memset(names, 0, sizeof names);
  std::memset(localMarkers, 0, sizeof localMarkers);
  std::memset(leaving, 0, sizeof leaving);
  for (auto& record : records) record.Reset();
}

int PlayerPool::FindFreeLocalMarkerSlot(int playerId) const {
  if (!IsInUse(playerId)) return -1;
  for (int slot = 0; slot < kLocalMarkersPerPlayer; ++slot) {
    if (localMarkers[playerId][slot] == 0) return slot;
  }
  return -1;
}

PlayerPool* GetPlayerPool() { return gNetGame ? gNetGame->playerPool : nullptr; }

bool ConnectPlayer(const char* name, PlayerPool* pool, uint8_t playerId) {
  if (!pool || playerId >= kMaxPlayers) return false;
  PlayerRecord& record = pool->records[playerId];
  if (record.present || pool->inUse[playerId]) return false;

  record.ResetOnConnect();
  pool->inUse[playerId] = 1;
  pool->leaving[playerId] = 0;
  std::strncpy(pool->names[playerId], name ? name : "", kPlayerNameSize - 1);
  pool->names[playerId][kPlayerNameSize - 1] = '\0';
  record.present = 1;

  std::memset(pool->localMarkers[playerId], 0, sizeof pool->localMarkers[playerId]);
  ResetBudgets(playerId);
  ClearPlayerLocalWorldOnConnect(playerId);

  const char* stored = pool->names[playerId];
  const size_t length = std::strlen(stored);
  Rpc("PlayerConnect").c8(playerId).c8(static_cast<uint8_t>(length)).chars(stored, length)
      .ToAllBut(playerId);
  return true;
}

void DisconnectPlayer(uint8_t reason, uint8_t playerId) {
  PlayerPool* pool = GetPlayerPool();
  if (!pool || playerId >= kMaxPlayers) return;
  PlayerRecord& record = pool->records[playerId];
  if (!pool->IsPresent(playerId)) return;

  // Now or never: the next join in this slot starts with a clean count.
  ReportDroppedMessagesNow(playerId);
  RememberBudgets(playerId);
  ClearPlayerLocalWorldOnDisconnect(playerId);

  if (const char* text = DisconnectReasonText(reason)) {
    LogPrint(1, "[LEAVE] %s has left the server. [%s]", pool->names[playerId], text);
    Rpc("PlayerDisconnect").c8(playerId).c8(reason).ToAllBut(playerId);
  } else {
    ClosePlayerConnection(playerId);
  }

  std::memset(pool->names[playerId], 0, kPlayerNameSize);
  pool->inUse[playerId] = 0;
  pool->leaving[playerId] = 0;
  record.ResetOnDisconnect();
}

void DisconnectAllPlayers() {
  for (int id = 0; id < kMaxPlayers; ++id) DisconnectPlayer(kReasonRestart, static_cast<uint8_t>(id));
}

bool IsNicknameInUse(const char* name) {
  PlayerPool* pool = GetPlayerPool();
  if (!pool || !name) return false;
  for (int id = 0; id < kMaxPlayers; ++id) {
    if (pool->IsPresent(id) &&
        strncasecmp(pool->names[id], name, kPlayerNameSize - 1) == 0) {
      return true;
    }
  }
  return false;
}
