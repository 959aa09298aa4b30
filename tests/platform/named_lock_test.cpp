#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "platform/guid.h"
#include "platform/named_lock.h"
#include "platform/process.h"
#include "scratch_folder.h"

using namespace corvane::platform;
namespace cvtest = corvane::platform::testing;

namespace {

// Every test uses a lock folder of its own; helpers inherit it. (Windows
// keeps named mutexes in the kernel and has no lock folder.)
class NamedLockTest : public ::testing::Test {
 protected:
  cvtest::ScratchFolder folder_{cvtest::fastTempFolder()};
  cvtest::ScopedEnvironment environment_{"CORVANE_LOCK_DIR", folder_.path() + "/locks"};

  // A name of this test alone: named mutexes are shared by the whole session.
  std::string name(const std::string& base) const { return prefix_ + base; }
  const std::string prefix_ = lockNameFor(guidToString(createGuid())) + "_";
};

// Whether the object gets the lock at once when tried from another thread;
// a lock it gets is released again. A thread that holds a lock through one
// object is given it through every other object of the name, so exclusion
// is tested between threads.
bool freeForAnotherThread(NamedLock& lock) {
  bool got = false;
  std::thread([&] {
    got = lock.tryAcquire();
    if (got) lock.release();
  }).join();
  return got;
}

bool freeForAnotherThread(const std::string& name) {
  NamedLock lock(name);
  return freeForAnotherThread(lock);
}

TEST(LockName, LowerCaseWithOtherCharactersReplaced) {
  EXPECT_EQ(lockNameFor("C:\\Data\\Corvane 5\\Module.INI"), "c__data_corvane_5_module_ini");
  EXPECT_EQ(lockNameFor("/home/u/a-b.ini"), "_home_u_a_b_ini");
  EXPECT_EQ(lockNameFor("\xC3\x89t\xC3\xA9"), "__t__");  // each byte of UTF-8
  EXPECT_EQ(lockNameFor(""), "");
}

TEST_F(NamedLockTest, ObjectsOfOneNameExcludeOtherThreads) {
  NamedLock first(name("settings_ini"));
  NamedLock second(name("settings_ini"));
  first.acquire();
  EXPECT_TRUE(first.held());
  EXPECT_FALSE(second.held());
  EXPECT_FALSE(freeForAnotherThread(second));
  EXPECT_TRUE(freeForAnotherThread(name("other_ini")));
  first.release();
  EXPECT_FALSE(first.held());
  EXPECT_TRUE(freeForAnotherThread(second));
  EXPECT_TRUE(second.tryAcquire());
  EXPECT_FALSE(freeForAnotherThread(first));
  second.release();
}

// The lock belongs to the thread: nested uses of one name through several
// objects go through at once, and the lock stays held until the last of them
// is released, whichever object that is.
TEST_F(NamedLockTest, HoldingThreadGetsInThroughEveryObject) {
  NamedLock outer(name("nested_ini"));
  NamedLock inner(name("nested_ini"));
  NamedLock third(name("nested_ini"));
  outer.acquire();
  EXPECT_TRUE(inner.tryAcquire());
  third.acquire(3);
  EXPECT_TRUE(inner.held());
  outer.release();  // out of order
  EXPECT_FALSE(outer.held());
  EXPECT_THROW(outer.release(), std::logic_error);
  EXPECT_FALSE(freeForAnotherThread(outer));
  inner.release();
  EXPECT_FALSE(freeForAnotherThread(name("nested_ini")));
  EXPECT_EQ(ChildProcess(cvtest::helperPath("named_lock_holder"), {"try", name("nested_ini")})
                .wait(30000),
            3);
  third.release();
  EXPECT_TRUE(freeForAnotherThread(outer));
  EXPECT_EQ(ChildProcess(cvtest::helperPath("named_lock_holder"), {"try", name("nested_ini")})
                .wait(30000),
            0);
}

// A thread waiting in acquire() is let in when the holder's last acquisition
// through any object ends, not before.
TEST_F(NamedLockTest, WaitingThreadGetsInAfterTheLastRelease) {
  NamedLock first(name("handover"));
  NamedLock second(name("handover"));
  first.acquire();
  second.acquire();
  std::atomic<bool> inside{false};
  std::thread waiter([&] {
    NamedLock own(name("handover"));
    own.acquire();
    inside = true;
    own.release();
  });
  first.release();
  // Not a measurement: the waiter had time to get in wrongly before this.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(inside);
  second.release();
  waiter.join();
  EXPECT_TRUE(inside);
}

TEST_F(NamedLockTest, HolderMayAcquireAgainAndReleasesAsOften) {
  NamedLock lock(name("nested"));
  lock.acquire();
  EXPECT_TRUE(lock.tryAcquire());
  lock.acquire(10);
  lock.release();
  lock.release();
  EXPECT_TRUE(lock.held());
  EXPECT_FALSE(freeForAnotherThread(name("nested")));
  lock.release();
  EXPECT_FALSE(lock.held());
  EXPECT_THROW(lock.release(), std::logic_error);
  EXPECT_TRUE(freeForAnotherThread(name("nested")));

  // Another thread sharing the object neither holds it nor may release it.
  lock.acquire();
  std::thread([&] {
    EXPECT_FALSE(lock.held());
    EXPECT_FALSE(lock.tryAcquire());
    EXPECT_THROW(lock.release(), std::logic_error);
  }).join();
  EXPECT_TRUE(lock.held());
  lock.release();
}

TEST_F(NamedLockTest, DestroyingAHeldLockFreesIt) {
  auto lock = std::make_unique<NamedLock>(name("dropped"));
  lock->acquire();
  lock->acquire();
  EXPECT_FALSE(freeForAnotherThread(name("dropped")));
  lock.reset();
  EXPECT_TRUE(freeForAnotherThread(name("dropped")));
}

TEST_F(NamedLockTest, ThreadsWithOwnOrSharedObjectsNeverOverlap) {
  NamedLock shared(name("threads"));
  std::atomic<int> inside{0};
  std::atomic<bool> overlapped{false};
  int counter = 0;  // guarded by the lock alone
  auto work = [&](NamedLock& lock) {
    for (int i = 0; i < 300; ++i) {
      lock.acquire(i % 2 == 0 ? 4000 : 0);
      if (inside.fetch_add(1) != 0) overlapped = true;
      ++counter;
      std::this_thread::yield();
      inside.fetch_sub(1);
      lock.release();
    }
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&] {
      NamedLock own(name("threads"));
      work(own);
    });
  }
  for (int t = 0; t < 2; ++t) threads.emplace_back([&] { work(shared); });
  for (auto& thread : threads) thread.join();
  EXPECT_FALSE(overlapped);
  EXPECT_EQ(counter, 5 * 300);
}

TEST_F(NamedLockTest, ExcludesOtherProcesses) {
  const std::string holder = cvtest::helperPath("named_lock_holder");
  NamedLock lock(name("across_processes"));
  lock.acquire();
  EXPECT_EQ(ChildProcess(holder, {"try", name("across_processes")}).wait(30000), 3);
  EXPECT_EQ(ChildProcess(holder, {"try", name("another_name")}).wait(30000), 0);
  lock.release();
  EXPECT_EQ(ChildProcess(holder, {"try", name("across_processes")}).wait(30000), 0);
}

TEST_F(NamedLockTest, ProcessesTakeTurns) {
  const std::string holder = cvtest::helperPath("named_lock_holder");
  const std::string log = folder_ / "log.txt";
  const std::string gate = folder_ / "go";
  constexpr int kRounds = 50;
  ChildProcess first(holder, {"append", name("turns"), log, std::to_string(kRounds), "A", gate});
  ChildProcess second(holder, {"append", name("turns"), log, std::to_string(kRounds), "B", gate});
  std::ofstream{gate};
  ASSERT_EQ(first.wait(60000), 0);
  ASSERT_EQ(second.wait(60000), 0);

  std::ifstream file(log);
  std::string begin;
  std::string end;
  int pairs = 0;
  while (std::getline(file, begin)) {
    ASSERT_TRUE(std::getline(file, end));
    ASSERT_EQ(begin.substr(1), " begin");
    ASSERT_EQ(end, begin.substr(0, 2) + "end");
    ++pairs;
  }
  EXPECT_EQ(pairs, 2 * kRounds);
}

TEST_F(NamedLockTest, AnyNameStaysInTheLockFolder) {
  const std::string longName(1000, 'a');
  NamedLock first(name(longName));
  ASSERT_TRUE(first.tryAcquire());
  EXPECT_FALSE(freeForAnotherThread(name(longName)));
  EXPECT_TRUE(freeForAnotherThread(name(longName.substr(0, 999) + "b")));  // differs past the cut
  first.release();

  // Characters outside the name rule are kept apart from those inside it and
  // never reach another folder or namespace.
  NamedLock escaping(name("../escaped"));
  ASSERT_TRUE(escaping.tryAcquire());
  EXPECT_TRUE(freeForAnotherThread(name("___escaped")));
  EXPECT_TRUE(freeForAnotherThread(name("..\\escaped")));
  escaping.release();
  NamedLock plain(name("escaped"));
  ASSERT_TRUE(plain.tryAcquire());
  EXPECT_TRUE(freeForAnotherThread(name("ESCAPED")));
  EXPECT_TRUE(freeForAnotherThread("Local\\" + name("escaped")));
  EXPECT_TRUE(freeForAnotherThread("Global\\" + name("escaped")));
  plain.release();
  for (const auto& entry : std::filesystem::directory_iterator(folder_.path()))
    EXPECT_EQ(entry.path().filename(), "locks");
}

}  // namespace
