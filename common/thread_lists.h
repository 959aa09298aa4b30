// Lists shared between threads, each guarded by a multi-reader /
// single-writer lock. Callers take the write lock for any change (and for
// reads that a change will follow), the read lock for counting and lookups.
#pragma once

#include <cstdint>
#include <utility>

#include "common/hash_list.h"
#include "common/object_list.h"
#include "common/string_list.h"
#include "common/thread_object.h"
#include "platform/sync.h"

namespace corvane {

// A list guarded by the lockable base: the write lock for changes, the read
// lock for counting and look-ups.
template <typename List>
class TThreadGuardedList : public TThreadObject {
 public:
  template <typename... Args>
  explicit TThreadGuardedList(Args&&... args) : TThreadObject(&list_), list_(std::forward<Args>(args)...) {}

  // The write lock, released with UnlockList().
  List& LockList() {
    LockWrite();
    return list_;
  }
  void UnlockList() { UnlockWrite(); }
  // The read lock, released with UnlockListRead(). The list is const, the
  // objects it holds are not.
  const List& LockListRead() {
    LockRead();
    return list_;
  }
  void UnlockListRead() { UnlockRead(); }

  int32_t Count() {
    ReadLock lock(*this);
    return list_.Count();
  }

 private:
  List list_;
};

// An object list, owning its objects unless told otherwise.
template <typename T>
class TThreadObjectList : public TThreadGuardedList<TObjectList<T>> {
 public:
  explicit TThreadObjectList(bool ownsObjects = true) : TThreadGuardedList<TObjectList<T>>(ownsObjects) {}
};

// Owns its objects; reading a missing key gives nullptr.
template <typename T>
class TThreadPtrUIntObjectHashList : public TThreadGuardedList<TkivPtrUIntObjectHashList<T>> {};

// A string list with its own lock (not a TThreadObject). The write lock is
// re-entrant for its holder, who may also take read locks. Unsorted; its
// duplicates policy starts as dupIgnore.
class TThreadStringList {
 public:
  TThreadStringList() = default;
  TThreadStringList(const TThreadStringList&) = delete;
  TThreadStringList& operator=(const TThreadStringList&) = delete;
  virtual ~TThreadStringList() = default;

  TStringList& LockList();
  // Raises EAssertionFailed when the calling thread does not hold the lock.
  void UnlockList();
  const TStringList& LockListRead();
  // Raises EAssertionFailed when the calling thread holds no read lock.
  void UnlockListRead();

  void Clear();
  void SetDuplicates(TDuplicates duplicates);
  int32_t Count();

 private:
  TStringList list_;
  platform::MultiReadExclusiveWriteSynchronizer lock_;
};

// Scoped locks of a guarded list (TThreadGuardedList, TThreadStringList):
// the write lock with the list, or the read lock with the const list.
template <typename Owner>
class ListWriteLock {
 public:
  explicit ListWriteLock(Owner& owner) : owner_(owner), list_(owner.LockList()) {}
  ListWriteLock(const ListWriteLock&) = delete;
  ListWriteLock& operator=(const ListWriteLock&) = delete;
  ~ListWriteLock() { owner_.UnlockList(); }

  auto& List() const { return list_; }

 private:
  Owner& owner_;
  decltype(std::declval<Owner&>().LockList()) list_;
};

template <typename Owner>
class ListReadLock {
 public:
  explicit ListReadLock(Owner& owner) : owner_(owner), list_(owner.LockListRead()) {}
  ListReadLock(const ListReadLock&) = delete;
  ListReadLock& operator=(const ListReadLock&) = delete;
  ~ListReadLock() { owner_.UnlockListRead(); }

  auto& List() const { return list_; }

 private:
  Owner& owner_;
  decltype(std::declval<Owner&>().LockListRead()) list_;
};

using StringListWriteLock = ListWriteLock<TThreadStringList>;
using StringListReadLock = ListReadLock<TThreadStringList>;

}  // namespace corvane
