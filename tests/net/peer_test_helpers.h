// Helpers for the peer tests: a peer that records what Receive() hands over,
// a raw ENet client that can misbehave, and a raw UDP socket.
#pragma once

#include <arpa/inet.h>
#include <enet/enet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "net/peer.h"
#include "net/types.h"
#include "platform/platform.h"

namespace net::test {

struct Received {
  std::vector<uint8_t> data;
  int index = -1;
  SystemAddress from;
  uint32_t bitSize = 0;
  uint8_t Id() const { return data.empty() ? 0 : data[0]; }
};

struct Call {
  std::string name;
  std::vector<uint8_t> payload;
  uint32_t bits = 0;
  SystemAddress sender;
};

inline SystemAddress Loopback(uint16_t port, const char* ip = "127.0.0.1") {
  SystemAddress a;
  a.SetBinaryAddress(ip);
  a.port = port;
  return a;
}

// A started peer that records every packet and every call of its watched RPCs.
class Node {
 public:
  explicit Node(uint16_t maxConnections = 4, const char* bind = "127.0.0.1", uint16_t port = 0) {
    started = peer.Startup(maxConnections, 1, port, bind);
  }
  ~Node() { peer.Shutdown(); }

  void Watch(const std::string& name) {
    peer.RegisterAsRemoteProcedureCall(name.c_str(), [this, name](RPCParameters* p) {
      Call c;
      c.name = name;
      c.bits = p->numberOfBitsOfData;
      c.payload.assign(p->input, p->input + (p->numberOfBitsOfData + 7) / 8);
      c.sender = p->sender;
      calls.push_back(std::move(c));
    });
  }

  void Pump() {
    while (Packet* p = peer.Receive()) {
      Received r;
      r.data.assign(p->data, p->data + p->length);
      r.index = p->systemIndex;
      r.from = p->systemAddress;
      r.bitSize = p->bitSize;
      got.push_back(std::move(r));
      peer.DeallocatePacket(p);
    }
  }

  int Count(uint8_t id) const {
    int n = 0;
    for (const Received& r : got) n += r.Id() == id;
    return n;
  }
  const Received* Last(uint8_t id) const {
    for (auto it = got.rbegin(); it != got.rend(); ++it) {
      if (it->Id() == id) return &*it;
    }
    return nullptr;
  }
  int CallCount(const std::string& name) const {
    int n = 0;
    for (const Call& c : calls) n += c.name == name;
    return n;
  }

  SystemAddress Address() const { return Loopback(peer.GetBoundPort()); }

  Peer peer;
  bool started = false;
  std::vector<Received> got;
  std::vector<Call> calls;
};

// Pumps the nodes until `done` holds or the deadline passes.
inline bool WaitFor(std::initializer_list<Node*> nodes, const std::function<bool()>& done,
                    uint32_t ms = 3000) {
  const uint64_t end = platform::MonotonicUs() + static_cast<uint64_t>(ms) * 1000;
  for (;;) {
    for (Node* n : nodes) n->Pump();
    if (done()) return true;
    if (platform::MonotonicUs() >= end) return false;
    platform::SleepMs(1);
  }
}

// Connects `client` to `server` and returns the first answer id (14, 15, 18,
// 22 or 23), or 0 when none came.
inline uint8_t Join(Node& client, Node& server, const std::string& password = "") {
  const size_t before = client.got.size();
  if (!client.peer.Connect("127.0.0.1", server.peer.GetBoundPort(), password.data(),
                           static_cast<int>(password.size()))) {
    return 0;
  }
  uint8_t answer = 0;
  WaitFor({&client, &server}, [&] {
    for (size_t i = before; i < client.got.size(); ++i) {
      const uint8_t id = client.got[i].Id();
      if (id == ID_CONNECTION_REQUEST_ACCEPTED || id == ID_CONNECTION_ATTEMPT_FAILED ||
          id == ID_NO_FREE_INCOMING_CONNECTIONS || id == ID_CONNECTION_BANNED ||
          id == ID_INVALID_PASSWORD) {
        answer = id;
        return true;
      }
    }
    return false;
  });
  return answer;
}

// The index a server gave in its 14, or -1.
inline int GivenIndex(const Node& client) {
  const Received* r = client.Last(ID_CONNECTION_REQUEST_ACCEPTED);
  if (!r || r->data.size() < 3) return -1;
  return r->data[1] | (r->data[2] << 8);
}

// A bare ENet client: it follows the wire format only as far as a test tells
// it to, and stops answering altogether once it is no longer serviced.
class RawClient {
 public:
  RawClient() {
    enet_initialize();
    host_ = enet_host_create(nullptr, 1, 2, 0, 0);
  }
  ~RawClient() {
    // Destroyed without a disconnect: to the server it simply falls silent.
    if (host_) enet_host_destroy(host_);
  }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  // Completes the ENet handshake only.
  bool Connect(uint16_t port) {
    if (!host_) return false;
    ENetAddress a;
    enet_address_set_host_ip(&a, "127.0.0.1");
    a.port = port;
    peer_ = enet_host_connect(host_, &a, 2, 0);
    return peer_ && ServiceUntil([this] { return connected_; });
  }

  void Send(const std::vector<uint8_t>& bytes, bool reliable = true) {
    ENetPacket* p =
        enet_packet_create(bytes.data(), bytes.size(), reliable ? ENET_PACKET_FLAG_RELIABLE : 0);
    enet_peer_send(peer_, reliable ? 0 : 1, p);
    enet_host_flush(host_);
  }

  // Sends the request and waits for the answer; the answer's id or 0.
  uint8_t Request(const std::string& password) {
    std::vector<uint8_t> request{ID_CONNECTION_REQUEST};
    request.insert(request.end(), password.begin(), password.end());
    const size_t before = received.size();
    Send(request);
    ServiceUntil([&] { return received.size() > before; });
    return received.size() > before && !received[before].empty() ? received[before][0] : 0;
  }

  // Services the host (answering pings and acknowledging) until `done` or the deadline.
  bool ServiceUntil(const std::function<bool()>& done, uint32_t ms = 3000) {
    const uint64_t end = platform::MonotonicUs() + static_cast<uint64_t>(ms) * 1000;
    for (;;) {
      ENetEvent ev;
      while (enet_host_service(host_, &ev, 1) > 0) {
        if (ev.type == ENET_EVENT_TYPE_CONNECT) connected_ = true;
        if (ev.type == ENET_EVENT_TYPE_DISCONNECT) disconnected = true;
        if (ev.type == ENET_EVENT_TYPE_RECEIVE) {
          received.emplace_back(ev.packet->data, ev.packet->data + ev.packet->dataLength);
          enet_packet_destroy(ev.packet);
        }
      }
      if (done()) return true;
      if (platform::MonotonicUs() >= end) return false;
    }
  }

  // Forgets the connection without telling the server, as a client that
  // restarts on the same socket would; Connect() then starts a new session.
  void Abandon() {
    if (peer_) enet_peer_reset(peer_);
    connected_ = false;
  }

  std::vector<std::vector<uint8_t>> received;
  bool disconnected = false;

 private:
  ENetHost* host_ = nullptr;
  ENetPeer* peer_ = nullptr;
  bool connected_ = false;
};

// A plain UDP socket on loopback.
class UdpSocket {
 public:
  UdpSocket() {
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local);
  }
  ~UdpSocket() { close(fd_); }
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;

  void SendTo(uint16_t port, const std::vector<uint8_t>& bytes) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(port);
    sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  }

  // The next datagram within `ms`, or an empty vector.
  std::vector<uint8_t> Receive(uint32_t ms = 2000) {
    timeval tv{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>((ms % 1000) * 1000)};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    std::vector<uint8_t> buffer(65536);
    const ssize_t n = recv(fd_, buffer.data(), buffer.size(), 0);
    buffer.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return buffer;
  }

  uint16_t Port() const {
    sockaddr_in local{};
    socklen_t len = sizeof local;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &len);
    return ntohs(local.sin_port);
  }

 private:
  int fd_ = -1;
};

}  // namespace net::test
