// TkivTimerEx: a periodic timer bound to the thread that creates it. The
// handler runs on that thread when it pumps its messages; other threads may
// enable, disable and free the timer.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "common/exceptions.h"
#include "common/thread_window.h"

namespace corvane {

class EOutOfResources : public Exception {
 public:
  using Exception::Exception;
};

class TkivTimerEx {
 public:
  using TNotifyEvent = std::function<void(TkivTimerEx& sender)>;

  static constexpr uint32_t kSetEnabledMessage = 0x0810;
  static constexpr uint32_t kDestroyMessage = 0x0811;

  TkivTimerEx();
  TkivTimerEx(const TkivTimerEx&) = delete;
  TkivTimerEx& operator=(const TkivTimerEx&) = delete;
  // From another thread: disables through the owner (waiting at most the
  // wait limit), stops the timer, and has the owner destroy the window
  // (waiting at most the wait limit again). No handler runs after it.
  ~TkivTimerEx();

  bool Enabled() const { return enabled_; }
  // From another thread the change is handed to the owner thread without
  // waiting and takes effect when that thread next pumps its messages.
  void SetEnabled(bool value);
  uint32_t Interval() const { return interval_; }
  void SetInterval(uint32_t milliseconds);  // 0 stops the timer
  uint32_t OwnerThread() const { return window_.OwnerThread(); }
  // Interval and handler changes are the owner thread's (or made while stopped).
  void SetOnTimer(TNotifyEvent handler);

  // Disables the timer, clears its handler (ignoring failures of both),
  // frees it and clears the reference.
  static void FreeTimer(std::unique_ptr<TkivTimerEx>& timer);

  // How long destruction from another thread waits for the owner, each time
  // (5000 ms unless a test changes it).
  static void SetWaitLimitForTesting(uint32_t milliseconds);
  // This timer's own limit, for owners whose thread may never serve its
  // messages: waiting only frees the window sooner, since no handler runs
  // once destruction has begun.
  void SetReleaseWait(uint32_t milliseconds) { releaseWaitMs_ = milliseconds; }

 private:
  void Rearm();
  bool HandleMessage(uint32_t message, uintptr_t wParam, intptr_t lParam, intptr_t& result);

  std::atomic<int64_t> releaseWaitMs_{-1};  // -1: the process-wide limit
  std::atomic<bool> enabled_{true};
  std::atomic<uint32_t> interval_{1000};
  TNotifyEvent onTimer_;
  TThreadWindow window_;
};

}  // namespace corvane
