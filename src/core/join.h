// Joining the game: the name rule, the version check and the world download
// a joining player receives (the "ClientJoin" handler is in clientcalls.h).
#pragma once

#include <cstdint>

// The version token clients hash; a client is admitted only with
// SuperFastHash("wkPZD", 5).
inline constexpr const char* kClientVersionToken = "wkPZD";

// An accepted connection must join this soon (a real client joins at once);
// until it does it counts against its address's few pending connections.
inline constexpr uint32_t kJoinDeadlineMs = 10000;

// 3 to 14 bytes, no '-', and no control byte (below 32, or 127): a name ends
// up on the operator's console and in the log.
bool IsValidNickname(const char* name);

// Sends "NewSpawn" about `spawnedId` to `targetId` alone; nothing when either
// id is above 99 or its slot is not in use.
void SendPlayerSpawnTo(uint8_t spawnedId, uint8_t targetId);

// Sends the whole shared world to a player who has just joined, from
// "InitialConnection" to "DownloadComplete".
void SendWorldDownload(uint8_t playerId);
