#include "platform/portable/embedded_resources.h"

#include <map>
#include <mutex>
#include <utility>

#include "platform/ascii.h"

namespace corvane::platform::embedded {
namespace {

struct Registry {
  std::mutex mutex;
  std::map<const void*, std::pair<const EmbeddedResource*, size_t>> tables;
};

Registry& registry() {
  static Registry instance;
  return instance;
}

}  // namespace

void add(const void* moduleKey, const EmbeddedResource* table, size_t count) {
  std::lock_guard lock(registry().mutex);
  registry().tables[moduleKey] = {table, count};
}

void remove(const void* moduleKey) {
  std::lock_guard lock(registry().mutex);
  registry().tables.erase(moduleKey);
}

std::optional<std::string_view> find(const void* moduleKey, std::string_view name) {
  std::lock_guard lock(registry().mutex);
  const auto found = registry().tables.find(moduleKey);
  if (found == registry().tables.end()) return std::nullopt;
  const auto [table, count] = found->second;
  for (size_t i = 0; i < count; ++i) {
    if (sameTextAscii(table[i].name, name)) {
      return std::string_view(reinterpret_cast<const char*>(table[i].data), table[i].size);
    }
  }
  return std::nullopt;
}

}  // namespace corvane::platform::embedded
