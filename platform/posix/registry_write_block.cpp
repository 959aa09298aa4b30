// POSIX backend: blocking writes to a registry root with the store's
// ".readonly" marker (test support).
//
// The store refuses every write to a root whose file has a marker beside it
// (registry.h). The marker goes into the folder the store uses at the time
// of the call, and is removed again unless it was there before.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/files.h"
#include "platform/os_error.h"
#include "platform/portable/registry_write_block_backend.h"
#include "platform/posix/errno_mapping.h"
#include "platform/posix/registry_store.h"

namespace corvane::platform {
namespace {

class MarkerBlock : public backend::RegistryWriteBlocker {
 public:
  explicit MarkerBlock(std::string marker) : marker_(std::move(marker)) {}
  ~MarkerBlock() override {
    if (!marker_.empty()) ::unlink(marker_.c_str());
  }

 private:
  std::string marker_;  // empty when the marker was there before
};

std::nullptr_t none(uint32_t error) {
  setLastErrorCode(error);
  return nullptr;
}

}  // namespace

std::unique_ptr<backend::RegistryWriteBlocker> backend::blockRegistryWrites(RegistryRoot root,
                                                                         std::string_view path,
                                                                         RegistryView view) {
  // Only an existing key can be blocked, as on Windows.
  if (!RegistryKey::open(root, path, RegistryAccess::Read, view)) return nullptr;
  const char* fileName = registry_store::rootFileName(root);
  const std::string folder = registry_store::storeFolder();
  if (fileName == nullptr || folder.empty()) return none(kErrorPathNotFound);
  if (!createDirectories(folder)) return nullptr;
  const std::string marker = folder + "/" + fileName + ".readonly";
  const int fd = ::open(marker.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd >= 0) {
    ::close(fd);
    return std::make_unique<MarkerBlock>(marker);
  }
  if (errno != EEXIST) return none(windowsCodeFromErrno(errno));
  return std::make_unique<MarkerBlock>(std::string());
}

}  // namespace corvane::platform
