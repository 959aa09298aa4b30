// Win32 backend: files, folders, special folders and the environment.
//
// Divisions: paths and file queries, whole-file reads and atomic writes,
// special folders, the environment, the process's own command line.
//
// Wildcards, case and names are the system's: FindFirstFile matches without
// regard to case, and its rules for "?" and "*" are the reference the POSIX
// stand-in approximates.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <atomic>
#include <memory>
#include <utility>

#include "platform/code_page.h"
#include "platform/dynamic_library.h"
#include "platform/files.h"
#include "platform/os_error.h"
#include "platform/portable/binary_type.h"
#include "platform/thread.h"
#include "platform/win32/last_error.h"

namespace corvane::platform {
namespace {

class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle() {
    if (valid()) ::CloseHandle(handle_);
  }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  // Closes now, reporting a failure a late write may surface here.
  bool close() { return ::CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE)) != FALSE; }

 private:
  HANDLE handle_;
};

DWORD attributesOf(const std::string& path) { return ::GetFileAttributesA(path.c_str()); }

// Where the folders of a path begin: after "\\server\share\" of a UNC path
// (neither part can be created) and after a drive's root; 0 otherwise.
size_t firstCreatablePart(const std::string& path) {
  if (path.size() >= 2 && isPathDelimiter(path[0]) && isPathDelimiter(path[1])) {
    size_t delimiters = 0;
    for (size_t i = 2; i < path.size(); ++i) {
      if (isPathDelimiter(path[i]) && ++delimiters == 2) return i + 1;
    }
    return path.size();
  }
  if (path.size() >= 2 && path[1] == ':') return path.size() >= 3 && isPathDelimiter(path[2]) ? 3 : 2;
  return isPathDelimiter(path[0]) ? 1 : 0;
}

}  // namespace

// ---- Paths and file queries -------------------------------------------------

char pathDelimiter() { return '\\'; }

bool isPathDelimiter(char c) { return c == '\\' || c == '/'; }

bool fileExists(const std::string& path) {
  const DWORD attributes = attributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool directoryExists(const std::string& path) {
  const DWORD attributes = attributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::vector<std::string> findFiles(const std::string& pattern) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA entry{};
  const HANDLE search = ::FindFirstFileA(pattern.c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return names;  // the system's error stays
  do {
    const std::string_view name = entry.cFileName;
    if (name != "." && name != "..") names.emplace_back(name);
  } while (::FindNextFileA(search, &entry));
  ::FindClose(search);
  setLastErrorCode(names.empty() ? kErrorFileNotFound : kErrorSuccess);
  return names;
}

bool createDirectories(const std::string& path) {
  if (path.empty()) return false;
  for (size_t end = firstCreatablePart(path); end <= path.size(); ++end) {
    if (end < path.size() && !isPathDelimiter(path[end])) continue;
    if (end == 0 || isPathDelimiter(path[end - 1])) continue;  // no new part yet
    const std::string part = path.substr(0, end);
    if (!::CreateDirectoryA(part.c_str(), nullptr)) {
      const DWORD error = ::GetLastError();
      // Existing folders answer "already exists", a drive's root "access
      // denied"; only a folder that is really missing fails.
      if (!directoryExists(part)) {
        setLastErrorCode(error);
        return false;
      }
    }
  }
  if (!directoryExists(path)) {
    setLastErrorCode(kErrorAlreadyExists);  // a file of that name is in the way
    return false;
  }
  setLastErrorCode(kErrorSuccess);
  return true;
}

bool deleteFile(const std::string& path) { return ::DeleteFileA(path.c_str()) != FALSE; }

// The system knows executables only; for a file it refuses (a DLL, a
// program it cannot start, a missing file) the header decides, which also
// answers Unknown for whatever cannot be read.
BinaryType binaryType(const std::string& path) {
  DWORD kind = 0;
  if (!::GetBinaryTypeA(path.c_str(), &kind)) return binaryTypeFromHeader(path);
  switch (kind) {
    case SCS_32BIT_BINARY: return BinaryType::Windows32;
    case SCS_64BIT_BINARY: return BinaryType::Windows64;
    default: return BinaryType::Other;
  }
}

// ---- Whole files ------------------------------------------------------------

std::string readFile(const std::string& path) {
  // Others may read, write and replace the file meanwhile (an atomic write
  // renames over it); this read sees one version.
  FileHandle file(::CreateFileA(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) throwLastError("CreateFile", path);
  std::string content;
  char buffer[16384];
  while (true) {
    DWORD count = 0;
    if (!::ReadFile(file.get(), buffer, sizeof buffer, &count, nullptr))
      throwLastError("ReadFile", path);
    if (count == 0) break;
    content.append(buffer, count);
  }
  return content;
}

void writeFileAtomic(const std::string& path, std::string_view content) {
  static std::atomic<uint32_t> counter{0};
  const std::string temporary = path + ".tmp-" + std::to_string(::GetCurrentProcessId()) + "-" +
                                std::to_string(currentThreadId()) + "-" +
                                std::to_string(counter.fetch_add(1));
  FileHandle file(::CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) throwLastError("CreateFile", temporary);
  const auto fail = [&](const char* function) {
    const DWORD error = ::GetLastError();
    file.close();
    ::DeleteFileA(temporary.c_str());
    throwOsError(function, temporary, error);
  };
  while (!content.empty()) {
    DWORD count = 0;
    const DWORD chunk = content.size() > 0x40000000 ? 0x40000000 : static_cast<DWORD>(content.size());
    if (!::WriteFile(file.get(), content.data(), chunk, &count, nullptr)) fail("WriteFile");
    content.remove_prefix(count);
  }
  if (!::FlushFileBuffers(file.get())) fail("FlushFileBuffers");
  if (!file.close()) fail("CloseHandle");
  // A replaced file keeps whether it is hidden or a system file.
  const DWORD existing = attributesOf(path);
  if (existing != INVALID_FILE_ATTRIBUTES) {
    const DWORD kept = existing & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    if (kept != 0) ::SetFileAttributesA(temporary.c_str(), kept);
  }
  if (!::MoveFileExA(temporary.c_str(), path.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    fail("MoveFileEx");
}

// ---- Special folders --------------------------------------------------------

std::optional<std::string> specialFolder(SpecialFolder folder) {
  // The enumerators are the shell's folder numbers; the folder is not created.
  char path[MAX_PATH] = {};
  ::SetLastError(0);
  if (!::SHGetSpecialFolderPathA(nullptr, path, static_cast<int>(folder), FALSE)) {
    if (::GetLastError() == 0) setLastErrorCode(kErrorPathNotFound);
    return std::nullopt;
  }
  return std::string(path);
}

std::string tempDirectory() {
  std::string folder(MAX_PATH + 1, '\0');
  while (true) {
    const DWORD length = ::GetTempPathA(static_cast<DWORD>(folder.size()), folder.data());
    if (length == 0) throwLastError("GetTempPath", "");
    if (length < folder.size()) {
      folder.resize(length);
      break;
    }
    folder.resize(length + 1);
  }
  if (!isPathDelimiter(folder.back())) folder += '\\';
  return folder;
}

// ---- Environment ------------------------------------------------------------

std::optional<std::string> environmentVariable(const std::string& name) {
  std::string value(64, '\0');
  while (true) {
    // An empty value also answers 0; only the error code tells it apart.
    ::SetLastError(0);
    const DWORD length =
        ::GetEnvironmentVariableA(name.c_str(), value.data(), static_cast<DWORD>(value.size()));
    if (length == 0) {
      if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::string();
    }
    if (length < value.size()) {
      value.resize(length);
      return value;
    }
    value.resize(length);  // the size needed, its terminating zero included
  }
}

bool setEnvironmentVariable(const std::string& name, const std::string* value) {
  if (::SetEnvironmentVariableA(name.c_str(), value ? value->c_str() : nullptr)) return true;
  // Removing a variable that is not set leaves what was asked for.
  return value == nullptr && ::GetLastError() == ERROR_ENVVAR_NOT_FOUND;
}

// ---- The process's command line ---------------------------------------------

std::vector<std::string> processArguments() {
  std::vector<std::string> arguments;
  int count = 0;
  std::unique_ptr<LPWSTR, decltype(&::LocalFree)> argv(
      ::CommandLineToArgvW(::GetCommandLineW(), &count), &::LocalFree);
  if (!argv) return arguments;
  for (int i = 0; i < count; ++i)
    arguments.push_back(wideToAnsi(reinterpret_cast<const char16_t*>(argv.get()[i])));
  return arguments;
}

std::string executablePath() { return moduleFileName(nullptr); }

}  // namespace corvane::platform
