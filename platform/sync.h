// Synchronisation primitives, portable C++ on every backend. CriticalSection
// is re-entrant for its owner, as a Windows critical section is.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/abi.h"

namespace corvane::platform {

class CriticalSection {
 public:
  CriticalSection() = default;
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  void enter() { mutex_.lock(); }
  bool tryEnter() { return mutex_.try_lock(); }
  void leave() { mutex_.unlock(); }

  // BasicLockable, so std::lock_guard / std::unique_lock work.
  void lock() { enter(); }
  void unlock() { leave(); }

 private:
  std::recursive_mutex mutex_;
};

// Any number of readers or one writer. The writer may take the write lock
// again and must release it as often; it may also take read locks. A reader
// may take further read locks even while a writer waits, and may ask for the
// write lock: its read locks are then set aside until its last write unlock,
// so two readers that both ask to write cannot deadlock (which is why
// beginWrite tells whether another writer got in first).
class CV_PLATFORM_API MultiReadExclusiveWriteSynchronizer {
 public:
  MultiReadExclusiveWriteSynchronizer() = default;
  MultiReadExclusiveWriteSynchronizer(const MultiReadExclusiveWriteSynchronizer&) = delete;
  MultiReadExclusiveWriteSynchronizer& operator=(const MultiReadExclusiveWriteSynchronizer&) = delete;

  void beginRead();
  void endRead();
  // True when no other writer held the lock between the caller's request and
  // its grant (always true when the caller held no read lock).
  bool beginWrite();
  // Throws std::logic_error when the calling thread does not hold the lock.
  void endWrite();

  bool isWriter() const;  // the calling thread holds the write lock

 private:
  struct ReaderSlot {
    uint32_t thread;
    int32_t depth;
  };
  ReaderSlot* findReader(uint32_t thread);
  void dropEmptySlot(uint32_t thread);
  bool otherReaders(uint32_t thread) const;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<ReaderSlot> readers_;  // threads holding read locks, with their depth
  uint32_t writer_ = 0;              // thread id of the writer, 0 when none
  int32_t writeDepth_ = 0;
  int32_t writerSavedReads_ = 0;     // read depth the writer set aside to write
  int32_t waitingWriters_ = 0;
  uint32_t writeGeneration_ = 0;     // bumped at every write grant
};

}  // namespace corvane::platform
