// The thread-bound timer.
#include "common/timer_ex.h"

#include <exception>

#include "platform/diagnostics.h"

namespace corvane {

namespace {

constexpr uintptr_t kTimerId = 1;
std::atomic<uint32_t> waitLimitMs{TThreadWindow::kDefaultWaitMs};

}  // namespace

void TkivTimerEx::SetWaitLimitForTesting(uint32_t milliseconds) { waitLimitMs = milliseconds; }

TkivTimerEx::TkivTimerEx()
    : window_([this](uint32_t message, uintptr_t wParam, intptr_t lParam,
                     intptr_t& result) { return HandleMessage(message, wParam, lParam, result); },
              kDestroyMessage) {}

TkivTimerEx::~TkivTimerEx() {
  const uint32_t waitMs = releaseWaitMs_ >= 0 ? static_cast<uint32_t>(releaseWaitMs_.load()) : waitLimitMs.load();
  if (window_.Handle() != nullptr && !window_.IsOwnerThread()) {
    intptr_t result = 0;
    platform::sendMessageTimeout(window_.Handle(), kSetEnabledMessage, 0, 0, platform::kSmtoNormal, waitMs,
                                 &result);
  }
  // Late messages must not reach this object: detach before anything else
  // changes, so a tick already queued on the owner finds nobody.
  window_.Detach();
  onTimer_ = nullptr;
  enabled_ = false;
  if (window_.Handle() != nullptr) platform::killTimer(window_.Handle(), kTimerId);
  window_.Close(waitMs);
}

void TkivTimerEx::SetEnabled(bool value) {
  if (window_.Handle() != nullptr && !window_.IsOwnerThread()) {
    platform::sendNotifyMessage(window_.Handle(), kSetEnabledMessage, value ? 1 : 0, 0);
    return;
  }
  if (enabled_.exchange(value) != value) Rearm();
}

void TkivTimerEx::SetInterval(uint32_t milliseconds) {
  if (interval_.exchange(milliseconds) != milliseconds) Rearm();
}

void TkivTimerEx::SetOnTimer(TNotifyEvent handler) {
  onTimer_ = std::move(handler);
  Rearm();
}

void TkivTimerEx::Rearm() {
  platform::WindowHandle window = window_.Handle();
  if (window == nullptr) return;
  platform::killTimer(window, kTimerId);
  if (interval_ != 0 && enabled_ && onTimer_) {
    if (!platform::setTimer(window, kTimerId, interval_)) throw EOutOfResources("Not enough timers available");
  }
}

bool TkivTimerEx::HandleMessage(uint32_t message, uintptr_t wParam, intptr_t, intptr_t& result) {
  result = 0;
  if (message == platform::kWmTimer && wParam == kTimerId) {
    if (!onTimer_) return true;
    try {
      onTimer_(*this);
    } catch (const std::exception& error) {
      // The timer keeps running; the failure is shown, not propagated.
      platform::messageBox(0, error.what(), "Application Error", platform::kMbTaskModal | platform::kMbIconError);
    }
    return true;
  }
  if (message == kSetEnabledMessage) {
    const bool value = wParam == 1;
    if (enabled_.exchange(value) != value) {
      try {
        Rearm();
      } catch (const std::exception& error) {
        platform::messageBox(0, error.what(), "Application Error", platform::kMbTaskModal | platform::kMbIconError);
      }
    }
    return true;
  }
  return false;
}

void TkivTimerEx::FreeTimer(std::unique_ptr<TkivTimerEx>& timer) {
  if (!timer) return;
  try {
    timer->SetEnabled(false);
  } catch (...) {
  }
  // The handler belongs to the owner thread; from another thread the
  // destructor clears it once the window no longer delivers to the timer.
  if (timer->window_.IsOwnerThread()) {
    try {
      timer->SetOnTimer(nullptr);
    } catch (...) {
    }
  }
  timer.reset();
}

}  // namespace corvane
