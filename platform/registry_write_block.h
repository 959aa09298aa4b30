// Test support: a registry key that refuses the current user's writes, the
// way the local-machine root does for a normal user on Windows. Tests of code
// that must notice it may not write there (and fall back to another root) use
// it on every system.
#pragma once

#include <memory>
#include <optional>
#include <string_view>

#include "platform/abi.h"
#include "platform/registry.h"

namespace corvane::platform {

class CV_PLATFORM_API RegistryWriteBlock {
 public:
  // Blocks writing to an existing key until the object is destroyed; nullopt
  // (with lastErrorCode set) when it cannot. Afterwards, opening (or
  // creating) the key for writing fails with kErrorAccessDenied, and it can
  // still be opened and read.
  // - Windows: an entry in the key's access control list denies the current
  //   user setting values, creating sub-keys and deleting the key. Handles
  //   opened for writing before keep the access they were granted, and keys
  //   below it are not affected. Wine honours the entry when a key is opened,
  //   but still deletes the key and creates keys below it.
  // - POSIX: the root's ".readonly" marker in the store folder, so every key
  //   of the root refuses writes, also through keys opened before.
  static std::optional<RegistryWriteBlock> apply(RegistryRoot root, std::string_view path,
                                                 RegistryView view = RegistryView::Default);

  RegistryWriteBlock(RegistryWriteBlock&&) noexcept;
  RegistryWriteBlock& operator=(RegistryWriteBlock&&) noexcept;
  ~RegistryWriteBlock();  // lifts the block

 private:
  struct State;
  explicit RegistryWriteBlock(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace corvane::platform
