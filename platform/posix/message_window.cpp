// POSIX backend: message-only windows, the table that validates their
// handles, the per-thread queue life cycle and sending across threads.
//
// Divisions: shared state and lookup; thread queues and their release at
// thread exit; windows; posting and sending.
#include "platform/message_window.h"

#include <algorithm>

#include "platform/os_error.h"
#include "platform/posix/message_queue.h"
#include "platform/thread.h"

namespace corvane::platform {
namespace messaging {

// ---- shared state and lookup --------------------------------------------------

State& state() {
  static State* const instance = new State;
  return *instance;
}

namespace {

std::shared_ptr<Window> lookupWindow(uintptr_t id) {
  auto& windows = state().windows;
  auto found = windows.find(id);
  return found == windows.end() ? nullptr : found->second;
}

// Handles are counters, never addresses, and are not reused while the
// process runs, so a stale handle can only miss the table.
uintptr_t allocateWindowId() {
  auto& s = state();
  do {
    s.lastId += 2;  // even, non-zero, like the system's handles
  } while (s.lastId == 0 || s.windows.count(s.lastId) != 0);
  return s.lastId;
}

bool isHung(const ThreadQueue& queue, Clock::time_point now) {
  auto threshold = std::chrono::milliseconds(state().hungThresholdMs.load());
  return queue.waiting == 0 && now - queue.lastCheck >= threshold;
}

// Takes a window out of the table and drops everything still queued for it.
// Lock held.
void removeWindow(const Window& window) {
  state().windows.erase(window.id);
  ThreadQueue& queue = *window.owner;
  WindowHandle handle = handleOf(window.id);
  std::erase_if(queue.posted,
                [handle](const PostedMessage& posted) { return posted.message.window == handle; });
  removeTimersOf(queue, window.id);
  std::erase_if(queue.sent, [&window](const std::shared_ptr<SentMessage>& sent) {
    if (sent->windowId != window.id) return false;
    finishSent(*sent, SentMessage::State::kFailed, 0, kErrorInvalidWindowHandle);
    return true;
  });
}

// ---- thread queues --------------------------------------------------------------

// Set once the calling thread's queue has been released at thread exit, so
// that later calls from destructors of that thread never touch the released
// guard (trivially destructible, hence still readable then).
thread_local bool queueReleased = false;

// At thread exit the thread's windows go away (their procedures are not
// called: the thread is ending), and whoever still waits on them is failed.
void releaseThreadQueue(ThreadQueue& queue) {
  Lock lock(state().mutex);
  queue.attached = false;
  std::erase_if(state().windows, [&queue](const auto& entry) {
    return entry.second->owner.get() == &queue;
  });
  for (const auto& sent : queue.sent) {
    finishSent(*sent, SentMessage::State::kFailed, 0, kErrorInvalidWindowHandle);
  }
  queue.sent.clear();
  queue.posted.clear();
  queue.timers.clear();
  queue.quitPending = false;
}

struct ThreadQueueGuard {
  std::shared_ptr<ThreadQueue> queue;

  ~ThreadQueueGuard() {
    queueReleased = true;
    if (queue) releaseThreadQueue(*queue);
  }
};

}  // namespace

std::shared_ptr<Window> findWindow(WindowHandle window) {
  auto found = window == nullptr ? nullptr : lookupWindow(idOf(window));
  if (!found) setLastErrorCode(kErrorInvalidWindowHandle);
  return found;
}

std::shared_ptr<ThreadQueue> currentQueue() {
  if (queueReleased) return std::make_shared<ThreadQueue>(currentThreadId(), false);
  thread_local ThreadQueueGuard guard;
  if (!guard.queue) guard.queue = std::make_shared<ThreadQueue>(currentThreadId(), true);
  return guard.queue;
}

void finishSent(SentMessage& sent, SentMessage::State state, intptr_t result, uint32_t failure) {
  sent.state = state;
  sent.result = result;
  sent.failure = failure;
  if (sent.sender) sent.sender->wake.notify_all();
}

bool serveSentMessages(Lock& lock, ThreadQueue& queue) {
  bool served = false;
  while (!queue.sent.empty()) {
    std::shared_ptr<SentMessage> sent = queue.sent.front();
    queue.sent.pop_front();
    queue.lastCheck = Clock::now();
    std::shared_ptr<Window> window = lookupWindow(sent->windowId);
    if (!window) {
      finishSent(*sent, SentMessage::State::kFailed, 0, kErrorInvalidWindowHandle);
      continue;
    }
    sent->state = SentMessage::State::kRunning;
    ++queue.sentServed;
    served = true;
    lock.unlock();
    intptr_t result = 0;
    try {
      result = window->procedure(handleOf(sent->windowId), sent->message, sent->wParam,
                                 sent->lParam);
    } catch (...) {
      // The sender must not wait forever for a procedure that threw.
      lock.lock();
      finishSent(*sent, SentMessage::State::kFailed, 0, kErrorUnhandledException);
      throw;
    }
    lock.lock();
    finishSent(*sent, SentMessage::State::kDone, result, 0);
  }
  return served;
}

void waitForWake(Lock& lock, ThreadQueue& queue, std::optional<Clock::time_point> deadline) {
  ++queue.waiting;
  if (deadline) {
    queue.wake.wait_until(lock, *deadline);
  } else {
    queue.wake.wait(lock);
  }
  --queue.waiting;
  queue.lastCheck = Clock::now();
}

namespace {

// ---- sending ------------------------------------------------------------------

// Sends to a window: a direct call on the owner thread, otherwise a queued
// message the owner runs while this thread waits (serving messages sent to
// its own windows unless kSmtoBlock). No timeout waits until the owner
// answers or the window or its thread goes away.
bool sendAndWait(WindowHandle handle, uint32_t message, uintptr_t wParam, intptr_t lParam,
                 uint32_t flags, std::optional<uint32_t> timeoutMs, intptr_t& result) {
  Lock lock(state().mutex);
  std::shared_ptr<Window> window = findWindow(handle);
  if (!window) return false;
  if (window->owner->threadId == currentThreadId()) {
    WindowProcedure procedure = window->procedure;
    lock.unlock();
    result = procedure(handle, message, wParam, lParam);
    return true;
  }
  Clock::time_point start = Clock::now();
  if ((flags & kSmtoAbortIfHung) != 0 && isHung(*window->owner, start)) {
    setLastErrorCode(kErrorTimeout);
    return false;
  }

  std::shared_ptr<ThreadQueue> self = currentQueue();
  auto sent = std::make_shared<SentMessage>();
  sent->windowId = window->id;
  sent->message = message;
  sent->wParam = wParam;
  sent->lParam = lParam;
  sent->sender = self;
  window->owner->sent.push_back(sent);
  window->owner->wake.notify_all();
  window.reset();

  // Whatever ends the wait (answer, time-out, an exception from a procedure
  // served meanwhile), the owner's late answer must not reach back here.
  struct Detach {
    SentMessage& sent;
    ~Detach() { sent.sender.reset(); }
  } detach{*sent};

  std::optional<Clock::time_point> deadline;
  if (timeoutMs) deadline = start + std::chrono::milliseconds(*timeoutMs);
  const bool serve = (flags & kSmtoBlock) == 0;
  while (true) {
    if (sent->state == SentMessage::State::kDone) {
      result = sent->result;
      return true;
    }
    if (sent->state == SentMessage::State::kFailed) {
      setLastErrorCode(sent->failure);
      return false;
    }
    if (serve && serveSentMessages(lock, *self)) continue;
    if (deadline && Clock::now() >= *deadline) {
      setLastErrorCode(kErrorTimeout);
      return false;
    }
    if (serve) {
      waitForWake(lock, *self, deadline);
    } else if (deadline) {
      // Blocked without serving: not responsive for senders to this thread.
      self->wake.wait_until(lock, *deadline);
    } else {
      self->wake.wait(lock);
    }
  }
}

}  // namespace
}  // namespace messaging

using namespace messaging;

// ---- windows --------------------------------------------------------------------

WindowHandle createMessageWindow(WindowProcedure procedure, void* userData) {
  if (procedure == nullptr) {
    throw OsError("createMessageWindow", "window procedure", kErrorInvalidParameter);
  }
  Lock lock(state().mutex);
  std::shared_ptr<ThreadQueue> queue = currentQueue();
  if (!queue->attached) {
    // A destructor running after this thread's queue was released.
    throw OsError("createMessageWindow", "thread is ending", kErrorAccessDenied);
  }
  auto window = std::make_shared<Window>();
  window->id = allocateWindowId();
  window->procedure = procedure;
  window->userData = userData;
  window->owner = std::move(queue);
  state().windows.emplace(window->id, window);
  return handleOf(window->id);
}

bool destroyWindow(WindowHandle handle) {
  Lock lock(state().mutex);
  std::shared_ptr<Window> window = findWindow(handle);
  if (!window) return false;
  if (window->owner->threadId != currentThreadId()) {
    setLastErrorCode(kErrorAccessDenied);
    return false;
  }
  if (window->destroying) return true;  // called again from its kWmDestroy
  window->destroying = true;
  lock.unlock();
  // The window stays valid while its procedure handles kWmDestroy and is
  // removed afterwards even when the procedure throws.
  struct Remove {
    Lock& lock;
    const Window& window;
    ~Remove() {
      lock.lock();
      removeWindow(window);
    }
  } remove{lock, *window};
  window->procedure(handle, kWmDestroy, 0, 0);
  return true;
}

bool isWindow(WindowHandle handle) {
  Lock lock(state().mutex);
  return findWindow(handle) != nullptr;
}

void* windowUserData(WindowHandle handle) {
  Lock lock(state().mutex);
  std::shared_ptr<Window> window = findWindow(handle);
  return window ? window->userData : nullptr;
}

uint32_t windowThreadId(WindowHandle handle) {
  Lock lock(state().mutex);
  std::shared_ptr<Window> window = findWindow(handle);
  return window ? window->owner->threadId : 0;
}

intptr_t defaultWindowProcedure(WindowHandle, uint32_t, uintptr_t, intptr_t) { return 0; }

// ---- posting and sending --------------------------------------------------------

bool postMessage(WindowHandle handle, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  Lock lock(state().mutex);
  std::shared_ptr<Window> window = findWindow(handle);
  if (!window) return false;
  ThreadQueue& queue = *window->owner;
  if (queue.posted.size() >= kPostedLimit) {
    setLastErrorCode(kErrorNotEnoughQuota);
    return false;
  }
  queue.posted.push_back({{handle, message, wParam, lParam}, queue.nextSequence++});
  queue.wake.notify_all();
  return true;
}

intptr_t sendMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  intptr_t result = 0;
  return sendAndWait(window, message, wParam, lParam, kSmtoNormal, std::nullopt, result) ? result
                                                                                          : 0;
}

bool sendMessageTimeout(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam,
                        uint32_t flags, uint32_t timeoutMs, intptr_t* result) {
  intptr_t answer = 0;
  bool done = sendAndWait(window, message, wParam, lParam, flags, timeoutMs, answer);
  if (result != nullptr) *result = done ? answer : 0;
  return done;
}

bool sendNotifyMessage(WindowHandle handle, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  Lock lock(state().mutex);
  std::shared_ptr<Window> window = findWindow(handle);
  if (!window) return false;
  if (window->owner->threadId == currentThreadId()) {
    WindowProcedure procedure = window->procedure;
    lock.unlock();
    procedure(handle, message, wParam, lParam);
    return true;
  }
  auto sent = std::make_shared<SentMessage>();
  sent->windowId = window->id;
  sent->message = message;
  sent->wParam = wParam;
  sent->lParam = lParam;
  window->owner->sent.push_back(std::move(sent));
  window->owner->wake.notify_all();
  return true;
}

bool setHungThresholdForTesting(uint32_t milliseconds) {
  state().hungThresholdMs = milliseconds;
  return true;
}

}  // namespace corvane::platform
