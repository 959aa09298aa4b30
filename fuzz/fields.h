// Splits a fuzz input into fields separated by the byte 0x1F (the ASCII unit
// separator), so a seed file can give a target several texts at once; the
// last field takes the rest of the input, separators included.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace corvane::fuzz {

inline std::vector<std::string_view> SplitFields(const uint8_t* data, size_t size, size_t count) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> fields;
  while (fields.size() + 1 < count) {
    const size_t mark = rest.find('\x1F');
    if (mark == std::string_view::npos) break;
    fields.push_back(rest.substr(0, mark));
    rest.remove_prefix(mark + 1);
  }
  fields.push_back(rest);
  while (fields.size() < count) fields.emplace_back();
  return fields;
}

}  // namespace corvane::fuzz
