// Finding installed Python runtimes.
#include "python/python_runtime.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <optional>

#include "platform/files.h"
#include "platform/registry.h"
#include "python/python_engine.h"
#include "python/python_version.h"

namespace corvane {

namespace {

using platform::RegistryAccess;
using platform::RegistryKey;
using platform::RegistryRoot;
using platform::RegistryView;

#if defined(_WIN32)
constexpr bool kWindowsNames = true;
#else
constexpr bool kWindowsNames = false;
#endif

std::string withoutTrailingDelimiter(std::string path) {
  if (!path.empty() && platform::isPathDelimiter(path.back())) path.pop_back();
  return path;
}

std::string processArchitecture() { return sizeof(void*) == 8 ? "64bit" : "32bit"; }

// Reads one hive's entry; false when it is missing or its folder is gone.
bool readInstallation(RegistryRoot root, RegistryView view, const std::string& key, TPythonVersion& version) {
  if (auto installPath = RegistryKey::open(root, key + "\\InstallPath", RegistryAccess::Read, view)) {
    version.InstallPath = installPath->readString("").value_or("");
    const bool oldAllUsers = root == RegistryRoot::LocalMachine && CompareVersions(version.SysVersion, "3.5") < 0;
    version.DLLPath = oldAllUsers ? std::string() : version.InstallPath;
  }
  if (version.InstallPath.empty() || !platform::directoryExists(withoutTrailingDelimiter(version.InstallPath)))
    return false;
  if (auto entry = RegistryKey::open(root, key, RegistryAccess::Read, view)) {
    version.DisplayName = entry->readString("DisplayName").value_or("");
    version.Version = entry->readString("Version").value_or("");
    version.SysArchitecture = entry->readString("SysArchitecture").value_or("");
  }
  if (auto pythonPath = RegistryKey::open(root, key + "\\PythonPath", RegistryAccess::Read, view))
    version.PythonPath = pythonPath->readString("").value_or("");
  if (auto help = RegistryKey::open(root, key + "\\Help\\Main Python Documentation", RegistryAccess::Read, view))
    version.HelpFile = help->readString("").value_or("");
  return true;
}

// The ELF class and machine of a library match this process (a library of
// another architecture in a shared folder cannot be loaded).
bool elfMatchesProcess(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::array<unsigned char, 20> header{};
  if (!file.read(reinterpret_cast<char*>(header.data()), header.size())) return false;
  if (header[0] != 0x7F || header[1] != 'E' || header[2] != 'L' || header[3] != 'F') return false;
  if (header[4] != (sizeof(void*) == 8 ? 2 : 1)) return false;
  const unsigned machine = header[18] | header[19] << 8;
#if defined(__x86_64__)
  return machine == 62;
#elif defined(__i386__)
  return machine == 3;
#elif defined(__aarch64__)
  return machine == 183;
#elif defined(__arm__)
  return machine == 40;
#else
  (void)machine;
  return true;
#endif
}

// The runtime library in a folder: Windows names have two version digits
// ("python39.dll", exactly 12 characters; only the first two matches are
// looked at), POSIX names are those of the known versions.
std::optional<std::string> libraryInFolder(const std::string& folder) {
  const std::string prefix = folder + platform::pathDelimiter();
  if (kWindowsNames) {
    const std::vector<std::string> matches = platform::findFiles(prefix + "python??.dll");
    for (size_t i = 0; i < matches.size() && i < 2; ++i) {
      if (matches[i].size() == 12) return matches[i];
    }
    return std::nullopt;
  }
  for (const std::string& known : KnownPythonVersions()) {
    const std::string name = PythonLibraryName(known);
    if (platform::fileExists(prefix + name) && elfMatchesProcess(prefix + name)) return name;
  }
  return std::nullopt;
}

}  // namespace

const std::vector<std::string>& KnownPythonVersions() {
  // 3.15 and 3.14 lead the list: a machine with only a current runtime
  // must find it.
  static const std::vector<std::string> versions = {"3.15", "3.14", "3.13", "3.12", "3.11", "3.10",
                                                    "3.9",  "3.8",  "3.7",  "3.6",  "3.5",  "3.4",
                                                    "3.3",  "3.2",  "3.1",  "3.0",  "2.7"};
  return versions;
}

bool IsKnownPythonVersion(std::string_view version) {
  const auto& known = KnownPythonVersions();
  return std::find(known.begin(), known.end(), version) != known.end();
}

std::string PythonLibraryName(std::string_view version) {
  if (kWindowsNames) {
    std::string digits;
    for (char c : version) {
      if (c != '.') digits += c;
    }
    return "python" + digits + ".dll";
  }
  return "libpython" + std::string(version) + ".so.1.0";
}

int32_t TPythonVersion::ApiVersion() const { return CompareVersions(SysVersion, "2.4") > 0 ? 1013 : 1012; }

void TPythonVersion::AssignTo(TPythonEngine& engine) const {
  engine.UseLastKnownVersion = false;
  engine.RegVersion = SysVersion;
  engine.DllName = DLLName();
  engine.DllPath = DLLPath;
  engine.APIVersion = ApiVersion();
}

bool GetRegisteredPythonVersion(std::string_view sysVersion, TPythonVersion& version) {
  const std::string key = PythonCoreKey(sysVersion);
  version.SysVersion = std::string(sysVersion);
  version.IsAllUsers = false;
  bool found = readInstallation(RegistryRoot::CurrentUser, RegistryView::Default, key, version);
  if (!found) {
    version.IsAllUsers = true;
    found = readInstallation(RegistryRoot::LocalMachine, RegistryView::Default, key, version);
    if (version.SysArchitecture.empty()) version.SysArchitecture = "32bit";
  }
  if (!found) {
    // A 32-bit process on 64-bit Windows: the installers' 64-bit view.
    found = readInstallation(RegistryRoot::LocalMachine, RegistryView::Force64, key, version);
    if (version.SysArchitecture.empty()) version.SysArchitecture = "32bit";
  }
  if (found && version.SysArchitecture.empty()) {
    TPythonVersion scratch;
    found = PythonVersionFromPath(version.InstallPath, scratch);
    if (found) version.SysArchitecture = "32bit";
  }
  version.IsRegistered = found;
  return found;
}

bool PythonVersionFromPath(const std::string& folder, TPythonVersion& version) {
  const std::string base = withoutTrailingDelimiter(folder);
  version.InstallPath = base;
  std::string libraryFolder = base;
  std::optional<std::string> library = libraryInFolder(base);
  if (!library && kWindowsNames) {
    libraryFolder = base + platform::pathDelimiter() + "Scripts";
    library = libraryInFolder(libraryFolder);
  }
  if (!library) return false;
  // A 64-bit interpreter beside the library marks a 64-bit installation.
  const std::string interpreter = libraryFolder + platform::pathDelimiter() + "python.exe";
  if (platform::fileExists(interpreter) && platform::binaryType(interpreter) == platform::BinaryType::Windows64)
    return false;
  version.DLLPath = libraryFolder;
  version.SysVersion = VersionFromLibraryName(*library).Text;
  version.SysArchitecture = kWindowsNames ? "32bit" : processArchitecture();
  return IsKnownPythonVersion(version.SysVersion);
}

std::vector<std::string> SystemLibraryFolders() {
  if (kWindowsNames) return {};
#if defined(__x86_64__)
  return {"/usr/local/lib/x86_64-linux-gnu", "/usr/lib/x86_64-linux-gnu", "/usr/local/lib64", "/usr/lib64",
          "/usr/local/lib", "/usr/lib"};
#elif defined(__i386__)
  return {"/usr/local/lib/i386-linux-gnu", "/usr/lib/i386-linux-gnu", "/usr/local/lib32", "/usr/lib32",
          "/usr/local/lib", "/usr/lib"};
#elif defined(__aarch64__)
  return {"/usr/local/lib/aarch64-linux-gnu", "/usr/lib/aarch64-linux-gnu", "/usr/local/lib64", "/usr/lib64",
          "/usr/local/lib", "/usr/lib"};
#else
  return {"/usr/local/lib", "/usr/lib"};
#endif
}

std::vector<TPythonVersion> GetRegisteredPythonVersions() {
  std::vector<TPythonVersion> found;
  for (const std::string& known : KnownPythonVersions()) {
    TPythonVersion version;
    if (GetRegisteredPythonVersion(known, version)) found.push_back(std::move(version));
  }
  for (const std::string& known : KnownPythonVersions()) {
    if (std::any_of(found.begin(), found.end(), [&](const TPythonVersion& v) { return v.SysVersion == known; }))
      continue;
    for (const std::string& folder : SystemLibraryFolders()) {
      const std::string path = folder + "/" + PythonLibraryName(known);
      if (!platform::fileExists(path) || !elfMatchesProcess(path)) continue;
      TPythonVersion version;
      version.DisplayName = "Python " + known;
      version.SysArchitecture = processArchitecture();
      version.IsRegistered = true;
      version.IsAllUsers = true;
      version.SysVersion = known;
      version.DLLPath = folder;
      version.InstallPath = folder;
      found.push_back(std::move(version));
      break;
    }
  }
  return found;
}

}  // namespace corvane
