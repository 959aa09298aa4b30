#include <gtest/gtest.h>

#include "platform/message_window.h"
#include "platform/os_error.h"
#include "platform/thread.h"
#include "tests/platform/message_window_test_support.h"

using namespace corvane::platform;
using namespace corvane::platform::testing;

namespace {

// Starts timer 3 on its window, then runs a message loop.
void timedMessageLoop(WindowHandle window, Gate& release) {
  setTimer(window, 3, 10);
  runMessageLoop(window, release);
}

// Timer messages as a list of their ids.
std::vector<uintptr_t> timerIds(const Recorder& recorder) {
  std::vector<uintptr_t> ids;
  for (const auto& message : recorder.all()) {
    if (message.message == kWmTimer) ids.push_back(message.wParam);
  }
  return ids;
}

}  // namespace

TEST(WindowTimer, TicksRunOnTheOwnerThreadWhileItPumps) {
  Recorder recorder;
  OwnerThread owner(recordingProcedure, &recorder, timedMessageLoop);
  ASSERT_TRUE(recorder.waitForCount(kWmTimer, 3));
  for (const auto& message : recorder.all()) {
    EXPECT_EQ(message.thread, owner.threadId());
    EXPECT_EQ(message.window, owner.window());
    EXPECT_EQ(message.wParam, 3u);
  }
}

TEST(WindowTimer, MissedTicksCoalesceIntoOne) {
  Recorder recorder;
  WindowHandle window = createMessageWindow(recordingProcedure, &recorder);
  // Intervals long enough that a busy machine does not let the next one
  // pass between the two pumps below.
  ASSERT_TRUE(setTimer(window, 5, 100));
  sleepMs(800);  // eight intervals without looking at the queue
  EXPECT_EQ(pumpMessages(), 1);
  EXPECT_EQ(timerIds(recorder), std::vector<uintptr_t>{5});
  EXPECT_EQ(pumpMessages(), 0);  // the next tick counts from the one delivered
  destroyWindow(window);
}

TEST(WindowTimer, PostedMessagesComeBeforeTicks) {
  Recorder recorder;
  WindowHandle window = createMessageWindow(recordingProcedure, &recorder);
  ASSERT_TRUE(setTimer(window, 1, 10));
  sleepMs(20);
  ASSERT_TRUE(postMessage(window, kWmUser, 0, 0));
  WindowMessage message{};
  ASSERT_TRUE(peekMessage(message, true));
  EXPECT_EQ(message.message, kWmUser);
  ASSERT_TRUE(peekMessage(message, true));
  EXPECT_EQ(message.message, kWmTimer);
  EXPECT_EQ(message.window, window);
  EXPECT_FALSE(peekMessage(message, true));
  destroyWindow(window);
}

TEST(WindowTimer, ZeroIntervalCountsAsTenMillisecondsAndRearmingReplaces) {
  Recorder recorder;
  WindowHandle window = createMessageWindow(recordingProcedure, &recorder);
  ASSERT_TRUE(setTimer(window, 1, 0));
  EXPECT_EQ(pumpMessages(), 0);
  ASSERT_TRUE(setTimer(window, 1, 10));  // same id: one timer, not two
  sleepMs(30);
  EXPECT_EQ(pumpMessages(), 1);
  EXPECT_EQ(timerIds(recorder), std::vector<uintptr_t>{1});
  destroyWindow(window);
}

TEST(WindowTimer, KillTimerAndDestroyingTheWindowStopTicks) {
  Recorder recorder;
  WindowHandle window = createMessageWindow(recordingProcedure, &recorder);
  ASSERT_TRUE(setTimer(window, 1, 10));
  ASSERT_TRUE(setTimer(window, 2, 10));
  EXPECT_TRUE(killTimer(window, 1));
  EXPECT_FALSE(killTimer(window, 1));
  sleepMs(30);
  EXPECT_EQ(pumpMessages(), 1);
  EXPECT_EQ(timerIds(recorder), std::vector<uintptr_t>{2});

  sleepMs(20);  // timer 2 is due again
  ASSERT_TRUE(destroyWindow(window));
  EXPECT_EQ(pumpMessages(), 0);
  setLastErrorCode(0);
  EXPECT_FALSE(setTimer(window, 2, 10));
  EXPECT_EQ(lastErrorCode(), kErrorInvalidWindowHandle);
  EXPECT_FALSE(killTimer(window, 2));
  EXPECT_EQ(timerIds(recorder), std::vector<uintptr_t>{2});
}

TEST(WindowTimer, AnotherThreadCanStartAndStopAWaitingOwnersTimer) {
  Recorder recorder;
  OwnerThread owner(recordingProcedure, &recorder, runMessageLoop);
  ASSERT_TRUE(setTimer(owner.window(), 7, 10));  // wakes the owner from getMessage
  ASSERT_TRUE(recorder.waitForCount(kWmTimer, 2));
  ASSERT_TRUE(killTimer(owner.window(), 7));
  // A round trip makes sure a tick taken just before the kill is handled.
  sendMessage(owner.window(), kWmUser, 0, 0);
  size_t ticks = recorder.count(kWmTimer);
  sleepMs(50);
  sendMessage(owner.window(), kWmUser, 0, 0);
  EXPECT_EQ(recorder.count(kWmTimer), ticks);
  for (const auto& message : recorder.all()) EXPECT_EQ(message.thread, owner.threadId());
}
