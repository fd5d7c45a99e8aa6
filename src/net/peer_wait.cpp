// The application's wait for a message services the host itself, and the
// network thread keeps watch meanwhile (see Peer::Impl::kTakeBackMs).
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>

#include "net/peer_impl.h"

namespace net {

void Peer::Impl::ListHolding(int index) {
  if (listedHolding[index]) return;
  listedHolding[index] = 1;
  holding.push_back(static_cast<uint16_t>(index));
}

void Peer::Impl::HandOnHolding(uint32_t now) {
  size_t kept = 0;
  for (const uint16_t index : holding) {
    if (slots[index].state == SlotState::kAccepted && !HandOn(index, false)) {
      Drop(index, LOST_SEND_FAILED, now);
    }
    if (slots[index].held.empty()) {
      listedHolding[index] = 0;
    } else {
      holding[kept++] = index;
    }
  }
  holding.resize(kept);
}

void Peer::Impl::WaiterRound() {
  Service();
  // Taken after the receive, which stamps what it hears: an earlier time
  // would make a remote heard just now look silent for 49 days.
  const uint32_t now = GetTimeMs();
  // The walk over every slot costs as much as a round itself; its deadlines
  // are counted in milliseconds. It hands on what each slot holds, and the
  // rounds between walks what the listed slots hold: a download drains as
  // fast as its receiver acknowledges.
  pendingConnects.Advance(host->socket, now,
                          [&](const auto& e, uint32_t cookie) { ConnectNow(e, cookie, now); });
  if (now - lastDeadlineWalk >= kDeadlineWalkMs) {
    lastDeadlineWalk = now;
    CheckDeadlines(now);
  } else {
    HandOnHolding(now);
  }
  flushPending.store(false, std::memory_order_release);
  enet_host_flush(host);
  waiterServiced.store(now, std::memory_order_relaxed);
}

void Peer::Impl::WakeWaiter() {
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t w = write(waiterWakeFd, &one, sizeof one);
}

bool Peer::Impl::WaiterFlushes() {
  // One that serviced the host moments ago flushes in its next round: woken
  // for it while it polls, else (most often it is the sender, between two
  // waits) when it comes back to wait, or the network thread takes over.
  if (GetTimeMs() - waiterServiced.load(std::memory_order_relaxed) >= kTakeBackMs) return false;
  if (waiterPolling.load()) WakeWaiter();
  return true;
}

int Peer::Impl::WaitServicing(int ms) {
  std::unique_lock<std::mutex> waiting(waitMutex, std::try_to_lock);
  if (!waiting.owns_lock()) return -1;
  using Clock = std::chrono::steady_clock;
  const Clock::time_point end = Clock::now() + std::chrono::milliseconds(std::max(ms, 0));
  for (bool entry = true;; entry = false) {
    pollfd fds[2] = {};
    {
      std::lock_guard<std::mutex> lock(hostMutex);
      if (!host || stopping) return -1;
      // A caller back within the millisecond of its last round has only its
      // sends to flush: what arrived meanwhile ends the poll below at once.
      if (entry && GetTimeMs() == waiterServiced.load(std::memory_order_relaxed)) {
        if (flushPending.exchange(false)) enet_host_flush(host);
      } else {
        WaiterRound();
      }
      fds[0] = {host->socket, POLLIN, 0};
      fds[1] = {waiterWakeFd, POLLIN, 0};
    }
    if (queued.load() > 0) return 1;
    const Clock::duration left = end - Clock::now();
    if (left <= Clock::duration::zero()) return 0;
    // A slice at a time: ENet's resends and pings are due by the clock too.
    const auto slice = std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::min<Clock::duration>(left, std::chrono::milliseconds(1)));
    const timespec timeout{0, static_cast<long>(slice.count())};
    // Sequentially consistent with Push and WaiterFlushes: either they see
    // the flag and wake this poll, or this sees what they queued.
    waiterPolling.store(true);
    if (queued.load() == 0 && !flushPending.load() && ppoll(fds, 2, &timeout, nullptr) > 0 &&
        (fds[1].revents & POLLIN)) {
      uint64_t value;
      [[maybe_unused]] ssize_t r = read(waiterWakeFd, &value, sizeof value);
    }
    waiterPolling.store(false);
  }
}

bool Peer::Impl::KeepWatch() {
  const uint32_t quiet = GetTimeMs() - waiterServiced.load(std::memory_order_relaxed);
  if (quiet >= kTakeBackMs) return false;
  pollfd fd{wakeFd, POLLIN, 0};
  if (poll(&fd, 1, static_cast<int>(kTakeBackMs - quiet)) <= 0) return true;
  uint64_t value;
  [[maybe_unused]] ssize_t r = read(wakeFd, &value, sizeof value);
  std::lock_guard<std::mutex> lock(hostMutex);
  if (stopping) return false;
  flushPending.store(false, std::memory_order_release);
  enet_host_flush(host);
  return true;
}

}  // namespace net
