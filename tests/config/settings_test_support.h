// Shared by the settings tests: a folder of their own for INI files, the
// POSIX registry store and the lock files, and registry keys of their own
// below Software\CorvaneTests in both roots, removed afterwards (on Windows
// they are the real registry's).
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "platform/guid.h"
#include "platform/registry.h"
#include "platform/scratch_folder.h"

namespace corvane::settings_testing {

namespace cvtest = platform::testing;

inline void deleteTree(platform::RegistryRoot root, const std::string& path) {
  if (auto key = platform::RegistryKey::open(root, path, platform::RegistryAccess::Read)) {
    for (const std::string& name : key->subKeyNames()) deleteTree(root, path + "\\" + name);
  }
  platform::RegistryKey::deleteKey(root, path);
}

inline std::string readText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

inline void writeText(const std::string& path, std::string_view content) {
  std::ofstream(path, std::ios::binary) << content;
}

class SettingsTest : public ::testing::Test {
 protected:
  static constexpr platform::RegistryRoot kUser = platform::RegistryRoot::CurrentUser;
  static constexpr platform::RegistryRoot kMachine = platform::RegistryRoot::LocalMachine;
  static constexpr const char* kTestsKey = "Software\\CorvaneTests";

  void TearDown() override {
    for (const platform::RegistryRoot root : {kUser, kMachine}) {
      deleteTree(root, base_);
      platform::RegistryKey::deleteKey(root, kTestsKey);  // unless other tests still use it
    }
  }

  // The registry path of the test, with a leading backslash as hosts give it.
  std::string registryPath() const { return "\\" + base_; }
  std::string file(const std::string& name) const { return folder_ / name; }

  std::optional<platform::RegistryValue> registryValue(platform::RegistryRoot root, const std::string& name,
                                                       const std::string& below = "") const {
    auto key = platform::RegistryKey::open(root, below.empty() ? base_ : base_ + "\\" + below,
                                           platform::RegistryAccess::Read);
    if (!key) return std::nullopt;
    return key->readValue(name);
  }
  std::optional<std::string> registryString(platform::RegistryRoot root, const std::string& name) const {
    auto key = platform::RegistryKey::open(root, base_, platform::RegistryAccess::Read);
    return key ? key->readString(name) : std::nullopt;
  }
  std::optional<platform::RegistryKey> userKey() const { return platform::RegistryKey::create(kUser, base_); }

  const std::string base_ = std::string(kTestsKey) + "\\" + platform::guidToString(platform::createGuid());
  cvtest::ScratchFolder folder_{cvtest::fastTempFolder()};
  cvtest::ScopedEnvironment registryStore_{"CORVANE_REGISTRY_DIR", folder_ / "registry"};
  cvtest::ScopedEnvironment lockFolder_{"CORVANE_LOCK_DIR", folder_ / "locks"};
};

}  // namespace corvane::settings_testing
