// Comparing identifiers: equal ignoring the case of ASCII letters (property,
// component, type and resource names compare this way); other bytes must
// match exactly.
#pragma once

#include <string_view>

namespace corvane::platform {

inline bool sameTextAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace corvane::platform
