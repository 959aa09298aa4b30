// Version facts of Python runtime libraries: the version a library's file
// name tells, version comparison, and the install folder a registered
// installation names in the registry.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace corvane {

struct TPythonLibraryVersion {
  int32_t Major = 2;
  int32_t Minor = 7;
  std::string Text;  // "3.11"; empty when the name tells no version
};

// Reads "python39.dll", "python310.dll" and "libpython3.11.so.1.0" alike.
TPythonLibraryVersion VersionFromLibraryName(std::string_view fileName);

// Compares numerically part by part, split at ".", a missing part being 0:
// negative, 0 or positive as a is older, equal or newer than b.
int32_t CompareVersions(std::string_view a, std::string_view b);

// True for versions newer than 3.4, whose installations register with the
// "-32" suffix.
bool UsesSuffixedRegistryKey(std::string_view version);

// The registry key of an installation: "\Software\Python\PythonCore\3.11-32".
std::string PythonCoreKey(std::string_view version);

// The install folder the registry names for a version, empty when none:
// the current user's entry, else the local machine's for versions newer
// than 3.4.
std::string RegisteredInstallFolder(std::string_view registryVersion);

}  // namespace corvane
