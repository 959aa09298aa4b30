// Hidden message-only windows and the per-thread message queues that feed
// them, with Windows semantics: a window belongs to the thread that created
// it; posted messages and timer ticks are delivered only when that thread
// pumps its queue; a message sent from another thread waits until the owner
// pumps (the sender keeps serving messages sent to its own windows meanwhile).
// On POSIX the windows, queues and timers live in the platform library that
// the host and the plug-in share, so a host window handle passed to the
// plug-in can be posted to.
//
// Handles stay safe to pass around after their window is gone: every function
// validates the handle first and fails with kErrorInvalidWindowHandle (1400)
// for a destroyed or made-up one. When a thread ends, the windows it owns are
// destroyed (without kWmDestroy: the thread can no longer run their
// procedures), their timers stop and messages still waiting for them fail.
#pragma once

#include <cstdint>

#include "platform/abi.h"

namespace corvane::platform {

struct WindowObject;
using WindowHandle = WindowObject*;  // nullptr is "no window"

using WindowProcedure = intptr_t (*)(WindowHandle window, uint32_t message, uintptr_t wParam,
                                     intptr_t lParam);

inline constexpr uint32_t kWmNull = 0x0000;
inline constexpr uint32_t kWmDestroy = 0x0002;
inline constexpr uint32_t kWmQuit = 0x0012;
inline constexpr uint32_t kWmTimer = 0x0113;
inline constexpr uint32_t kWmUser = 0x0400;

inline constexpr uint32_t kSmtoNormal = 0x0000;
inline constexpr uint32_t kSmtoBlock = 0x0001;  // do not serve incoming sent messages while waiting
inline constexpr uint32_t kSmtoAbortIfHung = 0x0002;

inline constexpr uint32_t kInfiniteWait = 0xFFFFFFFFu;  // waitMessage without a time limit

struct WindowMessage {
  WindowHandle window;
  uint32_t message;
  uintptr_t wParam;
  intptr_t lParam;
};

// Creates a message-only window owned by the calling thread. userData is
// returned by windowUserData. Throws OsError on failure.
CV_PLATFORM_API WindowHandle createMessageWindow(WindowProcedure procedure, void* userData);
// Only the owner thread may destroy a window (as on Windows); false with
// kErrorAccessDenied otherwise. The procedure receives kWmDestroy while the
// handle is still valid; afterwards messages posted to the window are
// dropped, its timers stop and threads waiting in sendMessage for it fail.
CV_PLATFORM_API bool destroyWindow(WindowHandle window);
CV_PLATFORM_API bool isWindow(WindowHandle window);
CV_PLATFORM_API void* windowUserData(WindowHandle window);
CV_PLATFORM_API uint32_t windowThreadId(WindowHandle window);  // 0 for no window
CV_PLATFORM_API intptr_t defaultWindowProcedure(WindowHandle window, uint32_t message,
                                                uintptr_t wParam, intptr_t lParam);

// Queues the message for the window's owner thread; false when the window
// does not exist or its queue is full (10000 posted messages; error 1816).
CV_PLATFORM_API bool postMessage(WindowHandle window, uint32_t message, uintptr_t wParam,
                                 intptr_t lParam);
// Calls the window procedure on its owner thread and waits for the result;
// 0 when the window does not exist or is destroyed before the owner got to it.
CV_PLATFORM_API intptr_t sendMessage(WindowHandle window, uint32_t message, uintptr_t wParam,
                                     intptr_t lParam);
// As sendMessage but gives up after timeoutMs; with kSmtoAbortIfHung it gives
// up at once when the owner has not looked at its queue for 5 s. False on
// time-out (kErrorTimeout) or a bad window; result receives the procedure's
// answer otherwise. A message given up on may still run on the owner later
// (the POSIX stand-in keeps it queued; some systems drop it); its answer is
// dropped either way, so callers must not rely on either.
CV_PLATFORM_API bool sendMessageTimeout(WindowHandle window, uint32_t message, uintptr_t wParam,
                                        intptr_t lParam, uint32_t flags, uint32_t timeoutMs,
                                        intptr_t* result);
// Same thread: calls the procedure at once. Other thread: queues it ahead of
// posted messages and returns without waiting.
CV_PLATFORM_API bool sendNotifyMessage(WindowHandle window, uint32_t message, uintptr_t wParam,
                                       intptr_t lParam);
// Makes getMessage of the calling thread return false once no posted message
// is left before it.
CV_PLATFORM_API void postQuitMessage(int32_t exitCode);

// Timers deliver kWmTimer (wParam = id) to the window's owner thread when it
// checks its queue, no posted message is waiting and the interval has passed
// since the timer was set or last delivered; ticks missed meanwhile coalesce
// into one message. Intervals below 10 ms count as 10 ms. Any thread may set
// or kill a timer of a window; setting an existing id re-arms it.
CV_PLATFORM_API bool setTimer(WindowHandle window, uintptr_t id, uint32_t intervalMs);
CV_PLATFORM_API bool killTimer(WindowHandle window, uintptr_t id);

// Queue of the calling thread. peekMessage does not wait; getMessage waits
// and returns false for kWmQuit; waitMessage waits at most timeoutMs
// (kInfiniteWait: no limit) until a posted message, the quit message or a
// timer tick is ready (true) and does not remove it. Sent messages for the
// thread's windows are served inside all three.
CV_PLATFORM_API bool peekMessage(WindowMessage& message, bool remove);
CV_PLATFORM_API bool getMessage(WindowMessage& message);
CV_PLATFORM_API bool waitMessage(uint32_t timeoutMs);
// Calls the procedure of message.window; 0 when the window is gone or
// belongs to another thread.
CV_PLATFORM_API intptr_t dispatchMessage(const WindowMessage& message);
// Dispatches what is ready now: sent messages, the posted messages already
// queued on entry and the timers already due; returns how many it handled.
// A pending quit message is left for getMessage.
CV_PLATFORM_API int pumpMessages();

// For tests: how long a thread may go without looking at its queue before
// senders with kSmtoAbortIfHung treat it as hung (5000 ms unless changed).
// False where the system fixes the threshold (Windows).
CV_PLATFORM_API bool setHungThresholdForTesting(uint32_t milliseconds);

}  // namespace corvane::platform
