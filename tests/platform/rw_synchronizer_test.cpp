#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "platform/sync.h"

using corvane::platform::MultiReadExclusiveWriteSynchronizer;
using namespace std::chrono_literals;

namespace {

// Waits until the condition holds or a generous limit passes.
template <class Condition>
bool eventually(Condition condition) {
  for (int i = 0; i < 2000; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(1ms);
  }
  return condition();
}

}  // namespace

TEST(RwSynchronizer, WriterNestsWriteAndReadLocks) {
  MultiReadExclusiveWriteSynchronizer lock;
  EXPECT_TRUE(lock.beginWrite());
  EXPECT_TRUE(lock.beginWrite());
  lock.beginRead();
  lock.endRead();
  lock.endWrite();
  EXPECT_TRUE(lock.isWriter());
  lock.endWrite();
  EXPECT_FALSE(lock.isWriter());
}

TEST(RwSynchronizer, ReleasingWithoutHoldingIsRefused) {
  MultiReadExclusiveWriteSynchronizer lock;
  EXPECT_THROW(lock.endWrite(), std::logic_error);
  EXPECT_THROW(lock.endRead(), std::logic_error);
  lock.beginWrite();
  std::thread other([&] { EXPECT_THROW(lock.endWrite(), std::logic_error); });
  other.join();
  lock.endWrite();
}

TEST(RwSynchronizer, ReadersShareAndWaitForWriter) {
  MultiReadExclusiveWriteSynchronizer lock;
  lock.beginRead();
  std::atomic<bool> secondReaderIn{false};
  std::thread reader([&] {
    lock.beginRead();
    secondReaderIn = true;
    lock.endRead();
  });
  reader.join();
  EXPECT_TRUE(secondReaderIn);
  lock.endRead();

  lock.beginWrite();
  std::atomic<bool> blockedReaderIn{false};
  std::thread blocked([&] {
    lock.beginRead();
    blockedReaderIn = true;
    lock.endRead();
  });
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(blockedReaderIn) << "a reader got in while the writer held the lock";
  lock.endWrite();
  blocked.join();
  EXPECT_TRUE(blockedReaderIn);
}

TEST(RwSynchronizer, NestedReadDoesNotWaitForQueuedWriter) {
  MultiReadExclusiveWriteSynchronizer lock;
  lock.beginRead();
  std::atomic<bool> writerIn{false};
  std::thread writer([&] {
    lock.beginWrite();
    writerIn = true;
    lock.endWrite();
  });
  std::this_thread::sleep_for(30ms);  // the writer is queued now
  lock.beginRead();                   // must not deadlock
  lock.endRead();
  EXPECT_FALSE(writerIn);
  lock.endRead();
  writer.join();
  EXPECT_TRUE(writerIn);
}

TEST(RwSynchronizer, QueuedWriterHoldsBackNewReaders) {
  MultiReadExclusiveWriteSynchronizer lock;
  lock.beginRead();
  std::atomic<int> order{0};
  std::atomic<int> writerTurn{0}, readerTurn{0};
  std::thread writer([&] {
    lock.beginWrite();
    writerTurn = ++order;
    lock.endWrite();
  });
  std::this_thread::sleep_for(30ms);
  std::thread reader([&] {
    lock.beginRead();
    readerTurn = ++order;
    lock.endRead();
  });
  std::this_thread::sleep_for(30ms);
  lock.endRead();
  writer.join();
  reader.join();
  EXPECT_EQ(writerTurn, 1);
  EXPECT_EQ(readerTurn, 2);
}

TEST(RwSynchronizer, ReaderMayAskToWrite) {
  MultiReadExclusiveWriteSynchronizer lock;
  lock.beginRead();
  EXPECT_TRUE(lock.beginWrite());
  EXPECT_TRUE(lock.isWriter());
  lock.endWrite();
  // The read lock set aside is held again: a writer from elsewhere waits.
  std::atomic<bool> writerIn{false};
  std::thread writer([&] {
    lock.beginWrite();
    writerIn = true;
    lock.endWrite();
  });
  std::this_thread::sleep_for(30ms);
  EXPECT_FALSE(writerIn);
  lock.endRead();
  writer.join();
  EXPECT_TRUE(writerIn);
}

TEST(RwSynchronizer, TwoReadersAskingToWriteDoNotDeadlock) {
  MultiReadExclusiveWriteSynchronizer lock;
  std::atomic<int> bothReading{0};
  std::atomic<int> writes{0};
  std::atomic<int> interrupted{0};
  auto body = [&] {
    lock.beginRead();
    ++bothReading;
    while (bothReading < 2) std::this_thread::yield();
    if (!lock.beginWrite()) ++interrupted;
    ++writes;
    lock.endWrite();
    lock.endRead();
  };
  std::thread a(body), b(body);
  a.join();
  b.join();
  EXPECT_EQ(writes, 2);
  EXPECT_EQ(interrupted, 1) << "the second writer must learn that the first got in between";
}

TEST(RwSynchronizer, WritersExcludeEachOtherUnderLoad) {
  MultiReadExclusiveWriteSynchronizer lock;
  int shared = 0;  // guarded by lock
  std::atomic<bool> readerSawTorn{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 5000; ++i) {
        lock.beginWrite();
        lock.beginWrite();  // nested
        int before = shared;
        shared = before + 1;
        lock.endWrite();
        lock.endWrite();
      }
    });
  }
  threads.emplace_back([&] {
    for (int i = 0; i < 5000; ++i) {
      lock.beginRead();
      int a = shared;
      int b = shared;
      if (a != b) readerSawTorn = true;
      lock.endRead();
    }
  });
  for (auto& t : threads) t.join();
  EXPECT_EQ(shared, 20000);
  EXPECT_FALSE(readerSawTorn);
  EXPECT_TRUE(eventually([&] { return !lock.isWriter(); }));
}
