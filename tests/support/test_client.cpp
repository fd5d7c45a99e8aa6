#include "support/test_client.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace support {

namespace {

// How long a client's network thread waits between rounds; traffic wakes it at
// once, so this only paces resends and time-outs.
constexpr int kThreadSleepMs = 5;
constexpr auto kPollInterval = std::chrono::milliseconds(1);

}  // namespace

std::unique_ptr<net::BitStream> ReceivedRpc::Reader() const {
  return std::make_unique<net::BitStream>(data.data(), bits);
}

net::SystemAddress Loopback(uint16_t port) {
  net::SystemAddress a;
  a.SetBinaryAddress("127.0.0.1");
  a.port = port;
  return a;
}

TestClient::TestClient(std::initializer_list<std::string> watched) : peer_(std::make_unique<net::Peer>()) { Watch(watched); }

TestClient::~TestClient() { peer_->Shutdown(); }

void TestClient::Watch(const std::string& name) {
  if (!watched_.insert(name).second) return;
  peer_->RegisterAsRemoteProcedureCall(name.c_str(), [this, name](net::RPCParameters* p) {
    const uint32_t bits = p->input ? p->numberOfBitsOfData : 0;
    rpcs_.push_back({name, Bytes(p->input, p->input + (bits + 7) / 8), bits, p->sender});
  });
}

bool TestClient::Connect(uint16_t port, const std::string& password, uint32_t timeoutMs) {
  if (connected_) return true;
  if (!started_) {
    if (!(started_ = peer_->Startup(1, kThreadSleepMs, 0, bindAddress_.empty() ? nullptr : bindAddress_.c_str()))) {
      ADD_FAILURE() << "TestClient: peer did not start (bind address '" << bindAddress_ << "')";
      return false;
    }
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    lastRefusal_ = 0;
    if (!peer_->Connect("127.0.0.1", port, password.data(), static_cast<int>(password.size())))
      return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    WaitFor([this] { return connected_ || lastRefusal_ != 0; }, static_cast<uint32_t>(std::max<int64_t>(0, left.count())));
    if (lastRefusal_ != net::ID_ALREADY_CONNECTED || std::chrono::steady_clock::now() >= deadline)
      return connected_;
    std::this_thread::sleep_for(kPollInterval);
  }
}

net::SystemAddress TestClient::Address() const {
  net::SystemAddress a = Loopback(LocalPort());
  if (!bindAddress_.empty()) a.SetBinaryAddress(bindAddress_.c_str());
  return a;
}

void TestClient::Disconnect() {
  if (!connected_) return;
  peer_->CloseConnection(server_, false);
  connected_ = false;
}

void TestClient::Pump() {
  if (!started_) return;
  while (net::Packet* p = peer_->Receive()) {
    if (p->length > 0 && p->data != nullptr) {
      const uint8_t id = p->data[0];
      if (id == net::ID_CONNECTION_REQUEST_ACCEPTED) {
        connected_ = true;
        server_ = p->systemAddress;
        if (p->length >= 3) index_ = static_cast<uint16_t>(p->data[1] | (p->data[2] << 8));
      } else if (id == net::ID_ALREADY_CONNECTED || id == net::ID_CONNECTION_ATTEMPT_FAILED ||
                 id == net::ID_NO_FREE_INCOMING_CONNECTIONS || id == net::ID_CONNECTION_BANNED ||
                 id == net::ID_INVALID_PASSWORD) {
        if (!connected_) lastRefusal_ = id;
      } else if ((id == net::ID_DISCONNECTION_NOTIFICATION || id == net::ID_CONNECTION_LOST) &&
                 p->systemAddress == server_) {
        connected_ = false;
      }
      packets_.push_back({Bytes(p->data, p->data + p->length), p->systemIndex, p->systemAddress,
                          p->bitSize});
    }
    peer_->DeallocatePacket(p);
  }
}

bool TestClient::CheckWatched(const std::string& name) const {
  if (watched_.count(name)) return true;
  ADD_FAILURE() << "TestClient: RPC '" << name
                << "' is not watched; call Watch() before the action that sends it";
  return false;
}

std::vector<ReceivedRpc> TestClient::Rpcs(const std::string& name) const {
  std::vector<ReceivedRpc> out;
  if (CheckWatched(name))
    std::copy_if(rpcs_.begin(), rpcs_.end(), std::back_inserter(out),
                 [&](const ReceivedRpc& r) { return r.name == name; });
  return out;
}

const ReceivedRpc* TestClient::LastRpc(const std::string& name) const {
  if (!CheckWatched(name)) return nullptr;
  auto it = std::find_if(rpcs_.rbegin(), rpcs_.rend(), [&](auto& r) { return r.name == name; });
  return it == rpcs_.rend() ? nullptr : &*it;
}

std::vector<Bytes> TestClient::Packets(uint8_t id) const {
  std::vector<Bytes> out;
  for (const ReceivedPacket& p : packets_)
    if (p.Id() == id) out.push_back(p.data);
  return out;
}

const ReceivedPacket* TestClient::LastPacket(uint8_t id) const {
  auto it = std::find_if(packets_.rbegin(), packets_.rend(), [&](auto& p) { return p.Id() == id; });
  return it == packets_.rend() ? nullptr : &*it;
}

bool WaitUntil(const std::function<bool()>& cond, uint32_t timeoutMs,
               const std::function<void()>& pumpEachRound) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (pumpEachRound) pumpEachRound();
    if (cond()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kPollInterval);
  }
}

bool RawClient::Connect(uint16_t port) {
  if (!host_) return false;
  ENetAddress a;
  enet_address_set_host_ip(&a, "127.0.0.1");
  a.port = port;
  peer_ = enet_host_connect(host_, &a, 2, 0);
  return peer_ && ServiceUntil([this] { return connected_; });
}

void RawClient::Send(const Bytes& bytes, bool reliable) {
  enet_peer_send(peer_, reliable ? 0 : 1,
                 enet_packet_create(bytes.data(), bytes.size(), reliable ? ENET_PACKET_FLAG_RELIABLE : 0));
  enet_host_flush(host_);
}

uint8_t RawClient::Request(const std::string& password) {
  Bytes request{net::ID_CONNECTION_REQUEST};
  request.insert(request.end(), password.begin(), password.end());
  const size_t before = received.size();
  Send(request);
  ServiceUntil([&] { return received.size() > before; });
  return received.size() > before && !received[before].empty() ? received[before][0] : 0;
}

bool RawClient::ServiceUntil(const std::function<bool()>& done, uint32_t ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    ENetEvent ev;
    while (!done() && enet_host_service(host_, &ev, 1) > 0) {
      connected_ = connected_ || ev.type == ENET_EVENT_TYPE_CONNECT;
      disconnected = disconnected || ev.type == ENET_EVENT_TYPE_DISCONNECT;
      if (ev.type == ENET_EVENT_TYPE_RECEIVE) {
        received.emplace_back(ev.packet->data, ev.packet->data + ev.packet->dataLength);
        enet_packet_destroy(ev.packet);
      }
    }
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
  }
}

void RawClient::SendDatagram(uint16_t port, const Bytes& bytes) {
  ENetAddress to{0, port};
  enet_address_set_host_ip(&to, "127.0.0.1");
  ENetBuffer buffer{const_cast<uint8_t*>(bytes.data()), bytes.size()};
  enet_socket_send(host_->socket, &to, &buffer, 1);
}

Bytes RawClient::ReceiveDatagram(uint32_t ms) {
  Bytes data(65536);
  ENetBuffer buffer{data.data(), data.size()};
  ENetAddress from;
  enet_uint32 wait = ENET_SOCKET_WAIT_RECEIVE;
  const int n = enet_socket_wait(host_->socket, &wait, ms) == 0 && wait == ENET_SOCKET_WAIT_RECEIVE
                    ? enet_socket_receive(host_->socket, &from, &buffer, 1) : 0;
  data.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return data;
}

}  // namespace support
