// Building and sending the server's remote procedure calls:
//   Rpc("SetPlayerPos").c8(id).f32(x).f32(y).f32(z).ToPlayer(id);
// Every call goes through the game peer at high priority, reliable, channel 0.
// Before the network starts (no peer, or one not yet listening) nothing is sent.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>

#include "net/bitstream.h"
#include "net/peer.h"

class Rpc {
 public:
  explicit Rpc(const char* name) : name_(name) {}

  Rpc& u8(uint8_t v) { stream_.Write(v); return *this; }
  Rpc& u16(uint16_t v) { stream_.Write(v); return *this; }
  Rpc& u32(uint32_t v) { stream_.Write(v); return *this; }
  Rpc& i8(int8_t v) { stream_.Write(v); return *this; }
  Rpc& i16(int16_t v) { stream_.Write(v); return *this; }
  Rpc& i32(int32_t v) { stream_.Write(v); return *this; }
  Rpc& f32(float v) { stream_.Write(v); return *this; }
  Rpc& c8(uint8_t v) { stream_.WriteCompressed(v); return *this; }
  Rpc& c16(uint16_t v) { stream_.WriteCompressed(v); return *this; }
  Rpc& c32(uint32_t v) { stream_.WriteCompressed(v); return *this; }
  Rpc& vec3(float x, float y, float z) { stream_.WriteVector(x, y, z); return *this; }
  Rpc& bit(bool v) { stream_.WriteBit(v); return *this; }
  Rpc& chars(const char* text, size_t length) {
    if (length) stream_.WriteBytes(text, static_cast<uint32_t>(length));
    return *this;
  }
  Rpc& bytes(const void* data, size_t length) {
    if (length) stream_.WriteBytes(data, static_cast<uint32_t>(length));
    return *this;
  }
  net::BitStream& Stream() { return stream_; }

  // To one player (nothing when that player has no connection).
  bool ToPlayer(uint8_t playerId);
  // To each of these players at once, one packet shared by all (false when
  // none of them has a connection).
  bool ToPlayers(std::span<const uint16_t> playerIds);
  // To every connected system.
  bool ToAll();
  // To every connected system but the player's.
  bool ToAllBut(uint8_t playerId);
  // To an explicit target, as the peer's RPC takes it.
  bool To(const net::SystemAddress& target, bool broadcast);

 private:
  const char* name_;
  net::BitStream stream_;
};

// The network game's peer: the one way to it. Null before start-up; until the
// network starts it has no connections, so nothing goes out through it.
net::Peer* GetGamePeer();
// Gives the game peer the settings' password (none when unset), as joining
// clients must type it.
void ApplyPasswordSetting();
// The address of a player's connection, or UNASSIGNED_SYSTEM_ADDRESS.
net::SystemAddress GetPlayerAddress(uint8_t playerId);
// Closes a player's connection without a notice (what was queued to it still
// arrives); nothing when the player has no connection.
void ClosePlayerConnection(uint8_t playerId);
