// The world: every pool the start-up allocates, in its order, reached through
// one global pointer each. A restart frees and re-creates them.
#pragma once

#include <cstdint>

struct NetGame;
class GlobalObjectPool;
class LocalObjectPool;
class SpawnClassPool;
class StaticActorPool;
class WeaponShopTable;
class GlobalPickupPool;
class LocalPickupPool;
class MarkerPool;
class AreaPool;
class GlobalIconPool;
class LocalIconPool;

// Allocates every world pool, zero-filled and constructed, in the start-up
// order, publishing each pointer as soon as its object exists. The script
// engine (order 5), the timer pool (7), the IRC bot table (11) and the SQL
// manager (12) belong to
// layers above the core: the server passes callbacks that create them at their
// place in the order.
struct WorldLayerHooks {
  void (*createScriptEngine)() = nullptr;
  void (*createTimerPool)() = nullptr;
  void (*createIrcBotTable)() = nullptr;
  void (*createSqlManager)() = nullptr;
};
void AllocateWorld(const WorldLayerHooks& hooks);
// Frees every pool AllocateWorld made and clears its pointer, except the
// NetGame and the objects the hooks made (their owners free those), so the
// world can be made again.
void FreeWorld();

// Clears what a player leaves behind in the local pools when a slot is taken
// (local pickups and icons) and when it is freed (local objects).
void ClearPlayerLocalWorldOnConnect(uint8_t playerId);
void ClearPlayerLocalWorldOnDisconnect(uint8_t playerId);

extern NetGame* gNetGame;
extern GlobalObjectPool* gGlobalObjectPool;
extern LocalObjectPool* gLocalObjectPool;
extern SpawnClassPool* gSpawnClassPool;
extern StaticActorPool* gStaticActorPool;
extern WeaponShopTable* gWeaponShopTable;
extern GlobalPickupPool* gGlobalPickupPool;
extern LocalPickupPool* gLocalPickupPool;
extern MarkerPool* gMarkerPool;
extern AreaPool* gAreaPool;
extern GlobalIconPool* gGlobalIconPool;
extern LocalIconPool* gLocalIconPool;
