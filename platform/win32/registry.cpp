// Win32 backend: registry keys are the system's own (advapi32).
//
// A RegistryKey owns an HKEY opened with the access it was asked for, so the
// system enforces read-only keys, refused write access and deleted keys
// itself. Every failure sets the calling thread's last error to the code the
// registry function returned.
//
// Divisions: opening, creating and deleting keys; values; enumeration.
#include <windows.h>


#include "platform/os_error.h"
#include "platform/registry.h"
#include "platform/win32/registry_names.h"

namespace corvane::platform {

struct RegistryKey::State {
  HKEY key = nullptr;
  ~State() {
    if (key != nullptr) ::RegCloseKey(key);
  }
};

namespace {

REGSAM accessMask(RegistryAccess access, RegistryView view) {
  return (access == RegistryAccess::ReadWrite ? KEY_READ | KEY_WRITE : KEY_READ) | viewFlag(view);
}

bool fail(LONG error) {
  setLastErrorCode(static_cast<uint32_t>(error));
  return false;
}

std::nullopt_t none(LONG error) {
  setLastErrorCode(static_cast<uint32_t>(error));
  return std::nullopt;
}

bool succeed() {
  setLastErrorCode(kErrorSuccess);
  return true;
}

// Names reach the system as zero-terminated texts.
std::string terminated(std::string_view name) { return std::string(name); }

}  // namespace

// ---- Opening, creating and deleting keys ----------------------------------------

RegistryKey::RegistryKey(std::unique_ptr<State> state) : state_(std::move(state)) {}
RegistryKey::RegistryKey(RegistryKey&&) noexcept = default;
RegistryKey& RegistryKey::operator=(RegistryKey&&) noexcept = default;
RegistryKey::~RegistryKey() = default;

std::optional<RegistryKey> RegistryKey::open(RegistryRoot root, std::string_view path,
                                             RegistryAccess access, RegistryView view) {
  const HKEY parent = rootKey(root);
  if (parent == nullptr) return none(ERROR_INVALID_HANDLE);
  auto state = std::make_unique<State>();
  const LONG result = ::RegOpenKeyExA(parent, normalizedPath(path).c_str(), 0,
                                      accessMask(access, view), &state->key);
  if (result != ERROR_SUCCESS) {
    state->key = nullptr;
    return none(result);
  }
  succeed();
  return RegistryKey(std::move(state));
}

std::optional<RegistryKey> RegistryKey::create(RegistryRoot root, std::string_view path,
                                               RegistryView view) {
  const HKEY parent = rootKey(root);
  if (parent == nullptr) return none(ERROR_INVALID_HANDLE);
  auto state = std::make_unique<State>();
  const LONG result = ::RegCreateKeyExA(parent, normalizedPath(path).c_str(), 0, nullptr,
                                        REG_OPTION_NON_VOLATILE,
                                        accessMask(RegistryAccess::ReadWrite, view), nullptr,
                                        &state->key, nullptr);
  if (result != ERROR_SUCCESS) {
    state->key = nullptr;
    return none(result);
  }
  succeed();
  return RegistryKey(std::move(state));
}

bool RegistryKey::deleteKey(RegistryRoot root, std::string_view path, RegistryView view) {
  const HKEY parent = rootKey(root);
  if (parent == nullptr) return fail(ERROR_INVALID_HANDLE);
  const std::string subKey = normalizedPath(path);
  // An empty sub-key would name the root itself.
  if (subKey.empty()) return fail(ERROR_ACCESS_DENIED);
  const LONG result = view == RegistryView::Default
                          ? ::RegDeleteKeyA(parent, subKey.c_str())
                          : ::RegDeleteKeyExA(parent, subKey.c_str(), viewFlag(view), 0);
  return result == ERROR_SUCCESS ? succeed() : fail(result);
}

// ---- Values -----------------------------------------------------------------------

std::optional<RegistryValue> RegistryKey::readValue(std::string_view name) const {
  const std::string valueName = terminated(name);
  RegistryValue value;
  DWORD type = REG_NONE;
  DWORD size = 0;
  LONG result = ::RegQueryValueExA(state_->key, valueName.c_str(), nullptr, &type, nullptr, &size);
  // The value may grow between asking for its size and reading it.
  while (result == ERROR_SUCCESS || result == ERROR_MORE_DATA) {
    value.data.resize(size);
    result = ::RegQueryValueExA(state_->key, valueName.c_str(), nullptr, &type,
                                value.data.empty() ? nullptr : value.data.data(), &size);
    if (result == ERROR_SUCCESS) {
      // The size asked first can be an upper bound (8-bit texts converted
      // from the stored UTF-16); this is what was read.
      value.data.resize(size);
      value.type = type;
      succeed();
      return value;
    }
  }
  return none(result);
}

bool RegistryKey::valueExists(std::string_view name) const {
  const LONG result = ::RegQueryValueExA(state_->key, terminated(name).c_str(), nullptr, nullptr,
                                         nullptr, nullptr);
  return result == ERROR_SUCCESS ? succeed() : fail(result);
}

bool RegistryKey::writeValue(std::string_view name, uint32_t type, const void* data,
                             uint32_t size) {
  if (data == nullptr && size != 0) return fail(ERROR_INVALID_PARAMETER);
  const BYTE nothing = 0;
  const LONG result =
      ::RegSetValueExA(state_->key, terminated(name).c_str(), 0, type,
                       size == 0 ? &nothing : static_cast<const BYTE*>(data), size);
  return result == ERROR_SUCCESS ? succeed() : fail(result);
}

bool RegistryKey::deleteValue(std::string_view name) {
  const LONG result = ::RegDeleteValueA(state_->key, terminated(name).c_str());
  return result == ERROR_SUCCESS ? succeed() : fail(result);
}

// ---- Enumeration ------------------------------------------------------------------

namespace {

// Calls enumerate(index, buffer, length) for index 0, 1, ... until the system
// has no more items. The buffer starts at the longest name the key reported
// (in UTF-16 units; an 8-bit name can need more bytes) and grows when a name
// added meanwhile is longer.
template <class Enumerate>
std::vector<std::string> enumerateNames(DWORD longestName, Enumerate enumerate) {
  std::vector<std::string> names;
  std::string buffer(2 * static_cast<size_t>(longestName) + 2, '\0');
  for (DWORD index = 0;;) {
    DWORD length = static_cast<DWORD>(buffer.size());
    const LONG result = enumerate(index, buffer.data(), &length);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result == ERROR_MORE_DATA) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (result != ERROR_SUCCESS) {
      fail(result);
      return names;
    }
    names.emplace_back(buffer.data(), length);
    ++index;
  }
  succeed();
  return names;
}

}  // namespace

std::vector<std::string> RegistryKey::subKeyNames() const {
  DWORD longest = 0;
  const LONG result = ::RegQueryInfoKeyA(state_->key, nullptr, nullptr, nullptr, nullptr, &longest,
                                         nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  if (result != ERROR_SUCCESS) {
    fail(result);
    return {};
  }
  const HKEY key = state_->key;
  return enumerateNames(longest, [key](DWORD index, char* name, DWORD* length) {
    return ::RegEnumKeyExA(key, index, name, length, nullptr, nullptr, nullptr, nullptr);
  });
}

std::vector<std::string> RegistryKey::valueNames() const {
  DWORD longest = 0;
  const LONG result = ::RegQueryInfoKeyA(state_->key, nullptr, nullptr, nullptr, nullptr, nullptr,
                                         nullptr, nullptr, &longest, nullptr, nullptr, nullptr);
  if (result != ERROR_SUCCESS) {
    fail(result);
    return {};
  }
  const HKEY key = state_->key;
  return enumerateNames(longest, [key](DWORD index, char* name, DWORD* length) {
    return ::RegEnumValueA(key, index, name, length, nullptr, nullptr, nullptr, nullptr);
  });
}

}  // namespace corvane::platform
