// The recording transport: a peer without sockets or thread, for driving the
// application's real handlers from tests (see peer.h).
#include <algorithm>
#include <cstring>
#include <utility>

#include "net/peer.h"
#include "net/peer_impl.h"

namespace net {

std::atomic<bool> gRecordSends{false};

void RecordSendsInsteadOfSending(bool on) { gRecordSends = on; }

std::atomic<uint32_t (*)()> gRecordingClock{nullptr};

void SetRecordingClock(uint32_t (*nowMs)()) { gRecordingClock = nowMs; }

bool Peer::Impl::StartRecording(uint16_t maxConnections) {
  std::lock_guard<std::mutex> lock(hostMutex);
  recording = true;
  recorded.clear();
  slots = std::vector<Slot>(static_cast<size_t>(maxConnections) + 1);
  ResetQueue(slots.size());
  connectionLimit = explicitLimit >= 0 ? static_cast<uint16_t>(explicitLimit) : maxConnections;
  active = true;
  return true;
}

void Peer::Impl::StopRecording() {
  {
    std::lock_guard<std::mutex> lock(hostMutex);
    recording = false;
    recorded.clear();
    slots.clear();
  }
  active = false;
  ResetQueue(0);
}

void Peer::Impl::RecordClose(int index) {
  RecordedSend close;
  close.to.push_back(index);
  recorded.push_back(std::move(close));
  slots[index] = Slot{};
}

bool Peer::IsRecording() const {
  std::lock_guard<std::mutex> lock(impl_->hostMutex);
  return impl_->recording;
}

bool Peer::InjectConnection(int index, const SystemAddress& address) {
  std::lock_guard<std::mutex> lock(impl_->hostMutex);
  if (!impl_->recording || index < 0 || static_cast<size_t>(index) >= impl_->slots.size() ||
      impl_->slots[index].state != Impl::SlotState::kFree) {
    return false;
  }
  impl_->slots[index].state = Impl::SlotState::kAccepted;
  impl_->slots[index].address = address;
  impl_->BeginConnection(index);
  impl_->PushNotice(ID_NEW_INCOMING_CONNECTION, address, index);
  return true;
}

bool Peer::InjectMessage(int index, const uint8_t* data, uint32_t length, bool reliable) {
  std::lock_guard<std::mutex> lock(impl_->hostMutex);
  if (!impl_->recording || !data || length == 0 || index < 0 ||
      static_cast<size_t>(index) >= impl_->slots.size() ||
      impl_->slots[index].state != Impl::SlotState::kAccepted) {
    return false;
  }
  return impl_->PushRemote(index, data, length, reliable);
}

void Peer::InjectDisconnection(int index, bool lost) {
  std::lock_guard<std::mutex> lock(impl_->hostMutex);
  if (!impl_->recording || index < 0 || static_cast<size_t>(index) >= impl_->slots.size() ||
      impl_->slots[index].state != Impl::SlotState::kAccepted) {
    return;
  }
  impl_->PushNotice(lost ? ID_CONNECTION_LOST : ID_DISCONNECTION_NOTIFICATION,
                    impl_->slots[index].address, index);
  impl_->slots[index] = Impl::Slot{};
}

std::vector<RecordedSend> Peer::TakeRecorded() {
  std::lock_guard<std::mutex> lock(impl_->hostMutex);
  return std::exchange(impl_->recorded, {});
}

std::string Peer::GetOfflinePingResponse() const {
  std::lock_guard<std::mutex> lock(impl_->hostMutex);
  return std::string(impl_->pong.begin() + 5, impl_->pong.end());
}

}  // namespace net
