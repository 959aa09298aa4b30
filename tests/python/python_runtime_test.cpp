// Finding Python runtimes: versions from library names, the registry
// entries of installations (the POSIX stand-in's store, or the real
// registry under Windows), folder examination and the system's library
// folders.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/registry.h"
#include "python/python_runtime.h"
#include "python/python_version.h"
#include "python_test_support.h"

namespace corvane {
namespace {

using platform::RegistryKey;
using platform::RegistryRoot;
using platform::testing::ScopedEnvironment;
using platform::testing::ScratchFolder;
using platform::testing::windowsPlatform;

TEST(PythonVersionNames, VersionsAreReadFromLibraryFileNames) {
  const auto text = [](const char* name) { return VersionFromLibraryName(name).Text; };
  EXPECT_EQ(text("python39.dll"), "3.9");
  EXPECT_EQ(text("PYTHON310.DLL"), "3.10");
  EXPECT_EQ(text("python3.dll"), "3.7");
  EXPECT_EQ(text("python27.dll"), "2.7");
  EXPECT_EQ(text("libpython3.11.so.1.0"), "3.11");
  EXPECT_EQ(text("/usr/lib/i386-linux-gnu/libpython3.15.so.1.0"), "3.15");
  EXPECT_EQ(text("libpython3.so"), "3.7");
  EXPECT_EQ(text("kernel32.dll"), "");
  EXPECT_EQ(text("python"), "");
  EXPECT_EQ(text("python6.dll"), "");
  EXPECT_EQ(text("python3x.dll"), "");
  const TPythonLibraryVersion none = VersionFromLibraryName("other.dll");
  EXPECT_EQ(none.Major * 10 + none.Minor, 27);

  EXPECT_LT(CompareVersions("3.9", "3.10"), 0);
  EXPECT_GT(CompareVersions("3.15", "3.4"), 0);
  EXPECT_EQ(CompareVersions("3", "3.0"), 0);
  EXPECT_TRUE(UsesSuffixedRegistryKey("3.5"));
  EXPECT_TRUE(UsesSuffixedRegistryKey("3.10"));
  EXPECT_FALSE(UsesSuffixedRegistryKey("3.4"));
  EXPECT_FALSE(UsesSuffixedRegistryKey("2.7"));

  EXPECT_EQ(KnownPythonVersions().front(), "3.15");
  EXPECT_EQ(KnownPythonVersions()[1], "3.14");
  EXPECT_EQ(KnownPythonVersions().back(), "2.7");
  EXPECT_EQ(PythonLibraryName("3.10"), windowsPlatform() ? "python310.dll" : "libpython3.10.so.1.0");
}

// A minimal PE header: what the binary type query reads.
void writeProgram(const std::string& path, bool is64) {
  std::string image(0x200, '\0');
  image[0] = 'M';
  image[1] = 'Z';
  image[0x3C] = 0x40;
  image.replace(0x40, 4, std::string("PE\0\0", 4));
  const uint16_t machine = is64 ? 0x8664 : 0x014C;
  image[0x44] = static_cast<char>(machine & 0xFF);
  image[0x45] = static_cast<char>(machine >> 8);
  image[0x54] = static_cast<char>(is64 ? 0xF0 : 0xE0);  // size of the optional header
  image[0x56] = 0x02;                                     // executable image
  image[0x58] = 0x0B;                                     // optional header magic
  image[0x59] = is64 ? 0x02 : 0x01;
  image[0x58 + 68] = 3;  // console subsystem
  std::ofstream(path, std::ios::binary) << image;
}

class PythonRuntimes : public ::testing::Test {
 protected:
  ~PythonRuntimes() override {
    for (auto it = created_.rbegin(); it != created_.rend(); ++it) RegistryKey::deleteKey(it->first, it->second);
    for (RegistryRoot root : {RegistryRoot::CurrentUser, RegistryRoot::LocalMachine}) {
      RegistryKey::deleteKey(root, "\\Software\\Python\\PythonCore");
      RegistryKey::deleteKey(root, "\\Software\\Python");
    }
  }

  // An installation's folder holding the runtime library of the version.
  std::string Installation(const std::string& name, const std::string& version) {
    const std::string folder = installs_ / name;
    std::filesystem::create_directories(folder);
    const std::string library = folder + "/" + PythonLibraryName(version);
    if (windowsPlatform()) {
      writeProgram(library, false);
    } else {
      // A library of this process's architecture: the test runtime itself.
      std::filesystem::create_symlink(testing::TestRuntime() ? testing::TestRuntime()->DLLPath + "/" +
                                                                   testing::TestRuntime()->DLLName()
                                                             : std::string("/nonexistent"),
                                      library);
    }
    return folder;
  }

  void Register(RegistryRoot root, const std::string& keyName, const std::string& installPath,
                const std::string& architecture = "32bit") {
    const std::string key = "\\Software\\Python\\PythonCore\\" + keyName;
    const auto make = [&](const std::string& path) {
      auto made = RegistryKey::create(root, path);
      created_.emplace_back(root, path);
      return made;
    };
    auto entry = make(key);
    ASSERT_TRUE(entry);
    entry->writeString("DisplayName", "Python " + keyName);
    entry->writeString("Version", keyName.substr(0, keyName.find('-')) + ".1");
    if (!architecture.empty()) entry->writeString("SysArchitecture", architecture);
    make(key + "\\InstallPath")->writeString("", installPath);
    make(key + "\\PythonPath")->writeString("", installPath + "\\Lib");
    make(key + "\\Help");
    make(key + "\\Help\\Main Python Documentation")->writeString("", installPath + "\\Doc\\python.chm");
  }

  ScratchFolder registryFolder_;
  ScopedEnvironment registry_{"CORVANE_REGISTRY_DIR", registryFolder_.path()};
  ScratchFolder installs_;
  std::vector<std::pair<RegistryRoot, std::string>> created_;
};

TEST_F(PythonRuntimes, RegisteredInstallationsAreListedNewestFirst) {
  const std::string user39 = Installation("user39", "3.9");
  Register(RegistryRoot::CurrentUser, "3.9-32", user39);
  Register(RegistryRoot::LocalMachine, "3.8-32", Installation("machine38", "3.8"));
  Register(RegistryRoot::CurrentUser, "3.15-32", Installation("user315", "3.15"));
  Register(RegistryRoot::CurrentUser, "3.12-32", installs_ / "removed");  // folder gone
  Register(RegistryRoot::CurrentUser, "3.7", Installation("unsuffixed37", "3.7"));  // 3.7 needs the suffix
  const std::string old34 = Installation("machine34", "3.4");
  Register(RegistryRoot::LocalMachine, "3.4", old34);

  std::vector<TPythonVersion> found = GetRegisteredPythonVersions();
  std::vector<std::string> versions;
  for (const TPythonVersion& v : found) {
    if (v.DisplayName.rfind("Python 3.", 0) == 0 && v.InstallPath.find(installs_.path()) != std::string::npos)
      versions.push_back(v.SysVersion);
  }
  EXPECT_EQ(versions, (std::vector<std::string>{"3.15", "3.9", "3.8", "3.4"}));

  TPythonVersion v39;
  ASSERT_TRUE(GetRegisteredPythonVersion("3.9", v39));
  EXPECT_TRUE(v39.IsRegistered);
  EXPECT_FALSE(v39.IsAllUsers);
  EXPECT_EQ(v39.DLLPath, user39);
  EXPECT_EQ(v39.DLLName(), PythonLibraryName("3.9"));
  EXPECT_EQ(v39.DisplayName, "Python 3.9-32");
  EXPECT_EQ(v39.Version, "3.9.1");
  EXPECT_EQ(v39.PythonPath, user39 + "\\Lib");
  EXPECT_EQ(v39.HelpFile, user39 + "\\Doc\\python.chm");
  EXPECT_EQ(v39.ApiVersion(), 1013);

  // All users, 3.4 and older: no library folder, so the script host cannot use it.
  TPythonVersion v34;
  ASSERT_TRUE(GetRegisteredPythonVersion("3.4", v34));
  EXPECT_TRUE(v34.IsAllUsers);
  EXPECT_EQ(v34.DLLPath, "");
  EXPECT_EQ(v34.SysArchitecture, "32bit");

  TPythonVersion gone;
  EXPECT_FALSE(GetRegisteredPythonVersion("3.12", gone));
  EXPECT_FALSE(gone.IsRegistered);

  // The engine is set up from an installation.
  TkivPythonEngine engine;
  v39.AssignTo(engine);
  EXPECT_EQ(engine.DllName, PythonLibraryName("3.9"));
  EXPECT_EQ(engine.DllPath, user39);
  EXPECT_EQ(engine.RegVersion, "3.9");
  EXPECT_FALSE(engine.UseLastKnownVersion);
}

TEST_F(PythonRuntimes, AUserEntryWithoutArchitectureNeedsALibraryInItsFolder) {
  Register(RegistryRoot::CurrentUser, "3.11-32", Installation("with", "3.9"), "");
  Register(RegistryRoot::CurrentUser, "3.10-32", installs_ / "", "");
  std::filesystem::create_directories(installs_ / "empty");
  TPythonVersion with;
  EXPECT_TRUE(GetRegisteredPythonVersion("3.11", with));
  EXPECT_EQ(with.SysArchitecture, "32bit");
  TPythonVersion without;
  EXPECT_FALSE(GetRegisteredPythonVersion("3.10", without));
}

// Versions from 3.10 on register under "-32" keys too; reading the minor
// version as one digit would take 3.11 for 3.1 and miss them.
TEST_F(PythonRuntimes, TheRegisteredInstallFolderOfTwoDigitMinorVersions) {
  Register(RegistryRoot::CurrentUser, "3.11-32", installs_ / "user311");
  Register(RegistryRoot::LocalMachine, "3.13-32", installs_ / "machine313");
  Register(RegistryRoot::LocalMachine, "3.4", installs_ / "machine34");
  EXPECT_EQ(RegisteredInstallFolder("3.11"), installs_ / "user311");
  EXPECT_EQ(RegisteredInstallFolder("3.13"), installs_ / "machine313");
  EXPECT_EQ(RegisteredInstallFolder("3.4"), "") << "all-users entries of 3.4 and older give no folder";
  EXPECT_EQ(RegisteredInstallFolder("3.9"), "");
}

TEST_F(PythonRuntimes, FolderExaminationFindsKnownLibrariesAndRejects64BitInstallations) {
  TPythonVersion found;
  const std::string plain = Installation("plain", "3.9");
  ASSERT_TRUE(PythonVersionFromPath(plain + "/", found));
  EXPECT_EQ(found.SysVersion, "3.9");
  EXPECT_EQ(found.DLLPath, plain);
  EXPECT_EQ(found.InstallPath, plain);

  const std::string with32 = Installation("with32", "3.9");
  writeProgram(with32 + "/python.exe", false);
  EXPECT_TRUE(PythonVersionFromPath(with32, found));

  const std::string with64 = Installation("with64", "3.9");
  writeProgram(with64 + "/python.exe", true);
  EXPECT_FALSE(PythonVersionFromPath(with64, found));

  if (windowsPlatform()) {
    // Two version digits only: 3.10 and later are found through the registry.
    const std::string threeDigits = Installation("threeDigits", "3.10");
    EXPECT_FALSE(PythonVersionFromPath(threeDigits, found));
    const std::string scripts = installs_ / "scripts";
    std::filesystem::create_directories(scripts + "/Scripts");
    writeProgram(scripts + "/Scripts/python39.dll", false);
    ASSERT_TRUE(PythonVersionFromPath(scripts, found));
    EXPECT_EQ(found.DLLPath, scripts + "\\Scripts");
    EXPECT_EQ(found.SysVersion, "3.9");
  } else {
    // A library of another architecture cannot serve this process.
    const std::string foreign = installs_ / "foreign";
    std::filesystem::create_directories(foreign);
    std::string header(64, '\0');
    header.replace(0, 4, "\x7F" "ELF");
    header[4] = sizeof(void*) == 8 ? 1 : 2;
    std::ofstream(foreign + "/libpython3.12.so.1.0", std::ios::binary) << header;
    EXPECT_FALSE(PythonVersionFromPath(foreign, found));
  }
  EXPECT_FALSE(PythonVersionFromPath(installs_ / "missing", found));
}

// With nothing registered, a machine with Python installed finds its runtime
// in the system's library folders (none are searched on Windows).
TEST_F(PythonRuntimes, AnUnconfiguredMachineFindsItsInstalledRuntime) {
  const std::vector<TPythonVersion> found = GetRegisteredPythonVersions();
  if (windowsPlatform()) {
    EXPECT_TRUE(found.empty());
    return;
  }
  ASSERT_FALSE(found.empty()) << "no runtime in the system's library folders";
  const TPythonVersion& newest = found.front();
  EXPECT_TRUE(newest.IsRegistered);
  EXPECT_EQ(newest.SysArchitecture, sizeof(void*) == 8 ? "64bit" : "32bit");
  EXPECT_TRUE(std::find(SystemLibraryFolders().begin(), SystemLibraryFolders().end(), newest.DLLPath) !=
              SystemLibraryFolders().end());

  testing::TestEngine t({"import struct, sys", "print(struct.calcsize('P') * 8, sys.version_info[0])"});
  newest.AssignTo(t.engine);
  t.engine.LoadDll();
  ASSERT_TRUE(t.engine.Initialized()) << t.engine.LastLoadError();
  EXPECT_EQ(t.output, std::vector<std::string>{std::to_string(sizeof(void*) * 8) + " 3"});
}

}  // namespace
}  // namespace corvane
