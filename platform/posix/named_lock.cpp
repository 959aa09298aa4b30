// POSIX backend: system-wide named locks.
//
// Each name is a file in the lock folder. Within the process a table keeps
// one entry per lock file: the one descriptor that takes the advisory lock
// (flock) for every object of the name, the thread holding the lock and how
// often it acquired it through all objects. As with a Windows mutex, the lock
// belongs to that thread: it acquires it again at once through any object of
// the name, other threads of the process wait on the entry's condition
// variable, and the file lock, which keeps other processes out, is taken by
// the first acquisition and given up by the last release.
//
// Lock files are never removed: removing one while another process waits on
// it would let a third process lock a new file of the same name.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "platform/files.h"
#include "platform/named_lock.h"
#include "platform/os_error.h"
#include "platform/portable/named_lock_names.h"
#include "platform/posix/errno_mapping.h"
#include "platform/thread.h"

namespace corvane::platform {
namespace {

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

// The lock of one file within the process.
struct Entry {
  std::string path;
  int fd = -1;
  std::mutex mutex;                // guards the fields below and those of the objects
  std::condition_variable freed;   // owner became 0
  uint32_t owner = 0;              // the holding thread, or the one waiting for the file lock
  int depth = 0;                   // acquisitions by the owner through all objects

  ~Entry() {
    if (fd >= 0) ::close(fd);  // gives up the file lock should it still be held
  }

  // Takes the file lock; false when another process holds it and wait is false.
  bool lockFile(bool wait) {
    while (::flock(fd, wait ? LOCK_EX : LOCK_EX | LOCK_NB) != 0) {
      if (errno == EINTR) continue;
      if (!wait && errno == EWOULDBLOCK) return false;
      throwErrno("flock", path, errno);
    }
    return true;
  }

  // With mutex held: gives up count acquisitions; the last one frees the lock.
  void drop(int count) {
    depth -= count;
    if (depth > 0) return;
    ::flock(fd, LOCK_UN);
    owner = 0;
    freed.notify_one();
  }
};

// The entries of the lock files that objects of this process use.
struct Table {
  std::mutex mutex;
  std::map<std::string, std::weak_ptr<Entry>> entries;
};

Table& table() {
  static Table* instance = new Table;  // objects may outlive static destruction
  return *instance;
}

std::shared_ptr<Entry> entryFor(const std::string& path) {
  Table& t = table();
  std::lock_guard lock(t.mutex);
  std::weak_ptr<Entry>& slot = t.entries[path];
  if (std::shared_ptr<Entry> entry = slot.lock()) return entry;
  auto entry = std::make_shared<Entry>();
  entry->path = path;
  entry->fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (entry->fd < 0) {
    const int error = errno;
    t.entries.erase(path);
    throwErrno("open", path, error);
  }
  slot = entry;
  return entry;
}

void dropEntry(std::shared_ptr<Entry>& entry) {
  Table& t = table();
  std::lock_guard lock(t.mutex);
  const std::string path = entry->path;
  entry.reset();
  const auto it = t.entries.find(path);
  if (it != t.entries.end() && it->second.expired()) t.entries.erase(it);
}

}  // namespace

struct NamedLock::State {
  std::string name;
  std::shared_ptr<Entry> entry;
  // Guarded by entry->mutex: the thread holding the lock through this object
  // and how often it acquired it through this object.
  uint32_t owner = 0;
  int depth = 0;

  // With entry->mutex held: whether the calling thread holds the lock (through
  // any object), and if so counts one more acquisition through this one.
  bool acquireAgain(uint32_t self) {
    if (entry->owner != self || entry->depth == 0) return false;
    ++entry->depth;
    owner = self;
    ++depth;
    return true;
  }

  // With entry->mutex held, after the file lock was taken.
  void acquireFirst(uint32_t self) {
    entry->owner = self;
    entry->depth = 1;
    owner = self;
    depth = 1;
  }
};

NamedLock::NamedLock(std::string_view name) : state_(std::make_unique<State>()) {
  state_->name = name;
  state_->entry = entryFor(lockFolder() + "/" + lockNameStem(name) + ".lock");
}

NamedLock::~NamedLock() {
  {
    std::lock_guard lock(state_->entry->mutex);
    // Acquisitions through this object end with it, whichever thread made them.
    if (state_->depth > 0) state_->entry->drop(state_->depth);
  }
  dropEntry(state_->entry);
}

void NamedLock::acquire(int spinCount) {
  for (int i = 0; i < spinCount; ++i) {
    if (tryAcquire()) return;
    std::this_thread::yield();
  }
  const uint32_t self = currentThreadId();
  Entry& entry = *state_->entry;
  std::unique_lock lock(entry.mutex);
  if (state_->acquireAgain(self)) return;
  entry.freed.wait(lock, [&] { return entry.owner == 0; });
  // Claim the entry, then wait for other processes without blocking the
  // threads of this one that only ask or try.
  entry.owner = self;
  lock.unlock();
  try {
    entry.lockFile(true);
  } catch (...) {
    lock.lock();
    entry.owner = 0;
    entry.freed.notify_one();
    throw;
  }
  lock.lock();
  state_->acquireFirst(self);
}

bool NamedLock::tryAcquire() {
  const uint32_t self = currentThreadId();
  Entry& entry = *state_->entry;
  std::lock_guard lock(entry.mutex);
  if (state_->acquireAgain(self)) return true;
  if (entry.owner != 0 || !entry.lockFile(false)) return false;
  state_->acquireFirst(self);
  return true;
}

void NamedLock::release() {
  std::lock_guard lock(state_->entry->mutex);
  if (state_->owner != currentThreadId() || state_->depth == 0)
    throw std::logic_error("NamedLock::release: the calling thread does not hold \"" +
                           state_->name + "\"");
  if (--state_->depth == 0) state_->owner = 0;
  state_->entry->drop(1);
}

bool NamedLock::held() const {
  std::lock_guard lock(state_->entry->mutex);
  return state_->depth > 0 && state_->owner == currentThreadId();
}

}  // namespace corvane::platform
