// POSIX backend: reading a thread's message queue and dispatching what it
// holds. The order follows Windows: messages sent from other threads are run
// first (inside the read, never returned), then posted messages, then the
// quit message, then timer ticks.
#include <algorithm>

#include "platform/message_window.h"
#include "platform/os_error.h"
#include "platform/posix/message_queue.h"
#include "platform/thread.h"

namespace corvane::platform {
namespace messaging {
namespace {

// What a read may return. pumpMessages restricts itself to the posted
// messages and timer ticks that were ready on entry, so a procedure that
// keeps posting to itself cannot keep it busy for ever.
struct Limits {
  uint64_t postedBefore = UINT64_MAX;
  Clock::time_point timersDueBy = Clock::time_point::max();
  bool takeQuit = true;
};

bool nextMessage(Lock& lock, ThreadQueue& queue, WindowMessage& out, bool remove,
                 const Limits& limits) {
  serveSentMessages(lock, queue);
  Clock::time_point now = Clock::now();
  queue.lastCheck = now;
  if (!queue.posted.empty()) {
    const PostedMessage& front = queue.posted.front();
    if (front.sequence >= limits.postedBefore) return false;
    out = front.message;
    if (remove) queue.posted.pop_front();
    return true;
  }
  if (queue.quitPending) {
    if (!limits.takeQuit) return false;
    out = {nullptr, kWmQuit, static_cast<uintptr_t>(static_cast<intptr_t>(queue.exitCode)), 0};
    if (remove) queue.quitPending = false;
    return true;
  }
  if (Timer* timer = dueTimer(queue, std::min(now, limits.timersDueBy))) {
    out = {handleOf(timer->windowId), kWmTimer, timer->id, 0};
    // The next tick counts from this one: ticks missed meanwhile are gone.
    if (remove) timer->due = now + timer->interval;
    return true;
  }
  return false;
}

bool anythingReady(ThreadQueue& queue, Clock::time_point now) {
  return !queue.posted.empty() || queue.quitPending || dueTimer(queue, now) != nullptr;
}

std::optional<Clock::time_point> earlier(std::optional<Clock::time_point> a,
                                         std::optional<Clock::time_point> b) {
  if (!a) return b;
  if (!b) return a;
  return std::min(*a, *b);
}

}  // namespace
}  // namespace messaging

using namespace messaging;

bool peekMessage(WindowMessage& message, bool remove) {
  Lock lock(state().mutex);
  std::shared_ptr<ThreadQueue> queue = currentQueue();
  return nextMessage(lock, *queue, message, remove, Limits{});
}

bool getMessage(WindowMessage& message) {
  Lock lock(state().mutex);
  std::shared_ptr<ThreadQueue> queue = currentQueue();
  while (!nextMessage(lock, *queue, message, true, Limits{})) {
    waitForWake(lock, *queue, nextTimerDue(*queue));
  }
  return message.message != kWmQuit;
}

bool waitMessage(uint32_t timeoutMs) {
  Lock lock(state().mutex);
  std::shared_ptr<ThreadQueue> queue = currentQueue();
  std::optional<Clock::time_point> deadline;
  if (timeoutMs != kInfiniteWait) deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (true) {
    serveSentMessages(lock, *queue);
    Clock::time_point now = Clock::now();
    queue->lastCheck = now;
    if (anythingReady(*queue, now)) return true;
    if (deadline && now >= *deadline) return false;
    waitForWake(lock, *queue, earlier(deadline, nextTimerDue(*queue)));
  }
}

intptr_t dispatchMessage(const WindowMessage& message) {
  Lock lock(state().mutex);
  std::shared_ptr<Window> window = findWindow(message.window);
  if (!window) return 0;
  if (window->owner->threadId != currentThreadId()) {
    setLastErrorCode(kErrorWindowOfOtherThread);
    return 0;
  }
  WindowProcedure procedure = window->procedure;
  lock.unlock();
  return procedure(message.window, message.message, message.wParam, message.lParam);
}

int pumpMessages() {
  Lock lock(state().mutex);
  std::shared_ptr<ThreadQueue> queue = currentQueue();
  const Limits limits{queue->nextSequence, Clock::now(), false};
  const uint64_t servedBefore = queue->sentServed;
  int dispatched = 0;
  WindowMessage message{};
  while (nextMessage(lock, *queue, message, true, limits)) {
    lock.unlock();
    dispatchMessage(message);
    ++dispatched;
    lock.lock();
  }
  return dispatched + static_cast<int>(queue->sentServed - servedBefore);
}

void postQuitMessage(int32_t exitCode) {
  Lock lock(state().mutex);
  std::shared_ptr<ThreadQueue> queue = currentQueue();
  queue->quitPending = true;
  queue->exitCode = exitCode;
}

}  // namespace corvane::platform
