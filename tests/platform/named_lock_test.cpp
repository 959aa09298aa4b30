#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "platform/named_lock.h"
#include "platform/process.h"
#include "scratch_folder.h"

using namespace corvane::platform;
namespace cvtest = corvane::platform::testing;

namespace {

// Every test uses a lock folder of its own; helpers inherit it.
class NamedLockTest : public ::testing::Test {
 protected:
  cvtest::ScratchFolder folder_{cvtest::fastTempFolder()};
  cvtest::ScopedEnvironment environment_{"CORVANE_LOCK_DIR", folder_.path() + "/locks"};
};

TEST(LockName, LowerCaseWithOtherCharactersReplaced) {
  EXPECT_EQ(lockNameFor("C:\\Data\\Corvane 5\\Module.INI"), "c__data_corvane_5_module_ini");
  EXPECT_EQ(lockNameFor("/home/u/a-b.ini"), "_home_u_a_b_ini");
  EXPECT_EQ(lockNameFor("\xC3\x89t\xC3\xA9"), "__t__");  // each byte of UTF-8
  EXPECT_EQ(lockNameFor(""), "");
}

TEST_F(NamedLockTest, ObjectsOfOneNameExcludeEachOther) {
  NamedLock first("settings_ini");
  NamedLock second("settings_ini");
  NamedLock other("other_ini");
  first.acquire();
  EXPECT_TRUE(first.held());
  EXPECT_FALSE(second.tryAcquire());
  EXPECT_FALSE(second.held());
  EXPECT_TRUE(other.tryAcquire());
  first.release();
  EXPECT_FALSE(first.held());
  EXPECT_TRUE(second.tryAcquire());
  second.release();
  other.release();
}

TEST_F(NamedLockTest, HolderMayAcquireAgainAndReleasesAsOften) {
  NamedLock lock("nested");
  NamedLock rival("nested");
  lock.acquire();
  EXPECT_TRUE(lock.tryAcquire());
  lock.release();
  EXPECT_FALSE(rival.tryAcquire());
  lock.release();
  EXPECT_THROW(lock.release(), std::logic_error);
  EXPECT_TRUE(rival.tryAcquire());
  rival.release();

  // Another thread sharing the object neither holds it nor may release it.
  lock.acquire();
  std::thread([&] {
    EXPECT_FALSE(lock.held());
    EXPECT_FALSE(lock.tryAcquire());
    EXPECT_THROW(lock.release(), std::logic_error);
  }).join();
  lock.release();
}

TEST_F(NamedLockTest, DestroyingAHeldLockFreesIt) {
  auto lock = std::make_unique<NamedLock>("dropped");
  lock->acquire();
  lock.reset();
  NamedLock next("dropped");
  EXPECT_TRUE(next.tryAcquire());
  next.release();
}

TEST_F(NamedLockTest, ThreadsWithOwnOrSharedObjectsNeverOverlap) {
  NamedLock shared("threads");
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
      NamedLock own("threads");
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
  NamedLock lock("across_processes");
  lock.acquire();
  EXPECT_EQ(ChildProcess(holder, {"try", "across_processes"}).wait(30000), 3);
  EXPECT_EQ(ChildProcess(holder, {"try", "another_name"}).wait(30000), 0);
  lock.release();
  EXPECT_EQ(ChildProcess(holder, {"try", "across_processes"}).wait(30000), 0);
}

TEST_F(NamedLockTest, ProcessesTakeTurns) {
  const std::string holder = cvtest::helperPath("named_lock_holder");
  const std::string log = folder_ / "log.txt";
  const std::string gate = folder_ / "go";
  constexpr int kRounds = 50;
  ChildProcess first(holder, {"append", "turns", log, std::to_string(kRounds), "A", gate});
  ChildProcess second(holder, {"append", "turns", log, std::to_string(kRounds), "B", gate});
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
  NamedLock first(longName);
  NamedLock second(longName.substr(0, 999) + "b");  // differs only past the cut
  EXPECT_TRUE(first.tryAcquire());
  EXPECT_TRUE(second.tryAcquire());
  first.release();
  second.release();

  NamedLock escaping("../escaped");
  EXPECT_TRUE(escaping.tryAcquire());
  escaping.release();
  for (const auto& entry : std::filesystem::directory_iterator(folder_.path()))
    EXPECT_EQ(entry.path().filename(), "locks");
}

}  // namespace
