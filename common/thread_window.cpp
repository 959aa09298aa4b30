// Message windows that their users can leave from any thread.
#include "common/thread_window.h"

#include <mutex>

#include "platform/sync.h"
#include "platform/thread.h"

namespace corvane {

struct TThreadWindow::Link {
  platform::CriticalSection lock;  // held while the handler runs
  Handler handler;
  bool attached = true;
  uint32_t destroyMessage;
  int32_t dispatching = 0;  // owner thread only
  bool destroyed = false;   // owner thread only
};

TThreadWindow::TThreadWindow(Handler handler, uint32_t destroyMessage)
    : link_(new Link{{}, std::move(handler), true, destroyMessage}), owner_(platform::currentThreadId()) {
  try {
    window_ = platform::createMessageWindow(&TThreadWindow::Procedure, link_);
  } catch (...) {
    delete link_;
    throw;
  }
}

bool TThreadWindow::IsOwnerThread() const { return platform::currentThreadId() == owner_; }

void TThreadWindow::Detach() {
  if (link_ == nullptr) return;
  std::lock_guard guard(link_->lock);
  link_->attached = false;
  link_->handler = nullptr;
}

void TThreadWindow::Close(uint32_t waitMs) {
  if (window_ == nullptr) return;
  Detach();
  platform::WindowHandle window = window_;
  window_ = nullptr;
  const uint32_t destroyMessage = link_->destroyMessage;
  link_ = nullptr;  // the window frees it from here on
  if (platform::currentThreadId() == owner_) {
    platform::destroyWindow(window);
    return;
  }
  intptr_t result = 0;
  if (!platform::sendMessageTimeout(window, destroyMessage, 0, 0, platform::kSmtoNormal, waitMs, &result))
    platform::postMessage(window, destroyMessage, 0, 0);
}

intptr_t TThreadWindow::Procedure(platform::WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  auto* link = static_cast<Link*>(platform::windowUserData(window));
  if (link == nullptr) return platform::defaultWindowProcedure(window, message, wParam, lParam);
  if (message == platform::kWmDestroy) {
    if (link->dispatching > 0)
      link->destroyed = true;  // freed when the delivery in progress returns
    else
      delete link;
    return 0;
  }
  if (message == link->destroyMessage) {
    platform::destroyWindow(window);
    return 0;
  }
  bool handled = false;
  intptr_t result = 0;
  ++link->dispatching;
  {
    std::lock_guard guard(link->lock);
    if (link->attached && link->handler) {
      try {
        handled = link->handler(message, wParam, lParam, result);
      } catch (...) {
        handled = true;  // handlers report their own failures; none crosses the window procedure
      }
    }
  }
  if (--link->dispatching == 0 && link->destroyed) {
    delete link;
    return result;
  }
  return handled ? result : platform::defaultWindowProcedure(window, message, wParam, lParam);
}

}  // namespace corvane
