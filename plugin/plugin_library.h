// Process-wide state of the plug-in library: the live instances, the class
// CreatePluginInstance makes, and the procedures the library-release request
// runs. Made when the library loads, gone when it unloads.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "plugin/plugin_instances.h"

namespace corvane {

// Makes an instance of the module class: (module handle, creation data).
using TPluginClass = std::function<std::unique_ptr<TkivPlugin>(uintptr_t, const TPluginCreation*)>;

class PluginLibrary {
 public:
  // The library's state; nullptr once the library is shutting down.
  static PluginLibrary* Current();

  PluginInstances& Instances() { return instances_; }

  // The module class; TkivPlugin until a concrete module replaces it.
  TPluginClass PluginClass();
  void SetPluginClass(TPluginClass pluginClass);

  // Procedures run once, in registration order, by the release request.
  void AddReleaseCallback(std::function<void()> callback);
  void RunReleaseCallbacks() noexcept;

 private:
  PluginInstances instances_;
  std::mutex mutex_;
  TPluginClass pluginClass_;
  std::vector<std::function<void()>> releaseCallbacks_;
};

// Names the concrete module's class while the library initialises: a
// namespace-scope object in the module's unit. It works whichever unit
// initialises first; SetPluginClass, if called later, takes precedence.
struct PluginClassRegistration {
  explicit PluginClassRegistration(TPluginClass pluginClass);
};

}  // namespace corvane
