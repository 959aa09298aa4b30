// Helpers for the message window tests: a window procedure that records what
// it receives and on which thread, a thread that owns a window, and a gate.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/message_window.h"
#include "platform/thread.h"

namespace corvane::platform::testing {

using namespace std::chrono_literals;

struct Received {
  uint32_t thread;
  WindowHandle window;
  uint32_t message;
  uintptr_t wParam;
  intptr_t lParam;
};

// Shared by a window (through its user data) and the test.
class Recorder {
 public:
  void add(const Received& received) {
    std::lock_guard lock(mutex_);
    received_.push_back(received);
    changed_.notify_all();
  }

  std::vector<Received> all() const {
    std::lock_guard lock(mutex_);
    return received_;
  }

  std::vector<uint32_t> messages() const {
    std::lock_guard lock(mutex_);
    std::vector<uint32_t> result;
    for (const auto& received : received_) result.push_back(received.message);
    return result;
  }

  size_t count(uint32_t message) const {
    std::lock_guard lock(mutex_);
    size_t n = 0;
    for (const auto& received : received_) n += received.message == message ? 1 : 0;
    return n;
  }

  // Waits, with a generous safety limit, until `message` arrived n times.
  bool waitForCount(uint32_t message, size_t n) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 2s, [&] {
      size_t seen = 0;
      for (const auto& received : received_) seen += received.message == message ? 1 : 0;
      return seen >= n;
    });
  }

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<Received> received_;
};

// Records every message in the Recorder of the window's user data and answers
// with a value computed from the parameters, so senders can check the answer.
inline intptr_t recordingProcedure(WindowHandle window, uint32_t message, uintptr_t wParam,
                                   intptr_t lParam) {
  auto* recorder = static_cast<Recorder*>(windowUserData(window));
  recorder->add({currentThreadId(), window, message, wParam, lParam});
  return static_cast<intptr_t>(wParam) * 3 + lParam;
}

inline intptr_t expectedAnswer(uintptr_t wParam, intptr_t lParam) {
  return static_cast<intptr_t>(wParam) * 3 + lParam;
}

class Gate {
 public:
  void open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    opened_.notify_all();
  }
  void wait() {
    std::unique_lock lock(mutex_);
    opened_.wait(lock, [this] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable opened_;
  bool open_ = false;
};

// A thread that creates a window and then runs `body`. The body may wait on
// the release gate; the destructor opens it, asks a message loop to quit
// and joins, so a failing test never leaves the thread behind.
class OwnerThread {
 public:
  using Body = std::function<void(WindowHandle window, Gate& release)>;

  OwnerThread(WindowProcedure procedure, void* userData, Body body) {
    std::promise<std::pair<WindowHandle, uint32_t>> ready;
    auto created = ready.get_future();
    thread_ = std::thread([this, ready = std::move(ready), procedure, userData,
                           body = std::move(body)]() mutable {
      WindowHandle window = createMessageWindow(procedure, userData);
      ready.set_value({window, currentThreadId()});
      body(window, release_);
    });
    std::tie(window_, threadId_) = created.get();
  }

  ~OwnerThread() {
    release();
    postMessage(window_, kWmQuit, 0, 0);
    join();
  }

  WindowHandle window() const { return window_; }
  uint32_t threadId() const { return threadId_; }
  void release() { release_.open(); }
  void join() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  Gate release_;
  std::thread thread_;
  WindowHandle window_ = nullptr;
  uint32_t threadId_ = 0;
};

// Bodies for OwnerThread.
inline void runMessageLoop(WindowHandle, Gate&) {
  WindowMessage message{};
  while (getMessage(message)) dispatchMessage(message);
}

inline void holdThenPump(WindowHandle, Gate& release) {
  release.wait();
  pumpMessages();
}

inline long long elapsedMs(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               since)
      .count();
}

}  // namespace corvane::platform::testing
