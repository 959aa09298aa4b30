// Message window cases that the Windows backend handles with machinery of its
// own (exceptions carried across the system's frames, the mark that bounds a
// pump, handles the system treats specially); they hold on every backend.
#include <gtest/gtest.h>

#include <future>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/message_window.h"
#include "platform/os_error.h"
#include "tests/platform/message_window_test_support.h"

using namespace corvane::platform;
using namespace corvane::platform::testing;

namespace {

// Throws for kWmUser + 1, records everything else.
intptr_t throwingProcedure(WindowHandle window, uint32_t message, uintptr_t wParam,
                           intptr_t lParam) {
  if (message == kWmUser + 1) throw std::runtime_error("procedure failed");
  return recordingProcedure(window, message, wParam, lParam);
}

struct NestedReads {
  int pumped = -1;
  bool waited = true;
  bool peeked = true;
};

// kWmUser: looks at the queue from inside the procedure; kWmUser + 1: pumps
// what is queued behind it; kWmUser + 2: posts kWmUser + 3.
intptr_t nestingProcedure(WindowHandle window, uint32_t message, uintptr_t wParam,
                          intptr_t lParam) {
  auto& reads = *static_cast<NestedReads*>(windowUserData(window));
  WindowMessage ignored{};
  if (message == kWmUser) {
    reads.waited = waitMessage(0);
    reads.peeked = peekMessage(ignored, false);
  } else if (message == kWmUser + 1) {
    reads.pumped = pumpMessages();
  } else if (message == kWmUser + 2) {
    postMessage(window, kWmUser + 3, 0, 0);
  }
  return 0;
}

}  // namespace

TEST(MessageWindowSystem, ProcedureExceptionsReachTheCallerAndTheQueueGoesOn) {
  Recorder recorder;
  WindowHandle window = createMessageWindow(throwingProcedure, &recorder);
  EXPECT_THROW(sendMessage(window, kWmUser + 1, 0, 0), std::runtime_error);
  EXPECT_THROW(dispatchMessage({window, kWmUser + 1, 0, 0}), std::runtime_error);

  ASSERT_TRUE(postMessage(window, kWmUser, 1, 0));
  ASSERT_TRUE(postMessage(window, kWmUser + 1, 0, 0));
  ASSERT_TRUE(postMessage(window, kWmUser, 2, 0));
  EXPECT_THROW(pumpMessages(), std::runtime_error);
  // What the failed pump left is still there, in order, and nothing else.
  WindowMessage message{};
  ASSERT_TRUE(peekMessage(message, true));
  EXPECT_EQ(message.window, window);
  EXPECT_EQ(message.wParam, 2u);
  EXPECT_FALSE(peekMessage(message, true));
  EXPECT_EQ(recorder.messages(), std::vector<uint32_t>{kWmUser});
  EXPECT_TRUE(destroyWindow(window));
}

TEST(MessageWindowSystem, ExceptionFromASentMessageEndsTheOwnersWait) {
  Recorder recorder;
  WindowHandle window = createMessageWindow(throwingProcedure, &recorder);
  std::promise<void> thrown;
  std::thread sender([window, raised = thrown.get_future()] {
    sendMessageTimeout(window, kWmUser + 1, 0, 0, kSmtoNormal, 2000, nullptr);
    // Only a safety net: an owner still waiting gets a message to return
    // instead of the exception.
    bool woke = raised.wait_for(2s) == std::future_status::ready;
    postMessage(window, kWmUser, woke ? 5 : 6, 0);
  });
  WindowMessage message{};
  EXPECT_THROW(getMessage(message), std::runtime_error);
  thrown.set_value();
  sender.join();
  ASSERT_TRUE(getMessage(message));
  EXPECT_EQ(message.wParam, 5u);
  EXPECT_TRUE(destroyWindow(window));
}

TEST(MessageWindowSystem, ProceduresRunByThePumpSeeOnlyWhatIsLeft) {
  NestedReads reads;
  WindowHandle window = createMessageWindow(nestingProcedure, &reads);
  ASSERT_TRUE(postMessage(window, kWmUser, 0, 0));
  EXPECT_EQ(pumpMessages(), 1);
  EXPECT_FALSE(reads.waited);
  EXPECT_FALSE(reads.peeked);

  // A pump inside a pumped procedure takes what was queued behind it; the
  // messages posted meanwhile are left for later by both.
  ASSERT_TRUE(postMessage(window, kWmUser + 1, 0, 0));
  ASSERT_TRUE(postMessage(window, kWmUser + 2, 0, 0));
  ASSERT_TRUE(postMessage(window, kWmUser + 2, 0, 0));
  EXPECT_EQ(pumpMessages(), 1);
  EXPECT_EQ(reads.pumped, 2);
  WindowMessage message{};
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(peekMessage(message, true));
    EXPECT_EQ(message.message, kWmUser + 3);
  }
  EXPECT_FALSE(peekMessage(message, true));
  EXPECT_TRUE(destroyWindow(window));
}

TEST(MessageWindowSystem, TheBroadcastHandleIsNoWindow) {
  Recorder recorder;
  WindowHandle window = createMessageWindow(recordingProcedure, &recorder);
  const auto broadcast = reinterpret_cast<WindowHandle>(uintptr_t{0xFFFF});
  setLastErrorCode(0);
  EXPECT_FALSE(postMessage(broadcast, kWmUser, 0, 0));
  EXPECT_EQ(lastErrorCode(), kErrorInvalidWindowHandle);
  EXPECT_EQ(sendMessage(broadcast, kWmUser, 0, 0), 0);
  EXPECT_FALSE(sendMessageTimeout(broadcast, kWmUser, 0, 0, kSmtoNormal, 100, nullptr));
  EXPECT_FALSE(sendNotifyMessage(broadcast, kWmUser, 0, 0));
  setLastErrorCode(0);
  EXPECT_FALSE(setTimer(broadcast, 1, 10));
  EXPECT_EQ(lastErrorCode(), kErrorInvalidWindowHandle);
  EXPECT_FALSE(killTimer(broadcast, 1));
  EXPECT_EQ(pumpMessages(), 0);
  EXPECT_TRUE(recorder.all().empty());
  EXPECT_TRUE(destroyWindow(window));
}

TEST(MessageWindowSystem, WaitingAndPeekingLeaveATimerTickQueued) {
  Recorder recorder;
  WindowHandle window = createMessageWindow(recordingProcedure, &recorder);
  ASSERT_TRUE(setTimer(window, 4, 50));
  EXPECT_TRUE(waitMessage(2000));
  WindowMessage message{};
  ASSERT_TRUE(peekMessage(message, false));
  EXPECT_EQ(message.message, kWmTimer);
  EXPECT_TRUE(waitMessage(0));
  EXPECT_EQ(pumpMessages(), 1);
  EXPECT_EQ(recorder.messages(), std::vector<uint32_t>{kWmTimer});
  EXPECT_TRUE(destroyWindow(window));
}
