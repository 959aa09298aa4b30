#include "plugin/plugin_instances.h"

#include <utility>
#include <vector>

#include "platform/thread.h"

namespace corvane {

namespace {

// Instances the current thread has pinned, so that freeing an instance from
// inside a call on that same instance does not wait for itself.
thread_local std::vector<const void*> pinnedByThisThread;

}  // namespace

PluginPin::PluginPin(PluginPin&& other) noexcept : entry_(std::exchange(other.entry_, nullptr)) {}

PluginPin& PluginPin::operator=(PluginPin&& other) noexcept {
  if (this != &other) {
    Release();
    entry_ = std::exchange(other.entry_, nullptr);
  }
  return *this;
}

TkivPlugin* PluginPin::operator->() const { return entry_->plugin.get(); }
TkivPlugin* PluginPin::get() const { return entry_ ? entry_->plugin.get() : nullptr; }

void PluginPin::Release() noexcept {
  if (entry_ == nullptr) return;
  for (auto it = pinnedByThisThread.begin(); it != pinnedByThisThread.end(); ++it) {
    if (*it == entry_) {
      pinnedByThisThread.erase(it);
      break;
    }
  }
  Entry* entry = std::exchange(entry_, nullptr);
  if (entry->pins.fetch_sub(1, std::memory_order_acq_rel) == (Entry::Orphaned | 1)) {
    try {
      delete entry;
    } catch (...) {
    }
  }
}

PluginInstances::~PluginInstances() {
  auto& list = list_.LockList();
  list.Clear();
  list_.UnlockList();
}

uintptr_t PluginInstances::Add(std::unique_ptr<TkivPlugin> plugin) {
  auto entry = std::make_unique<PluginPin::Entry>();
  entry->plugin = std::move(plugin);
  const uintptr_t handle = entry->plugin->PluginHandle();
  auto& list = list_.LockList();
  try {
    list.Add(entry.get());
  } catch (...) {
    list_.UnlockList();
    throw;
  }
  entry.release();
  list_.UnlockList();
  return handle;
}

PluginPin PluginInstances::Find(uintptr_t handle) {
  if (handle == 0) return {};
  PluginPin::Entry* found = nullptr;
  const auto& list = list_.LockListRead();
  for (PluginPin::Entry* entry : list) {
    if (entry->plugin->PluginHandle() == handle) {
      // Pinned before the lock goes, so Free cannot slip in between.
      entry->pins.fetch_add(1, std::memory_order_acq_rel);
      found = entry;
      break;
    }
  }
  list_.UnlockListRead();
  if (found == nullptr) return {};
  pinnedByThisThread.push_back(found);
  return PluginPin(found);
}

bool PluginInstances::Free(uintptr_t handle) {
  PluginPin::Entry* found = nullptr;
  {
    auto& list = list_.LockList();
    for (PluginPin::Entry* entry : list) {
      if (entry->plugin->PluginHandle() == handle) {
        found = list.Extract(entry);
        break;
      }
    }
    list_.UnlockList();
  }
  if (found == nullptr) return false;
  int32_t ownPins = 0;
  for (const void* pinned : pinnedByThisThread) ownPins += pinned == found ? 1 : 0;
  // Calls of other threads finish first; no new call can find the instance.
  while (found->pins.load(std::memory_order_acquire) > ownPins) platform::sleepMs(1);
  if (ownPins > 0) {
    // Freed from inside a call on this very instance: the call's own pin
    // frees it when the call is over.
    found->pins.fetch_or(PluginPin::Entry::Orphaned, std::memory_order_acq_rel);
    return true;
  }
  try {
    delete found;
  } catch (...) {
  }
  return true;
}

int32_t PluginInstances::Count() { return list_.Count(); }

void PluginInstances::ForEach(const std::function<void(TkivPlugin&)>& visit) {
  const auto& list = list_.LockListRead();
  try {
    for (PluginPin::Entry* entry : list) visit(*entry->plugin);
  } catch (...) {
    list_.UnlockListRead();
    throw;
  }
  list_.UnlockListRead();
}

}  // namespace corvane
