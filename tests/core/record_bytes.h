// Records and plain values as text: a record compared whole (in hex, so a
// failure shows where), and several values joined to compare at once (packed
// fields cannot bind to the references a check takes).
#pragma once

#include <cstdint>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

template <typename T>
std::string Hex(const T& record) {
  static const char kDigits[] = "0123456789abcdef";
  const auto* bytes = reinterpret_cast<const uint8_t*>(&record);
  std::string out;
  for (size_t i = 0; i < sizeof record; ++i) out += {kDigits[bytes[i] >> 4], kDigits[bytes[i] & 15]};
  return out;
}

template <typename T>
bool Zero(const T& record) { return Hex(record) == std::string(2 * sizeof record, '0'); }

template <typename... T>
std::vector<int64_t> Values(T... values) { return {static_cast<int64_t>(values)...}; }

// "a|b|c"; integers of any width as numbers.
template <typename... T>
std::string Join(T... values) {
  std::ostringstream out;
  const char* sep = "";
  auto one = [&](auto v) {
    out << sep;
    sep = "|";
    if constexpr (std::is_integral_v<decltype(v)>) out << static_cast<int64_t>(v); else out << v;
  };
  (one(values), ...);
  return out.str();
}
