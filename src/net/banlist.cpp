#include "net/banlist.h"

#include "net/types.h"

namespace net {

namespace {

// Splits at '.', keeping empty parts so "1..2" never matches "1.2".
std::vector<std::string> Parts(const std::string& text) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t dot = text.find('.', start);
    parts.push_back(text.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  return parts;
}

// A text without a "*" part matches only itself.
bool IsWildcard(const std::string& ip) {
  for (const std::string& part : Parts(ip)) {
    if (part == "*") return true;
  }
  return false;
}

}  // namespace

bool BanList::Matches(const std::string& pattern, const std::string& ip) {
  if (pattern == ip) return true;
  const std::vector<std::string> want = Parts(pattern);
  const std::vector<std::string> have = Parts(ip);
  if (want.size() != have.size()) return false;
  for (size_t i = 0; i < want.size(); ++i) {
    if (want[i] != "*" && want[i] != have[i]) return false;
  }
  return true;
}

void BanList::Entries::Add(const std::string& ip, Expiry expiry) {
  (IsWildcard(ip) ? wildcards : exact)[ip] = expiry;
}

void BanList::Add(const char* ip, uint32_t milliseconds) {
  if (!ip || !*ip) return;
  const Expiry expiry =
      milliseconds == 0 ? kForever : GetTimeUs() + static_cast<uint64_t>(milliseconds) * 1000;
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.Add(ip, expiry);
}

void BanList::Remove(const char* ip) {
  if (!ip) return;
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.exact.erase(ip);
  entries_.wildcards.erase(ip);
}

bool BanList::IsBanned(const char* ip) const {
  if (!ip) return false;
  const std::string text(ip);
  const uint64_t now = GetTimeUs();
  std::lock_guard<std::mutex> lock(mutex_);
  // An expired ban is dropped when it is met.
  if (auto it = entries_.exact.find(text); it != entries_.exact.end()) {
    if (now < it->second) return true;
    entries_.exact.erase(it);
  }
  for (auto it = entries_.wildcards.begin(); it != entries_.wildcards.end();) {
    if (now >= it->second) {
      it = entries_.wildcards.erase(it);
    } else if (Matches(it->first, text)) {
      return true;
    } else {
      ++it;
    }
  }
  return false;
}

void BanList::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_ = Entries();
}

void BanList::Replace(const std::vector<std::string>& ips) {
  Entries fresh;
  for (const std::string& ip : ips) {
    if (!ip.empty()) fresh.Add(ip, kForever);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  std::swap(entries_, fresh);
  // The old entries are freed after the lock is released.
}

}  // namespace net
