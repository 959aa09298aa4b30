#include "common/fifo_stream.h"

#include <algorithm>
#include <cstring>

namespace corvane {

TFIFOStream::TFIFOStream(int32_t capacity, int32_t minShift, bool autoShift)
    : capacity_(capacity), minShift_(minShift), autoShift_(autoShift) {
  Assert(capacity >= 0, "Negative FIFO capacity", "Public\\Common\\kivFIFOStream", __LINE__);
  // Not zeroed: only bytes written are ever read, and the untouched pages of
  // a buffer that never fills cost no memory.
  buffer_ = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(capacity));
  SetGuarded(buffer_.get());
}

TFIFOStream::~TFIFOStream() {
  // Wait for a thread still inside an operation before the buffer goes.
  WriteLock lock(*this);
  buffer_.reset();
}

int32_t TFIFOStream::DataSize() {
  ReadLock lock(*this);
  return count_;
}

int32_t TFIFOStream::FreeSpace() {
  ReadLock lock(*this);
  return capacity_ - count_;
}

void TFIFOStream::Clear() {
  WriteLock lock(*this);
  count_ = 0;
}

void TFIFOStream::Shift(int32_t n) {
  if (!autoShift_ || n <= 0) return;
  WriteLock lock(*this);
  ShiftLocked(n);
}

void TFIFOStream::ShiftLocked(int32_t n) {
  n = std::min(n, count_);
  const int32_t remaining = count_ - n;
  std::memmove(buffer_.get(), buffer_.get() + n, static_cast<size_t>(remaining));
  count_ = remaining;
}

void TFIFOStream::Write(const void* data, int32_t length) {
  if (length <= 0) return;
  WriteLock lock(*this);
  WriteLocked(static_cast<const uint8_t*>(data), length);
}

void TFIFOStream::WriteLocked(const uint8_t* data, int32_t length) {
  // Data longer than the room left after shifting goes in several rounds:
  // each round drops old bytes (at least MinShift), then fills what it can.
  // With AutoShift off the first round either fits everything or raises
  // before anything changed.
  while (length > 0) {
    const int32_t freeSpace = capacity_ - count_;
    if (freeSpace < length) {
      if (!autoShift_) throw EFIFOStream();
      ShiftLocked(std::max(length - freeSpace, minShift_));
    }
    const int32_t chunk = std::min(length, capacity_ - count_);
    // Only a zero-capacity stream has no room after shifting; without this
    // exit its write would never end.
    if (chunk == 0) return;
    std::memcpy(buffer_.get() + count_, data, static_cast<size_t>(chunk));
    count_ += chunk;
    data += chunk;
    length -= chunk;
  }
}

uint8_t* TFIFOStream::LockData() { return static_cast<uint8_t*>(LockWrite()); }

const uint8_t* TFIFOStream::LockDataForRead() { return static_cast<const uint8_t*>(LockRead()); }

}  // namespace corvane
