// Finding installed Python runtimes: the installations registered in the
// registry (current user first, then all users, then the 64-bit view of a
// 32-bit process), a folder's runtime library, and on POSIX the runtimes in
// the system's library folders.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

class TPythonEngine;

// The versions searched, newest first.
const std::vector<std::string>& KnownPythonVersions();
bool IsKnownPythonVersion(std::string_view version);

// The runtime library's file name of a version: "python311.dll" on
// Windows, "libpython3.11.so.1.0" on POSIX.
std::string PythonLibraryName(std::string_view version);

class TPythonVersion {
 public:
  std::string DisplayName;
  std::string HelpFile;
  std::string SysArchitecture;
  bool IsRegistered = false;
  bool IsAllUsers = false;
  std::string SysVersion;
  std::string Version;
  std::string DLLPath;      // folder of the runtime library
  std::string InstallPath;
  std::string PythonPath;

  std::string DLLName() const { return PythonLibraryName(SysVersion); }
  int32_t ApiVersion() const;
  // Sets the engine up to load this installation's runtime.
  void AssignTo(TPythonEngine& engine) const;
};

// Looks one version up in the registry; true when it is found and usable.
bool GetRegisteredPythonVersion(std::string_view sysVersion, TPythonVersion& version);
// True when the folder holds a usable runtime library of a known version.
bool PythonVersionFromPath(const std::string& folder, TPythonVersion& version);
// Every runtime found, newest first: registered installations, then (POSIX)
// those of the system's library folders not registered already.
std::vector<TPythonVersion> GetRegisteredPythonVersions();

// The folders searched for runtimes on POSIX (none on Windows), for this
// process's architecture.
std::vector<std::string> SystemLibraryFolders();

}  // namespace corvane
