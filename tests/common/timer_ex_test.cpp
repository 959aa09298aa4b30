// The thread-bound timer: when it runs, where its handler runs, and freeing
// it from another thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "common/timer_ex.h"
#include "platform/diagnostics.h"
#include "platform/message_window.h"
#include "platform/thread.h"

namespace corvane {
namespace {

using namespace std::chrono_literals;

// Pumps the calling thread's messages until the condition holds or the
// safety limit passes.
template <class Condition>
bool pumpUntil(Condition condition, std::chrono::milliseconds limit = 3000ms) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    platform::waitMessage(10);
    platform::pumpMessages();
  }
  return true;
}

void pumpFor(std::chrono::milliseconds duration) {
  pumpUntil([] { return false; }, duration);
}

TEST(TimerEx, RunsOnlyWithAnIntervalAHandlerAndEnabled) {
  TkivTimerEx timer;
  EXPECT_TRUE(timer.Enabled());
  EXPECT_EQ(timer.Interval(), 1000u);
  EXPECT_EQ(timer.OwnerThread(), platform::currentThreadId());
  int ticks = 0;
  uint32_t thread = 0;
  timer.SetInterval(0);
  timer.SetOnTimer([&](TkivTimerEx& sender) {
    EXPECT_EQ(&sender, &timer);
    thread = platform::currentThreadId();
    ++ticks;
  });
  pumpFor(60ms);
  EXPECT_EQ(ticks, 0) << "interval 0 stops the timer";
  timer.SetInterval(10);
  EXPECT_TRUE(pumpUntil([&] { return ticks >= 2; }));
  EXPECT_EQ(thread, platform::currentThreadId());
  timer.SetEnabled(false);
  const int stopped = ticks;
  pumpFor(60ms);
  EXPECT_EQ(ticks, stopped);
  timer.SetOnTimer(nullptr);
  timer.SetEnabled(true);
  pumpFor(60ms);
  EXPECT_EQ(ticks, stopped) << "no handler, no timer";
}

TEST(TimerEx, AFailingHandlerIsShownAndTheTimerGoesOn) {
  std::vector<std::string> boxes;
  platform::setMessageBoxHook([&](std::string_view text, std::string_view caption, uint32_t) {
    boxes.push_back(std::string(caption) + ": " + std::string(text));
    return platform::kIdOk;
  });
  TkivTimerEx timer;
  int ticks = 0;
  timer.SetInterval(10);
  timer.SetOnTimer([&](TkivTimerEx&) {
    if (++ticks == 1) throw std::runtime_error("tick failed");
  });
  EXPECT_TRUE(pumpUntil([&] { return ticks >= 3; }));
  platform::setMessageBoxHook(nullptr);
  ASSERT_FALSE(boxes.empty());
  EXPECT_EQ(boxes.front(), "Application Error: tick failed");
}

TEST(TimerEx, EnablingFromAnotherThreadTakesEffectWhenTheOwnerPumps) {
  TkivTimerEx timer;
  int ticks = 0;
  timer.SetInterval(10);
  timer.SetOnTimer([&](TkivTimerEx&) { ++ticks; });
  std::thread([&] { timer.SetEnabled(false); }).join();
  EXPECT_TRUE(timer.Enabled()) << "not before the owner pumps";
  EXPECT_TRUE(pumpUntil([&] { return !timer.Enabled(); }));
  const int stopped = ticks;
  pumpFor(50ms);
  EXPECT_EQ(ticks, stopped);
  std::thread([&] { timer.SetEnabled(true); }).join();
  EXPECT_TRUE(pumpUntil([&] { return ticks > stopped; }));
}

// The owner thread makes a timer, lets it tick, then stops pumping; the
// timer is freed from another thread.
class BlockedOwner {
 public:
  BlockedOwner() {
    owner_ = std::thread([this] {
      timer = std::make_unique<TkivTimerEx>();
      timer->SetInterval(10);
      timer->SetOnTimer([this](TkivTimerEx&) { ++ticks; });
      pumpUntil([this] { return ticks > 0; });
      {
        std::unique_lock lock(mutex_);
        ticking_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return resume_; });
      }
      pumpFor(150ms);  // late ticks and requests, after the timer is gone
    });
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return ticking_; });
  }
  ~BlockedOwner() {
    Resume();
    owner_.join();
  }
  void Resume() {
    std::lock_guard lock(mutex_);
    resume_ = true;
    changed_.notify_all();
  }

  std::unique_ptr<TkivTimerEx> timer;
  std::atomic<int> ticks{0};

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool ticking_ = false;
  bool resume_ = false;
  std::thread owner_;
};

TEST(TimerEx, FreedFromAnotherThreadWhileTheOwnerIsBlockedItWaitsTwiceAtMostAndNeverRunsAgain) {
  TkivTimerEx::SetWaitLimitForTesting(150);
  {
    BlockedOwner owner;
    std::this_thread::sleep_for(50ms);  // ticks pile up in the owner's queue
    const auto start = std::chrono::steady_clock::now();
    owner.timer.reset();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, 280ms) << "two waits for the owner";
    EXPECT_LT(elapsed, 2000ms);
    const int atFree = owner.ticks;
    owner.Resume();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(owner.ticks, atFree);
  }
  TkivTimerEx::SetWaitLimitForTesting(5000);
}

TEST(TimerEx, FreedFromAnotherThreadWhileTheOwnerPumpsItIsGoneAtOnce) {
  std::unique_ptr<TkivTimerEx> timer;
  std::atomic<int> ticks{0};
  std::atomic<bool> ready{false}, stop{false};
  std::thread owner([&] {
    timer = std::make_unique<TkivTimerEx>();
    timer->SetInterval(10);
    timer->SetOnTimer([&](TkivTimerEx&) { ++ticks; });
    ready = true;
    pumpUntil([&] { return stop.load(); });
  });
  while (!ready || ticks == 0) std::this_thread::sleep_for(5ms);
  const auto start = std::chrono::steady_clock::now();
  TkivTimerEx::FreeTimer(timer);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1000ms);
  EXPECT_EQ(timer, nullptr);
  const int atFree = ticks;
  std::this_thread::sleep_for(60ms);
  stop = true;
  owner.join();
  EXPECT_EQ(ticks, atFree);
}

}  // namespace
}  // namespace corvane
