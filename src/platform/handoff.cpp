#include "platform/platform.h"

namespace platform {
namespace {
constexpr uint64_t kNoTicket = UINT64_MAX;
}

// The token goes to waiters strictly in ticket order. A signal that finds a
// grant not yet picked up is kept as the spare and passed on by the grantee,
// so signals are never lost while someone waits and never pile up beyond one
// while nobody does.
void Handoff::Signal() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (grantedTicket_ == kNoTicket && !queue_.empty()) {
    grantedTicket_ = queue_.front();
    queue_.pop_front();
    cv_.notify_all();
  } else {
    spare_ = true;
  }
}

void Handoff::Wait() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (spare_ && queue_.empty()) {
    spare_ = false;
    return;
  }
  uint64_t ticket = nextTicket_++;
  queue_.push_back(ticket);
  cv_.wait(lock, [&] { return grantedTicket_ == ticket; });
  grantedTicket_ = kNoTicket;
  if (spare_ && !queue_.empty()) {
    spare_ = false;
    grantedTicket_ = queue_.front();
    queue_.pop_front();
    cv_.notify_all();
  }
}

int Handoff::Waiters() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(queue_.size()) + (grantedTicket_ != kNoTicket ? 1 : 0);
}

}  // namespace platform
