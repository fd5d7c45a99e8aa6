#include "net/banlist.h"

#include <algorithm>

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

void BanList::DropExpired(uint64_t nowUs) const {
  entries_.erase(
      std::remove_if(entries_.begin(), entries_.end(),
                     [nowUs](const Entry& e) { return !e.forever && nowUs >= e.expiresUs; }),
      entries_.end());
}

void BanList::Add(const char* ip, uint32_t milliseconds) {
  if (!ip || !*ip) return;
  Entry entry;
  entry.ip = ip;
  entry.forever = milliseconds == 0;
  entry.expiresUs = GetTimeUs() + static_cast<uint64_t>(milliseconds) * 1000;
  std::lock_guard<std::mutex> lock(mutex_);
  for (Entry& e : entries_) {
    if (e.ip == entry.ip) {
      e = entry;
      return;
    }
  }
  entries_.push_back(std::move(entry));
}

void BanList::Remove(const char* ip) {
  if (!ip) return;
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.erase(
      std::remove_if(entries_.begin(), entries_.end(), [ip](const Entry& e) { return e.ip == ip; }),
      entries_.end());
}

bool BanList::IsBanned(const char* ip) const {
  if (!ip) return false;
  const std::string text(ip);
  std::lock_guard<std::mutex> lock(mutex_);
  DropExpired(GetTimeUs());
  for (const Entry& e : entries_) {
    if (Matches(e.ip, text)) return true;
  }
  return false;
}

void BanList::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.clear();
}

}  // namespace net
