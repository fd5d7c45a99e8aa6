// The tests' network clients over real ENet on loopback.
//
// TestClient is a net::Peer that records what comes back: every message with
// its sender, and the RPCs of the names it watches (the peer drops RPCs whose
// names are not registered, so watch a name BEFORE the action that sends it;
// asking for an unwatched name fails the running test). It connects out, or
// with Listen() serves as the other end for the network library's own tests.
//
//   support::TestClient c({"ClientJoin", "Chat"});
//   ASSERT_TRUE(c.Connect(server.Port()));
//   c.SendRpc("ClientJoin", join);
//   ASSERT_TRUE(c.WaitForRpc("Chat"));
//
// RawClient is a bare ENet client that follows the wire format only as far as
// a test tells it to, and sends and receives single datagrams.
// Not thread-safe: everything received is handled inside Pump() (which the
// waits call) on the caller's thread.
#pragma once

#include <enet/enet.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "net/bitstream.h"
#include "net/peer.h"
#include "net/types.h"

namespace support {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kDefaultWaitMs = 3000;

struct ReceivedRpc {
  std::string name;
  Bytes data;         // payload bytes (bits rounded up)
  uint32_t bits = 0;  // exact payload bit count
  net::SystemAddress sender;
  // A stream over exactly the payload's bits, read position 0.
  std::unique_ptr<net::BitStream> Reader() const;
};

// A message as Receive() handed it over (connection notices included).
struct ReceivedPacket {
  Bytes data;
  int index = -1;
  net::SystemAddress from;
  uint32_t bits = 0;
  uint8_t Id() const { return data.empty() ? 0 : data[0]; }
};

net::SystemAddress Loopback(uint16_t port);
// Calls `pumpEachRound` (if any) and then checks `cond`, about every
// millisecond, until `cond` holds (true) or the time is up (false).
bool WaitUntil(const std::function<bool()>& cond, uint32_t timeoutMs,
               const std::function<void()>& pumpEachRound = {});

class TestClient {
 public:
  explicit TestClient(std::initializer_list<std::string> watched = {});
  ~TestClient();  // shuts the peer down (the other end sees a disconnection)
  TestClient(const TestClient&) = delete;
  TestClient& operator=(const TestClient&) = delete;

  void Watch(const std::string& name);
  void Watch(std::initializer_list<std::string> names) {
    for (const auto& n : names) Watch(n);
  }

  // Local address to send from (e.g. "127.0.0.2" for ban tests); call before
  // the first Connect.
  void BindTo(const std::string& address) { bindAddress_ = address; }
  // Starts as a server for up to `maxConnections` on a free port.
  bool Listen(uint16_t maxConnections) { return started_ = peer_->Startup(maxConnections, 1, 0, "127.0.0.1"); }

  // Connects to 127.0.0.1:port. True once accepted (14); otherwise
  // LastRefusal() tells why (15, 18, 22, 23, or 0 on time-out). While a refused
  // attempt's connection is still closing it retries within the time-out.
  bool Connect(uint16_t port, const std::string& password = "", uint32_t timeoutMs = kDefaultWaitMs);
  bool Connected() const { return connected_; }
  uint8_t LastRefusal() const { return lastRefusal_; }
  uint16_t Index() const { return index_; }  // our index on the server
  const net::SystemAddress& Server() const { return server_; }
  uint16_t LocalPort() const { return started_ ? peer_->GetBoundPort() : 0; }
  net::SystemAddress Address() const;  // where this peer is bound
  // Closes the connection gracefully; the server gets 19.
  void Disconnect();

  bool SendRpc(const std::string& name, const uint8_t* data, uint32_t bitCount,
               net::PacketReliability reliability = net::RELIABLE_ORDERED) {
    return connected_ && peer_->RPC(name.c_str(), data, bitCount, net::HIGH_PRIORITY, reliability, 0, server_, false);
  }
  bool SendRpc(const std::string& name, const net::BitStream& payload,
               net::PacketReliability reliability = net::RELIABLE_ORDERED) {
    return SendRpc(name, payload.GetData(), payload.GetNumberOfBitsUsed(), reliability);
  }
  bool SendRaw(const net::BitStream& message, net::PacketReliability reliability = net::RELIABLE) {
    return connected_ && peer_->Send(&message, net::HIGH_PRIORITY, reliability, 0, server_, false);
  }
  bool SendRaw(const Bytes& bytes, net::PacketReliability reliability = net::RELIABLE) {
    return connected_ && !bytes.empty() &&
           peer_->Send(bytes.data(), static_cast<uint32_t>(bytes.size()) * 8, net::HIGH_PRIORITY, reliability, 0, server_, false);
  }

  void Pump();
  bool WaitFor(const std::function<bool()>& cond, uint32_t timeoutMs = kDefaultWaitMs) {
    return WaitUntil(cond, timeoutMs, [this] { Pump(); });
  }
  bool WaitForRpc(const std::string& name, size_t count = 1, uint32_t timeoutMs = kDefaultWaitMs) {
    return CheckWatched(name) && WaitFor([&] { return Count(name) >= count; }, timeoutMs);
  }
  bool WaitForPacket(uint8_t id, size_t count = 1, uint32_t timeoutMs = kDefaultWaitMs) {
    return WaitFor([&] { return PacketCount(id) >= count; }, timeoutMs);
  }

  std::vector<ReceivedRpc> Rpcs(const std::string& name) const;
  size_t Count(const std::string& name) const { return Rpcs(name).size(); }
  const ReceivedRpc* LastRpc(const std::string& name) const;
  const std::vector<ReceivedRpc>& AllRpcs() const { return rpcs_; }
  std::vector<Bytes> Packets(uint8_t id) const;
  size_t PacketCount(uint8_t id) const { return Packets(id).size(); }
  const ReceivedPacket* LastPacket(uint8_t id) const;
  const std::vector<ReceivedPacket>& AllPackets() const { return packets_; }
  void Clear() { rpcs_.clear(), packets_.clear(); }  // keeps the connection

  net::Peer& GetPeer() { return *peer_; }

 private:
  bool CheckWatched(const std::string& name) const;

  std::unique_ptr<net::Peer> peer_;
  std::set<std::string> watched_;
  std::vector<ReceivedRpc> rpcs_;
  std::vector<ReceivedPacket> packets_;
  std::string bindAddress_;
  net::SystemAddress server_ = net::UNASSIGNED_SYSTEM_ADDRESS;
  bool started_ = false;
  bool connected_ = false;
  uint8_t lastRefusal_ = 0;
  uint16_t index_ = 0xFFFF;
};

class RawClient {
 public:
  RawClient() : host_((enet_initialize(), enet_host_create(nullptr, 1, 2, 0, 0))) {}
  ~RawClient() { enet_host_destroy(host_); }  // without a disconnect: the server hears silence
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool Connect(uint16_t port);  // the ENet handshake only
  void Send(const Bytes& bytes, bool reliable = true);
  // Sends a connection request and returns the answer's id, or 0.
  uint8_t Request(const std::string& password);
  // Services the host until `done` or the deadline; nothing after the event
  // that made `done` hold is answered.
  bool ServiceUntil(const std::function<bool()>& done, uint32_t ms = kDefaultWaitMs);
  // Forgets the connection without telling the server, as a client that
  // restarts on the same socket would.
  void Abandon() { enet_peer_reset(peer_), connected_ = false; }
  // Single datagrams from this client's socket, outside any connection.
  void SendDatagram(uint16_t port, const Bytes& bytes);
  Bytes ReceiveDatagram(uint32_t ms = 2000);  // the next one, or empty

  std::vector<Bytes> received;
  bool disconnected = false;

 private:
  ENetHost* host_ = nullptr;
  ENetPeer* peer_ = nullptr;
  bool connected_ = false;
};

}  // namespace support
