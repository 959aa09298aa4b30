#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "common/exceptions.h"
#include "common/thread_lists.h"

using namespace corvane;
using namespace std::chrono_literals;

namespace {

struct Tracked {
  explicit Tracked(std::atomic<int>& destroyed) : Destroyed(destroyed) {}
  ~Tracked() { ++Destroyed; }
  std::atomic<int>& Destroyed;
};

// Waits until flag is set or about five seconds have passed.
bool WaitFor(const std::atomic<bool>& flag) {
  for (int i = 0; i < 500 && !flag; ++i) std::this_thread::sleep_for(10ms);
  return flag;
}

}  // namespace

TEST(ObjectList, OwnershipDecidesWhatIsDeleted) {
  std::atomic<int> destroyed{0};
  {
    TObjectList<Tracked> list;
    auto* a = new Tracked(destroyed);
    auto* b = new Tracked(destroyed);
    auto* c = new Tracked(destroyed);
    EXPECT_EQ(list.Add(a), 0);
    EXPECT_EQ(list.Add(c), 1);
    list.Insert(1, b);
    EXPECT_EQ(list.IndexOf(b), 1);
    EXPECT_EQ(list[2], c);
    EXPECT_THROW(list.Items(3), EListError);
    EXPECT_THROW(list.Insert(5, a), EListError);

    EXPECT_EQ(list.Extract(a), a);
    EXPECT_EQ(destroyed, 0);
    delete a;
    EXPECT_EQ(list.Remove(b), 0);
    EXPECT_EQ(destroyed, 2);
    EXPECT_EQ(list.Remove(b), -1);
    EXPECT_EQ(list.Count(), 1);
  }
  EXPECT_EQ(destroyed, 3);

  Tracked kept(destroyed);
  {
    TObjectList<Tracked> list(false);
    list.Add(&kept);
    list.Delete(0);
    list.Add(&kept);
  }
  EXPECT_EQ(destroyed, 3);
}

TEST(ThreadObjectList, ConcurrentAddsAreAllKept) {
  std::atomic<int> destroyed{0};
  {
    TThreadObjectList<Tracked> list(true);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&] {
        for (int i = 0; i < 500; ++i) {
          list.LockList().Add(new Tracked(destroyed));
          list.UnlockList();
        }
      });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(list.Count(), 2000);
    // The guarded object of the lockable base is the list itself.
    TObjectList<Tracked>* guarded = &list.LockList();
    EXPECT_EQ(list.LockRead(), guarded);
    list.UnlockRead();
    list.UnlockList();
  }
  EXPECT_EQ(destroyed, 2000);
}

TEST(ThreadPtrUIntObjectHashList, CountUnderReadLockWhileAWriterWaits) {
  std::atomic<int> destroyed{0};
  {
    TThreadPtrUIntObjectHashList<Tracked> clients;
    clients.LockList().Add(1, new Tracked(destroyed));
    clients.UnlockList();

    const auto& readable = clients.LockListRead();
    std::atomic<bool> writerStarted{false};
    std::atomic<bool> writerIn{false};
    std::thread writer([&] {
      writerStarted = true;
      auto& list = clients.LockList();
      writerIn = true;
      list.Add(2, new Tracked(destroyed));
      list.Add(1, new Tracked(destroyed));  // replaces and frees the first
      clients.UnlockList();
    });
    ASSERT_TRUE(WaitFor(writerStarted));
    std::this_thread::sleep_for(50ms);
    // The reader counts (a nested read) while the writer is queued.
    EXPECT_EQ(clients.Count(), 1);
    EXPECT_NE(readable.Get(1), nullptr);
    EXPECT_EQ(readable.Get(2), nullptr);
    EXPECT_FALSE(writerIn);
    clients.UnlockListRead();
    writer.join();

    EXPECT_EQ(clients.Count(), 2);
    EXPECT_EQ(destroyed, 1);
  }
  EXPECT_EQ(destroyed, 3);  // the list owns its objects
}

TEST(StringList, EntriesCarryAnIntegerSlot) {
  TStringList list;
  EXPECT_EQ(list.Add("line"), 0);
  EXPECT_EQ(list.Add("line"), 1);  // unsorted lists keep duplicates
  list.SetObjects(1, 41);
  list.SetObjects(1, list.Objects(1) + 1);
  EXPECT_EQ(list.Objects(1), 42);
  EXPECT_EQ(list.Objects(0), 0);
  list.SetObjects(0, static_cast<intptr_t>(INT32_MAX));
  EXPECT_EQ(list.Objects(0), INT32_MAX);
  list.SetStrings(1, "line x2");
  EXPECT_EQ(list.IndexOf("line x2"), 1);
  list.Insert(0, "first", 7);
  EXPECT_EQ(list.Strings(0), "first");
  EXPECT_EQ(list.Objects(0), 7);
  list.Delete(0);
  EXPECT_EQ(list.Strings(0), "line");
  EXPECT_THROW(list.Strings(2), EListError);
  EXPECT_THROW(list.Delete(-1), EListError);
  EXPECT_EQ(list.IndexOf("absent"), -1);
}

TEST(StringList, SortedListsApplyTheDuplicatesPolicy) {
  TStringList list;
  list.Add("pear");
  list.Add("apple");
  list.Add("pear");
  list.SetSorted(true);
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list.Strings(0), "apple");
  EXPECT_EQ(list.Add("fig"), 1);
  EXPECT_EQ(list.Add("apple"), 0);  // dupIgnore: nothing added
  EXPECT_EQ(list.Count(), 4);
  list.SetDuplicates(TDuplicates::dupError);
  EXPECT_THROW(list.Add("fig"), EListError);
  list.SetDuplicates(TDuplicates::dupAccept);
  list.Add("fig");
  EXPECT_EQ(list.Count(), 5);
  int32_t index = -1;
  EXPECT_FALSE(list.Find("grape", index));
  EXPECT_EQ(index, 3);
  EXPECT_THROW(list.Insert(0, "zzz"), EListError);
  EXPECT_THROW(list.SetStrings(0, "zzz"), EListError);
}

TEST(ThreadStringList, WriterTakesItsLockAgainAndReleasesTwice) {
  TThreadStringList list;
  TStringList& locked = list.LockList();
  locked.Add("one");
  TStringList& again = list.LockList();
  EXPECT_EQ(&again, &locked);
  EXPECT_EQ(list.Count(), 1);  // the writer may read as well
  list.Clear();                 // and nest the write lock once more
  again.Add("two");
  list.UnlockList();

  std::atomic<bool> readerIn{false};
  std::thread reader([&] {
    list.LockListRead();
    readerIn = true;
    list.UnlockListRead();
  });
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(readerIn);  // one release is not enough
  list.UnlockList();
  reader.join();
  EXPECT_TRUE(readerIn);
  EXPECT_EQ(list.Count(), 1);

  EXPECT_THROW(list.UnlockList(), EAssertionFailed);
  EXPECT_THROW(list.UnlockListRead(), EAssertionFailed);
}

TEST(ThreadStringList, ConcurrentWritersAndCounters) {
  TThreadStringList list;
  list.SetDuplicates(TDuplicates::dupAccept);
  EXPECT_EQ(list.LockListRead().Duplicates(), TDuplicates::dupAccept);
  list.UnlockListRead();

  // Each thread bumps the counter of the last line when it repeats, as the
  // log queue does, so lost updates would show in the total.
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 500; ++i) {
        StringListWriteLock lock(list);
        TStringList& lines = lock.List();
        const std::string line = (i % 2 == 0) ? "same" : "thread " + std::to_string(t);
        const int32_t last = lines.Count() - 1;
        if (last >= 0 && lines.Strings(last) == line) {
          lines.SetObjects(last, lines.Objects(last) + 1);
        } else {
          lines.Add(line);
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();

  int64_t total = 0;
  {
    StringListReadLock lock(list);
    for (int32_t i = 0; i < lock.List().Count(); ++i) total += 1 + lock.List().Objects(i);
    EXPECT_EQ(lock.List().Count(), list.Count());
  }
  EXPECT_EQ(total, 2000);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
}
