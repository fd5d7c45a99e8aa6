#include "core/world.h"

#include "core/actorpool.h"
#include "core/areapool.h"
#include "core/iconpool.h"
#include "core/markerpool.h"
#include "core/netgame.h"
#include "core/objectpool.h"
#include "core/pickuppool.h"
#include "core/spawnclasspool.h"
#include "core/weaponshops.h"

NetGame* gNetGame = nullptr;
GlobalObjectPool* gGlobalObjectPool = nullptr;
LocalObjectPool* gLocalObjectPool = nullptr;
SpawnClassPool* gSpawnClassPool = nullptr;
StaticActorPool* gStaticActorPool = nullptr;
WeaponShopTable* gWeaponShopTable = nullptr;
GlobalPickupPool* gGlobalPickupPool = nullptr;
LocalPickupPool* gLocalPickupPool = nullptr;
MarkerPool* gMarkerPool = nullptr;
AreaPool* gAreaPool = nullptr;
GlobalIconPool* gGlobalIconPool = nullptr;
LocalIconPool* gLocalIconPool = nullptr;

namespace {
// Publishes a new object in place of any old one, so calling AllocateWorld
// twice never leaks nor leaves a stale pointer.
template <typename T>
void Publish(T*& pointer) {
  delete pointer;
  pointer = nullptr;
  pointer = new T();
}

template <typename T>
void Free(T*& pointer) {
  delete pointer;
  pointer = nullptr;
}
}  // namespace

void AllocateWorld(const WorldLayerHooks& hooks) {
  Publish(gGlobalObjectPool);  // 1
  Publish(gLocalObjectPool);   // 2
  Publish(gSpawnClassPool);    // 3
  Publish(gStaticActorPool);   // 4
  if (hooks.createScriptEngine) hooks.createScriptEngine();  // 5
  Publish(gWeaponShopTable);                                  // 6
  if (hooks.createTimerPool) hooks.createTimerPool();        // 7
  Publish(gGlobalPickupPool);                                 // 8
  Publish(gLocalPickupPool);                                  // 9
  Publish(gMarkerPool);                                       // 10
  if (hooks.createIrcBotTable) hooks.createIrcBotTable();    // 11
  if (hooks.createSqlManager) hooks.createSqlManager();      // 12
  Publish(gAreaPool);                                         // 13
  Publish(gGlobalIconPool);                                   // 14
  Publish(gLocalIconPool);                                    // 15
  if (!gNetGame) gNetGame = new NetGame();                    // 16
}

void FreeWorld() {
  Free(gLocalIconPool);
  Free(gGlobalIconPool);
  Free(gAreaPool);
  Free(gMarkerPool);
  Free(gLocalPickupPool);
  Free(gGlobalPickupPool);
  Free(gWeaponShopTable);
  Free(gStaticActorPool);
  Free(gSpawnClassPool);
  Free(gLocalObjectPool);
  Free(gGlobalObjectPool);
}

void ClearPlayerLocalWorldOnConnect(uint8_t playerId) {
  if (gLocalPickupPool) gLocalPickupPool->ClearPlayer(playerId);
  if (gLocalIconPool) gLocalIconPool->ClearPlayer(playerId);
}

void ClearPlayerLocalWorldOnDisconnect(uint8_t playerId) {
  // Called while the leaving player's slot is still in use.
  if (gLocalObjectPool) gLocalObjectPool->ClearPlayer(playerId);
}
