// POSIX backend: files, folders, special folders and the environment.
//
// Divisions: paths and file queries, whole-file reads and atomic writes,
// special folders, the environment, the process's own command line.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "platform/files.h"
#include "platform/os_error.h"
#include "platform/portable/binary_type.h"
#include "platform/posix/errno_mapping.h"
#include "platform/thread.h"

namespace corvane::platform {
namespace {

void setErrno(int error) { setLastErrorCode(windowsCodeFromErrno(error)); }

[[noreturn]] void throwErrno(const char* function, const std::string& subject, int error) {
  const uint32_t code = windowsCodeFromErrno(error);
  setLastErrorCode(code);
  throw OsError(function, subject, code);
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  // Closes now, reporting the error a late write failure may surface here.
  int close() {
    const int result = ::close(fd_);
    fd_ = -1;
    return result;
  }

 private:
  int fd_;
};

// "*" matches any run of characters, "?" exactly one; nothing else is special.
bool wildcardMatch(std::string_view pattern, std::string_view name) {
  size_t p = 0;
  size_t n = 0;
  size_t starPattern = std::string_view::npos;
  size_t starName = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      starPattern = p++;
      starName = n;
    } else if (starPattern != std::string_view::npos) {
      p = starPattern + 1;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

// The environment is process-wide; this library's own readers and writers
// at least never race each other.
std::mutex& environmentMutex() {
  static std::mutex mutex;
  return mutex;
}

std::string homeFolder() {
  const std::optional<std::string> home = environmentVariable("HOME");
  return home && !home->empty() ? *home : std::string("/");
}

// An XDG base folder: the variable when it holds an absolute path, else the
// fallback below the home folder.
std::string xdgFolder(const char* variable, const char* fallback) {
  const std::optional<std::string> value = environmentVariable(variable);
  if (value && !value->empty() && value->front() == '/') return *value;
  std::string home = homeFolder();
  if (home.back() != '/') home += '/';
  return home + fallback;
}

}  // namespace

// ---- Paths and file queries -------------------------------------------------

char pathDelimiter() { return '/'; }

bool isPathDelimiter(char c) { return c == '/'; }

bool fileExists(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    setErrno(errno);
    return false;
  }
  return !S_ISDIR(info.st_mode);
}

bool directoryExists(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    setErrno(errno);
    return false;
  }
  return S_ISDIR(info.st_mode);
}

std::vector<std::string> findFiles(const std::string& pattern) {
  std::vector<std::string> names;
  const size_t slash = pattern.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : pattern.substr(0, slash + 1);
  const std::string_view namePattern =
      std::string_view(pattern).substr(slash == std::string::npos ? 0 : slash + 1);
  std::unique_ptr<DIR, int (*)(DIR*)> listing(::opendir(folder.c_str()), &::closedir);
  if (!listing) {
    setErrno(errno);
    return names;
  }
  while (const dirent* entry = ::readdir(listing.get())) {
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (wildcardMatch(namePattern, name)) names.emplace_back(name);
  }
  setLastErrorCode(names.empty() ? kErrorFileNotFound : kErrorSuccess);
  return names;
}

bool createDirectories(const std::string& path) {
  if (path.empty()) return false;
  for (size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
    const std::string part = path.substr(0, end);
    if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) {
      const int error = errno;
      // Existing folders above may answer with other errors (read-only or
      // foreign file systems); only a folder that is really missing fails.
      if (!directoryExists(part)) {
        setErrno(error);
        return false;
      }
    }
    if (end == std::string::npos) break;
  }
  if (!directoryExists(path)) {
    setLastErrorCode(kErrorAlreadyExists);  // a file of that name is in the way
    return false;
  }
  return true;
}

bool deleteFile(const std::string& path) {
  if (::unlink(path.c_str()) != 0) {
    setErrno(errno);
    return false;
  }
  return true;
}

BinaryType binaryType(const std::string& path) { return binaryTypeFromHeader(path); }

// ---- Whole files ------------------------------------------------------------

std::string readFile(const std::string& path) {
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) throwErrno("open", path, errno);
  std::string content;
  char buffer[16384];
  while (true) {
    const ssize_t count = ::read(file.get(), buffer, sizeof buffer);
    if (count == 0) break;
    if (count < 0) {
      if (errno == EINTR) continue;
      throwErrno("read", path, errno);
    }
    content.append(buffer, static_cast<size_t>(count));
  }
  return content;
}

void writeFileAtomic(const std::string& path, std::string_view content) {
  static std::atomic<uint32_t> counter{0};
  const std::string temporary = path + ".tmp-" + std::to_string(::getpid()) + "-" +
                                std::to_string(currentThreadId()) + "-" +
                                std::to_string(counter.fetch_add(1));
  FileDescriptor file(
      ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
  if (file.get() < 0) throwErrno("open", temporary, errno);
  const auto fail = [&](const char* function) {
    const int error = errno;
    ::unlink(temporary.c_str());
    throwErrno(function, temporary, error);
  };
  // A replaced file keeps its permissions.
  struct stat existing {};
  if (::stat(path.c_str(), &existing) == 0) ::fchmod(file.get(), existing.st_mode & 07777);
  while (!content.empty()) {
    const ssize_t count = ::write(file.get(), content.data(), content.size());
    if (count < 0) {
      if (errno == EINTR) continue;
      fail("write");
    }
    content.remove_prefix(static_cast<size_t>(count));
  }
  if (::fsync(file.get()) != 0) fail("fsync");
  if (file.close() != 0) fail("close");
  if (::rename(temporary.c_str(), path.c_str()) != 0) fail("rename");
}

// ---- Special folders --------------------------------------------------------

std::optional<std::string> specialFolder(SpecialFolder folder) {
  switch (folder) {
    case SpecialFolder::AppData:
      return xdgFolder("XDG_CONFIG_HOME", ".config");
    case SpecialFolder::LocalAppData:
      return xdgFolder("XDG_DATA_HOME", ".local/share");
    case SpecialFolder::CommonAppData: {
      const std::optional<std::string> common = environmentVariable("CORVANE_COMMON_APPDATA");
      if (common && !common->empty()) return common;
      return std::string("/var/lib");
    }
    case SpecialFolder::ProgramFiles:
      return std::string("/opt");
  }
  return std::nullopt;
}

std::string tempDirectory() {
  std::string folder = environmentVariable("TMPDIR").value_or("");
  if (folder.empty()) folder = "/tmp";
  if (folder.back() != '/') folder += '/';
  return folder;
}

// ---- Environment ------------------------------------------------------------

std::optional<std::string> environmentVariable(const std::string& name) {
  std::lock_guard lock(environmentMutex());
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

bool setEnvironmentVariable(const std::string& name, const std::string* value) {
  std::lock_guard lock(environmentMutex());
  const int result =
      value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
  if (result != 0) {
    setErrno(errno);
    return false;
  }
  return true;
}

// ---- The process's command line ---------------------------------------------

std::vector<std::string> processArguments() {
  std::vector<std::string> arguments;
  std::string content;
  try {
    content = readFile("/proc/self/cmdline");
  } catch (const OsError&) {
    return arguments;
  }
  // Every argument, the last one included, ends with a zero byte.
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\0', start);
    if (end == std::string::npos) end = content.size();
    arguments.push_back(content.substr(start, end - start));
    start = end + 1;
  }
  return arguments;
}

std::string executablePath() {
  std::string path(256, '\0');
  while (true) {
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length < 0) {
      setErrno(errno);
      return {};
    }
    if (static_cast<size_t>(length) < path.size()) {
      path.resize(static_cast<size_t>(length));
      return path;
    }
    path.resize(path.size() * 2);
  }
}

}  // namespace corvane::platform
