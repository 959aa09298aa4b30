// TFIFOStream: a fixed-capacity byte queue shared between threads. Bytes
// arriving for one client are appended at the back; the reader consumes from
// the front and shifts out what it used. When a write needs room, the oldest
// bytes are dropped (at least MinShift of them at a time), or, with AutoShift
// off, the write fails with EFIFOStream.
//
// The stored bytes always sit at the front of one buffer allocated at
// construction, oldest first, so a locked reader sees them as one contiguous
// run of DataSize() bytes.
#pragma once

#include <cstdint>
#include <memory>

#include "common/exceptions.h"
#include "common/thread_object.h"

namespace corvane {

class EFIFOStream : public Exception {
 public:
  EFIFOStream() : Exception("Buffer over-run.") {}
};

class TFIFOStream : public TThreadObject {
 public:
  // A negative capacity raises EAssertionFailed; a capacity of 0 makes a
  // stream that never holds a byte.
  TFIFOStream(int32_t capacity, int32_t minShift, bool autoShift);
  ~TFIFOStream() override;

  int32_t Capacity() const { return capacity_; }
  int32_t MinShift() const { return minShift_; }
  bool AutoShift() const { return autoShift_; }

  int32_t DataSize();   // under the shared lock
  int32_t FreeSpace();  // Capacity() - DataSize(), under the shared lock

  void Clear();
  // Drops the n oldest bytes (all of them when n exceeds DataSize()). Does
  // nothing when AutoShift is off, and nothing for n <= 0: a negative count
  // comes straight from scripts and is treated as "drop nothing".
  void Shift(int32_t n);
  // Appends length bytes. With AutoShift on the newest bytes always win;
  // with it off, data that does not fit raises EFIFOStream and nothing is
  // written. A length <= 0 writes nothing.
  void Write(const void* data, int32_t length);

  // The oldest stored byte with the exclusive lock held; release with
  // UnlockWrite(). While held, DataSize() bytes at the pointer are the data.
  uint8_t* LockData();
  // The same with the shared lock held; release with UnlockRead().
  const uint8_t* LockDataForRead();

 private:
  // The callers hold the exclusive lock.
  void ShiftLocked(int32_t n);
  void WriteLocked(const uint8_t* data, int32_t length);

  std::unique_ptr<uint8_t[]> buffer_;
  const int32_t capacity_;
  const int32_t minShift_;
  int32_t count_ = 0;
  const bool autoShift_;
};

}  // namespace corvane
