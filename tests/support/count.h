// How often a text stands in the tests' output (a log, a transcript).
#pragma once

#include <cstddef>
#include <string_view>

namespace support {

// Non-overlapping occurrences of `needle` in `text`.
inline size_t CountOccurrences(std::string_view text, std::string_view needle) {
  size_t count = 0;
  for (size_t at = text.find(needle); at != text.npos; at = text.find(needle, at + needle.size())) {
    count++;
  }
  return count;
}

}  // namespace support
