// POSIX backend: debugger output and message boxes for unattended runs.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <mutex>
#include <string>

#include "platform/diagnostics.h"
#include "platform/files.h"

namespace corvane::platform {
namespace {

// The hooks are swapped as whole objects under a mutex and called outside
// it, so a hook may run long, and may even replace itself, without blocking
// other threads.
struct Hooks {
  std::mutex mutex;
  std::shared_ptr<const DebugOutputHook> debugOutput;
  std::shared_ptr<const MessageBoxHook> messageBox;
};

Hooks& hooks() {
  static Hooks instance;
  return instance;
}

template <class Hook>
std::shared_ptr<const Hook> current(const std::shared_ptr<const Hook>& slot) {
  std::lock_guard lock(hooks().mutex);
  return slot;
}

template <class Hook>
void replace(std::shared_ptr<const Hook>& slot, Hook hook) {
  auto next = hook ? std::make_shared<const Hook>(std::move(hook)) : nullptr;
  std::lock_guard lock(hooks().mutex);
  slot.swap(next);
}

// One write per line, so lines of concurrent writers (O_APPEND, also from
// other processes) never interleave.
void writeLine(int fd, std::string_view text) {
  std::string line(text);
  line += '\n';
  std::string_view rest = line;
  while (!rest.empty()) {
    const ssize_t count = ::write(fd, rest.data(), rest.size());
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return;
    rest.remove_prefix(static_cast<size_t>(count));
  }
}

}  // namespace

void outputDebugString(std::string_view text) {
  if (const auto hook = current(hooks().debugOutput)) {
    (*hook)(text);
    return;
  }
  const std::optional<std::string> target = environmentVariable("CORVANE_DEBUG_OUTPUT");
  if (!target || target->empty()) return;
  if (*target == "-") {
    writeLine(STDERR_FILENO, text);
    return;
  }
  const int fd = ::open(target->c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd < 0) return;  // debugger output never fails its caller
  writeLine(fd, text);
  ::close(fd);
}

int32_t messageBox(uintptr_t, std::string_view text, std::string_view caption, uint32_t flags) {
  if (const auto hook = current(hooks().messageBox)) return (*hook)(text, caption, flags);
  std::string line(caption);
  line += ": ";
  line += text;
  writeLine(STDERR_FILENO, line);
  return kIdOk;
}

void setDebugOutputHook(DebugOutputHook hook) { replace(hooks().debugOutput, std::move(hook)); }

void setMessageBoxHook(MessageBoxHook hook) { replace(hooks().messageBox, std::move(hook)); }

}  // namespace corvane::platform
