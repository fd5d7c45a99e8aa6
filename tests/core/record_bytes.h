// Records and plain values as bytes: a record compared whole (in hex, so a
// failure shows where), and values laid end to end as a payload of plain
// writes carries them (the test hosts are little-endian).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace recordbytes {

template <typename T>
std::string Hex(const T& record) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < sizeof record; ++i) {
    const uint8_t b = reinterpret_cast<const uint8_t*>(&record)[i];
    out += {kDigits[b >> 4], kDigits[b & 15]};
  }
  return out;
}

template <typename T>
bool Zero(const T& record) {
  return Hex(record) == std::string(2 * sizeof record, '0');
}

// Values of any integral types, to compare several at once by value (packed
// fields cannot bind to the references a check takes).
template <typename... T>
std::vector<int64_t> Values(T... values) {
  return {static_cast<int64_t>(values)...};
}

template <typename... T>
std::vector<uint8_t> PlainBytes(T... values) {
  std::vector<uint8_t> out;
  (out.insert(out.end(), reinterpret_cast<const uint8_t*>(&values),
              reinterpret_cast<const uint8_t*>(&values) + sizeof values),
   ...);
  return out;
}

}  // namespace recordbytes
