#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>

#include "platform/dynamic_library.h"
#include "platform/files.h"
#include "platform/guid.h"
#include "platform/os_error.h"
#include "scratch_folder.h"

using namespace corvane::platform;
namespace cvtest = corvane::platform::testing;

namespace {

// A system library that nothing else in the suite loads, and one of its
// functions.
struct SystemLibrary {
  std::string name;
  const char* function;
};

SystemLibrary unusedLibrary() {
  if (cvtest::windowsPlatform()) return {"winmm.dll", "timeGetTime"};
  // Nothing the suites link pulls this one in (zlib, for one, comes with the
  // sanitizer builds).
  return {"libexpat.so.1", "XML_ExpatVersion"};
}

std::string upperCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string fileName(const std::string& path) {
  return std::filesystem::path(path).filename().string();
}

uint32_t loadError(const std::string& path) {
  try {
    DynamicLibrary library(path);
  } catch (const OsError& error) {
    EXPECT_EQ(error.subject(), path);
    // On Windows the C++ runtime clears the last error while it throws.
    if (!cvtest::windowsPlatform()) {
      EXPECT_EQ(lastErrorCode(), error.code());
    }
    return error.code();
  }
  return kErrorSuccess;
}

int ownFunction() { return 1; }

TEST(DynamicLibrary, LoadsFindsSymbolsAndUnloads) {
  const SystemLibrary unused = unusedLibrary();
  EXPECT_EQ(moduleHandleByName(unused.name), nullptr);
  DynamicLibrary library(unused.name);
  ASSERT_TRUE(library.loaded());
  void* const function = library.symbol(unused.function);
  ASSERT_NE(function, nullptr);
  EXPECT_EQ(library.symbol("noSuchFunction"), nullptr);
  EXPECT_EQ(lastErrorCode(), kErrorProcNotFound);
  EXPECT_EQ(moduleSymbol(library.handle(), unused.function), function);
  EXPECT_EQ(moduleSymbol(nullptr, unused.function), nullptr);

  // Found by its file name while loaded; the loader compares names as the
  // system's file names compare (Windows: without regard to case).
  EXPECT_EQ(moduleHandleByName(unused.name), library.handle());
  const std::string path = moduleFileName(library.handle());
  EXPECT_EQ(upperCase(fileName(path)), upperCase(unused.name));
  EXPECT_TRUE(std::filesystem::path(path).is_absolute()) << path;
  EXPECT_EQ(moduleFileNameOfAddress(function), path);
  EXPECT_EQ(moduleHandleByName(path), library.handle());
  EXPECT_EQ(moduleHandleByName(upperCase(unused.name)),
            cvtest::windowsPlatform() ? library.handle() : nullptr);
  EXPECT_EQ(moduleHandleByName(unused.name.substr(0, unused.name.size() - 2)), nullptr);

  DynamicLibrary moved = std::move(library);
  EXPECT_FALSE(library.loaded());
  EXPECT_NE(moduleHandleByName(unused.name), nullptr);
  moved.close();
  EXPECT_FALSE(moved.loaded());
  EXPECT_EQ(moduleHandleByName(unused.name), nullptr);
}

TEST(DynamicLibrary, ModulesOfTheProcess) {
  const std::string executable = executablePath();
  EXPECT_EQ(moduleFileName(nullptr), executable);
  EXPECT_EQ(moduleFileName(moduleHandleByName("")), executable);
  EXPECT_EQ(moduleHandleByName(fileName(executable)), moduleHandleByName(""));
  EXPECT_EQ(moduleFileNameOfAddress(reinterpret_cast<const void*>(&ownFunction)), executable);

  // The platform library: a shared library of its own on POSIX, linked into
  // each module on Windows.
  const std::string platform =
      moduleFileNameOfAddress(reinterpret_cast<const void*>(&createGuid));
  EXPECT_EQ(fileName(platform),
            cvtest::windowsPlatform() ? fileName(executable) : "libcorvane-os.so");
  const ModuleHandle handle = moduleHandleByName(fileName(platform));
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(moduleFileName(handle), platform);
  EXPECT_EQ(moduleSymbol(handle, "noSuchFunction"), nullptr);

  int onTheStack = 0;
  EXPECT_EQ(moduleFileNameOfAddress(&onTheStack), "");
  EXPECT_EQ(lastErrorCode(), kErrorModNotFound);
}

TEST(DynamicLibrary, LoadErrorsCarryWindowsCodes) {
  cvtest::ScratchFolder folder;
  EXPECT_EQ(loadError(folder / "missing.so"), kErrorModNotFound);
  EXPECT_EQ(loadError("libcorvane-no-such-library.so"), kErrorModNotFound);
  EXPECT_EQ(loadError(""), kErrorModNotFound);
  std::ofstream(folder / "text.so") << "not a library\n";
  EXPECT_EQ(loadError(folder / "text.so"), kErrorBadExeFormat);
  std::ofstream(folder / "empty.so");
  EXPECT_EQ(loadError(folder / "empty.so"), kErrorBadExeFormat);
  // A folder: POSIX refuses access, Wine finds no module.
  const uint32_t folderError = loadError(folder.path());
  EXPECT_TRUE(folderError == kErrorAccessDenied || folderError == kErrorModNotFound)
      << folderError;
  EXPECT_FALSE(systemErrorMessage(kErrorBadExeFormat).empty());
}

TEST(DynamicLibrary, LibraryOfTheOtherWordSizeIsTheWrongFormat) {
  // A 32-bit Windows process sees the 64-bit system folder as "Sysnative".
  const std::string other =
      cvtest::windowsPlatform() ? environmentVariable("SystemRoot").value_or("C:\\Windows") +
                                      "\\Sysnative\\kernel32.dll"
      : sizeof(void*) == 8 ? "/usr/lib/i386-linux-gnu/libz.so.1"
                           : "/usr/lib/x86_64-linux-gnu/libz.so.1";
  if (!fileExists(other)) GTEST_SKIP() << other << " is not installed";
  EXPECT_EQ(loadError(other), kErrorBadExeFormat);
}

}  // namespace
