// POSIX backend, internal: the registry store behind RegistryKey.
//
// Divisions: the in-memory tree (keys, values, name comparison), its text
// form (parse / serialize, in registry_format.cpp), and the per-root files
// (locations, write permission, locked read-modify-write, in
// registry_store.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace corvane::platform::registry_store {

// ---- Tree -------------------------------------------------------------------

// Key and value names compare case-insensitively in ASCII; other bytes (the
// UTF-8 of non-ASCII letters) compare exactly.
bool namesEqual(std::string_view a, std::string_view b);
int compareNames(std::string_view a, std::string_view b);

struct Value {
  std::string name;  // empty: the key's default value
  uint32_t type = kRegNone;
  std::vector<uint8_t> data;
};

struct Key {
  std::string name;
  std::vector<Value> values;                  // in the order they were first written
  std::vector<std::unique_ptr<Key>> subKeys;  // sorted by compareNames

  Key* findSubKey(std::string_view subKey) const;
  Key& subKeyOrNew(std::string_view subKey, bool& created);
  bool removeSubKey(std::string_view subKey);
  const Value* findValue(std::string_view valueName) const;
  // Replaces the data of an existing value (keeping its name's case) or
  // appends a new one; true when anything changed.
  bool setValue(std::string_view valueName, uint32_t type, std::vector<uint8_t> data);
  bool removeValue(std::string_view valueName);
};

// ---- Locations --------------------------------------------------------------

// A root's file in the store's folder ("HKEY_CURRENT_USER.reg", ...).
const char* rootFileName(RegistryRoot root);
// The store's folder as registry.h names it, without a trailing "/"; empty
// when no folder can be named.
std::string storeFolder();

using KeyPath = std::vector<std::string>;

inline constexpr size_t kMaxKeyNameLength = 255;
inline constexpr size_t kMaxValueNameLength = 16383;

// Splits a key path at "\" (empty parts, as from a leading or doubled "\",
// are skipped). False when a part is longer than a key name may be.
bool splitPath(std::string_view path, KeyPath& parts);
const Key* findKey(const Key& root, const KeyPath& path);
Key* findKey(Key& root, const KeyPath& path);

// ---- Text form --------------------------------------------------------------

// Never fails: lines that cannot be understood are skipped and counted in
// badLines, so a damaged file still yields everything readable in it.
std::unique_ptr<Key> parse(std::string_view text, size_t& badLines);
std::string serialize(const Key& root);

// ---- Root files -------------------------------------------------------------

struct Snapshot {
  std::shared_ptr<const Key> tree;  // set when error is kErrorSuccess
  uint32_t error = 0;
};

// The current content of a root (an empty tree when its file does not exist).
Snapshot readRoot(RegistryRoot root);

// False (with the reason in error) when the root refuses write access.
bool rootWritable(RegistryRoot root, uint32_t& error);

// Applies one change under the root's exclusive file lock: re-reads the file,
// calls change (which sets changed when it modified the tree and returns a
// Windows error code), and when it changed anything replaces the file
// atomically. Returns the change's error or the error of the file operations.
using Change = std::function<uint32_t(Key& tree, bool& changed)>;
uint32_t modifyRoot(RegistryRoot root, const Change& change);

}  // namespace corvane::platform::registry_store
