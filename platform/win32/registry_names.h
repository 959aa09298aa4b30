// Win32 backend, internal: the predefined keys of the roots and key paths as
// the registry functions take them.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "platform/registry.h"

namespace corvane::platform {

inline HKEY rootKey(RegistryRoot root) {
  switch (root) {
    case RegistryRoot::ClassesRoot: return HKEY_CLASSES_ROOT;
    case RegistryRoot::CurrentUser: return HKEY_CURRENT_USER;
    case RegistryRoot::LocalMachine: return HKEY_LOCAL_MACHINE;
    case RegistryRoot::Users: return HKEY_USERS;
    case RegistryRoot::CurrentConfig: return HKEY_CURRENT_CONFIG;
  }
  return nullptr;
}

inline REGSAM viewFlag(RegistryView view) {
  return view == RegistryView::Force64 ? KEY_WOW64_64KEY : 0;
}

// The path with empty parts dropped: the registry refuses a leading "\"
// (ERROR_BAD_PATHNAME) and, on some systems, doubled ones.
inline std::string normalizedPath(std::string_view path) {
  std::string result;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) {
      if (!result.empty()) result += '\\';
      result.append(path.substr(start, end - start));
    }
    start = end + 1;
  }
  return result;
}

}  // namespace corvane::platform
