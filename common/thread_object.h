// TThreadObject: the lockable base of objects shared between threads. It
// guards one object (itself unless the creator names another) with a
// multi-reader / single-writer lock made on the first lock request; the
// writer may nest its locks and may also take read locks.
#pragma once

#include <atomic>
#include <memory>

#include "platform/sync.h"

namespace corvane {

class TThreadObject {
 public:
  explicit TThreadObject(void* guarded = nullptr) : guarded_(guarded ? guarded : this) {}
  TThreadObject(const TThreadObject&) = delete;
  TThreadObject& operator=(const TThreadObject&) = delete;
  virtual ~TThreadObject();

  void* LockRead();
  void UnlockRead();
  void* LockWrite();
  // Raises EAssertionFailed when the calling thread does not hold the lock.
  void UnlockWrite();

 protected:
  void SetGuarded(void* guarded) { guarded_ = guarded; }
  void* Guarded() const { return guarded_; }

 private:
  platform::MultiReadExclusiveWriteSynchronizer& Synchronizer();

  platform::CriticalSection section_;
  std::atomic<platform::MultiReadExclusiveWriteSynchronizer*> synchronizer_{nullptr};
  void* guarded_;
};

// Scoped locks for TThreadObject and its descendants.
class ReadLock {
 public:
  explicit ReadLock(TThreadObject& object) : object_(object) { object_.LockRead(); }
  ReadLock(const ReadLock&) = delete;
  ReadLock& operator=(const ReadLock&) = delete;
  ~ReadLock() { object_.UnlockRead(); }

 private:
  TThreadObject& object_;
};

class WriteLock {
 public:
  explicit WriteLock(TThreadObject& object) : object_(object), guarded_(object.LockWrite()) {}
  WriteLock(const WriteLock&) = delete;
  WriteLock& operator=(const WriteLock&) = delete;
  ~WriteLock() { object_.UnlockWrite(); }

  // The object the lock guards, as the caller knows its type.
  template <typename T>
  T* Guarded() const {
    return static_cast<T*>(guarded_);
  }

 private:
  TThreadObject& object_;
  void* guarded_;
};

}  // namespace corvane
