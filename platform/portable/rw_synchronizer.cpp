// The multi-reader / single-writer lock, in portable C++. Per-thread read
// depths are kept so that nested reads never wait for a queued writer (which
// would deadlock against the reader's own outer lock) and so that a reader
// that asks to write can set its reads aside instead of waiting for itself.
#include <algorithm>
#include <stdexcept>

#include "platform/sync.h"
#include "platform/thread.h"

namespace corvane::platform {

MultiReadExclusiveWriteSynchronizer::ReaderSlot* MultiReadExclusiveWriteSynchronizer::findReader(
    uint32_t thread) {
  for (auto& slot : readers_) {
    if (slot.thread == thread) return &slot;
  }
  return nullptr;
}

void MultiReadExclusiveWriteSynchronizer::dropEmptySlot(uint32_t thread) {
  std::erase_if(readers_, [thread](const ReaderSlot& slot) { return slot.thread == thread && slot.depth == 0; });
}

bool MultiReadExclusiveWriteSynchronizer::otherReaders(uint32_t thread) const {
  return std::any_of(readers_.begin(), readers_.end(),
                     [thread](const ReaderSlot& slot) { return slot.thread != thread && slot.depth > 0; });
}

void MultiReadExclusiveWriteSynchronizer::beginRead() {
  const uint32_t self = currentThreadId();
  std::unique_lock lock(mutex_);
  if (ReaderSlot* slot = findReader(self); slot != nullptr && (slot->depth > 0 || writer_ == self)) {
    ++slot->depth;
    return;
  }
  if (writer_ != self) {
    changed_.wait(lock, [this] { return writer_ == 0 && waitingWriters_ == 0; });
  }
  readers_.push_back({self, 1});
}

void MultiReadExclusiveWriteSynchronizer::endRead() {
  const uint32_t self = currentThreadId();
  std::unique_lock lock(mutex_);
  ReaderSlot* slot = findReader(self);
  if (slot == nullptr || slot->depth == 0) {
    throw std::logic_error("endRead without a read lock");
  }
  if (--slot->depth == 0 && writer_ != self) {
    dropEmptySlot(self);
    lock.unlock();
    changed_.notify_all();
  }
}

bool MultiReadExclusiveWriteSynchronizer::beginWrite() {
  const uint32_t self = currentThreadId();
  std::unique_lock lock(mutex_);
  if (writer_ == self) {
    ++writeDepth_;
    return true;
  }
  int32_t setAside = 0;
  if (ReaderSlot* slot = findReader(self); slot != nullptr) {
    setAside = slot->depth;
    slot->depth = 0;
    dropEmptySlot(self);
    changed_.notify_all();  // another writer may have been waiting for this reader
  }
  const uint32_t generationAtRequest = writeGeneration_;
  ++waitingWriters_;
  changed_.wait(lock, [this, self] { return writer_ == 0 && !otherReaders(self); });
  --waitingWriters_;
  writer_ = self;
  writeDepth_ = 1;
  writerSavedReads_ = setAside;
  ++writeGeneration_;
  return setAside == 0 || writeGeneration_ == generationAtRequest + 1;
}

void MultiReadExclusiveWriteSynchronizer::endWrite() {
  const uint32_t self = currentThreadId();
  std::unique_lock lock(mutex_);
  if (writer_ != self) throw std::logic_error("endWrite without the write lock");
  if (--writeDepth_ > 0) return;
  writer_ = 0;
  if (writerSavedReads_ > 0) {
    if (ReaderSlot* slot = findReader(self); slot != nullptr) {
      slot->depth += writerSavedReads_;
    } else {
      readers_.push_back({self, writerSavedReads_});
    }
    writerSavedReads_ = 0;
  }
  dropEmptySlot(self);
  lock.unlock();
  changed_.notify_all();
}

bool MultiReadExclusiveWriteSynchronizer::isWriter() const {
  const uint32_t self = currentThreadId();
  std::lock_guard lock(mutex_);
  return writer_ == self;
}

}  // namespace corvane::platform
