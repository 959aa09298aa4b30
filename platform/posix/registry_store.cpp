// POSIX backend: the registry store's files.
//
// Divisions: locations (the folder and the file of each root), reading with a
// cache of the parsed trees, and writing under the root's file lock.
//
// A root's file is never changed in place: every writer takes an exclusive
// flock on "<root file>.lock", re-reads the file, applies its one change and
// renames a complete, synced new file over the old one. Readers take no lock;
// the file they open is always a whole file from one writer.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <optional>
#include <utility>

#include "platform/files.h"
#include "platform/os_error.h"
#include "platform/posix/errno_mapping.h"
#include "platform/posix/registry_store.h"

namespace corvane::platform::registry_store {

// ---- Locations --------------------------------------------------------------

const char* rootFileName(RegistryRoot root) {
  switch (root) {
    case RegistryRoot::ClassesRoot: return "HKEY_CLASSES_ROOT.reg";
    case RegistryRoot::CurrentUser: return "HKEY_CURRENT_USER.reg";
    case RegistryRoot::LocalMachine: return "HKEY_LOCAL_MACHINE.reg";
    case RegistryRoot::Users: return "HKEY_USERS.reg";
    case RegistryRoot::CurrentConfig: return "HKEY_CURRENT_CONFIG.reg";
  }
  return nullptr;
}

std::string storeFolder() {
  std::optional<std::string> folder = environmentVariable("CORVANE_REGISTRY_DIR");
  if (!folder || folder->empty()) {
    const std::optional<std::string> config = environmentVariable("XDG_CONFIG_HOME");
    const std::optional<std::string> home = environmentVariable("HOME");
    if (config && !config->empty() && config->front() == '/') {
      folder = *config + "/corvane/registry";
    } else if (home && !home->empty()) {
      folder = *home + "/.config/corvane/registry";
    } else {
      return {};
    }
  }
  while (folder->size() > 1 && folder->back() == '/') folder->pop_back();
  return *folder;
}

namespace {

struct RootLocation {
  std::string folder;
  std::string file;
  uint32_t error = kErrorSuccess;
};

RootLocation locate(RegistryRoot root) {
  RootLocation location;
  const char* name = rootFileName(root);
  if (name == nullptr) {
    location.error = kErrorInvalidHandle;
    return location;
  }
  location.folder = storeFolder();
  if (location.folder.empty()) {
    location.error = kErrorPathNotFound;
    return location;
  }
  location.file = location.folder + "/" + name;
  return location;
}

// ---- Reading ----------------------------------------------------------------

// The file's bytes; a missing file reads as empty.
uint32_t readContent(const std::string& path, std::string& content) {
  content.clear();
  try {
    content = readFile(path);
  } catch (const OsError& error) {
    if (error.code() != kErrorFileNotFound) return error.code();
  }
  return kErrorSuccess;
}

// Parsed trees of recently read files, reused while a file's bytes are the
// same (a cheap comparison next to parsing; names, inodes and times can all
// repeat after a replacement, bytes that match cannot mislead).
class TreeCache {
 public:
  std::shared_ptr<const Key> find(const std::string& path, const std::string& content) {
    std::lock_guard lock(mutex_);
    for (const Entry& entry : entries_) {
      if (entry.path == path && entry.content == content) return entry.tree;
    }
    return nullptr;
  }

  void store(const std::string& path, std::string content, std::shared_ptr<const Key> tree) {
    std::lock_guard lock(mutex_);
    std::erase_if(entries_, [&](const Entry& entry) { return entry.path == path; });
    if (entries_.size() >= kCapacity) entries_.erase(entries_.begin());
    entries_.push_back(Entry{path, std::move(content), std::move(tree)});
  }

 private:
  static constexpr size_t kCapacity = 8;
  struct Entry {
    std::string path;
    std::string content;
    std::shared_ptr<const Key> tree;
  };
  std::mutex mutex_;
  std::vector<Entry> entries_;
};

TreeCache& treeCache() {
  static TreeCache cache;
  return cache;
}

// ---- Writing ----------------------------------------------------------------

// Exclusive flock on a root's lock file, held for the object's lifetime. Each
// object opens the file itself, so it also excludes other threads.
class RootLock {
 public:
  explicit RootLock(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0) {
      error_ = windowsCodeFromErrno(errno);
      return;
    }
    while (::flock(fd_, LOCK_EX) != 0) {
      if (errno == EINTR) continue;
      error_ = windowsCodeFromErrno(errno);
      return;
    }
  }
  RootLock(const RootLock&) = delete;
  RootLock& operator=(const RootLock&) = delete;
  ~RootLock() {
    if (fd_ >= 0) ::close(fd_);  // closing the last descriptor releases the lock
  }

  uint32_t error() const { return error_; }

 private:
  int fd_ = -1;
  uint32_t error_ = kErrorSuccess;
};

}  // namespace

Snapshot readRoot(RegistryRoot root) {
  Snapshot snapshot;
  const RootLocation location = locate(root);
  if (location.error != kErrorSuccess) {
    snapshot.error = location.error;
    return snapshot;
  }
  std::string content;
  snapshot.error = readContent(location.file, content);
  if (snapshot.error != kErrorSuccess) return snapshot;
  snapshot.tree = treeCache().find(location.file, content);
  if (snapshot.tree) return snapshot;
  size_t badLines = 0;
  std::shared_ptr<const Key> tree = parse(content, badLines);
  treeCache().store(location.file, std::move(content), tree);
  snapshot.tree = std::move(tree);
  return snapshot;
}

bool rootWritable(RegistryRoot root, uint32_t& error) {
  const RootLocation location = locate(root);
  error = location.error;
  if (error != kErrorSuccess) return false;
  // The marker stands for a root the user may only read (the local-machine
  // root of a normal user on Windows); permissions of an existing folder or
  // file are honoured as well.
  const bool refused = ::access((location.file + ".readonly").c_str(), F_OK) == 0 ||
                       (::access(location.folder.c_str(), F_OK) == 0 &&
                        ::access(location.folder.c_str(), W_OK) != 0) ||
                       (::access(location.file.c_str(), F_OK) == 0 &&
                        ::access(location.file.c_str(), W_OK) != 0);
  error = refused ? kErrorAccessDenied : kErrorSuccess;
  return !refused;
}

uint32_t modifyRoot(RegistryRoot root, const Change& change) {
  uint32_t error = kErrorSuccess;
  if (!rootWritable(root, error)) return error;
  const RootLocation location = locate(root);
  if (!createDirectories(location.folder)) return lastErrorCode();

  const RootLock lock(location.file + ".lock");
  if (lock.error() != kErrorSuccess) return lock.error();

  std::string content;
  error = readContent(location.file, content);
  if (error != kErrorSuccess) return error;
  size_t badLines = 0;
  std::unique_ptr<Key> tree = parse(content, badLines);

  bool changed = false;
  error = change(*tree, changed);
  if (error != kErrorSuccess || !changed) return error;

  std::string next = serialize(*tree);
  try {
    // What could not be read is dropped from the new file; keep the damaged
    // original beside it so nothing is lost for good.
    if (badLines > 0) writeFileAtomic(location.file + ".corrupt", content);
    writeFileAtomic(location.file, next);
  } catch (const OsError& failure) {
    return failure.code();
  }
  treeCache().store(location.file, std::move(next), std::shared_ptr<const Key>(std::move(tree)));
  return kErrorSuccess;
}

}  // namespace corvane::platform::registry_store
