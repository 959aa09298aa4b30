// Lock names: the rule of the INI file lock and the system object names.
#include "platform/portable/named_lock_names.h"

#include <cstdint>
#include <cstdio>

#include "platform/named_lock.h"

namespace corvane::platform {

std::string lockNameStem(std::string_view name) {
  std::string stem;
  for (const char c : name) {
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || c == '_') {
      stem += c;
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "-%02X", static_cast<unsigned char>(c));
      stem += escaped;
    }
  }
  if (stem.size() > kMaxLockNameStem) {
    uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (const char c : name) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    char suffix[20];
    std::snprintf(suffix, sizeof suffix, "-%016llX", static_cast<unsigned long long>(hash));
    stem.resize(kMaxLockNameStem);
    stem += suffix;
  }
  return stem;
}

std::string lockNameFor(std::string_view text) {
  std::string name(text);
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z'))) c = '_';
  }
  return name;
}

}  // namespace corvane::platform
