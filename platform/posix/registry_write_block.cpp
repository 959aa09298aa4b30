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
#include "platform/posix/errno_mapping.h"
#include "platform/registry_write_block.h"

namespace corvane::platform {

struct RegistryWriteBlock::State {
  std::string marker;  // empty when the marker was there before
  ~State() {
    if (!marker.empty()) ::unlink(marker.c_str());
  }
};

namespace {

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

// The store's folder as registry.h names it.
std::string storeFolder() {
  const std::optional<std::string> folder = environmentVariable("CORVANE_REGISTRY_DIR");
  if (folder && !folder->empty()) return *folder;
  const std::optional<std::string> config = environmentVariable("XDG_CONFIG_HOME");
  if (config && !config->empty() && config->front() == '/') return *config + "/corvane/registry";
  const std::optional<std::string> home = environmentVariable("HOME");
  if (home && !home->empty()) return *home + "/.config/corvane/registry";
  return {};
}

std::nullopt_t none(uint32_t error) {
  setLastErrorCode(error);
  return std::nullopt;
}

}  // namespace

RegistryWriteBlock::RegistryWriteBlock(std::unique_ptr<State> state) : state_(std::move(state)) {}
RegistryWriteBlock::RegistryWriteBlock(RegistryWriteBlock&&) noexcept = default;
RegistryWriteBlock& RegistryWriteBlock::operator=(RegistryWriteBlock&&) noexcept = default;
RegistryWriteBlock::~RegistryWriteBlock() = default;

std::optional<RegistryWriteBlock> RegistryWriteBlock::apply(RegistryRoot root,
                                                            std::string_view path,
                                                            RegistryView view) {
  // Only an existing key can be blocked, as on Windows.
  if (!RegistryKey::open(root, path, RegistryAccess::Read, view)) return std::nullopt;
  const char* fileName = rootFileName(root);
  const std::string folder = storeFolder();
  if (fileName == nullptr || folder.empty()) return none(kErrorPathNotFound);
  if (!createDirectories(folder)) return std::nullopt;
  auto state = std::make_unique<State>();
  const std::string marker = folder + "/" + fileName + ".readonly";
  const int fd = ::open(marker.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd >= 0) {
    ::close(fd);
    state->marker = marker;
  } else if (errno != EEXIST) {
    return none(windowsCodeFromErrno(errno));
  }
  setLastErrorCode(kErrorSuccess);
  return RegistryWriteBlock(std::move(state));
}

}  // namespace corvane::platform
