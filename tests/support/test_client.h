// The tests' network clients over real ENet on loopback.
//
// TestClient is a net::Peer that records what comes back: every message, and
// the RPCs of the names it watches (the peer drops RPCs whose names are not
// registered, so watch a name BEFORE the action that sends it; asking for an
// unwatched name fails the running test). It connects out, or with Listen()
// serves as the other end for the network library's own tests.
// RawClient is a bare ENet client that follows the wire format only as far as
// a test tells it to, and sends and receives single datagrams.
// Not thread-safe: everything received is handled inside Pump() (which the
// waits call) on the caller's thread.
#pragma once

#include <arpa/inet.h>
#include <enet/enet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "net/bitstream.h"
#include "net/cookie.h"
#include "net/peer.h"
#include "net/types.h"

namespace support {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kDefaultWaitMs = 3000;

// An RPC (with its name), or a message as Receive() handed it over (connection
// notices included).
struct Received {
  std::string name;
  Bytes data;         // bits rounded up to bytes
  uint32_t bits = 0;  // exact bit count
  int index = -1;     // the sender's index (messages only)
  net::SystemAddress from;
  uint8_t Id() const { return data.empty() ? 0 : data[0]; }
};
using ReceivedRpc = Received;
using ReceivedPacket = Received;

inline net::SystemAddress Loopback(uint16_t port) { return {htonl(INADDR_LOOPBACK), port}; }
// Calls `pumpEachRound` (if any) and then checks `cond`, about every
// millisecond, until `cond` holds (true) or the time is up (false).
inline bool WaitUntil(const std::function<bool()>& cond, uint32_t timeoutMs,
                      const std::function<void()>& pumpEachRound = {}) {
  for (auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);;
       std::this_thread::sleep_for(std::chrono::milliseconds(1))) {
    if (pumpEachRound) pumpEachRound();
    if (cond()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
  }
}
template <typename T, typename Match>
const T* Last(const std::vector<T>& all, Match match) {
  auto it = std::find_if(all.rbegin(), all.rend(), match);
  return it == all.rend() ? nullptr : &*it;
}

// An ENet CONNECT datagram as a client would send it: peer id 0xFFF with the
// sent-time flag, time, command 2|0x80 on channel 0xFF, then its fields, the
// outgoing peer id first and the connect data (the cookie, big-endian) last.
inline Bytes EnetConnectDatagram(uint8_t connectId, uint32_t data = 0, uint16_t outgoingPeer = 0) {
  const auto b = [](uint32_t v, int byte) { return static_cast<uint8_t>(v >> (8 * byte)); };
  // clang-format off
  return {0x8F, 0xFF, 0x04, 0xD2, 0x82, 0xFF, 0, 1,
          b(outgoingPeer, 1), b(outgoingPeer, 0), 0, 0,
          0, 0, 0x05, 0x78, 0, 0, 0x80, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0,
          0, 0, 0x13, 0x88, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, connectId,
          b(data, 3), b(data, 2), b(data, 1), b(data, 0)};
  // clang-format on
}

class TestClient {  // its peer shuts down with it: the other end sees a disconnection
 public:
  explicit TestClient(std::initializer_list<std::string> watched = {}) {
    for (const auto& n : watched) Watch(n);
  }
  void Watch(const std::string& name) {
    if (watched_.insert(name).second)
      peer_.RegisterAsRemoteProcedureCall(name.c_str(), [this, name](net::RPCParameters* p) {
        const uint32_t bits = p->input ? p->numberOfBitsOfData : 0;
        rpcs_.push_back({name, Bytes(p->input, p->input + (bits + 7) / 8), bits, -1, p->sender});
      });
  }
  // Local address to send from (e.g. "127.0.0.2" for ban tests); before the first Connect.
  void BindTo(const std::string& address) { bindAddress_ = address; }
  bool Listen(uint16_t maxConnections) {
    return started_ = peer_.Startup(maxConnections, 1, 0, "127.0.0.1");
  }
  // True once accepted (14); otherwise LastRefusal() tells why (15, 18, 22, 23,
  // or 0 on time-out). While a refused attempt's connection is still closing
  // (16) it asks again within the time-out.
  bool Connect(uint16_t port, const std::string& password = "",
               uint32_t timeoutMs = kDefaultWaitMs) {
    if (!started_) {
      const char* bind = bindAddress_.empty() ? nullptr : bindAddress_.c_str();
      started_ = peer_.Startup(1, 5, 0, bind);
      if (!started_) return false;
    }
    bool asked = false;
    auto answered = [&] {
      if (!connected_ && (!asked || lastRefusal_ == net::ID_ALREADY_CONNECTED)) {
        lastRefusal_ = 0;
        asked =
            peer_.Connect("127.0.0.1", port, password.data(), static_cast<int>(password.size()));
      }
      return connected_ || !asked || lastRefusal_ != 0;
    };
    WaitFor(answered, timeoutMs);
    return connected_;
  }
  bool Connected() const { return connected_; }
  uint8_t LastRefusal() const { return lastRefusal_; }
  uint16_t Index() const { return index_; }  // our index on the server
  uint16_t LocalPort() const { return started_ ? peer_.GetBoundPort() : 0; }
  net::SystemAddress Address() const {  // where this peer is bound
    net::SystemAddress a = Loopback(LocalPort());
    a.SetBinaryAddress(bindAddress_.empty() ? "127.0.0.1" : bindAddress_.c_str());
    return a;
  }

  bool SendRpc(const std::string& name, const uint8_t* data, uint32_t bitCount) {
    return connected_ && peer_.RPC(name.c_str(), data, bitCount, net::HIGH_PRIORITY,
                                   net::RELIABLE_ORDERED, 0, server_, false);
  }
  bool SendRpc(const std::string& name, const net::BitStream& s) {
    return SendRpc(name, s.GetData(), s.GetNumberOfBitsUsed());
  }
  bool SendRaw(const Bytes& b) {
    return connected_ && peer_.Send(b.data(), static_cast<uint32_t>(b.size()) * 8,
                                    net::HIGH_PRIORITY, net::RELIABLE, 0, server_, false);
  }

  void Pump() {
    while (net::Packet* p = started_ ? peer_.Receive() : nullptr) {
      const uint8_t id = p->length ? p->data[0] : 0;
      const std::set<int> refusals = {
          net::ID_ALREADY_CONNECTED, net::ID_CONNECTION_ATTEMPT_FAILED, net::ID_INVALID_PASSWORD,
          net::ID_NO_FREE_INCOMING_CONNECTIONS, net::ID_CONNECTION_BANNED};
      const bool fromServer = p->systemAddress == server_;
      if (id == net::ID_CONNECTION_REQUEST_ACCEPTED && p->length >= 3) {
        connected_ = true;
        server_ = p->systemAddress;
        index_ = static_cast<uint16_t>(p->data[1] | (p->data[2] << 8));
      } else if (refusals.count(id)) {
        if (!connected_) lastRefusal_ = id;
      } else if (id == net::ID_DISCONNECTION_NOTIFICATION || id == net::ID_CONNECTION_LOST) {
        if (fromServer) connected_ = false;
      }
      if (p->length) {
        packets_.push_back({"", Bytes(p->data, p->data + p->length), p->bitSize, p->systemIndex,
                            p->systemAddress});
      }
      peer_.DeallocatePacket(p);
    }
  }
  bool WaitFor(const std::function<bool()>& cond, uint32_t ms = kDefaultWaitMs) {
    return WaitUntil(cond, ms, [this] { Pump(); });
  }
  bool WaitForPacket(uint8_t id, size_t count = 1) {
    return WaitFor([&] { return PacketCount(id) >= count; });
  }

  size_t Count(const std::string& name) const {
    EXPECT_TRUE(watched_.count(name))
        << "RPC '" << name << "' is not watched; Watch() it before the action that sends it";
    return std::count_if(rpcs_.begin(), rpcs_.end(), [&](auto& r) { return r.name == name; });
  }
  const ReceivedRpc* LastRpc(const std::string& name) const {
    return Count(name) ? Last(rpcs_, [&](auto& r) { return r.name == name; }) : nullptr;
  }
  const std::vector<ReceivedRpc>& AllRpcs() const { return rpcs_; }
  std::vector<Bytes> Packets(uint8_t id) const {
    std::vector<Bytes> out;
    for (const ReceivedPacket& p : packets_)
      if (p.Id() == id) out.push_back(p.data);
    return out;
  }
  size_t PacketCount(uint8_t id) const { return Packets(id).size(); }
  const ReceivedPacket* LastPacket(uint8_t id) const {
    return Last(packets_, [&](auto& p) { return p.Id() == id; });
  }
  const std::vector<ReceivedPacket>& AllPackets() const { return packets_; }
  void Clear() {  // keeps the connection
    rpcs_.clear();
    packets_.clear();
  }
  net::Peer& GetPeer() { return peer_; }

 private:
  std::set<std::string> watched_;
  std::vector<ReceivedRpc> rpcs_;
  std::vector<ReceivedPacket> packets_;
  std::string bindAddress_;
  net::SystemAddress server_ = net::UNASSIGNED_SYSTEM_ADDRESS;
  bool started_ = false;
  bool connected_ = false;
  uint8_t lastRefusal_ = 0;
  uint16_t index_ = 0xFFFF;
  net::Peer peer_;  // last, so it goes first: nothing reaches the records once they are gone
};

class RawClient {
 public:
  // Sends from `bindIp` (any local address when null).
  explicit RawClient(const char* bindIp = nullptr) {
    enet_initialize();
    ENetAddress local{ENET_HOST_ANY, ENET_PORT_ANY};
    if (bindIp) enet_address_set_host_ip(&local, bindIp);
    host_ = enet_host_create(&local, 1, 2, 0, 0);
  }
  ~RawClient() { enet_host_destroy(host_); }  // without a disconnect: the server hears silence

  // The cookie exchange and the ENet handshake only, waiting up to `ms`.
  bool Connect(uint16_t port, uint32_t ms = kDefaultWaitMs) {
    const ENetAddress a = To(port);
    peer_ = enet_host_connect(host_, &a, 2, Cookie(port));
    return peer_ && ServiceUntil([this] { return connected_; }, ms);
  }
  // Where this client's socket is bound; as a plain ENet host it takes connects there.
  uint16_t Port() const {
    ENetAddress a{};
    enet_socket_get_address(host_->socket, &a);
    return a.port;
  }
  bool Connected() const { return connected_; }
  // A cookie for this client's address from the server at `port` (0: none came).
  uint32_t Cookie(uint16_t port) { return net::FetchCookie(host_->socket, To(port)); }
  void Send(const Bytes& bytes, bool reliable = true) {
    const uint32_t flags = reliable ? ENET_PACKET_FLAG_RELIABLE : 0;
    enet_peer_send(peer_, !reliable, enet_packet_create(bytes.data(), bytes.size(), flags));
    enet_host_flush(host_);
  }
  // Sends a connection request and returns the answer's id, or 0.
  uint8_t Request(const std::string& password) {
    const size_t before = received.size();
    const std::string request = static_cast<char>(net::ID_CONNECTION_REQUEST) + password;
    Send(Bytes(request.begin(), request.end()));
    if (!ServiceUntil([&] { return received.size() > before; })) return 0;
    return received[before].empty() ? 0 : received[before][0];
  }
  // Services the host until `done` or the deadline; nothing after the event
  // that made `done` hold is answered.
  bool ServiceUntil(const std::function<bool()>& done, uint32_t ms = kDefaultWaitMs) {
    return WaitUntil(done, ms, [&] {
      for (ENetEvent ev; !done() && enet_host_service(host_, &ev, 1) > 0;) {
        connected_ = connected_ || ev.type == ENET_EVENT_TYPE_CONNECT;
        disconnected = disconnected || ev.type == ENET_EVENT_TYPE_DISCONNECT;
        if (ev.type == ENET_EVENT_TYPE_RECEIVE) {
          received.emplace_back(ev.packet->data, ev.packet->data + ev.packet->dataLength);
          enet_packet_destroy(ev.packet);
        }
      }
    });
  }
  // Forgets the connection without telling the server, as a client that
  // restarts on the same socket would.
  void Abandon() {
    enet_peer_reset(peer_);
    connected_ = false;
  }
  // One datagram on the connection, written past this client's ENet: a
  // reliable message on channel 0 with each of `messages`, their sequence
  // numbers counting from `firstSequence` (ENet's own next one is 2 after
  // the request), so that a gap can be left for ENet's next message to fill.
  void SendReliableRun(uint16_t firstSequence, const std::vector<Bytes>& messages) {
    Bytes d;
    auto put16 = [&](uint16_t v) {
      d.push_back(static_cast<uint8_t>(v >> 8));
      d.push_back(static_cast<uint8_t>(v));
    };
    put16(static_cast<uint16_t>(peer_->outgoingPeerID |
                                (peer_->outgoingSessionID << ENET_PROTOCOL_HEADER_SESSION_SHIFT) |
                                ENET_PROTOCOL_HEADER_FLAG_SENT_TIME));
    put16(static_cast<uint16_t>(enet_time_get()));  // ENet acknowledges nothing without it
    uint16_t sequence = firstSequence;
    for (const Bytes& m : messages) {
      d.push_back(static_cast<uint8_t>(ENET_PROTOCOL_COMMAND_SEND_RELIABLE) |
                  static_cast<uint8_t>(ENET_PROTOCOL_COMMAND_FLAG_ACKNOWLEDGE));
      d.push_back(0);  // channel
      put16(sequence++);
      put16(static_cast<uint16_t>(m.size()));
      d.insert(d.end(), m.begin(), m.end());
    }
    ENetBuffer buffer{d.data(), d.size()};
    enet_socket_send(host_->socket, &peer_->address, &buffer, 1);
  }
  // Single datagrams from this client's socket, outside any connection.
  void SendDatagram(uint16_t port, const Bytes& bytes) {
    const ENetAddress to = To(port);
    ENetBuffer buffer{const_cast<uint8_t*>(bytes.data()), bytes.size()};
    enet_socket_send(host_->socket, &to, &buffer, 1);
  }
  Bytes ReceiveDatagram(int ms = 2000) {  // the next one, or empty
    Bytes data(65536);
    pollfd p{host_->socket, POLLIN, 0};
    ssize_t got = 0;
    if (poll(&p, 1, ms) == 1) got = recv(host_->socket, data.data(), data.size(), 0);
    data.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return data;
  }

  std::vector<Bytes> received;
  bool disconnected = false;

 private:
  static ENetAddress To(uint16_t port) {
    ENetAddress a{0, port};
    enet_address_set_host_ip(&a, "127.0.0.1");
    return a;
  }
  ENetHost* host_ = nullptr;
  ENetPeer* peer_ = nullptr;
  bool connected_ = false;
};

}  // namespace support
