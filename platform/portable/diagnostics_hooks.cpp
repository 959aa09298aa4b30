// Debugger output and message boxes: the hooks tests use to catch them, in
// front of the backend's system calls.
#include "platform/portable/diagnostics_hooks.h"

#include <memory>
#include <mutex>

#include "platform/diagnostics.h"

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

}  // namespace

void outputDebugString(std::string_view text) {
  if (const auto hook = current(hooks().debugOutput)) {
    (*hook)(text);
    return;
  }
  backend::outputDebugString(text);
}

int32_t messageBox(uintptr_t owner, std::string_view text, std::string_view caption,
                   uint32_t flags) {
  if (const auto hook = current(hooks().messageBox)) return (*hook)(text, caption, flags);
  return backend::messageBox(owner, text, caption, flags);
}

void setDebugOutputHook(DebugOutputHook hook) { replace(hooks().debugOutput, std::move(hook)); }

void setMessageBoxHook(MessageBoxHook hook) { replace(hooks().messageBox, std::move(hook)); }

}  // namespace corvane::platform
