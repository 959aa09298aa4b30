#include "plugin/plugin_library.h"

#include <atomic>

namespace corvane {
namespace {

std::atomic<PluginLibrary*> current{nullptr};

// Lives as long as the library is loaded; clears the current pointer first
// when it goes, so late calls see a library that is shutting down.
struct LibraryState {
  PluginLibrary library;
  LibraryState() { current.store(&library, std::memory_order_release); }
  ~LibraryState() { current.store(nullptr, std::memory_order_release); }
};
LibraryState state;

// The class a module unit registered; a function-local object, so that it
// exists before any unit's initialisation uses it.
TPluginClass& registeredClass() {
  static TPluginClass pluginClass;
  return pluginClass;
}

}  // namespace

PluginClassRegistration::PluginClassRegistration(TPluginClass pluginClass) {
  registeredClass() = std::move(pluginClass);
}

PluginLibrary* PluginLibrary::Current() { return current.load(std::memory_order_acquire); }

TPluginClass PluginLibrary::PluginClass() {
  std::lock_guard lock(mutex_);
  if (pluginClass_) return pluginClass_;
  if (registeredClass()) return registeredClass();
  return [](uintptr_t module, const TPluginCreation* creation) -> std::unique_ptr<TkivPlugin> {
    return TkivPlugin::Create<TkivPlugin>(module, creation);
  };
}

void PluginLibrary::SetPluginClass(TPluginClass pluginClass) {
  std::lock_guard lock(mutex_);
  pluginClass_ = std::move(pluginClass);
}

void PluginLibrary::AddReleaseCallback(std::function<void()> callback) {
  std::lock_guard lock(mutex_);
  releaseCallbacks_.push_back(std::move(callback));
}

void PluginLibrary::RunReleaseCallbacks() noexcept {
  std::vector<std::function<void()>> callbacks;
  {
    std::lock_guard lock(mutex_);
    callbacks.swap(releaseCallbacks_);
  }
  for (auto& callback : callbacks) {
    try {
      callback();
    } catch (...) {
    }
  }
}

}  // namespace corvane
