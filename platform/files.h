// Files, folders, special folders and the process's environment.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/abi.h"

namespace corvane::platform {

// The platform's path delimiter: "\" on Windows, "/" on POSIX.
CV_PLATFORM_API char pathDelimiter();
CV_PLATFORM_API bool isPathDelimiter(char c);  // "\" on Windows, "/" everywhere

CV_PLATFORM_API bool fileExists(const std::string& path);  // anything but a folder
CV_PLATFORM_API bool directoryExists(const std::string& path);
// Names (not paths) of the files and folders matching a pattern whose last
// part may hold the wildcards "*" and "?", in the order the system lists
// them, without "." and "..". POSIX compares case-sensitively.
CV_PLATFORM_API std::vector<std::string> findFiles(const std::string& pattern);
CV_PLATFORM_API bool createDirectories(const std::string& path);
CV_PLATFORM_API bool deleteFile(const std::string& path);

// Whole-file reads and writes. Reading throws OsError; writeFileAtomic
// writes a temporary file beside the target and renames it over the target.
CV_PLATFORM_API std::string readFile(const std::string& path);
CV_PLATFORM_API void writeFileAtomic(const std::string& path, std::string_view content);

enum class SpecialFolder : uint32_t {
  AppData = 26,          // the user's roaming application data
  LocalAppData = 28,
  CommonAppData = 35,    // application data of all users
  ProgramFiles = 38,
};
// nullopt when the system does not know the folder. POSIX: CommonAppData is
// CORVANE_COMMON_APPDATA or /var/lib, AppData $XDG_CONFIG_HOME or ~/.config,
// LocalAppData $XDG_DATA_HOME or ~/.local/share, ProgramFiles /opt.
CV_PLATFORM_API std::optional<std::string> specialFolder(SpecialFolder folder);
CV_PLATFORM_API std::string tempDirectory();  // with a trailing delimiter

CV_PLATFORM_API std::optional<std::string> environmentVariable(const std::string& name);
CV_PLATFORM_API bool setEnvironmentVariable(const std::string& name, const std::string* value);

// The process's command-line arguments, the program itself first.
CV_PLATFORM_API std::vector<std::string> processArguments();
CV_PLATFORM_API std::string executablePath();

// What kind of program a file holds: a 32- or 64-bit Windows executable,
// another executable (ELF, DOS, PE of another machine), or Unknown for
// anything missing, unreadable or not executable. Windows asks the system
// (GetBinaryType) and reads the header itself for what the system refuses,
// such as DLLs; POSIX always reads the header.
enum class BinaryType : uint8_t { Unknown, Windows32, Windows64, Other };
CV_PLATFORM_API BinaryType binaryType(const std::string& path);

// The four numbers (major, minor, release, build) of a module file's
// version stamp; nullopt for a file without one, or missing or unreadable.
// Windows reads the fixed part of the version resource; POSIX reads the ELF
// section ".corvane_version" (four little-endian 16-bit numbers) that the
// build's corvane_add_version writes.
using FileVersion = std::array<uint16_t, 4>;
CV_PLATFORM_API std::optional<FileVersion> fileVersion(const std::string& path);

}  // namespace corvane::platform
