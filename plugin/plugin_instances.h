// The process-wide list of live plug-in instances, in creation order. Entry
// points find an instance by its handle only through this list, and pin it
// for the duration of their call: an instance that was freed (or a handle
// that never named one) is refused instead of being used after free, and
// FreePluginInstance waits until calls in progress on the instance are over
// before destroying it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "common/thread_lists.h"
#include "plugin/plugin_module.h"

namespace corvane {

class PluginInstances;

// Keeps one instance alive while held; empty when no instance was found.
class PluginPin {
 public:
  PluginPin() = default;
  PluginPin(const PluginPin&) = delete;
  PluginPin& operator=(const PluginPin&) = delete;
  PluginPin(PluginPin&& other) noexcept;
  PluginPin& operator=(PluginPin&& other) noexcept;
  ~PluginPin() { Release(); }

  explicit operator bool() const { return entry_ != nullptr; }
  TkivPlugin* operator->() const;
  TkivPlugin& operator*() const { return *operator->(); }
  TkivPlugin* get() const;

 private:
  friend class PluginInstances;
  struct Entry;
  explicit PluginPin(Entry* entry) : entry_(entry) {}
  void Release() noexcept;
  Entry* entry_ = nullptr;
};

// One listed instance and the number of calls that have it pinned. The
// count and the orphan mark share one atomic word, so that the pin that
// ends last learns it must free the entry in the same step that releases
// it: nothing reads the entry after its count went down.
struct PluginPin::Entry {
  // Set once the entry left the list while its freeing thread still had it
  // pinned: the last pin frees it.
  static constexpr int32_t Orphaned = 0x40000000;

  std::unique_ptr<TkivPlugin> plugin;
  std::atomic<int32_t> pins{0};  // pin count, or-ed with Orphaned
};

class PluginInstances {
 public:
  PluginInstances() = default;
  PluginInstances(const PluginInstances&) = delete;
  PluginInstances& operator=(const PluginInstances&) = delete;
  ~PluginInstances();  // frees every instance still listed

  // Appends a new instance; answers its handle.
  uintptr_t Add(std::unique_ptr<TkivPlugin> plugin);
  // Pins the live instance with this handle.
  PluginPin Find(uintptr_t handle);
  // Removes the instance from the list, waits for calls in progress on it
  // (other than the caller's own), then frees it; exceptions from its
  // destructor are swallowed. False when no instance has this handle.
  bool Free(uintptr_t handle);
  int32_t Count();
  // Calls visit for every instance, in creation order, under the read lock.
  void ForEach(const std::function<void(TkivPlugin&)>& visit);

 private:
  TThreadObjectList<PluginPin::Entry> list_{true};
};

}  // namespace corvane
