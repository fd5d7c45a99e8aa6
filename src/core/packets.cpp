#include "core/packets.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <span>

#include "core/budget.h"
#include "core/clock.h"
#include "core/events.h"
#include "core/gameclock.h"
#include "core/log.h"
#include "core/netgame.h"
#include "core/query.h"
#include "core/rpc.h"
#include "net/bitstream.h"

namespace {

// A client's heading in radians becomes the record's degrees through this
// constant (a hair above 180/pi; kept for the same angles as the clients).
constexpr double kRadiansToDegrees = 57.29577951308402;

constexpr uint32_t kTimestampPrefix = 5;  // 25, then u32 time

// The fixed block's fields (offsets within the block, after the id byte).
namespace onfoot {
constexpr uint32_t kX = 2, kY = 6, kZ = 10, kHeading = 14, kHealth = 18, kArmour = 19,
                   kWeapon = 20, kPhoneStatus = 39;
}
namespace passenger {
constexpr uint32_t kSeat = 0, kHealth = 1, kArmour = 3, kVehicle = 8;
}
namespace status {
constexpr uint32_t kCash = 0, kInterior = 4, kWantedLevel = 5, kSkin = 6, kValue = 7;
}

template <typename T>
T Load(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);  // the wire is little-endian, as is the host
  return v;
}

template <typename T>
void Store(uint8_t* p, T v) {
  std::memcpy(p, &v, sizeof v);
}

PlayerRecord* SenderRecord(uint8_t sender) {
  PlayerPool* pool = GetPlayerPool();
  return pool && pool->IsPresent(sender) ? &pool->records[sender] : nullptr;
}

// The packet's block after its id byte, or null when the packet is shorter
// than the block: a short movement packet is dropped, never read as zeros.
const uint8_t* Block(const uint8_t* data, uint32_t length, uint32_t blockSize) {
  return length >= 1 + blockSize ? data + 1 : nullptr;
}

// u8 id, c8 sender, the block: the relay of packets 92, 94, 95 and 98.
void RelayBlock(uint8_t id, uint8_t sender, const uint8_t* block, uint32_t blockSize,
                net::PacketPriority priority) {
  net::BitStream out;
  out.Write(id);
  out.WriteCompressed(sender);
  out.WriteBytes(block, blockSize);
  RelaySyncToPlayers(sender, out, priority);
}

// The network library closed a connection on its own account (the notice
// carries why): the operator hears of it, whether or not it had joined.
void LogLibraryClose(const PlayerPool* pool, const net::Packet* packet) {
  if (packet->length != 2 || packet->data[0] != net::ID_CONNECTION_LOST) return;
  const char* why = nullptr;
  switch (packet->data[1]) {
    case net::LOST_INCOMING_BACKLOG:
      why = "it sent more reliable messages than may wait to be handled";
      break;
    case net::LOST_OUTGOING_BACKLOG:
      why = "more waited to be sent to it than it took";
      break;
    case net::LOST_INCOMING_HELD:
      why = "more of its messages waited behind a lost one than may";
      break;
    case net::LOST_SEND_FAILED:
      why = "a reliable message to it could not be queued";
      break;
    default:
      return;  // a join deadline (nobody to speak of), or the game's own close (logged there)
  }
  const int id = packet->systemIndex;
  const bool joined = pool && pool->IsPresent(id);
  LogPrint(1, "[NET] Closed connection %d (%s, %s): %s", id,
           joined ? pool->Name(id) : "not joined",
           packet->systemAddress.ToString(false).c_str(), why);
}

}  // namespace

void HandleOnFootSync(uint8_t sender, const uint8_t* data, uint32_t length) {
  const uint8_t* block = Block(data, length, kOnFootBlockSize);
  if (!block) return;
  // The relay goes first: the distance counts from the previous position.
  RelayBlock(kPacketOnFootSync, sender, block, kOnFootBlockSize, net::HIGH_PRIORITY);

  PlayerRecord* r = SenderRecord(sender);
  if (!r) return;
  std::memcpy(r->onFootBlock, block, kOnFootBlockSize);
  r->vehicle = 0;
  r->seat = 0;
  r->spawned = 1;
  r->x = Load<float>(block + onfoot::kX);
  r->y = Load<float>(block + onfoot::kY);
  r->z = Load<float>(block + onfoot::kZ);
  r->angle = static_cast<float>(Load<float>(block + onfoot::kHeading) * kRadiansToDegrees);
  r->health = block[onfoot::kHealth];
  r->armour = block[onfoot::kArmour];
  r->weapon = block[onfoot::kWeapon];
  r->phoneStatus = static_cast<int8_t>(block[onfoot::kPhoneStatus]);
}

void HandleVehicleSync(uint8_t sender, const uint8_t* data, uint32_t length) {
  net::BitStream in(data, length * 8);
  uint8_t id = 0;
  uint16_t vehicleId = 0, field2 = 0, playerHealth = 0, vehicleHealth = 0;
  uint32_t field3 = 0, field12 = 0;
  uint8_t tyres[4] = {0}, field8 = 0, colour1 = 0, colour2 = 0, armour = 0, field14 = 0,
          field15 = 0;
  float v[5][3] = {};
  bool ok = in.Read(id) && in.ReadCompressed(vehicleId) && in.ReadCompressed(field2) &&
            in.ReadCompressed(field3);
  for (uint8_t& tyre : tyres) ok = ok && in.ReadCompressed(tyre);
  ok = ok && in.ReadCompressed(field8) && in.ReadCompressed(colour1) &&
       in.ReadCompressed(colour2) && in.ReadCompressed(armour) && in.ReadCompressed(field12) &&
       in.ReadCompressed(playerHealth) && in.ReadCompressed(field14) &&
       in.ReadCompressed(field15) && in.ReadCompressed(vehicleHealth);
  for (auto& vec : v) ok = ok && in.ReadVector(vec[0], vec[1], vec[2]);
  if (!ok) return;

  // Fifteen fields: the vehicle's health travels in the first vector, in
  // place of its speed.
  net::BitStream out;
  out.Write(static_cast<uint8_t>(kPacketDriverSync));
  out.WriteCompressed(sender);
  out.WriteCompressed(vehicleId);
  out.WriteCompressed(field2);
  out.WriteCompressed(field3);
  for (uint8_t tyre : tyres) out.WriteCompressed(tyre);
  out.WriteCompressed(field8);
  out.WriteCompressed(colour1);
  out.WriteCompressed(colour2);
  out.WriteCompressed(armour);
  out.WriteCompressed(field12);
  out.WriteCompressed(playerHealth);
  out.WriteCompressed(field14);
  out.WriteCompressed(field15);
  out.WriteVector(static_cast<float>(vehicleHealth), v[0][1], v[0][2]);
  for (int i = 1; i < 5; ++i) out.WriteVector(v[i][0], v[i][1], v[i][2]);
  RelaySyncToPlayers(sender, out, net::HIGH_PRIORITY);

  PlayerRecord* r = SenderRecord(sender);
  const int vehicle = static_cast<int16_t>(vehicleId);
  VehiclePool* vehicles = GetVehiclePool();
  if (!r || !vehicles || vehicle < 1 || vehicle >= kMaxVehicles) return;
  VehicleRecord* car = vehicles->Get(static_cast<uint32_t>(vehicle));
  if (!car) return;

  const float heading = v[0][1];
  const float* position = v[3];
  r->vehicle = static_cast<uint32_t>(vehicle);
  r->armour = armour;
  r->health = playerHealth;
  r->seat = 0;
  r->x = position[0];
  r->y = position[1];
  r->z = position[2];
  r->angle = heading;
  std::memcpy(car->tyres, tyres, sizeof car->tyres);
  car->colour1 = colour1;
  car->colour2 = colour2;
  car->health = vehicleHealth;
  car->speed = v[0][0];
  car->angle = heading;
  car->x = position[0];
  car->y = position[1];
  car->z = position[2];
  vehicles->MarkUsed(static_cast<uint32_t>(vehicle), core::NowMs());
}

void HandleSyncPacket94(uint8_t sender, const uint8_t* data, uint32_t length) {
  const uint8_t* block = Block(data, length, kPassengerBlockSize);
  if (!block) return;
  RelayBlock(kPacketPassengerSync, sender, block, kPassengerBlockSize, net::LOW_PRIORITY);

  PlayerRecord* r = SenderRecord(sender);
  VehiclePool* vehicles = GetVehiclePool();
  const uint32_t vehicle = Load<uint32_t>(block + passenger::kVehicle);
  VehicleRecord* car = vehicles ? vehicles->Get(vehicle) : nullptr;
  if (!r || !car) return;
  vehicles->MarkUsed(vehicle, core::NowMs());
  r->vehicle = vehicle;
  r->health = Load<uint16_t>(block + passenger::kHealth);
  r->armour = block[passenger::kArmour];
  r->seat = block[passenger::kSeat];
  r->x = car->x;
  r->y = car->y;
  r->z = car->z;
}

void HandleSyncPacket95(uint8_t sender, const uint8_t* data, uint32_t length) {
  if (const uint8_t* block = Block(data, length, kPacket95BlockSize))
    RelayBlock(kPacket95, sender, block, kPacket95BlockSize, net::MEDIUM_PRIORITY);
}

void HandleSyncPacket98(uint8_t sender, const uint8_t* data, uint32_t length) {
  if (const uint8_t* block = Block(data, length, kPacket98BlockSize))
    RelayBlock(kPacket98, sender, block, kPacket98BlockSize, net::MEDIUM_PRIORITY);
}

void HandleSyncPacket96(uint8_t sender, const uint8_t* data, uint32_t length) {
  const uint8_t* block = Block(data, length, kStatusBlockSize);
  PlayerRecord* r = SenderRecord(sender);
  net::Peer* peer = GetGamePeer();
  if (!block || !r || !peer) return;

  const int32_t cash = Load<int32_t>(block + status::kCash);
  r->cash = static_cast<uint32_t>(cash);
  r->interior = block[status::kInterior];
  r->wantedLevel = block[status::kWantedLevel];
  r->skin = block[status::kSkin];

  const net::SystemAddress address = peer->GetSystemAddressFromIndex(sender);
  uint8_t record[kStatusRecordSize];
  Store<int32_t>(record + 0, cash);
  Store<uint32_t>(record + 4, static_cast<uint32_t>(peer->GetLastPing(address)));
  std::memcpy(record + 8, block + status::kValue, 4);  // relayed bit for bit
  Store<int8_t>(record + 12, r->team);
  Store<int32_t>(record + 13, r->score);
  RelayBlock(kPacketStatus, sender, record, kStatusRecordSize, net::MEDIUM_PRIORITY);

  net::BitStream answer;
  answer.Write(static_cast<uint8_t>(kPacketPingAnswer));
  answer.WriteCompressed(static_cast<uint32_t>(peer->GetLastPing(address)));
  peer->Send(&answer, net::MEDIUM_PRIORITY, net::UNRELIABLE_SEQUENCED, 0, address, false);
}

float GetDistanceBetweenPlayers(uint8_t a, uint8_t b) {
  PlayerPool* pool = GetPlayerPool();
  if (!pool || !pool->IsInUse(a) || !pool->IsInUse(b)) return -1.0f;
  const PlayerRecord& ra = pool->records[a];
  const PlayerRecord& rb = pool->records[b];
  const float dx = ra.x - rb.x;
  const float dy = ra.y - rb.y;
  const float sum = dx * dx + dy * dy;
  return std::sqrt(sum);
}

void RelaySyncToPlayers(uint8_t sender, const net::BitStream& stream,
                        net::PacketPriority priority) {
  PlayerPool* pool = GetPlayerPool();
  net::Peer* peer = GetGamePeer();
  if (!pool || !peer || !pool->IsPresent(sender)) return;
  // Player ids are connection indices: the receivers go to the peer as one
  // set, which queues one shared packet to all of them.
  uint16_t receivers[kMaxPlayers];
  size_t count = 0;
  for (int id = 0; id < kMaxPlayers; ++id) {
    if (id == sender || !pool->IsInWorld(id)) continue;
    // One draw per far receiver, none for near ones.
    if (!(GetDistanceBetweenPlayers(sender, static_cast<uint8_t>(id)) < kRelayNearDistance) &&
        rand() % 8 != 0)
      continue;
    receivers[count++] = static_cast<uint16_t>(id);
  }
  if (count > 0)
    peer->Send(&stream, priority, net::UNRELIABLE_SEQUENCED, 0,
               std::span<const uint16_t>(receivers, count));
}

void ProcessPackets() {
  net::Peer* peer = GetGamePeer();
  if (!peer) return;
  // A bounded share per pass: a client that sends faster than its relays can
  // go out must not keep the main loop (timers, console, world time) from
  // coming round. What is left waits for the next pass.
  for (uint32_t taken = 0; taken < kMaxPacketsPerPass; ++taken) {
    net::Packet* packet = peer->Receive();
    if (!packet) break;
    PlayerPool* pool = GetPlayerPool();
    const int sender = packet->systemIndex;
    LogLibraryClose(pool, packet);
    // Packets of connections without a joined slot (notices of a refused
    // join, or a client's traffic before it joins) are released unread; the
    // rest of the queue is still taken, so such a connection cannot hold up
    // everybody else's movement.
    if (!pool || !pool->IsPresent(sender) || packet->length == 0) {
      peer->DeallocatePacket(packet);
      continue;
    }
    const uint8_t* data = packet->data;
    uint32_t length = packet->length;
    bool stamped = false;
    if (data[0] == net::ID_TIMESTAMP) {
      // The real packet follows the stamp; a stamp with nothing after it is dropped.
      if (length <= kTimestampPrefix) {
        peer->DeallocatePacket(packet);
        continue;
      }
      data += kTimestampPrefix;
      length -= kTimestampPrefix;
      stamped = true;
    }
    const auto player = static_cast<uint8_t>(sender);
    // Movement beyond the sender's budget is dropped before it is read or relayed.
    if (!AdmitMessage(sender, PacketBudget(data[0]), packet->receivedMs, packet->reliable)) {
      peer->DeallocatePacket(packet);
      continue;
    }
    switch (data[0]) {
      case net::ID_DISCONNECTION_NOTIFICATION:
      case net::ID_CONNECTION_LOST: {
        // Departures are the network library's own notices; a client cannot
        // send one (it would hide it behind a time stamp).
        if (stamped || !pool->BeginLeaving(player)) break;
        const uint8_t reason = data[0] == net::ID_CONNECTION_LOST ? kReasonTimedOut : kReasonQuit;
        CallOnPlayerDisconnect(player, reason);
        DisconnectPlayer(reason, player);
        UpdateServerQueryReply();
        break;
      }
      case kPacketOnFootSync: HandleOnFootSync(player, data, length); break;
      case kPacketDriverSync: HandleVehicleSync(player, data, length); break;
      case kPacketPassengerSync: HandleSyncPacket94(player, data, length); break;
      case kPacket95: HandleSyncPacket95(player, data, length); break;
      case kPacketStatus: HandleSyncPacket96(player, data, length); break;
      case kPacket98: HandleSyncPacket98(player, data, length); break;
      default: break;
    }
    peer->DeallocatePacket(packet);
  }
}

void BroadcastWorldTime() {
  PlayerPool* pool = GetPlayerPool();
  net::Peer* peer = GetGamePeer();
  if (!pool || !peer) return;
  uint8_t hour = 0, minute = 0;
  GetGameClock(hour, minute);
  if (hour == 0 && minute == 0) return;
  const uint8_t packet[3] = {kPacketWorldTime, minute, hour};
  uint16_t receivers[kMaxPlayers];
  size_t count = 0;
  for (int id = 0; id < kMaxPlayers; ++id)
    if (pool->IsInWorld(id)) receivers[count++] = static_cast<uint16_t>(id);
  if (count > 0)
    peer->Send(packet, sizeof packet * 8, net::MEDIUM_PRIORITY, net::UNRELIABLE_SEQUENCED, 0,
               std::span<const uint16_t>(receivers, count));
}
