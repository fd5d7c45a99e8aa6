// Records as text: a record compared whole, in hex, so that a failure shows
// which bytes differ.
#pragma once

#include <cstdint>
#include <string>

template <typename T>
std::string Hex(const T& record) {
  static const char kDigits[] = "0123456789abcdef";
  const auto* bytes = reinterpret_cast<const uint8_t*>(&record);
  std::string out;
  for (size_t i = 0; i < sizeof record; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 15];
  }
  return out;
}

// Whether every byte of the record is zero.
template <typename T>
bool Zero(const T& record) {
  return Hex(record) == std::string(2 * sizeof record, '0');
}
