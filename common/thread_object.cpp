#include "common/thread_object.h"

#include <stdexcept>

#include "common/exceptions.h"

namespace corvane {

TThreadObject::~TThreadObject() { delete synchronizer_.load(std::memory_order_acquire); }

platform::MultiReadExclusiveWriteSynchronizer& TThreadObject::Synchronizer() {
  // Checked, then made under the critical section and checked again, so that
  // exactly one synchronizer is ever made.
  auto* existing = synchronizer_.load(std::memory_order_acquire);
  if (existing != nullptr) return *existing;
  std::lock_guard guard(section_);
  existing = synchronizer_.load(std::memory_order_acquire);
  if (existing == nullptr) {
    existing = new platform::MultiReadExclusiveWriteSynchronizer();
    synchronizer_.store(existing, std::memory_order_release);
  }
  return *existing;
}

void* TThreadObject::LockRead() {
  Synchronizer().beginRead();
  return guarded_;
}

void TThreadObject::UnlockRead() { Synchronizer().endRead(); }

void* TThreadObject::LockWrite() {
  Synchronizer().beginWrite();
  return guarded_;
}

void TThreadObject::UnlockWrite() {
  auto& synchronizer = Synchronizer();
  Assert(synchronizer.isWriter(), "UnlockWrite without the write lock", "Public\\Common\\kivThreadObj",
         __LINE__);
  synchronizer.endWrite();
}

}  // namespace corvane
