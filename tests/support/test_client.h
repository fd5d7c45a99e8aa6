// A scripted game client for integration tests: a net::Peer that connects to a
// server on loopback, sends RPCs and raw messages, and records what comes back.
//
// The peer drops RPCs whose names are not registered, so a client only records
// the RPC names it watches: watch a name BEFORE the action that makes the
// server send it. Asking for an unwatched name fails the running test.
//
//   support::TestClient c({"ClientJoin", "Chat"});
//   ASSERT_TRUE(c.Connect(server.Port()));
//   c.SendRpc("ClientJoin", join);
//   ASSERT_TRUE(c.WaitForRpc("Chat"));
//   auto r = c.LastRpc("Chat")->Reader();
//
// Not thread-safe: use each client from one thread. Everything received is
// handled inside Pump() (which WaitFor* call), on the caller's thread.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "net/bitstream.h"
#include "net/peer.h"
#include "net/types.h"

namespace support {

constexpr uint32_t kDefaultWaitMs = 3000;

struct ReceivedRpc {
  std::string name;
  std::vector<uint8_t> data;  // payload bytes (bits rounded up)
  uint32_t bits = 0;          // exact payload bit count
  // A stream over exactly the payload's bits, read position 0.
  std::unique_ptr<net::BitStream> Reader() const;
};

class TestClient {
 public:
  explicit TestClient(std::initializer_list<std::string> watched = {});
  ~TestClient();  // shuts the peer down (the server sees a disconnection)
  TestClient(const TestClient&) = delete;
  TestClient& operator=(const TestClient&) = delete;

  // Starts recording RPCs of these names.
  void Watch(const std::string& name);
  void Watch(std::initializer_list<std::string> names);

  // Local address to send from (e.g. "127.0.0.2" for ban tests); call before
  // the first Connect.
  void BindTo(const std::string& address) { bindAddress_ = address; }

  // Connects to 127.0.0.1:port. True once the server accepted (14); otherwise
  // LastRefusal() tells why (18, 22, 23, 15, or 0 on time-out). A client may
  // connect again after a refusal or Disconnect(); while the old connection is
  // still closing it retries within the time-out (16 if that runs out).
  bool Connect(uint16_t port, const std::string& password = "", uint32_t timeoutMs = kDefaultWaitMs);
  bool Connected() const { return connected_; }
  uint8_t LastRefusal() const { return lastRefusal_; }
  uint16_t Index() const { return index_; }  // our system index on the server
  const net::SystemAddress& Server() const { return server_; }
  // Our local port (0 before the first Connect).
  uint16_t LocalPort() const;

  // Closes the connection gracefully; the server gets 19.
  void Disconnect();

  // Sends to the server. False when not connected or the peer refused.
  bool SendRpc(const std::string& name, const net::BitStream& payload,
               net::PacketReliability reliability = net::RELIABLE_ORDERED);
  bool SendRpc(const std::string& name, const uint8_t* data, uint32_t bitCount,
               net::PacketReliability reliability = net::RELIABLE_ORDERED);
  bool SendRaw(const net::BitStream& message, net::PacketReliability reliability = net::RELIABLE);
  bool SendRaw(const std::vector<uint8_t>& bytes, net::PacketReliability reliability = net::RELIABLE);

  // Handles everything that has arrived.
  void Pump();
  // Pumps until `cond` holds (true) or the time is up (false).
  bool WaitFor(const std::function<bool()>& cond, uint32_t timeoutMs = kDefaultWaitMs);
  // Until at least `count` RPCs `name` (watched) / raw messages `id` were recorded.
  bool WaitForRpc(const std::string& name, size_t count = 1, uint32_t timeoutMs = kDefaultWaitMs);
  bool WaitForPacket(uint8_t id, size_t count = 1, uint32_t timeoutMs = kDefaultWaitMs);

  // Recorded RPCs of a watched name, oldest first.
  std::vector<ReceivedRpc> Rpcs(const std::string& name) const;
  size_t Count(const std::string& name) const;
  // The newest RPC of that name, or nullptr.
  const ReceivedRpc* LastRpc(const std::string& name) const;
  // Every recorded RPC in arrival order.
  const std::vector<ReceivedRpc>& AllRpcs() const { return rpcs_; }

  // Raw messages (and connection notices such as 14, 19, 20) by first byte.
  std::vector<std::vector<uint8_t>> Packets(uint8_t id) const;
  size_t PacketCount(uint8_t id) const;

  // Forgets everything recorded so far (connection state is kept).
  void Clear();

  // The underlying peer, e.g. to attach a LightweightDatabaseClient.
  net::Peer& GetPeer() { return *peer_; }

 private:
  bool CheckWatched(const std::string& name) const;
  void Record(const std::string& name, const net::RPCParameters* params);

  std::unique_ptr<net::Peer> peer_;
  std::set<std::string> watched_;
  std::vector<ReceivedRpc> rpcs_;
  std::map<uint8_t, std::vector<std::vector<uint8_t>>> packets_;
  std::string bindAddress_;
  net::SystemAddress server_ = net::UNASSIGNED_SYSTEM_ADDRESS;
  bool started_ = false;
  bool connected_ = false;
  uint8_t lastRefusal_ = 0;
  uint16_t index_ = 0xFFFF;
};

// Calls `pumpEachRound` (if any) and then checks `cond`, about every
// millisecond, until `cond` holds (true) or the time is up (false). For tests
// that must pump a server and several clients together.
bool WaitUntil(const std::function<bool()>& cond, uint32_t timeoutMs,
               const std::function<void()>& pumpEachRound = {});

}  // namespace support
