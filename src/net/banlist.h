// The peer's ban list: dotted IPv4 texts in which any part may be "*", each
// banned forever or until an expiry time. Thread-safe, because the network
// thread checks it while the application edits it.
//
// Exact texts live in a hashed table, so adding, removing and checking them
// take constant time however long the list; only the texts with a "*" part
// are matched one by one.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
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
  // Replaces the whole list with `ips`, each banned forever. The new list is
  // built first and swapped in at once, so a check meanwhile sees the old list
  // or the new one, never part of either.
  void Replace(const std::vector<std::string>& ips);

  // True when `ip` matches `pattern` part by part, "*" matching any one part.
  static bool Matches(const std::string& pattern, const std::string& ip);

 private:
  // When the ban ends (microseconds); kForever for a ban without end.
  using Expiry = uint64_t;
  static constexpr Expiry kForever = UINT64_MAX;
  struct Entries {
    std::unordered_map<std::string, Expiry> exact;
    std::unordered_map<std::string, Expiry> wildcards;
    void Add(const std::string& ip, Expiry expiry);
  };

  mutable std::mutex mutex_;
  mutable Entries entries_;
};

}  // namespace net
