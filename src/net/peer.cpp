#include "net/peer.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <bitset>
#include <cerrno>
#include <cstring>
#include <utility>

#include "net/peer_impl.h"

namespace net {

namespace {

bool InitializeEnet() {
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] { ready = enet_initialize() == 0; });
  return ready;
}

// Splits an RPC message; false when it is malformed.
bool ParseRpc(const uint8_t* d, uint32_t n, std::string& name, const uint8_t*& payload,
              uint32_t& bits) {
  if (n < 2) return false;
  const uint32_t nameLength = d[1];
  if (nameLength == 0 || n - 2 < nameLength + 4) return false;
  const uint8_t* b = d + 2 + nameLength;
  bits = static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
         (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
  const uint64_t bytes = (static_cast<uint64_t>(bits) + 7) / 8;
  if (bytes > n - 2 - nameLength - 4) return false;
  name.assign(reinterpret_cast<const char*>(d + 2), nameLength);
  payload = b + 4;
  return true;
}

// An RPC message: 11, u8 name length, the name, u32 the payload's bit count,
// the payload. Writes itself into a packet's buffer.
class RpcMessage {
 public:
  RpcMessage(const char* name, const uint8_t* data, uint32_t bitCount)
      : name_(name),
        nameLength_(name ? std::strlen(name) : 0),
        data_(data),
        bitCount_(bitCount),
        payloadBytes_((static_cast<size_t>(bitCount) + 7) / 8) {}
  bool Valid() const { return nameLength_ > 0 && nameLength_ <= 255 && (bitCount_ == 0 || data_); }
  size_t Length() const { return 2 + nameLength_ + 4 + payloadBytes_; }
  void operator()(uint8_t* out) const {
    out[0] = ID_RPC;
    out[1] = static_cast<uint8_t>(nameLength_);
    std::memcpy(out + 2, name_, nameLength_);
    uint8_t* b = out + 2 + nameLength_;
    b[0] = static_cast<uint8_t>(bitCount_);
    b[1] = static_cast<uint8_t>(bitCount_ >> 8);
    b[2] = static_cast<uint8_t>(bitCount_ >> 16);
    b[3] = static_cast<uint8_t>(bitCount_ >> 24);
    if (payloadBytes_ > 0) {
      std::memcpy(b + 4, data_, payloadBytes_);
      // Bits past the payload's end go out as zeros.
      if (bitCount_ % 8)
        b[4 + payloadBytes_ - 1] &= static_cast<uint8_t>(0xFF << (8 - bitCount_ % 8));
    }
  }

 private:
  const char* name_;
  size_t nameLength_;
  const uint8_t* data_;
  uint32_t bitCount_;
  size_t payloadBytes_;
};

// The targets of a send to a set of indices: each index once, in the order given.
auto EachOnce(std::span<const uint16_t> indices) {
  return [indices](auto&& send) {
    std::bitset<ENET_PROTOCOL_MAXIMUM_PEER_ID + 1> seen;
    for (const uint16_t index : indices) {
      if (index >= seen.size() || seen.test(index)) continue;
      seen.set(index);
      send(index);
    }
  };
}

}  // namespace

template <typename Fill, typename Targets>
int Peer::Impl::Record(size_t length, bool reliable, Fill fill, Targets targets) {
  RecordedSend sent;
  sent.reliable = reliable;
  targets([&](int index) {
    if (index >= 0 && static_cast<size_t>(index) < slots.size() &&
        slots[index].state == SlotState::kAccepted)
      sent.to.push_back(index);
  });
  if (sent.to.empty()) return 0;
  sent.message.resize(length);
  fill(sent.message.data());
  recorded.push_back(std::move(sent));
  return static_cast<int>(recorded.back().to.size());
}

template <typename Fill, typename Targets>
int Peer::Impl::SendShared(size_t length, PacketReliability reliability, Fill fill,
                           Targets targets) {
  if (length == 0 || length > kMaxMessageBytes) return -1;
  const bool reliable = reliability == RELIABLE || reliability == RELIABLE_ORDERED ||
                        reliability == RELIABLE_SEQUENCED;
  const uint8_t channel = reliable ? kReliableChannel : kUnreliableChannel;
  std::lock_guard<std::mutex> lock(hostMutex);
  if (!Running()) return -1;
  if (recording) return Record(length, reliable, fill, targets);
  ENetPacket* packet = nullptr;
  int queued = 0;
  bool failed = false;
  // ENet refuses to send what it would not take; what we take is limited per
  // datagram (see Intercept), what we send is not.
  host->maximumPacketSize = kMaxMessageBytes;
  targets([&](int index) {
    if (failed || index < 0 || static_cast<size_t>(index) >= slots.size() ||
        slots[index].state != SlotState::kAccepted) {
      return;
    }
    if (!packet) {  // built for the first receiver only: nobody, no packet
      packet = enet_packet_create(nullptr, length, reliable ? ENET_PACKET_FLAG_RELIABLE : 0);
      if (!packet) {
        failed = true;
        return;
      }
      fill(packet->data);
    }
    queued += reliable ? SendReliable(index, packet)
                       : enet_peer_send(&host->peers[index], channel, packet) == 0;
  });
  if (packet && packet->referenceCount == 0) enet_packet_destroy(packet);
  if (queued > 0) RequestFlush();
  return failed ? -1 : queued;
}

template <typename Fill>
bool Peer::Impl::SendPacket(size_t length, PacketReliability reliability,
                            const SystemAddress& target, bool broadcast, Fill fill) {
  if (!broadcast) {
    if (target == UNASSIGNED_SYSTEM_ADDRESS) return false;
    return SendShared(length, reliability, fill,
                      [&](auto&& send) { send(FindAccepted(target)); }) > 0;
  }
  return SendShared(length, reliability, fill, [&](auto&& send) {
           for (size_t i = 0; i < slots.size(); ++i)
             if (slots[i].address != target) send(static_cast<int>(i));
         }) >= 0;
}

void Peer::Impl::RequestFlush() {
  // Sequentially consistent with Receive()'s end of a drain: either it sees
  // this flag or this sees the drain over and wakes the thread.
  if (recording || flushPending.exchange(true)) return;  // nothing to flush, or on its way
  if (draining.load() || WaiterFlushes()) return;
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t w = write(wakeFd, &one, sizeof one);
}

void Peer::Impl::FlushIfPending() {
  if (!flushPending.load(std::memory_order_acquire)) return;
  std::lock_guard<std::mutex> lock(hostMutex);
  flushPending.store(false, std::memory_order_release);
  if (host) enet_host_flush(host);
}

void Peer::Impl::Dispatch(const Message& m, Peer* recipient) {
  std::string name;
  const uint8_t* payload = nullptr;
  uint32_t bits = 0;
  if (!ParseRpc(m.data.get(), m.length, name, payload, bits)) return;
  RpcHandler handler;
  {
    std::lock_guard<std::mutex> lock(rpcMutex);
    auto it = rpcs.find(name);
    if (it == rpcs.end()) return;
    handler = it->second;  // a copy: the handler may unregister itself
  }
  RPCParameters params;
  params.input = payload;
  params.numberOfBitsOfData = bits;
  params.sender = m.address;
  params.recipient = recipient;
  params.receivedMs = m.receivedMs;
  params.reliable = m.reliable;
  handler(&params);
}

// ---- Peer ----------------------------------------------------------------------

Peer::Peer() : impl_(std::make_unique<Impl>(this)) {}

Peer::~Peer() { Shutdown(); }

bool Peer::Startup(uint16_t maxConnections, int threadSleepMs, uint16_t port,
                   const char* bindAddress) {
  std::lock_guard<std::mutex> life(impl_->lifeMutex);
  if (impl_->active) return false;
  if (gRecordSends) return impl_->StartRecording(maxConnections);
  if (!InitializeEnet()) return false;
  ENetAddress address;
  address.host = ENET_HOST_ANY;
  address.port = port;
  if (bindAddress && *bindAddress && enet_address_set_host_ip(&address, bindAddress) != 0) {
    errno = EADDRNOTAVAIL;
    return false;
  }
  // One slot beyond the limit, so that a full server can still say so.
  const size_t peerCount = static_cast<size_t>(maxConnections) + 1;
  if (peerCount > ENET_PROTOCOL_MAXIMUM_PEER_ID) return false;
  ENetHost* host = enet_host_create(&address, peerCount, Impl::kChannelCount, 0, 0);
  if (!host) return false;
  host->maximumPacketSize = Impl::kMaxMessageBytes;
  host->maximumWaitingData = Impl::kMaxWaitingBytes;
  host->intercept = &Impl::Intercept;
  ENetAddress bound;
  if (enet_socket_get_address(host->socket, &bound) != 0) bound.port = port;
  const int wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  const int waiterWakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wakeFd < 0 || waiterWakeFd < 0) {
    if (wakeFd >= 0) close(wakeFd);
    if (waiterWakeFd >= 0) close(waiterWakeFd);
    enet_host_destroy(host);
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(impl_->hostMutex);
    impl_->host = host;
    impl_->waiterWakeFd = waiterWakeFd;
    impl_->waiterServiced = GetTimeMs() - Impl::kTakeBackMs;
    impl_->holding.clear();
    impl_->listedHolding.assign(peerCount, 0);
    impl_->slots = std::vector<Impl::Slot>(peerCount);
    impl_->ResetQueue(peerCount);
    impl_->connectionLimit =
        impl_->explicitLimit >= 0 ? static_cast<uint16_t>(impl_->explicitLimit) : maxConnections;
    impl_->stopping = false;
  }
  impl_->wakeFd = wakeFd;
  impl_->sleepMs = std::clamp(threadSleepMs, 1, 100);
  impl_->boundPort = bound.port;
  impl_->active = true;
  impl_->thread = std::thread([this] { impl_->Run(); });
  return true;
}

void Peer::Shutdown() {
  std::lock_guard<std::mutex> life(impl_->lifeMutex);
  if (!impl_->active) return;
  if (impl_->recording) {
    impl_->StopRecording();
    return;
  }
  {
    std::lock_guard<std::mutex> lock(impl_->hostMutex);
    impl_->stopping = true;
    impl_->pendingConnects.Clear();
  }
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t w = write(impl_->wakeFd, &one, sizeof one);
  impl_->WakeWaiter();
  impl_->thread.join();
  {
    // A thread waiting in WaitForMessage has let go of the socket.
    std::lock_guard<std::mutex> waiting(impl_->waitMutex);
    {
      std::lock_guard<std::mutex> lock(impl_->hostMutex);
      enet_host_destroy(impl_->host);
      impl_->host = nullptr;
      impl_->slots.clear();
      impl_->holding.clear();
      close(impl_->waiterWakeFd);
      impl_->waiterWakeFd = -1;
    }
  }
  close(impl_->wakeFd);
  impl_->wakeFd = -1;
  impl_->boundPort = 0;
  impl_->active = false;
  impl_->ResetQueue(0);
}

bool Peer::IsActive() const { return impl_->active; }

uint16_t Peer::GetBoundPort() const { return impl_->boundPort; }

void Peer::SetMaximumIncomingConnections(uint16_t count) {
  std::lock_guard<std::mutex> lock(impl_->hostMutex);
  impl_->explicitLimit = count;
  impl_->connectionLimit = count;
}

void Peer::SetIncomingPassword(const char* data, int length) {
  std::lock_guard<std::mutex> lock(impl_->hostMutex);
  if (data && length > 0) {
    impl_->incomingPassword.assign(data, static_cast<size_t>(length));
  } else {
    impl_->incomingPassword.clear();
  }
}

std::string Peer::GetIncomingPassword() const {
  std::lock_guard<std::mutex> lock(impl_->hostMutex);
  return impl_->incomingPassword;
}

void Peer::SetJoinDeadline(uint32_t ms) {
  std::lock_guard<std::mutex> lock(impl_->hostMutex);
  impl_->joinDeadlineMs = ms;
}

void Peer::MarkJoined(int index) {
  std::lock_guard<std::mutex> lock(impl_->hostMutex);
  if (index >= 0 && static_cast<size_t>(index) < impl_->slots.size() &&
      impl_->slots[index].state == Impl::SlotState::kAccepted) {
    impl_->slots[index].joined = true;
  }
}

void Peer::SetTimeoutTime(uint32_t ms, const SystemAddress&) {
  std::lock_guard<std::mutex> lock(impl_->hostMutex);
  impl_->timeoutMs = ms;
  if (!impl_->host) return;
  for (size_t i = 0; i < impl_->slots.size(); ++i) {
    if (impl_->slots[i].state != Impl::SlotState::kFree)
      impl_->ConfigureTimeout(&impl_->host->peers[i]);
  }
}

bool Peer::Connect(const char* host, uint16_t port, const char* password, int passwordLength) {
  if (!host || !*host || !impl_->active) return false;
  ENetAddress address;
  if (enet_address_set_host(&address, host) != 0) return false;
  address.port = port;
  const SystemAddress target = Impl::FromEnet(address);
  std::lock_guard<std::mutex> lock(impl_->hostMutex);
  if (!impl_->host || impl_->stopping) return false;
  const int existing = impl_->FindLive(target);
  if (existing >= 0 || impl_->pendingConnects.Has(address)) {
    const bool accepted =
        existing >= 0 && impl_->slots[existing].state == Impl::SlotState::kAccepted;
    impl_->PushNotice(ID_ALREADY_CONNECTED, target, accepted ? existing : -1);
    return true;
  }
  // ENet is handed the connect once the cookie is in; it must then find a free peer.
  const size_t free =
      std::count_if(impl_->host->peers, impl_->host->peers + impl_->host->peerCount,
                    [](const ENetPeer& p) { return p.state == ENET_PEER_STATE_DISCONNECTED; });
  if (free <= impl_->pendingConnects.Size()) return false;
  impl_->pendingConnects.Add(impl_->host->socket, address,
                             password && passwordLength > 0
                                 ? std::string(password, static_cast<size_t>(passwordLength))
                                 : std::string(),
                             GetTimeMs());
  return true;
}

void Peer::Impl::ConnectNow(const PendingConnects::Entry& e, uint32_t cookie, uint32_t now) {
  ENetPeer* p = enet_host_connect(host, &e.address, kChannelCount, cookie);
  if (!p) return PushNotice(ID_CONNECTION_ATTEMPT_FAILED, FromEnet(e.address), -1);
  ConfigureTimeout(p);
  Slot& s = slots[SlotOf(p)];
  s = Slot{};
  s.state = SlotState::kConnecting;
  s.address = FromEnet(e.address);
  s.since = now;
  s.lastHeard = now;
  s.password = e.password;
}

void Peer::CloseConnection(const SystemAddress& target, bool notify, uint8_t) {
  std::lock_guard<std::mutex> lock(impl_->hostMutex);
  if (!impl_->Running() || target == UNASSIGNED_SYSTEM_ADDRESS) return;
  impl_->pendingConnects.Remove(ENetAddress{target.binaryAddress, target.port});
  const int index = impl_->FindLive(target);
  if (index < 0) return;
  if (notify && impl_->slots[index].state == Impl::SlotState::kAccepted) {
    impl_->PushNotice(ID_DISCONNECTION_NOTIFICATION, target, index);
  }
  if (impl_->recording) {
    impl_->RecordClose(index);
    return;
  }
  impl_->CloseLater(index, GetTimeMs());
  enet_host_flush(impl_->host);
}

void Peer::DropConnection(int index) {
  std::lock_guard<std::mutex> lock(impl_->hostMutex);
  if (!impl_->Running() || index < 0 || static_cast<size_t>(index) >= impl_->slots.size() ||
      impl_->slots[index].state != Impl::SlotState::kAccepted) {
    return;
  }
  impl_->Drop(index, LOST_BY_APPLICATION, GetTimeMs());
  if (impl_->host) enet_host_flush(impl_->host);
}

Packet* Peer::Receive() {
  // A flood of calls must not keep the caller in here: after this many RPCs
  // the call returns as if the queue were empty, and the rest waits for the
  // next call.
  constexpr int kMaxRpcsPerCall = 256;
  int rpcs = 0;
  // The caller is done with what the last call handed over.
  impl_->handledSequence.store(impl_->returnedSequence);
  for (;;) {
    Impl::Message m;
    if (rpcs >= kMaxRpcsPerCall || impl_->queued.load(std::memory_order_acquire) == 0) {
      impl_->draining.store(false);
      impl_->FlushIfPending();
      return nullptr;
    }
    if (!impl_->draining.load(std::memory_order_relaxed)) impl_->draining.store(true);
    {
      std::lock_guard<std::mutex> lock(impl_->queueMutex);
      if (impl_->queue.empty()) continue;  // emptied by Shutdown: end the drain above
      m = std::move(impl_->queue.front());
      impl_->queue.pop_front();
      impl_->Release(m);
      impl_->queued.store(impl_->queue.size(), std::memory_order_release);
    }
    if (m.data[0] == ID_NEW_INCOMING_CONNECTION && !m.fromRemote) {
      impl_->StartJoinDeadline(m.index, m.generation);
    }
    if (m.data[0] == ID_RPC) {
      ++rpcs;
      impl_->Dispatch(m, this);
      impl_->handledSequence.store(m.sequence);
      continue;
    }
    impl_->returnedSequence = m.sequence;
    Packet* packet = new Packet;
    packet->systemAddress = m.address;
    packet->systemIndex = m.index;
    packet->length = m.length;
    packet->bitSize = m.length * 8;
    packet->data = m.data.release();
    packet->receivedMs = m.receivedMs;
    packet->reliable = m.reliable;
    return packet;
  }
}

bool Peer::WaitForMessage(int ms) {
  const int serviced = impl_->WaitServicing(ms);
  if (serviced >= 0) return serviced > 0;
  std::unique_lock<std::mutex> lock(impl_->queueMutex);
  return impl_->queueFilled.wait_for(lock, std::chrono::milliseconds(ms),
                                     [this] { return !impl_->queue.empty(); });
}

void Peer::DeallocatePacket(Packet* packet) {
  if (!packet) return;
  delete[] packet->data;
  delete packet;
}

bool Peer::Send(const BitStream* stream, PacketPriority priority, PacketReliability reliability,
                uint8_t orderingChannel, const SystemAddress& target, bool broadcast) {
  if (!stream) return false;
  return Send(stream->GetData(), stream->GetNumberOfBitsUsed(), priority, reliability,
              orderingChannel, target, broadcast);
}

bool Peer::Send(const uint8_t* data, uint32_t bitCount, PacketPriority,
                PacketReliability reliability, uint8_t, const SystemAddress& target,
                bool broadcast) {
  if (!data || bitCount == 0) return false;
  const size_t length = (static_cast<size_t>(bitCount) + 7) / 8;
  return impl_->SendPacket(length, reliability, target, broadcast,
                           [&](uint8_t* out) { std::memcpy(out, data, length); });
}

int Peer::Send(const BitStream* stream, PacketPriority priority, PacketReliability reliability,
               uint8_t orderingChannel, std::span<const uint16_t> indices) {
  if (!stream) return -1;
  return Send(stream->GetData(), stream->GetNumberOfBitsUsed(), priority, reliability,
              orderingChannel, indices);
}

int Peer::Send(const uint8_t* data, uint32_t bitCount, PacketPriority,
               PacketReliability reliability, uint8_t, std::span<const uint16_t> indices) {
  if (!data || bitCount == 0) return -1;
  const size_t length = (static_cast<size_t>(bitCount) + 7) / 8;
  return impl_->SendShared(
      length, reliability, [&](uint8_t* out) { std::memcpy(out, data, length); },
      EachOnce(indices));
}

bool Peer::RPC(const char* name, const BitStream* payload, PacketPriority priority,
               PacketReliability reliability, uint8_t orderingChannel, const SystemAddress& target,
               bool broadcast) {
  return RPC(name, payload ? payload->GetData() : nullptr,
             payload ? payload->GetNumberOfBitsUsed() : 0, priority, reliability, orderingChannel,
             target, broadcast);
}

bool Peer::RPC(const char* name, const uint8_t* data, uint32_t bitCount, PacketPriority,
               PacketReliability reliability, uint8_t, const SystemAddress& target,
               bool broadcast) {
  const RpcMessage m(name, data, bitCount);
  return m.Valid() && impl_->SendPacket(m.Length(), reliability, target, broadcast, m);
}

int Peer::RPC(const char* name, const BitStream* payload, PacketPriority,
              PacketReliability reliability, uint8_t, std::span<const uint16_t> indices) {
  const RpcMessage m(name, payload ? payload->GetData() : nullptr,
                     payload ? payload->GetNumberOfBitsUsed() : 0);
  return m.Valid() ? impl_->SendShared(m.Length(), reliability, m, EachOnce(indices)) : -1;
}

void Peer::RegisterAsRemoteProcedureCall(const char* name, RpcHandler handler) {
  if (!name || !*name || !handler) return;
  std::lock_guard<std::mutex> lock(impl_->rpcMutex);
  impl_->rpcs[name] = std::move(handler);
}

void Peer::UnregisterAsRemoteProcedureCall(const char* name) {
  if (!name) return;
  std::lock_guard<std::mutex> lock(impl_->rpcMutex);
  impl_->rpcs.erase(name);
}

int Peer::GetIndexFromSystemAddress(const SystemAddress& address) const {
  std::lock_guard<std::mutex> lock(impl_->hostMutex);
  if (!impl_->Running()) return -1;
  return impl_->FindAccepted(address);
}

SystemAddress Peer::GetSystemAddressFromIndex(int index) const {
  std::lock_guard<std::mutex> lock(impl_->hostMutex);
  if (!impl_->Running() || index < 0 || static_cast<size_t>(index) >= impl_->slots.size() ||
      impl_->slots[index].state != Impl::SlotState::kAccepted) {
    return UNASSIGNED_SYSTEM_ADDRESS;
  }
  return impl_->slots[index].address;
}

int Peer::GetLastPing(const SystemAddress& address) const {
  std::lock_guard<std::mutex> lock(impl_->hostMutex);
  if (!impl_->Running()) return -1;
  const int index = impl_->FindAccepted(address);
  if (index < 0) return -1;
  return impl_->host ? static_cast<int>(impl_->host->peers[index].roundTripTime) : 0;
}

void Peer::AddToBanList(const char* ip, uint32_t milliseconds) {
  impl_->bans.Add(ip, milliseconds);
}

void Peer::RemoveFromBanList(const char* ip) { impl_->bans.Remove(ip); }

bool Peer::IsBanned(const char* ip) const { return impl_->bans.IsBanned(ip); }

void Peer::ClearBanList() { impl_->bans.Clear(); }

void Peer::ReplaceBanList(const std::vector<std::string>& ips) { impl_->bans.Replace(ips); }

uint32_t Peer::TakeDroppedMessages(int index) {
  std::lock_guard<std::mutex> lock(impl_->queueMutex);
  if (index < 0 || static_cast<size_t>(index) >= impl_->shares.size()) return 0;
  return std::exchange(impl_->shares[index].dropped, 0u);
}

uint32_t Peer::TakeUnansweredQueries() { return impl_->unansweredQueries.exchange(0); }

uint32_t Peer::TakeUnansweredConnects() { return impl_->unansweredConnects.exchange(0); }

void Peer::SetOfflinePingResponse(const char* data, uint32_t length) {
  if (!data) length = 0;
  length = std::min(length, Impl::kMaxPingResponse);
  std::lock_guard<std::mutex> lock(impl_->hostMutex);
  impl_->pong.resize(5 + length);
  if (length > 0) std::memcpy(impl_->pong.data() + 5, data, length);
}

}  // namespace net
