// POSIX backend: system-wide named locks.
//
// Each name is a file in the lock folder, and each NamedLock object holds its
// own descriptor of that file. flock belongs to the open file description,
// so two objects exclude each other whether they live in one process or in
// two. Within one object a re-entrant mutex serialises threads that share it
// and lets the holding thread acquire again, as a Windows mutex does.
//
// Lock files are never removed: removing one while another process waits on
// it would let a third process lock a new file of the same name.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "platform/files.h"
#include "platform/named_lock.h"
#include "platform/os_error.h"
#include "platform/posix/errno_mapping.h"
#include "platform/thread.h"

namespace corvane::platform {
namespace {

constexpr size_t kMaxFileNameStem = 200;  // leaves room for the hash and ".lock"

[[noreturn]] void throwErrno(const char* function, const std::string& subject, int error) {
  const uint32_t code = windowsCodeFromErrno(error);
  setLastErrorCode(code);
  throw OsError(function, subject, code);
}

// The folder of the lock files: CORVANE_LOCK_DIR, else a folder of the user's
// runtime folder, else one of /tmp that only the user may use.
std::string lockFolder() {
  if (std::optional<std::string> folder = environmentVariable("CORVANE_LOCK_DIR");
      folder && !folder->empty()) {
    if (!createDirectories(*folder)) throw OsError("mkdir", *folder, lastErrorCode());
    return *folder;
  }
  if (std::optional<std::string> runtime = environmentVariable("XDG_RUNTIME_DIR");
      runtime && !runtime->empty() && runtime->front() == '/') {
    const std::string folder = *runtime + "/corvane-locks";
    if (::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST) return folder;
  }
  const std::string folder = "/tmp/corvane-locks-" + std::to_string(::getuid());
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) throwErrno("mkdir", folder, errno);
  // In a shared folder the name could have been taken by someone else first.
  struct stat info {};
  if (::lstat(folder.c_str(), &info) != 0) throwErrno("lstat", folder, errno);
  if (!S_ISDIR(info.st_mode) || info.st_uid != ::getuid() || (info.st_mode & 0022) != 0)
    throwErrno("open", folder, EACCES);
  return folder;
}

// A file name for any lock name: characters outside 0-9, a-z and "_" become
// "-" and two hexadecimal digits (so they cannot reach another folder), and
// a long name is cut and completed with a hash of the whole name.
std::string fileNameFor(std::string_view name) {
  std::string stem;
  for (const char c : name) {
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || c == '_') {
      stem += c;
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "-%02X", static_cast<unsigned char>(c));
      stem += escaped;
    }
  }
  if (stem.size() > kMaxFileNameStem) {
    uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (const char c : name) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    char suffix[20];
    std::snprintf(suffix, sizeof suffix, "-%016llX", static_cast<unsigned long long>(hash));
    stem.resize(kMaxFileNameStem);
    stem += suffix;
  }
  return stem + ".lock";
}

}  // namespace

struct NamedLock::State {
  std::string name;
  int fd = -1;
  std::recursive_mutex inProcess;  // threads sharing this object
  std::atomic<uint32_t> owner{0};  // thread holding the lock through this object
  int depth = 0;

  // With inProcess held: takes the file lock for the first level.
  bool lockFile(bool wait) {
    if (depth > 0) return true;
    while (::flock(fd, wait ? LOCK_EX : LOCK_EX | LOCK_NB) != 0) {
      if (errno == EINTR) continue;
      if (errno == EWOULDBLOCK) return false;
      throwErrno("flock", name, errno);
    }
    return true;
  }
};

NamedLock::NamedLock(std::string_view name) : state_(std::make_unique<State>()) {
  state_->name = name;
  const std::string path = lockFolder() + "/" + fileNameFor(name);
  state_->fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (state_->fd < 0) throwErrno("open", path, errno);
}

NamedLock::~NamedLock() {
  // Closing the descriptor gives up the file lock even when still held.
  if (state_->depth > 0 && state_->owner == currentThreadId()) {
    while (state_->depth-- > 0) state_->inProcess.unlock();
  }
  ::close(state_->fd);
}

void NamedLock::acquire(int spinCount) {
  for (int i = 0; i < spinCount; ++i) {
    if (tryAcquire()) return;
    std::this_thread::yield();
  }
  state_->inProcess.lock();
  try {
    state_->lockFile(true);
  } catch (...) {
    state_->inProcess.unlock();
    throw;
  }
  state_->owner = currentThreadId();
  ++state_->depth;
}

bool NamedLock::tryAcquire() {
  if (!state_->inProcess.try_lock()) return false;
  bool locked = false;
  try {
    locked = state_->lockFile(false);
  } catch (...) {
    state_->inProcess.unlock();
    throw;
  }
  if (!locked) {
    state_->inProcess.unlock();
    return false;
  }
  state_->owner = currentThreadId();
  ++state_->depth;
  return true;
}

void NamedLock::release() {
  if (state_->owner != currentThreadId() || state_->depth == 0)
    throw std::logic_error("NamedLock::release: the calling thread does not hold \"" +
                           state_->name + "\"");
  if (--state_->depth == 0) {
    state_->owner = 0;
    ::flock(state_->fd, LOCK_UN);
  }
  state_->inProcess.unlock();
}

bool NamedLock::held() const {
  std::unique_lock lock(state_->inProcess, std::try_to_lock);
  return lock.owns_lock() && state_->depth > 0;
}

std::string lockNameFor(std::string_view text) {
  std::string name(text);
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z'))) c = '_';
  }
  return name;
}

}  // namespace corvane::platform
