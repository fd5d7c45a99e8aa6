#include "core/clientcalls.h"

#include <cstring>

#include "core/events.h"
#include "core/log.h"
#include "core/netgame.h"
#include "core/rpc.h"
#include "core/world.h"
#include "net/bitstream.h"

// Every handler reads all of its fields before it acts: a call that ends
// early is dropped whole. The registration wrapper (netgame.cpp) has already
// dropped calls from connections without a joined slot, and calls beyond the
// sender's budget of their kind (budget.h). A notice that names
// a player acts only for the sender's own slot: a client must not speak, die
// or enter markers for somebody else.

namespace {

constexpr uint32_t kMaxCommandLength = 255;

net::BitStream Reader(const net::RPCParameters* params) {
  return net::BitStream(params->input, params->input ? params->numberOfBitsOfData : 0);
}

// The joined sender's id, or -1 (the wrapper checked it, but an event handler
// of an earlier call may since have freed the slot).
int Sender(const net::RPCParameters* params) { return GetJoinedSender(params); }

// The received bits again, unchanged, up to the end of the fields `in` has
// read: whatever a client sends after them would otherwise go to every
// connection (a 1 MB tail, a megabyte per player per call).
void RelayVerbatim(const char* name, const net::RPCParameters* params, const net::BitStream& in,
                   const net::SystemAddress& target, bool broadcast) {
  if (net::Peer* peer = GetGamePeer()) {
    peer->RPC(name, params->input, in.GetReadOffset(), net::HIGH_PRIORITY, net::RELIABLE, 0,
              target, broadcast);
  }
}

// u8 playerid, u8 id, u8 third: the four marker notices.
template <void (*Raise)(uint8_t, uint8_t, uint8_t)>
void HandleMarkerNotice(net::RPCParameters* params) {
  const int sender = Sender(params);
  net::BitStream in = Reader(params);
  uint8_t playerId = 0, markerId = 0, third = 0;
  if (!in.Read(playerId) || !in.Read(markerId) || !in.Read(third)) return;
  if (sender < 0 || playerId != sender) return;
  Raise(playerId, markerId, third);
}

// u8 playerid, u8 pickup id: the two pickup notices.
template <void (*Raise)(uint8_t, uint8_t)>
void HandlePickupNotice(net::RPCParameters* params) {
  const int sender = Sender(params);
  net::BitStream in = Reader(params);
  uint8_t playerId = 0, pickupId = 0;
  if (!in.Read(playerId) || !in.Read(pickupId)) return;
  if (sender < 0 || playerId != sender) return;
  Raise(playerId, pickupId);
}

// The chat text as the log shows it: a line break would let a client write
// a line of its own (a forged "[JOIN]", say) into the log and the console.
void CopyForLog(const char* text, char (&out)[256]) {
  std::strncpy(out, text, sizeof out - 1);
  out[sizeof out - 1] = '\0';
  for (char* c = out; *c; ++c)
    if (*c == '\n') *c = '?';
}

}  // namespace

void HandlePlayerChat(net::RPCParameters* params) {
  const int sender = Sender(params);
  PlayerPool* pool = GetPlayerPool();
  net::BitStream in = Reader(params);
  uint8_t playerId = 0, length = 0;
  char text[256] = {0};
  if (!in.Read(playerId) || !in.Read(length)) return;
  if (length > 0 && !in.ReadBytes(text, length)) return;
  text[length] = '\0';
  if (sender < 0 || !pool || playerId != sender) return;

  if (pool->IsChatting(playerId)) {
    char logged[256];
    CopyForLog(text, logged);
    if (!pool->records[playerId].muted) {
      RelayVerbatim("PlayerChat", params, in, net::UNASSIGNED_SYSTEM_ADDRESS, true);
      LogPrint(1, "[CHAT] %s: %s", pool->Name(sender), logged);
    } else {
      LogPrint(1, "[MUTED] %s: %s", pool->Name(sender), logged);
    }
  }
  CallOnPlayerChat(static_cast<uint8_t>(sender), text);
}

void HandlePlayerDeath(net::RPCParameters* params) {
  const int sender = Sender(params);
  PlayerPool* pool = GetPlayerPool();
  net::BitStream in = Reader(params);
  uint8_t playerId = 0, reason = 0, killer = 0;
  if (!in.Read(playerId) || !in.Read(reason) || !in.Read(killer)) return;
  if (sender < 0 || !pool || playerId != sender) return;

  pool->records[playerId].spawned = 0;
  RelayVerbatim("PlayerDeath", params, in, net::UNASSIGNED_SYSTEM_ADDRESS, true);
  CallOnPlayerDeath(playerId, killer, reason);
}

void HandleEnterVehicle(net::RPCParameters* params) {
  const int sender = Sender(params);
  net::BitStream in = Reader(params);
  uint8_t playerId = 0, seat = 0;
  uint32_t vehicleId = 0;
  if (!in.Read(playerId) || !in.Read(vehicleId) || !in.Read(seat)) return;
  if (sender < 0 || playerId != sender) return;
  CallOnPlayerEnterVehicle(playerId, vehicleId, seat);
}

void HandleExitVehicle(net::RPCParameters* params) {
  const int sender = Sender(params);
  net::BitStream in = Reader(params);
  uint8_t playerId = 0;
  uint16_t vehicleId = 0;
  if (!in.ReadCompressed(playerId) || !in.ReadCompressed(vehicleId)) return;
  if (sender < 0 || playerId != sender) return;
  CallOnPlayerExitVehicle(playerId, static_cast<int16_t>(vehicleId));
}

void HandleEnterGlobalMarker(net::RPCParameters* params) {
  HandleMarkerNotice<CallOnPlayerEnterGlobalMarker>(params);
}
void HandleExitGlobalMarker(net::RPCParameters* params) {
  HandleMarkerNotice<CallOnPlayerExitGlobalMarker>(params);
}
void HandleEnterLocalMarker(net::RPCParameters* params) {
  HandleMarkerNotice<CallOnPlayerEnterLocalMarker>(params);
}
void HandleExitLocalMarker(net::RPCParameters* params) {
  HandleMarkerNotice<CallOnPlayerExitLocalMarker>(params);
}
void HandleEnterGlobalPickup(net::RPCParameters* params) {
  HandlePickupNotice<CallOnPlayerEnterGlobalPickup>(params);
}
void HandleEnterLocalPickup(net::RPCParameters* params) {
  HandlePickupNotice<CallOnPlayerEnterLocalPickup>(params);
}

void HandleCommandSend(net::RPCParameters* params) {
  const int sender = Sender(params);
  if (sender < 0) return;
  net::BitStream in = Reader(params);
  uint32_t length = 0;
  char line[kMaxCommandLength + 1] = {0};
  if (!in.Read(length) || length > kMaxCommandLength) return;
  if (length > 0 && !in.ReadBytes(line, length)) return;
  line[length] = '\0';
  DispatchPlayerCommand(static_cast<uint8_t>(sender), line);
}

void HandleVehicleDeath(net::RPCParameters* params) {
  VehiclePool* vehicles = GetVehiclePool();
  if (Sender(params) < 0 || !vehicles) return;
  net::BitStream in = Reader(params);
  uint16_t raw = 0;
  bool explode = false;
  if (!in.ReadCompressed(raw) || !in.ReadBit(explode)) return;
  const int vehicleId = static_cast<int16_t>(raw);
  if (vehicleId < 1 || vehicleId >= kMaxVehicles) return;
  // Taken only while no respawn is under way; the respawn sweep goes on from here.
  vehicles->ReportDestroyed(static_cast<uint32_t>(vehicleId), explode);
}

void HandleSendVehicleEntry(net::RPCParameters* params) {
  const int sender = Sender(params);
  if (sender < 0) return;
  net::BitStream in = Reader(params);
  uint16_t vehicleId = 0;
  uint8_t seat = 0;
  if (!in.ReadCompressed(vehicleId) || !in.ReadCompressed(seat)) return;
  Rpc("SendVehicleEntry").c8(static_cast<uint8_t>(sender)).c16(vehicleId).c8(seat)
      .ToAllBut(static_cast<uint8_t>(sender));
}

void HandleKeyPress(net::RPCParameters* params) {
  const int sender = Sender(params);
  if (sender < 0) return;
  net::BitStream in = Reader(params);
  uint32_t key = 0;
  if (!in.ReadCompressed(key)) return;
  CallOnPlayerKeyPress(static_cast<uint8_t>(sender), static_cast<uint8_t>(key & 0xFF));
}

void HandleNewSpawn(net::RPCParameters* params) {
  const int sender = Sender(params);
  PlayerPool* pool = GetPlayerPool();
  if (sender < 0 || !pool) return;
  net::BitStream in = Reader(params);
  uint16_t class1 = 0, class2 = 0;
  float x = 0, y = 0, z = 0, angle = 0;
  uint8_t skin = 0;
  if (!in.ReadCompressed(class1) || !in.ReadCompressed(class2) || !in.Read(x) || !in.Read(y) ||
      !in.Read(z) || !in.Read(angle) || !in.ReadCompressed(skin)) {
    return;
  }

  // The position is not stored: the record follows the movement packets.
  PlayerRecord& record = pool->records[sender];
  record.spawned = 1;
  record.classInfo[0] = static_cast<int16_t>(class1);
  record.classInfo[1] = static_cast<int16_t>(class2);
  record.present = 1;
  record.skin = skin;

  const auto id = static_cast<uint8_t>(sender);
  Rpc("NewSpawn").c8(id).f32(x).f32(y).f32(z).f32(angle).c8(skin).ToAllBut(id);
  CallOnPlayerSpawn(id);
}
