// The parts of DynamicLibrary that only use the backend's load, close and
// symbol look-up.
#include <utility>

#include "platform/dynamic_library.h"

namespace corvane::platform {

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

DynamicLibrary::~DynamicLibrary() { close(); }

void* DynamicLibrary::symbol(const char* name) const { return moduleSymbol(handle_, name); }

}  // namespace corvane::platform
