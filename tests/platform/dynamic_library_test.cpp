#include <gtest/gtest.h>

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

// zlib is loaded by nothing else the suite uses.
constexpr const char* kZlib = "libz.so.1";

uint32_t loadError(const std::string& path) {
  try {
    DynamicLibrary library(path);
  } catch (const OsError& error) {
    EXPECT_EQ(error.subject(), path);
    EXPECT_EQ(lastErrorCode(), error.code());
    return error.code();
  }
  return kErrorSuccess;
}

int ownFunction() { return 1; }

TEST(DynamicLibrary, LoadsFindsSymbolsAndUnloads) {
  EXPECT_EQ(moduleHandleByName(kZlib), nullptr);
  DynamicLibrary zlib(kZlib);
  ASSERT_TRUE(zlib.loaded());
  using Version = const char* (*)();
  const auto version = reinterpret_cast<Version>(zlib.symbol("zlibVersion"));
  ASSERT_NE(version, nullptr);
  EXPECT_EQ(version()[0], '1');
  EXPECT_EQ(zlib.symbol("noSuchFunction"), nullptr);
  EXPECT_EQ(lastErrorCode(), kErrorProcNotFound);
  EXPECT_EQ(moduleSymbol(zlib.handle(), "zlibVersion"), reinterpret_cast<void*>(version));

  // Found by its file name while loaded, and only by its exact name.
  EXPECT_EQ(moduleHandleByName(kZlib), zlib.handle());
  const std::string path = moduleFileName(zlib.handle());
  EXPECT_EQ(std::filesystem::path(path).filename(), kZlib);
  EXPECT_EQ(path.front(), '/');
  EXPECT_EQ(moduleFileNameOfAddress(reinterpret_cast<const void*>(version)), path);
  EXPECT_EQ(moduleHandleByName(path), zlib.handle());
  EXPECT_EQ(moduleHandleByName("LIBZ.SO.1"), nullptr);
  EXPECT_EQ(moduleHandleByName("libz.so"), nullptr);

  DynamicLibrary moved = std::move(zlib);
  EXPECT_FALSE(zlib.loaded());
  EXPECT_NE(moduleHandleByName(kZlib), nullptr);
  moved.close();
  EXPECT_FALSE(moved.loaded());
  EXPECT_EQ(moduleHandleByName(kZlib), nullptr);
}

TEST(DynamicLibrary, ModulesOfTheProcess) {
  const std::string executable = executablePath();
  EXPECT_EQ(moduleFileName(nullptr), executable);
  EXPECT_EQ(moduleFileName(moduleHandleByName("")), executable);
  EXPECT_EQ(moduleHandleByName(std::filesystem::path(executable).filename().string()),
            moduleHandleByName(""));
  EXPECT_EQ(moduleFileNameOfAddress(reinterpret_cast<const void*>(&ownFunction)), executable);

  // The platform library: found by name, the same module as its code.
  const std::string platform =
      moduleFileNameOfAddress(reinterpret_cast<const void*>(&createGuid));
  EXPECT_EQ(std::filesystem::path(platform).filename(), "libcorvane-os.so");
  const ModuleHandle handle = moduleHandleByName("libcorvane-os.so");
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
  EXPECT_EQ(loadError(folder.path()), kErrorAccessDenied);
  EXPECT_FALSE(systemErrorMessage(kErrorBadExeFormat).empty());
}

TEST(DynamicLibrary, LibraryOfTheOtherWordSizeIsTheWrongFormat) {
  const std::string other = sizeof(void*) == 8 ? "/usr/lib/i386-linux-gnu/libz.so.1"
                                                : "/usr/lib/x86_64-linux-gnu/libz.so.1";
  if (!fileExists(other)) GTEST_SKIP() << other << " is not installed";
  EXPECT_EQ(loadError(other), kErrorBadExeFormat);
}

}  // namespace
