// The registry: keys below predefined roots, values typed as on Windows.
//
// Windows: the real registry.
//
// POSIX: a file-backed store with the same semantics for what the module
// uses. Each root is one text file, HKEY_CURRENT_USER.reg and so on, in the
// folder named by CORVANE_REGISTRY_DIR (default: $XDG_CONFIG_HOME/corvane/
// registry, else ~/.config/corvane/registry), created on the first write.
// - Writers take an exclusive lock on "<root file>.lock", re-read the file,
//   apply their one change and rename a synced new file over the old one, so
//   concurrent writers in any processes lose no update and readers always see
//   a whole file. A damaged file is read as far as it can be; the first write
//   afterwards keeps the damaged original as "<root file>.corrupt".
// - Key and value names compare case-insensitively (ASCII letters) and keep
//   the case they were created with. Sub-keys are listed in name order,
//   values in the order they were first written.
// - A marker file named like a root's file plus ".readonly" (for example
//   HKEY_LOCAL_MACHINE.reg.readonly) makes that root refuse write access with
//   kErrorAccessDenied, as the local-machine root does for a normal user on
//   Windows; so does a store folder or root file the user may not write.
// - Both views are the same single view.
//
// Failing operations set lastErrorCode(): kErrorFileNotFound for a missing
// key or value, kErrorAccessDenied for refused write access or for deleting a
// key that has sub-keys, kErrorInvalidData for a value of another type than
// the typed read asks for, kErrorKeyDeleted when an open key was deleted.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/abi.h"
#include "platform/os_error.h"

namespace corvane::platform {


enum class RegistryRoot : uint8_t {
  ClassesRoot = 0,
  CurrentUser = 1,
  LocalMachine = 2,
  Users = 3,
  CurrentConfig = 4,
};

enum class RegistryAccess : uint8_t { Read, ReadWrite };

// Which view a 32-bit process sees under 64-bit Windows; POSIX has one view.
enum class RegistryView : uint8_t { Default, Force64 };

enum RegistryValueType : uint32_t {
  kRegNone = 0,
  kRegSz = 1,
  kRegExpandSz = 2,
  kRegBinary = 3,
  kRegDword = 4,
};

struct RegistryValue {
  uint32_t type = kRegNone;
  std::vector<uint8_t> data;  // REG_SZ: the 8-bit text with its terminating zero
};

class CV_PLATFORM_API RegistryKey {
 public:
  // Opens an existing key; nullopt (with lastErrorCode set) when it does not
  // exist or the access is refused. Paths use "\" and may start with one;
  // empty parts are skipped. A key opened for Read refuses every write.
  static std::optional<RegistryKey> open(RegistryRoot root, std::string_view path,
                                         RegistryAccess access,
                                         RegistryView view = RegistryView::Default);
  // Opens or creates the key (and the keys above it) with read-write access.
  static std::optional<RegistryKey> create(RegistryRoot root, std::string_view path,
                                           RegistryView view = RegistryView::Default);
  // Removes a key that has no sub-keys; false when it cannot.
  static bool deleteKey(RegistryRoot root, std::string_view path,
                        RegistryView view = RegistryView::Default);

  RegistryKey(RegistryKey&&) noexcept;
  RegistryKey& operator=(RegistryKey&&) noexcept;
  ~RegistryKey();

  // Value names are 8-bit texts; the empty name is the key's default value.
  std::optional<RegistryValue> readValue(std::string_view name) const;
  // REG_SZ / REG_EXPAND_SZ only; the text up to its terminating zero.
  std::optional<std::string> readString(std::string_view name) const;
  std::optional<uint32_t> readDword(std::string_view name) const;       // REG_DWORD only
  bool valueExists(std::string_view name) const;
  bool writeValue(std::string_view name, uint32_t type, const void* data, uint32_t size);
  bool writeString(std::string_view name, std::string_view text);
  bool writeDword(std::string_view name, uint32_t value);
  bool writeBinary(std::string_view name, const void* data, uint32_t size);
  bool deleteValue(std::string_view name);
  std::vector<std::string> subKeyNames() const;
  std::vector<std::string> valueNames() const;

 private:
  struct State;
  explicit RegistryKey(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace corvane::platform
