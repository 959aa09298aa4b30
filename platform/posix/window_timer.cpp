// POSIX backend: window timers. A timer is only a due time in its owner
// thread's queue; the queue turns it into kWmTimer when the thread reads
// and nothing posted is waiting, so at most one tick is ever pending.
#include <algorithm>

#include "platform/message_window.h"
#include "platform/os_error.h"
#include "platform/posix/message_queue.h"

namespace corvane::platform {
namespace messaging {

Timer* dueTimer(ThreadQueue& queue, Clock::time_point limit) {
  Timer* earliest = nullptr;
  for (Timer& timer : queue.timers) {
    if (timer.due <= limit && (earliest == nullptr || timer.due < earliest->due)) {
      earliest = &timer;
    }
  }
  return earliest;
}

std::optional<Clock::time_point> nextTimerDue(const ThreadQueue& queue) {
  std::optional<Clock::time_point> next;
  for (const Timer& timer : queue.timers) {
    if (!next || timer.due < *next) next = timer.due;
  }
  return next;
}

void removeTimersOf(ThreadQueue& queue, uintptr_t windowId) {
  std::erase_if(queue.timers, [windowId](const Timer& timer) { return timer.windowId == windowId; });
}

}  // namespace messaging

using namespace messaging;

bool setTimer(WindowHandle handle, uintptr_t id, uint32_t intervalMs) {
  Lock lock(state().mutex);
  std::shared_ptr<Window> window = findWindow(handle);
  if (!window) return false;
  ThreadQueue& queue = *window->owner;
  Clock::duration interval =
      std::chrono::milliseconds(std::clamp(intervalMs, kMinimumTimerMs, kMaximumTimerMs));
  auto existing = std::find_if(queue.timers.begin(), queue.timers.end(), [&](const Timer& timer) {
    return timer.windowId == window->id && timer.id == id;
  });
  if (existing == queue.timers.end()) {
    queue.timers.push_back({window->id, id, interval, Clock::now() + interval});
  } else {
    existing->interval = interval;
    existing->due = Clock::now() + interval;
  }
  // The owner may be waiting with an older deadline.
  queue.wake.notify_all();
  return true;
}

bool killTimer(WindowHandle handle, uintptr_t id) {
  Lock lock(state().mutex);
  std::shared_ptr<Window> window = findWindow(handle);
  if (!window) return false;
  ThreadQueue& queue = *window->owner;
  auto removed = std::erase_if(queue.timers, [&](const Timer& timer) {
    return timer.windowId == window->id && timer.id == id;
  });
  if (removed == 0) {
    setLastErrorCode(kErrorInvalidParameter);
    return false;
  }
  return true;
}

}  // namespace corvane::platform
