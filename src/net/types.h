// Shared vocabulary of the network library: addresses, packets, message ids,
// priorities and reliabilities.
#pragma once

#include <cstdint>
#include <string>

namespace net {

// An IPv4 address and port. `binaryAddress` holds the address in network byte
// order (as in sockaddr_in), `port` in host order.
struct SystemAddress {
  uint32_t binaryAddress = 0xFFFFFFFF;
  uint16_t port = 0xFFFF;

  // "a.b.c.d" or "a.b.c.d:port".
  std::string ToString(bool withPort = true) const;
  // Parses "a.b.c.d" (host names are not resolved here). False on bad text.
  bool SetBinaryAddress(const char* dotted);
  bool operator==(const SystemAddress& o) const {
    return binaryAddress == o.binaryAddress && port == o.port;
  }
  bool operator!=(const SystemAddress& o) const { return !(*this == o); }
};

inline const SystemAddress UNASSIGNED_SYSTEM_ADDRESS{0xFFFFFFFF, 0xFFFF};

// One message handed to the application by Peer::Receive.
struct Packet {
  SystemAddress systemAddress;
  int systemIndex = -1;  // the sender's connection index, -1 when none
  uint32_t length = 0;   // bytes
  uint32_t bitSize = 0;  // exact bits
  uint8_t* data = nullptr;
  uint32_t receivedMs = 0;  // GetTimeMs() when the message arrived (or the notice was raised)
  bool reliable = true;     // sent reliably (notices count as reliable)
};

class Peer;

// What an RPC handler receives: the payload and its exact bit count.
struct RPCParameters {
  const uint8_t* input = nullptr;
  uint32_t numberOfBitsOfData = 0;
  SystemAddress sender;
  Peer* recipient = nullptr;
  uint32_t receivedMs = 0;  // GetTimeMs() when the call arrived
  bool reliable = true;     // sent reliably
};

enum PacketPriority : uint8_t { HIGH_PRIORITY = 0, MEDIUM_PRIORITY = 1, LOW_PRIORITY = 2 };

enum PacketReliability : uint8_t {
  UNRELIABLE = 0,
  UNRELIABLE_SEQUENCED = 1,
  RELIABLE = 2,
  RELIABLE_ORDERED = 3,
  RELIABLE_SEQUENCED = 4,
};

// Message ids: the first byte of every message.
enum MessageId : uint8_t {
  ID_PING = 1,
  ID_PING_OPEN_CONNECTIONS = 2,
  ID_CONNECTION_REQUEST = 4,
  ID_RPC = 11,
  ID_CONNECTION_REQUEST_ACCEPTED = 14,
  ID_CONNECTION_ATTEMPT_FAILED = 15,
  ID_ALREADY_CONNECTED = 16,
  ID_NEW_INCOMING_CONNECTION = 17,
  ID_NO_FREE_INCOMING_CONNECTIONS = 18,
  ID_DISCONNECTION_NOTIFICATION = 19,
  ID_CONNECTION_LOST = 20,
  ID_CONNECTION_BANNED = 22,
  ID_INVALID_PASSWORD = 23,
  ID_TIMESTAMP = 25,
  ID_PONG = 26,
  ID_MASTER_LIST_ADDRESS = 31,
  ID_DATABASE_UPDATE_ROW = 71,
  ID_DATABASE_UNKNOWN_TABLE = 72,
  ID_DATABASE_INCORRECT_PASSWORD = 73,
};

// Why the library itself ended a connection: the byte after ID_CONNECTION_LOST
// in the notice. A notice of one byte is a connection that fell silent.
enum LostReason : uint8_t {
  LOST_INCOMING_BACKLOG = 1,  // a reliable message did not fit the connection's queue share
  LOST_OUTGOING_BACKLOG = 2,  // more waited to be sent to it than it was taking
  LOST_JOIN_DEADLINE = 3,     // accepted, but did not join in time
  LOST_INCOMING_HELD = 4,     // ENet held as much of it as it may, waiting behind a lost one
  LOST_SEND_FAILED = 5,       // ENet refused a reliable message to it: its stream would have a hole
  LOST_BY_APPLICATION = 6,    // the application dropped it (DropConnection) and said why itself
};

// Paul Hsieh's SuperFastHash; the hash starts at the length.
uint32_t SuperFastHash(const char* data, int length);

// The monotonic clock: microseconds, and milliseconds as the low 32 bits of
// microseconds / 1000 (compare by unsigned difference).
uint64_t GetTimeUs();
uint32_t GetTimeMs();

}  // namespace net
