// POSIX backend: modules carry their resources as registered tables; the
// module of an address is the shared object the dynamic loader maps it in.
#include <dlfcn.h>

#include "platform/portable/embedded_resources.h"
#include "platform/resources.h"

namespace corvane::platform {
namespace {

const void* moduleKey(const void* anchor) {
  Dl_info info{};
  if (anchor != nullptr && ::dladdr(const_cast<void*>(anchor), &info) != 0) return info.dli_fbase;
  return anchor;
}

}  // namespace

void registerEmbeddedResources(const void* anchor, const EmbeddedResource* table, size_t count) {
  embedded::add(moduleKey(anchor), table, count);
}

void unregisterEmbeddedResources(const void* anchor) { embedded::remove(moduleKey(anchor)); }

std::optional<std::string_view> findModuleResource(const void* anchor, std::string_view name) {
  return embedded::find(moduleKey(anchor), name);
}

}  // namespace corvane::platform
