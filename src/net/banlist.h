// The peer's ban list: dotted IPv4 texts in which any part may be "*", each
// banned forever or until an expiry time. Thread-safe, because the network
// thread checks it while the application edits it.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace net {

class BanList {
 public:
  // `milliseconds` 0 bans forever; otherwise the ban ends after that long.
  // Adding a text already listed replaces its expiry.
  void Add(const char* ip, uint32_t milliseconds);
  void Remove(const char* ip);  // exact text
  bool IsBanned(const char* ip) const;
  void Clear();

  // True when `ip` matches `pattern` part by part, "*" matching any one part.
  static bool Matches(const std::string& pattern, const std::string& ip);

 private:
  struct Entry {
    std::string ip;
    bool forever = true;
    uint64_t expiresUs = 0;
  };
  void DropExpired(uint64_t nowUs) const;

  mutable std::mutex mutex_;
  mutable std::vector<Entry> entries_;
};

}  // namespace net
