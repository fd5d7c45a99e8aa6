// The packet loop of the game peer: departures, the movement packets and
// their relay to the other spawned players, and the world-time packet.
#pragma once

#include <cstdint>

#include "net/types.h"

namespace net {
class BitStream;
}

// Raw packet ids of the game (the first byte of the packet).
enum GamePacketId : uint8_t {
  kPacketOnFootSync = 92,
  kPacketDriverSync = 93,
  kPacketPassengerSync = 94,
  kPacket95 = 95,
  kPacketStatus = 96,
  kPacketWorldTime = 97,
  kPacket98 = 98,
  kPacketPingAnswer = 99,
};

// Fixed blocks that follow the id byte.
inline constexpr uint32_t kPassengerBlockSize = 12;
inline constexpr uint32_t kPacket95BlockSize = 17;
inline constexpr uint32_t kStatusBlockSize = 11;
inline constexpr uint32_t kStatusRecordSize = 17;  // what the status relay carries
inline constexpr uint32_t kPacket98BlockSize = 41;
// Receivers nearer than this get every movement packet; farther ones about
// one in eight.
inline constexpr float kRelayNearDistance = 200.0f;

// Most packets one pass of the loop takes; the rest wait for the next pass.
inline constexpr uint32_t kMaxPacketsPerPass = 1024;

// Takes the waiting packets of the game peer (at most kMaxPacketsPerPass) and
// handles them.
void ProcessPackets();

// One handler per movement packet. `data`/`length` are the packet without any
// time-stamp prefix, starting at its id byte.
void HandleOnFootSync(uint8_t sender, const uint8_t* data, uint32_t length);
void HandleVehicleSync(uint8_t sender, const uint8_t* data, uint32_t length);
void HandleSyncPacket94(uint8_t sender, const uint8_t* data, uint32_t length);
void HandleSyncPacket95(uint8_t sender, const uint8_t* data, uint32_t length);
void HandleSyncPacket96(uint8_t sender, const uint8_t* data, uint32_t length);
void HandleSyncPacket98(uint8_t sender, const uint8_t* data, uint32_t length);

// Sends the stream to every other spawned player: always to those nearer than
// 200 units, to each farther one when rand() % 8 == 0. Unreliable sequenced.
void RelaySyncToPlayers(uint8_t sender, const net::BitStream& stream,
                        net::PacketPriority priority);

// Horizontal distance between two players' recorded positions; -1 when
// either id is above 99 or not in use.
float GetDistanceBetweenPlayers(uint8_t a, uint8_t b);

// Sends the world-time packet (97, minute, hour) to every spawned player;
// nothing at 00:00.
void BroadcastWorldTime();
