// Win32 backend: a module's own RCDATA resources, then any table it
// registered.
#include <windows.h>

#include <string>

#include "platform/portable/embedded_resources.h"
#include "platform/resources.h"

namespace corvane::platform {
namespace {

HMODULE moduleOf(const void* anchor) {
  HMODULE module = nullptr;
  if (anchor == nullptr ||
      !::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<const char*>(anchor), &module)) {
    return nullptr;
  }
  return module;
}

}  // namespace

void registerEmbeddedResources(const void* anchor, const EmbeddedResource* table, size_t count) {
  embedded::add(moduleOf(anchor), table, count);
}

void unregisterEmbeddedResources(const void* anchor) { embedded::remove(moduleOf(anchor)); }

std::optional<std::string_view> findModuleResource(const void* anchor, std::string_view name) {
  HMODULE module = moduleOf(anchor);
  if (module == nullptr) return std::nullopt;
  const std::string resourceName(name);
  if (HRSRC found = ::FindResourceA(module, resourceName.c_str(), MAKEINTRESOURCEA(10))) {
    HGLOBAL loaded = ::LoadResource(module, found);
    const void* data = loaded ? ::LockResource(loaded) : nullptr;
    if (data != nullptr) return std::string_view(static_cast<const char*>(data), ::SizeofResource(module, found));
  }
  return embedded::find(module, name);
}

}  // namespace corvane::platform
