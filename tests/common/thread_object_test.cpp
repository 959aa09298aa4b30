#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "common/exceptions.h"
#include "common/thread_object.h"

using namespace corvane;
using namespace std::chrono_literals;

TEST(ThreadObject, GuardsItselfUnlessTold) {
  TThreadObject self;
  EXPECT_EQ(self.LockRead(), &self);
  self.UnlockRead();
  int payload = 0;
  TThreadObject guard(&payload);
  EXPECT_EQ(guard.LockWrite(), &payload);
  guard.UnlockWrite();
}

TEST(ThreadObject, WriterReentersItsLock) {
  TThreadObject object;
  object.LockWrite();
  object.LockWrite();
  object.LockRead();
  object.UnlockRead();
  object.UnlockWrite();
  object.UnlockWrite();
  EXPECT_THROW(object.UnlockWrite(), EAssertionFailed);
}

TEST(ThreadObject, UnlockWriteFromAnotherThreadIsAnAssertionFailure) {
  TThreadObject object;
  object.LockWrite();
  std::thread other([&] { EXPECT_THROW(object.UnlockWrite(), EAssertionFailed); });
  other.join();
  object.UnlockWrite();
}

TEST(ThreadObject, ReadersWaitForWriter) {
  TThreadObject object;
  object.LockWrite();
  std::atomic<bool> readerIn{false};
  std::thread reader([&] {
    object.LockRead();
    readerIn = true;
    object.UnlockRead();
  });
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(readerIn);
  object.UnlockWrite();
  reader.join();
  EXPECT_TRUE(readerIn);
}

TEST(ThreadObject, ConcurrentFirstLocksMakeOneSynchronizer) {
  // Many threads race for the lazily made synchronizer; if two were made the
  // counter below would lose increments.
  for (int round = 0; round < 20; ++round) {
    TThreadObject object;
    int counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&] {
        for (int i = 0; i < 200; ++i) {
          object.LockWrite();
          ++counter;
          object.UnlockWrite();
        }
      });
    }
    for (auto& t : threads) t.join();
    ASSERT_EQ(counter, 800);
  }
}
