// Shared by the net tests: a peer that records what Receive() hands over, a
// raw ENet client that can misbehave, a raw UDP socket and message builders.
#pragma once

#include <arpa/inet.h>
#include <enet/enet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "net/peer.h"
#include "net/types.h"
#include "platform/platform.h"
#include "support/test_client.h"

namespace net::test {

using Bytes = std::vector<uint8_t>;

struct Received {
  Bytes data;
  int index = -1;
  SystemAddress from;
  uint32_t bitSize = 0;
  uint8_t Id() const { return data.empty() ? 0 : data[0]; }
};

struct Call {
  std::string name;
  Bytes payload;
  uint32_t bits = 0;
  SystemAddress sender;
};

inline SystemAddress Loopback(uint16_t port) {
  SystemAddress a;
  a.SetBinaryAddress("127.0.0.1");
  a.port = port;
  return a;
}

// A started peer that records every packet and every call of its watched RPCs.
class Node {
 public:
  explicit Node(uint16_t maxConnections = 4, const char* bind = "127.0.0.1") {
    started = peer.Startup(maxConnections, 1, 0, bind);
  }
  ~Node() { peer.Shutdown(); }

  void Watch(const std::string& name) {
    peer.RegisterAsRemoteProcedureCall(name.c_str(), [this, name](RPCParameters* p) {
      calls.push_back({name, Bytes(p->input, p->input + (p->numberOfBitsOfData + 7) / 8),
                       p->numberOfBitsOfData, p->sender});
    });
  }

  // A reliable ordered RPC.
  bool Rpc(const char* name, const void* data, uint32_t bits, const SystemAddress& to,
           bool broadcast = false) {
    return peer.RPC(name, static_cast<const uint8_t*>(data), bits, HIGH_PRIORITY, RELIABLE_ORDERED,
                    0, to, broadcast);
  }

  void Pump() {
    while (Packet* p = peer.Receive()) {
      got.push_back({Bytes(p->data, p->data + p->length), p->systemIndex, p->systemAddress,
                     p->bitSize});
      peer.DeallocatePacket(p);
    }
  }

  int Count(uint8_t id) const {
    return static_cast<int>(
        std::count_if(got.begin(), got.end(), [&](auto& r) { return r.Id() == id; }));
  }
  const Received* Last(uint8_t id) const {
    auto it = std::find_if(got.rbegin(), got.rend(), [&](auto& r) { return r.Id() == id; });
    return it == got.rend() ? nullptr : &*it;
  }
  int CallCount(const std::string& name) const {
    return static_cast<int>(
        std::count_if(calls.begin(), calls.end(), [&](auto& c) { return c.name == name; }));
  }
  SystemAddress Address() const { return Loopback(peer.GetBoundPort()); }
  // The index `server` gave the connection from this node, as the server sees it.
  int IndexAt(const Node& server) const {
    return server.peer.GetIndexFromSystemAddress(Address());
  }

  Peer peer;
  bool started = false;
  std::vector<Received> got;
  std::vector<Call> calls;
};

// Pumps the nodes until `done` holds or the deadline passes.
inline bool WaitFor(std::initializer_list<Node*> nodes, const std::function<bool()>& done,
                    uint32_t ms = 3000) {
  return support::WaitUntil(done, ms, [&] {
    for (Node* n : nodes) n->Pump();
  });
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
    for (size_t i = before; i < client.got.size() && !answer; ++i) {
      const uint8_t id = client.got[i].Id();
      if (id == ID_CONNECTION_REQUEST_ACCEPTED || id == ID_CONNECTION_ATTEMPT_FAILED ||
          id == ID_NO_FREE_INCOMING_CONNECTIONS || id == ID_CONNECTION_BANNED ||
          id == ID_INVALID_PASSWORD) {
        answer = id;
      }
    }
    return answer != 0;
  });
  return answer;
}

// The index a server gave in its 14, or -1.
inline int GivenIndex(const Node& client) {
  const Received* r = client.Last(ID_CONNECTION_REQUEST_ACCEPTED);
  return r && r->data.size() >= 3 ? r->data[1] | (r->data[2] << 8) : -1;
}

// An RPC message as it travels: 11, name, u32 bit count, payload.
inline Bytes RpcMessage(const std::string& name, const Bytes& payload, uint32_t bits) {
  Bytes m{ID_RPC, static_cast<uint8_t>(name.size())};
  m.insert(m.end(), name.begin(), name.end());
  for (int i = 0; i < 4; ++i) m.push_back(static_cast<uint8_t>(bits >> (8 * i)));
  m.insert(m.end(), payload.begin(), payload.end());
  return m;
}

// An ENet CONNECT datagram as a client would send it (big-endian fields).
inline Bytes EnetConnectDatagram(uint32_t connectId) {
  Bytes d;
  auto u16 = [&d](uint32_t v) {
    d.push_back(static_cast<uint8_t>(v >> 8));
    d.push_back(static_cast<uint8_t>(v));
  };
  auto u32 = [&](uint32_t v) {
    u16(v >> 16);
    u16(v & 0xFFFF);
  };
  u16(uint32_t{ENET_PROTOCOL_MAXIMUM_PEER_ID} | uint32_t{ENET_PROTOCOL_HEADER_FLAG_SENT_TIME});
  u16(1234);  // sent time
  d.push_back(uint8_t{ENET_PROTOCOL_COMMAND_CONNECT} | uint8_t{ENET_PROTOCOL_COMMAND_FLAG_ACKNOWLEDGE});
  d.push_back(0xFF);  // channel
  u16(1);             // reliable sequence number
  u16(0);             // outgoing peer id
  u16(0);             // incoming and outgoing session
  // mtu, window, channels, two bandwidths, three throttle fields, id, data
  for (uint32_t v : {1400u, 32768u, 2u, 0u, 0u, 5000u, 2u, 2u, connectId, 0u}) u32(v);
  return d;
}

// A bare ENet client: it follows the wire format only as far as a test tells
// it to, and answers nothing once it is no longer serviced.
class RawClient {
 public:
  RawClient() {
    enet_initialize();
    host_ = enet_host_create(nullptr, 1, 2, 0, 0);
  }
  // Destroyed without a disconnect: to the server it simply falls silent.
  ~RawClient() {
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

  void Send(const Bytes& bytes, bool reliable = true) {
    enet_peer_send(peer_, reliable ? 0 : 1,
                   enet_packet_create(bytes.data(), bytes.size(),
                                      reliable ? ENET_PACKET_FLAG_RELIABLE : 0));
    enet_host_flush(host_);
  }

  // Sends the request and waits for the answer; the answer's id or 0.
  uint8_t Request(const std::string& password) {
    Bytes request{ID_CONNECTION_REQUEST};
    request.insert(request.end(), password.begin(), password.end());
    const size_t before = received.size();
    Send(request);
    ServiceUntil([&] { return received.size() > before; });
    return received.size() > before && !received[before].empty() ? received[before][0] : 0;
  }

  // Services the host (answering pings and acknowledging) until `done` or the
  // deadline; nothing after the event that made `done` hold is answered.
  bool ServiceUntil(const std::function<bool()>& done, uint32_t ms = 3000) {
    const uint64_t end = platform::MonotonicUs() + static_cast<uint64_t>(ms) * 1000;
    for (;;) {
      ENetEvent ev;
      while (!done() && enet_host_service(host_, &ev, 1) > 0) {
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

  std::vector<Bytes> received;
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
    sockaddr_in local = To(0);
    bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local);
  }
  ~UdpSocket() { close(fd_); }
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;

  void SendTo(uint16_t port, const Bytes& bytes) {
    sockaddr_in to = To(port);
    sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  }

  // The next datagram within `ms`, or an empty vector.
  Bytes Receive(uint32_t ms = 2000) {
    timeval tv{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>((ms % 1000) * 1000)};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    Bytes buffer(65536);
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
  static sockaddr_in To(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
  }
  int fd_ = -1;
};

}  // namespace net::test
