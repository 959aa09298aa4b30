// Test helpers for file-system tests: a fresh folder removed afterwards, and
// an environment variable set for the lifetime of an object.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/files.h"
#include "platform/guid.h"
#include "platform/dynamic_library.h"
#include "platform/process.h"

namespace corvane::platform::testing {

// Whether the platform is Windows, whose conventions ("\\" in paths, ".exe"
// programs, shell folders, the debugger's output, the system registry) some
// tests expect instead of the POSIX stand-in's.
inline bool windowsPlatform() { return pathDelimiter() == '\\'; }

// Whether the Windows platform is Wine, whose system libraries differ from
// Windows' in a few documented details the tests allow for.
inline bool runningUnderWine() {
  if (!windowsPlatform()) return false;
  const ModuleHandle ntdll = moduleHandleByName("ntdll.dll");
  return ntdll != nullptr && moduleSymbol(ntdll, "wine_get_version") != nullptr;
}

// Where many small synced writes are cheap: a memory file system when there
// is one. Tests of locking and concurrency measure neither the disk nor fsync.
inline std::string fastTempFolder() {
  return !windowsPlatform() && directoryExists("/dev/shm")
             ? "/dev/shm"
             : std::filesystem::temp_directory_path().string();
}

class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& base = std::filesystem::temp_directory_path().string())
      : path_(base + "/corvane-test-" + guidToString(createGuid()).substr(1, 36)) {
    std::filesystem::create_directories(path_);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

class ScopedEnvironment {
 public:
  ScopedEnvironment(std::string name, const std::optional<std::string>& value)
      : name_(std::move(name)), saved_(environmentVariable(name_)) {
    set(value);
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
  ~ScopedEnvironment() { set(saved_); }

 private:
  void set(const std::optional<std::string>& value) {
    setEnvironmentVariable(name_, value ? &*value : nullptr);
  }
  std::string name_;
  std::optional<std::string> saved_;
};

// The path of a helper program built beside the test suites.
inline std::string helperPath(const std::string& name) {
  return executableDirectory() + name + executableSuffix();
}

}  // namespace corvane::platform::testing
