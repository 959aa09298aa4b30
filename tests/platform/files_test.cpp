#include <gtest/gtest.h>

#include <algorithm>
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

void writeBytes(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

std::vector<std::string> sorted(std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  return names;
}

// The 64-byte DOS header of an executable, pointing at its PE header.
std::string dosHeader(uint32_t peOffset) {
  std::string header(0x40, '\0');
  header[0] = 'M';
  header[1] = 'Z';
  for (int i = 0; i < 4; ++i) header[0x3C + i] = static_cast<char>(peOffset >> (8 * i));
  return header;
}

// A minimal PE image: the DOS header, "PE\0\0" and the machine field.
std::string peImage(uint16_t machine, uint32_t peOffset = 0x80) {
  std::string image = dosHeader(peOffset);
  image.resize(peOffset, '\0');
  image += std::string("PE\0\0", 4);
  image += static_cast<char>(machine & 0xFF);
  image += static_cast<char>(machine >> 8);
  image += std::string(18, '\0');
  return image;
}

TEST(Files, FindFilesMatchesWildcardsInTheLastPart) {
  cvtest::ScratchFolder folder;
  for (const char* name : {"python39.dll", "python310.dll", "Python38.dll", "python3X.txt",
                           "a[1].txt", "python27.dll"})
    writeBytes(folder / name, "");
  std::filesystem::create_directory(folder / "sub");

  // Names match as the file system compares them: without regard to case on
  // Windows, exactly on POSIX.
  const bool caseBlind = fileExists(folder / "PYTHON39.DLL");
  std::vector<std::string> twoDigits{"python27.dll", "python39.dll"};
  std::vector<std::string> anyDigits{"python27.dll", "python310.dll", "python39.dll"};
  if (caseBlind) {
    twoDigits.insert(twoDigits.begin(), "Python38.dll");
    anyDigits.insert(anyDigits.begin(), "Python38.dll");
  }
  EXPECT_EQ(sorted(findFiles(folder / "python??.dll")), twoDigits);
  EXPECT_EQ(sorted(findFiles(folder / "python*.dll")), anyDigits);
  EXPECT_EQ(findFiles(folder / "PYTHON39.DLL").size(), caseBlind ? 1u : 0u);
  EXPECT_EQ(findFiles(folder / "a[1].txt"), std::vector<std::string>{"a[1].txt"});
  EXPECT_EQ(findFiles(folder / "a?1?.*"), std::vector<std::string>{"a[1].txt"});
  EXPECT_EQ(findFiles(folder / "*").size(), 7u);  // the folder included, "." and ".." not
  EXPECT_EQ(findFiles(folder / "python39.dll"), std::vector<std::string>{"python39.dll"});
  EXPECT_TRUE(findFiles(folder / "*.exe").empty());
  EXPECT_EQ(lastErrorCode(), kErrorFileNotFound);
  EXPECT_TRUE(findFiles(folder / "missing/*").empty());
  EXPECT_NE(lastErrorCode(), kErrorSuccess);
}

TEST(Files, FoldersAndFiles) {
  cvtest::ScratchFolder folder;
  const std::string nested = folder / "a/b/c";
  EXPECT_TRUE(createDirectories(nested));
  EXPECT_TRUE(createDirectories(nested + "/"));  // existing is fine
  EXPECT_TRUE(directoryExists(nested));
  EXPECT_FALSE(fileExists(nested));

  writeBytes(folder / "file", "x");
  EXPECT_TRUE(fileExists(folder / "file"));
  EXPECT_FALSE(directoryExists(folder / "file"));
  EXPECT_FALSE(createDirectories(folder / "file/below"));
  EXPECT_FALSE(createDirectories(folder / "file"));
  EXPECT_TRUE(deleteFile(folder / "file"));
  EXPECT_FALSE(fileExists(folder / "file"));
  EXPECT_FALSE(deleteFile(folder / "file"));
  EXPECT_EQ(lastErrorCode(), kErrorFileNotFound);
}

TEST(Files, WholeFileReadAndAtomicWrite) {
  cvtest::ScratchFolder folder;
  const std::string path = folder / "data.bin";
  const std::string content("zero\0and\xFFhigh", 13);
  writeFileAtomic(path, content);
  EXPECT_EQ(readFile(path), content);
  // A replaced file keeps its permissions (on Windows these only tell
  // whether the file is read-only).
  std::filesystem::permissions(path, std::filesystem::perms::owner_read |
                                         std::filesystem::perms::owner_write);
  const auto permissions = std::filesystem::status(path).permissions();
  writeFileAtomic(path, "replaced");
  EXPECT_EQ(readFile(path), "replaced");
  EXPECT_EQ(std::filesystem::status(path).permissions(), permissions);
  writeFileAtomic(path, "");
  EXPECT_EQ(readFile(path), "");
  // No temporary file stays behind.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1);

  try {
    readFile(folder / "missing");
    ADD_FAILURE() << "reading a missing file succeeded";
  } catch (const OsError& error) {
    EXPECT_EQ(error.code(), kErrorFileNotFound);
    EXPECT_EQ(error.subject(), folder / "missing");
  }
  EXPECT_THROW(writeFileAtomic(folder / "missing/file", "x"), OsError);
}

TEST(Files, SpecialFoldersFollowTheEnvironment) {
  if (cvtest::windowsPlatform()) GTEST_SKIP() << "Windows takes its special folders from the shell";
  cvtest::ScopedEnvironment home("HOME", "/home/tester");
  {
    cvtest::ScopedEnvironment common("CORVANE_COMMON_APPDATA", std::nullopt);
    cvtest::ScopedEnvironment config("XDG_CONFIG_HOME", std::nullopt);
    cvtest::ScopedEnvironment data("XDG_DATA_HOME", "relative/ignored");
    EXPECT_EQ(specialFolder(SpecialFolder::CommonAppData), "/var/lib");
    EXPECT_EQ(specialFolder(SpecialFolder::AppData), "/home/tester/.config");
    EXPECT_EQ(specialFolder(SpecialFolder::LocalAppData), "/home/tester/.local/share");
  }
  cvtest::ScopedEnvironment common("CORVANE_COMMON_APPDATA", "/srv/common");
  cvtest::ScopedEnvironment config("XDG_CONFIG_HOME", "/xdg/config");
  cvtest::ScopedEnvironment data("XDG_DATA_HOME", "/xdg/data");
  EXPECT_EQ(specialFolder(SpecialFolder::CommonAppData), "/srv/common");
  EXPECT_EQ(specialFolder(SpecialFolder::AppData), "/xdg/config");
  EXPECT_EQ(specialFolder(SpecialFolder::LocalAppData), "/xdg/data");

  cvtest::ScopedEnvironment temp("TMPDIR", "/scratch");
  EXPECT_EQ(tempDirectory(), "/scratch/");
}

TEST(Files, SpecialFoldersAreTheShells) {
  if (!cvtest::windowsPlatform()) GTEST_SKIP() << "POSIX has no shell folders";
  // The system sets these variables to the shell's folders for every process.
  const std::pair<SpecialFolder, const char*> folders[] = {
      {SpecialFolder::AppData, "APPDATA"},
      {SpecialFolder::LocalAppData, "LOCALAPPDATA"},
      {SpecialFolder::CommonAppData, "ProgramData"},
      {SpecialFolder::ProgramFiles, "ProgramFiles"}};
  for (const auto& [folder, variable] : folders) {
    const std::optional<std::string> expected = environmentVariable(variable);
    ASSERT_TRUE(expected) << variable;
    EXPECT_EQ(specialFolder(folder), expected) << variable;
    EXPECT_TRUE(directoryExists(*expected)) << *expected;
  }
  EXPECT_FALSE(specialFolder(static_cast<SpecialFolder>(0x7FFF)));

  cvtest::ScopedEnvironment temp("TMP", "C:\\scratch");
  EXPECT_EQ(tempDirectory(), "C:\\scratch\\");
}

TEST(Files, Environment) {
  const std::string name = "CORVANE_TEST_" + guidToString(createGuid()).substr(1, 8);
  EXPECT_FALSE(environmentVariable(name));
  const std::string value(300, 'v');  // longer than a first guess at its size
  EXPECT_TRUE(setEnvironmentVariable(name, &value));
  EXPECT_EQ(environmentVariable(name), value);
  const std::string empty;
  EXPECT_TRUE(setEnvironmentVariable(name, &empty));
  EXPECT_EQ(environmentVariable(name), "");
  EXPECT_TRUE(setEnvironmentVariable(name, nullptr));
  EXPECT_FALSE(environmentVariable(name));
  EXPECT_TRUE(setEnvironmentVariable(name, nullptr));  // already gone
}

TEST(Files, OwnCommandLineAndPath) {
  const std::vector<std::string> arguments = processArguments();
  ASSERT_FALSE(arguments.empty());
  const std::string path = executablePath();
  EXPECT_TRUE(std::filesystem::path(path).is_absolute()) << path;
  EXPECT_EQ(std::filesystem::path(path).filename(), std::filesystem::path(arguments[0]).filename());
  EXPECT_TRUE(fileExists(path));
}

TEST(Files, BinaryTypeFromTheHeader) {
  cvtest::ScratchFolder folder;
  const auto typeOf = [&](const std::string& content) {
    writeBytes(folder / "probe", content);
    return binaryType(folder / "probe");
  };
  EXPECT_EQ(typeOf(peImage(0x014C)), BinaryType::Windows32);
  EXPECT_EQ(typeOf(peImage(0x8664)), BinaryType::Windows64);
  EXPECT_EQ(typeOf(peImage(0x8664, 0x40)), BinaryType::Windows64);
  EXPECT_EQ(typeOf(peImage(0xAA64)), BinaryType::Other);             // another machine
  EXPECT_EQ(typeOf(peImage(0x014C).substr(0, 0x82)), BinaryType::Other);  // cut in the header
  EXPECT_EQ(typeOf(dosHeader(0xFFFFFFF0) + "PE"), BinaryType::Other);
  EXPECT_EQ(typeOf("MZ" + std::string(0x3E, '\0')), BinaryType::Other);  // a DOS program
  EXPECT_EQ(typeOf("\x7F" "ELF rest"), BinaryType::Other);
  EXPECT_EQ(typeOf("#!/bin/sh\n"), BinaryType::Unknown);
  EXPECT_EQ(typeOf(""), BinaryType::Unknown);
  // The suite itself: a Windows program of its own width there, an ELF
  // program elsewhere.
  const BinaryType ownWidth = sizeof(void*) == 4 ? BinaryType::Windows32 : BinaryType::Windows64;
  EXPECT_EQ(binaryType(executablePath()), cvtest::windowsPlatform() ? ownWidth : BinaryType::Other);
  EXPECT_EQ(binaryType(folder / "missing"), BinaryType::Unknown);
  EXPECT_EQ(binaryType(folder.path()), BinaryType::Unknown);
}

// Libraries as well as programs: the Windows system query refuses DLLs, so
// the header must decide there.
TEST(Files, BinaryTypeOfLibraries) {
  if (!cvtest::windowsPlatform()) {
    const std::string platform =
        moduleFileNameOfAddress(reinterpret_cast<const void*>(&createGuid));
    EXPECT_EQ(binaryType(platform), BinaryType::Other) << platform;
    return;
  }
  // A process sees the system folder of its own width as System32; a 32-bit
  // one sees the 64-bit folder as Sysnative.
  const std::string root = environmentVariable("SystemRoot").value_or("C:\\Windows");
  const bool process32 = sizeof(void*) == 4;
  EXPECT_EQ(binaryType(root + "\\System32\\kernel32.dll"),
            process32 ? BinaryType::Windows32 : BinaryType::Windows64);
  const std::string native = root + "\\Sysnative\\kernel32.dll";
  if (process32 && fileExists(native)) {
    EXPECT_EQ(binaryType(native), BinaryType::Windows64);
  }
  EXPECT_EQ(binaryType(root + "\\System32\\no-such-library.dll"), BinaryType::Unknown);
}

}  // namespace

// Files without a version stamp (or no file at all) have no version; the
// stamped plug-in library is checked by the integration suite.
TEST(Files, FileVersionNeedsAStamp) {
  cvtest::ScratchFolder folder;
  const auto versionOf = [&](const std::string& content) {
    writeBytes(folder / "probe", content);
    return fileVersion(folder / "probe");
  };
  EXPECT_FALSE(versionOf("").has_value());
  EXPECT_FALSE(versionOf("\x7F" "ELF\x01\x01 and nothing that follows").has_value());
  EXPECT_FALSE(versionOf(std::string("\x7F" "ELF\x02\x01", 6) + std::string(200, '\xFF')).has_value());
  EXPECT_FALSE(versionOf(peImage(0x014C)).has_value());
  EXPECT_FALSE(fileVersion(folder / "missing").has_value());
  EXPECT_FALSE(fileVersion(executablePath()).has_value()) << "the suite carries no stamp";
}
