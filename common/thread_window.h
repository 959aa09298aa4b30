// A hidden message window owned by the thread that creates it, through which
// other threads hand work to that thread. The object that uses it can go
// away from any thread: it first detaches from the window (after which no
// message reaches its handler, and a delivery in progress has finished),
// then has the owner thread destroy the window. Messages still queued for
// the window at that point are dropped instead of reaching a freed object.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/message_window.h"

namespace corvane {

class TThreadWindow {
 public:
  // Returns true when it handled the message and set the result.
  using Handler = std::function<bool(uint32_t message, uintptr_t wParam, intptr_t lParam, intptr_t& result)>;

  // Creates the window on the calling thread. destroyMessage is the private
  // message by which another thread asks the owner to destroy the window.
  TThreadWindow(Handler handler, uint32_t destroyMessage);
  TThreadWindow(const TThreadWindow&) = delete;
  TThreadWindow& operator=(const TThreadWindow&) = delete;
  ~TThreadWindow() { Close(kDefaultWaitMs); }

  platform::WindowHandle Handle() const { return window_; }
  uint32_t OwnerThread() const { return owner_; }
  bool IsOwnerThread() const;

  // No message reaches the handler afterwards. Waits for a delivery in
  // progress on the owner thread.
  void Detach();
  // Detaches and destroys the window: at once on the owner thread; from
  // another thread by asking the owner, waiting at most waitMs, and leaving
  // the request queued when the owner does not answer in time.
  void Close(uint32_t waitMs);

  static constexpr uint32_t kDefaultWaitMs = 5000;

 private:
  struct Link;
  static intptr_t Procedure(platform::WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);

  Link* link_ = nullptr;  // owned by the window; freed when it is destroyed
  platform::WindowHandle window_ = nullptr;
  uint32_t owner_ = 0;
};

}  // namespace corvane
