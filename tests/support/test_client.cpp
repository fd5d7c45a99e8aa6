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

TestClient::TestClient(std::initializer_list<std::string> watched)
    : peer_(std::make_unique<net::Peer>()) {
  Watch(watched);
}

TestClient::~TestClient() {
  peer_->Shutdown();
}

void TestClient::Watch(const std::string& name) {
  if (!watched_.insert(name).second) return;
  peer_->RegisterAsRemoteProcedureCall(
      name.c_str(), [this, name](net::RPCParameters* params) { Record(name, params); });
}

void TestClient::Watch(std::initializer_list<std::string> names) {
  for (const auto& n : names) Watch(n);
}

void TestClient::Record(const std::string& name, const net::RPCParameters* params) {
  ReceivedRpc r;
  r.name = name;
  r.bits = params->numberOfBitsOfData;
  if (params->input != nullptr) r.data.assign(params->input, params->input + (r.bits + 7) / 8);
  else r.bits = 0;
  rpcs_.push_back(std::move(r));
}

bool TestClient::Connect(uint16_t port, const std::string& password, uint32_t timeoutMs) {
  if (connected_) return true;
  if (!started_) {
    started_ = peer_->Startup(1, kThreadSleepMs, 0,
                              bindAddress_.empty() ? nullptr : bindAddress_.c_str());
    if (!started_) {
      ADD_FAILURE() << "TestClient: peer did not start (bind address '" << bindAddress_ << "')";
      return false;
    }
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    lastRefusal_ = 0;
    if (!peer_->Connect("127.0.0.1", port, password.data(), static_cast<int>(password.size()))) {
      return false;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    WaitFor([this] { return connected_ || lastRefusal_ != 0; },
            static_cast<uint32_t>(std::max<int64_t>(0, left.count())));
    // A refused attempt's connection lingers until the server has closed it;
    // try again until then.
    if (lastRefusal_ != net::ID_ALREADY_CONNECTED || std::chrono::steady_clock::now() >= deadline)
      return connected_;
    std::this_thread::sleep_for(kPollInterval);
  }
}

uint16_t TestClient::LocalPort() const {
  return started_ ? peer_->GetBoundPort() : 0;
}

void TestClient::Disconnect() {
  if (!connected_) return;
  peer_->CloseConnection(server_, false);
  connected_ = false;
}

bool TestClient::SendRpc(const std::string& name, const net::BitStream& payload,
                         net::PacketReliability reliability) {
  return SendRpc(name, payload.GetData(), payload.GetNumberOfBitsUsed(), reliability);
}

bool TestClient::SendRpc(const std::string& name, const uint8_t* data, uint32_t bitCount,
                         net::PacketReliability reliability) {
  if (!connected_) return false;
  return peer_->RPC(name.c_str(), data, bitCount, net::HIGH_PRIORITY, reliability, 0, server_,
                    false);
}

bool TestClient::SendRaw(const net::BitStream& message, net::PacketReliability reliability) {
  if (!connected_) return false;
  return peer_->Send(&message, net::HIGH_PRIORITY, reliability, 0, server_, false);
}

bool TestClient::SendRaw(const std::vector<uint8_t>& bytes, net::PacketReliability reliability) {
  if (!connected_ || bytes.empty()) return false;
  return peer_->Send(bytes.data(), static_cast<uint32_t>(bytes.size()) * 8, net::HIGH_PRIORITY,
                     reliability, 0, server_, false);
}

void TestClient::Pump() {
  if (!started_) return;
  while (net::Packet* p = peer_->Receive()) {
    if (p->length > 0 && p->data != nullptr) {
      const uint8_t id = p->data[0];
      switch (id) {
        case net::ID_CONNECTION_REQUEST_ACCEPTED:
          connected_ = true;
          server_ = p->systemAddress;
          if (p->length >= 3) index_ = static_cast<uint16_t>(p->data[1] | (p->data[2] << 8));
          break;
        case net::ID_ALREADY_CONNECTED:
        case net::ID_CONNECTION_ATTEMPT_FAILED:
        case net::ID_NO_FREE_INCOMING_CONNECTIONS:
        case net::ID_CONNECTION_BANNED:
        case net::ID_INVALID_PASSWORD:
          if (!connected_) lastRefusal_ = id;
          break;
        case net::ID_DISCONNECTION_NOTIFICATION:
        case net::ID_CONNECTION_LOST:
          if (p->systemAddress == server_) connected_ = false;
          break;
        default:
          break;
      }
      packets_[id].emplace_back(p->data, p->data + p->length);
    }
    peer_->DeallocatePacket(p);
  }
}

bool TestClient::WaitFor(const std::function<bool()>& cond, uint32_t timeoutMs) {
  return WaitUntil(cond, timeoutMs, [this] { Pump(); });
}

bool TestClient::CheckWatched(const std::string& name) const {
  if (watched_.count(name)) return true;
  ADD_FAILURE() << "TestClient: RPC '" << name
                << "' is not watched; call Watch() before the action that sends it";
  return false;
}

bool TestClient::WaitForRpc(const std::string& name, size_t count, uint32_t timeoutMs) {
  if (!CheckWatched(name)) return false;
  return WaitFor([&] { return Count(name) >= count; }, timeoutMs);
}

bool TestClient::WaitForPacket(uint8_t id, size_t count, uint32_t timeoutMs) {
  return WaitFor([&] { return PacketCount(id) >= count; }, timeoutMs);
}

std::vector<ReceivedRpc> TestClient::Rpcs(const std::string& name) const {
  std::vector<ReceivedRpc> out;
  if (!CheckWatched(name)) return out;
  for (const auto& r : rpcs_)
    if (r.name == name) out.push_back(r);
  return out;
}

size_t TestClient::Count(const std::string& name) const {
  if (!CheckWatched(name)) return 0;
  size_t n = 0;
  for (const auto& r : rpcs_) n += r.name == name;
  return n;
}

const ReceivedRpc* TestClient::LastRpc(const std::string& name) const {
  if (!CheckWatched(name)) return nullptr;
  for (auto it = rpcs_.rbegin(); it != rpcs_.rend(); ++it)
    if (it->name == name) return &*it;
  return nullptr;
}

std::vector<std::vector<uint8_t>> TestClient::Packets(uint8_t id) const {
  auto it = packets_.find(id);
  return it == packets_.end() ? std::vector<std::vector<uint8_t>>{} : it->second;
}

size_t TestClient::PacketCount(uint8_t id) const {
  auto it = packets_.find(id);
  return it == packets_.end() ? 0 : it->second.size();
}

void TestClient::Clear() {
  rpcs_.clear();
  packets_.clear();
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

}  // namespace support
