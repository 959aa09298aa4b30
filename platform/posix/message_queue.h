// POSIX backend, internal: the process-wide state behind message windows.
//
// One mutex guards everything: the table of live windows, every thread's
// queue and every timer. Window procedures are always called with the mutex
// released, so they may post, send, pump and destroy freely. Each queue has
// its own condition variable on which its thread waits, both for its own
// messages and for the answers to messages it sent.
//
// Divisions: objects (windows, sent messages, timers, queues), the shared
// state, and the helpers the three implementation files share
// (message_window.cpp: windows and sending; message_queue.cpp: reading and
// dispatching; window_timer.cpp: timers).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

#include "platform/message_window.h"

namespace corvane::platform::messaging {

using Clock = std::chrono::steady_clock;
using Lock = std::unique_lock<std::mutex>;

inline constexpr size_t kPostedLimit = 10000;  // posted messages per thread, as on Windows
inline constexpr uint32_t kDefaultHungThresholdMs = 5000;
inline constexpr uint32_t kMinimumTimerMs = 10;
inline constexpr uint32_t kMaximumTimerMs = 0x7FFFFFFF;

struct ThreadQueue;

// ---- objects ----------------------------------------------------------------

struct Window {
  uintptr_t id = 0;
  WindowProcedure procedure = nullptr;
  void* userData = nullptr;
  std::shared_ptr<ThreadQueue> owner;
  bool destroying = false;  // kWmDestroy is being delivered
};

// A message sent to a window of another thread. The sender waits until the
// owner marks it done or failed; notifications have no sender, and a sender
// that gives up clears its link so a late answer goes nowhere.
struct SentMessage {
  enum class State { kQueued, kRunning, kDone, kFailed };

  uintptr_t windowId = 0;
  uint32_t message = 0;
  uintptr_t wParam = 0;
  intptr_t lParam = 0;
  std::shared_ptr<ThreadQueue> sender;
  State state = State::kQueued;
  intptr_t result = 0;
  uint32_t failure = 0;  // error code for the sender when failed
};

struct Timer {
  uintptr_t windowId = 0;
  uintptr_t id = 0;
  Clock::duration interval{};
  Clock::time_point due{};
};

struct PostedMessage {
  WindowMessage message;
  uint64_t sequence;  // lets pumpMessages stop at what was queued on entry
};

struct ThreadQueue {
  explicit ThreadQueue(uint32_t thread, bool attached) : threadId(thread), attached(attached) {}

  const uint32_t threadId;
  // False for the throw-away queue of a thread whose own queue has already
  // been released at thread exit: it may wait, but cannot own windows.
  bool attached;
  std::condition_variable wake;
  std::deque<std::shared_ptr<SentMessage>> sent;
  std::deque<PostedMessage> posted;
  uint64_t nextSequence = 0;
  std::vector<Timer> timers;
  bool quitPending = false;
  int32_t exitCode = 0;
  // Hang detection: a thread is responsive while it waits for messages or
  // has looked at its queue recently.
  Clock::time_point lastCheck = Clock::now();
  int waiting = 0;
  uint64_t sentServed = 0;  // counts sent messages run, for pumpMessages
};

// ---- shared state ------------------------------------------------------------

struct State {
  std::mutex mutex;
  std::unordered_map<uintptr_t, std::shared_ptr<Window>> windows;
  uintptr_t lastId = 0;
  std::atomic<uint32_t> hungThresholdMs{kDefaultHungThresholdMs};
};

// Never destroyed: threads may still use it while the process exits.
State& state();

// ---- helpers (the caller holds the lock where a Lock is passed or noted) ------

inline uintptr_t idOf(WindowHandle window) { return reinterpret_cast<uintptr_t>(window); }
inline WindowHandle handleOf(uintptr_t id) { return reinterpret_cast<WindowHandle>(id); }

// The live window for a handle, or null with kErrorInvalidWindowHandle set.
// Lock held.
std::shared_ptr<Window> findWindow(WindowHandle window);

// The calling thread's queue, created on first use together with the guard
// that releases it when the thread ends. Lock held.
std::shared_ptr<ThreadQueue> currentQueue();

// Marks a sent message finished and wakes its sender. Lock held.
void finishSent(SentMessage& sent, SentMessage::State state, intptr_t result, uint32_t failure);

// Runs the messages other threads sent to the queue's windows; the lock is
// released around each procedure call. True when at least one ran.
bool serveSentMessages(Lock& lock, ThreadQueue& queue);

// Blocks the queue's thread until woken or the deadline passes, counting it
// as responsive meanwhile.
void waitForWake(Lock& lock, ThreadQueue& queue, std::optional<Clock::time_point> deadline);

// Timers (window_timer.cpp). Lock held.
// The due timer with the earliest due time not later than limit, if any.
Timer* dueTimer(ThreadQueue& queue, Clock::time_point limit);
// When the next timer of the queue falls due, if it has any.
std::optional<Clock::time_point> nextTimerDue(const ThreadQueue& queue);
void removeTimersOf(ThreadQueue& queue, uintptr_t windowId);

}  // namespace corvane::platform::messaging
