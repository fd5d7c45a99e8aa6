#include "core/join.h"

#include <cstring>

#include "core/actorpool.h"
#include "core/clientcalls.h"
#include "core/events.h"
#include "core/iconpool.h"
#include "core/log.h"
#include "core/markerpool.h"
#include "core/netgame.h"
#include "core/objectpool.h"
#include "core/pickuppool.h"
#include "core/query.h"
#include "core/rpc.h"
#include "core/settings.h"
#include "core/spawnclasspool.h"
#include "core/vehiclepool.h"
#include "core/weaponshops.h"
#include "core/world.h"
#include "net/bitstream.h"


namespace {

constexpr size_t kMinNameLength = 3;
constexpr size_t kMaxNameLength = 14;

// Refusals carry no payload. The restart notice goes to everyone (so clients
// already connected learn of it too), the others to the joining client alone.
void SendRefusal(net::Peer* peer, const char* name, const net::SystemAddress& target,
                 bool toEveryone) {
  if (toEveryone) {
    peer->RPC(name, nullptr, 0, net::HIGH_PRIORITY, net::RELIABLE, 0,
              net::UNASSIGNED_SYSTEM_ADDRESS, true);
  } else {
    peer->RPC(name, nullptr, 0, net::HIGH_PRIORITY, net::RELIABLE_SEQUENCED, 0, target, false);
  }
  // The peer delivers what was queued before a close, so the refusal reaches
  // the client without holding up the main loop.
  peer->CloseConnection(target, false, 0);
}

// The name as the request carries it: at most 255 bytes into a zero-filled
// buffer; its length for every later test is up to its first zero byte.
struct JoinRequest {
  char name[256] = {0};
  uint32_t version = 0;
};

// False when the request ends before its last field.
bool ReadJoinRequest(const net::RPCParameters* params, JoinRequest& out) {
  net::BitStream in(params->input, params->input ? params->numberOfBitsOfData : 0);
  uint8_t length = 0;
  if (!in.ReadCompressed(length)) return false;
  if (length > 0 && !in.ReadBytes(out.name, length)) return false;
  out.name[length] = '\0';
  return in.ReadCompressed(out.version);
}

int CountMarkers() {
  int n = 0;
  if (gMarkerPool)
    for (const MarkerRecord& r : gMarkerPool->records) n += r.kind != kMarkerFree;
  return n;
}
int CountGlobalPickups() {
  int n = 0;
  if (gGlobalPickupPool)
    for (const PickupRecord& r : gGlobalPickupPool->records) n += r.kind != kPickupFree;
  return n;
}
int CountGlobalObjects() {
  int n = 0;
  if (gGlobalObjectPool)
    for (const ObjectRecord& r : gGlobalObjectPool->records) n += r.model != 0;
  return n;
}
int CountGlobalIcons() {
  int n = 0;
  if (gGlobalIconPool)
    for (const IconRecord& r : gGlobalIconPool->records) n += r.used != 0;
  return n;
}
int CountStaticActors() {
  int n = 0;
  if (gStaticActorPool)
    for (const StaticActorRecord& r : gStaticActorPool->records) n += r.skin != 0;
  return n;
}
int CountSpawnClasses() {
  int n = 0;
  if (gSpawnClassPool)
    for (const SpawnClassRecord& r : gSpawnClassPool->classes) n += r.used != 0;
  return n;
}
int CountVehicles(const VehiclePool* pool) {
  int n = 0;
  if (pool)
    for (uint32_t id = 1; id < kMaxVehicles; ++id) n += pool->Exists(id);
  return n;
}

}  // namespace

bool IsValidNickname(const char* name) {
  if (!name) return false;
  const size_t length = std::strlen(name);
  if (length < kMinNameLength || length > kMaxNameLength) return false;
  for (size_t i = 0; i < length; ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (c == '-' || IsControlByte(c)) return false;
  }
  return true;
}

void SendPlayerSpawnTo(uint8_t spawnedId, uint8_t targetId) {
  PlayerPool* pool = GetPlayerPool();
  if (!pool || !pool->IsInUse(spawnedId) || !pool->IsInUse(targetId)) return;
  const PlayerRecord& r = pool->records[spawnedId];
  Rpc("NewSpawn").c8(spawnedId).f32(r.x).f32(r.y).f32(r.z).f32(r.angle)
      .c8(static_cast<uint8_t>(r.skin)).ToPlayer(targetId);
}

void SendWorldDownload(uint8_t playerId) {
  PlayerPool* players = GetPlayerPool();
  const VehiclePool* vehicles = GetVehiclePool();

  Rpc("InitialConnection")
      .c8(playerId).c8(1).c8(gServerWeather).c8(gWeaponShopsFlag)
      .c16(gServerSettings.maxPlayers).c8(gStaticInitialWantedLevel)
      .c16(static_cast<uint16_t>(CountMarkers()))
      .c16(static_cast<uint16_t>(CountGlobalPickups()))
      .c16(static_cast<uint16_t>(CountGlobalObjects()))
      .c16(static_cast<uint16_t>(CountGlobalIcons()))
      .c16(static_cast<uint16_t>(CountStaticActors()))
      .c16(static_cast<uint16_t>(CountSpawnClasses()))
      .c16(static_cast<uint16_t>(CountVehicles(vehicles)))
      .ToPlayer(playerId);

  if (gMarkerPool) {
    for (int id = 0; id < kMaxMarkers; ++id) {
      const MarkerRecord& m = gMarkerPool->records[id];
      if (m.kind == kMarkerFree) continue;
      Rpc("MarkerData").c8(static_cast<uint8_t>(id)).c8(m.kind).c8(m.red).c8(m.green).c8(m.blue)
          .f32(m.x).f32(m.y).f32(m.z).f32(m.radius).ToPlayer(playerId);
    }
  }
  if (gGlobalPickupPool) {
    for (int id = 0; id < kMaxGlobalPickups; ++id) {
      const PickupRecord& p = gGlobalPickupPool->records[id];
      if (p.kind == kPickupFree) continue;
      Rpc("PickupData").c16(static_cast<uint16_t>(id)).bytes(&p, sizeof p).ToPlayer(playerId);
    }
  }
  if (gWeaponShopTable) {
    for (uint8_t shop = 1; shop <= kWeaponShops; ++shop) {
      Rpc rpc("AmmunationData");
      rpc.c8(static_cast<uint8_t>(shop - 1));
      for (uint8_t slot = 1; slot <= kWeaponShopSlots; ++slot) {
        const WeaponShopSlot& s = gWeaponShopTable->Get(shop, slot);
        rpc.c8(s.weapon).c32(s.ammo).c32(s.price);
      }
      rpc.ToPlayer(playerId);
    }
  }
  if (gGlobalObjectPool) {
    for (int id = 0; id < kMaxGlobalObjects; ++id) {
      const ObjectRecord& o = gGlobalObjectPool->records[id];
      if (o.model == 0) continue;
      Rpc("ObjectData").u32(static_cast<uint32_t>(id)).bytes(&o, sizeof o).ToPlayer(playerId);
    }
  }
  if (gGlobalIconPool) {
    for (int id = 0; id < kMaxGlobalIcons; ++id) {
      const IconRecord& i = gGlobalIconPool->records[id];
      if (i.used == 0) continue;
      Rpc("IconData").c32(static_cast<uint32_t>(id)).bytes(&i, sizeof i).ToPlayer(playerId);
    }
  }
  if (gStaticActorPool) {
    for (int id = 0; id < kMaxStaticActors; ++id) {
      const StaticActorRecord& a = gStaticActorPool->records[id];
      if (a.skin == 0) continue;
      Rpc("ActorData").c16(static_cast<uint16_t>(id)).bytes(&a, sizeof a).ToPlayer(playerId);
    }
  }
  if (gSpawnClassPool) {
    for (int id = 0; id < kMaxSpawnClasses; ++id) {
      const SpawnClassRecord& c = gSpawnClassPool->classes[id];
      if (c.used == 0) continue;
      Rpc("SpawnData").c8(static_cast<uint8_t>(id)).bytes(&c, sizeof c).ToPlayer(playerId);
    }
  }
  if (vehicles) {
    for (uint32_t id = 1; id < kMaxVehicles; ++id) {
      const VehicleRecord* v = vehicles->Get(id);
      if (!v) continue;
      Rpc("VehicleData").c32(id).c32(v->model)
          .f32(v->spawnX).f32(v->spawnY).f32(v->spawnZ).f32(v->spawnAngle)
          .c8(v->spawnColour1).c8(v->spawnColour2).f32(v->spawnHealth)
          .f32(v->x).f32(v->y).f32(v->z).f32(v->angle)
          .c8(v->colour1).c8(v->colour2).f32(v->health).c8(v->locked)
          .ToPlayer(playerId);
    }
  }
  if (players) {
    for (int id = 0; id < kMaxPlayers; ++id) {
      if (id == playerId || !players->IsInUse(id)) continue;
      const char* name = players->names[id];
      const size_t length = strnlen(name, kPlayerNameSize);
      Rpc("PlayerData").c8(static_cast<uint8_t>(id)).c8(static_cast<uint8_t>(length))
          .chars(name, length).ToPlayer(playerId);
    }
    for (int id = 0; id < kMaxPlayers; ++id) {
      if (id == playerId || !players->IsInWorld(id)) continue;
      SendPlayerSpawnTo(static_cast<uint8_t>(id), playerId);
    }
  }

  Rpc("DownloadComplete").ToPlayer(playerId);
}

void HandleClientJoin(net::RPCParameters* params) {
  net::Peer* peer = GetGamePeer();
  PlayerPool* pool = GetPlayerPool();
  if (!params || !peer || !pool || !gNetGame) return;

  // A connection that is closing has no index; one that has joined keeps its
  // first join (a second would re-send the world and leave a ghost download).
  const int index = peer->GetIndexFromSystemAddress(params->sender);
  if (index < 0 || index >= kMaxPlayers || pool->IsInUse(index)) return;

  JoinRequest request;
  const bool complete = ReadJoinRequest(params, request);
  static const uint32_t kVersion =
      net::SuperFastHash(kClientVersionToken, static_cast<int>(std::strlen(kClientVersionToken)));

  // A request cut short has no version worth comparing.
  if (!complete || request.version != kVersion) {
    return SendRefusal(peer, "InvalidVersion", params->sender, false);
  }
  if (gNetGame->restartPending) {
    return SendRefusal(peer, "Internal_RestartTheGame", params->sender, true);
  }
  if (!IsValidNickname(request.name)) {
    return SendRefusal(peer, "InvalidName_Physical", params->sender, false);
  }
  if (IsNicknameInUse(request.name)) {
    return SendRefusal(peer, "InvalidName", params->sender, false);
  }

  const auto playerId = static_cast<uint8_t>(index);
  if (!ConnectPlayer(request.name, pool, playerId)) return;
  peer->MarkJoined(index);

  LogPrint(1, "[JOIN] %s has joined the server. [%s]", pool->names[playerId],
           params->sender.ToString(false).c_str());

  SendWorldDownload(playerId);
  UpdateServerQueryReply();
  CallOnPlayerConnect(playerId);
}
