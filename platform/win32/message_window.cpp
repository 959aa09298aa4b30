// Win32 backend: message-only windows, the calling thread's message queue
// and window timers, all on the system's own window manager. A window of
// this module is a message-only window of one registered class whose window
// procedure forwards to the procedure given at creation; handles are HWNDs,
// so host windows can be posted and sent to as they are.
//
// Divisions: the window class and its forwarding procedure; exceptions and
// counts carried across system frames; pump marks; windows; posting and
// sending; timers; reading the queue.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <exception>
#include <utility>
#include <vector>

#include "platform/message_window.h"
#include "platform/os_error.h"

namespace corvane::platform {
namespace {

HWND toHwnd(WindowHandle window) { return reinterpret_cast<HWND>(window); }
WindowHandle toHandle(HWND window) { return reinterpret_cast<WindowHandle>(window); }

// Handles the system gives a meaning of its own: a null window posts to the
// thread and sets thread timers, HWND_BROADCAST reaches every top-level
// window. Neither is a window here, so both fail as a made-up handle does.
bool usable(WindowHandle window, HWND& hwnd) {
  hwnd = toHwnd(window);
  if (hwnd != nullptr && hwnd != HWND_BROADCAST) return true;
  ::SetLastError(kErrorInvalidWindowHandle);
  return false;
}

// A window that exists now. For the calls that report a stale window other
// than as an invalid window handle on some systems (Wine: ERROR_INVALID_HANDLE
// from the timer functions, ERROR_ACCESS_DENIED from DestroyWindow).
bool existing(WindowHandle window, HWND& hwnd) {
  if (!usable(window, hwnd)) return false;
  if (::IsWindow(hwnd)) return true;
  ::SetLastError(kErrorInvalidWindowHandle);
  return false;
}

// ---- the window class and its forwarding procedure ----------------------------

// The procedure and user data live in the window's own extra bytes rather
// than in a separate allocation: the system destroys the windows of an
// ending thread without calling their procedure, and another thread may read
// the user data while the owner destroys the window; neither can then leak
// or touch freed memory.
constexpr int kProcedureSlot = 0;
constexpr int kUserDataSlot = sizeof(LONG_PTR);
constexpr int kExtraBytes = 2 * sizeof(LONG_PTR);
constexpr char kClassName[] = "Corvane.MessageWindow";

LRESULT CALLBACK forwardingProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

HMODULE thisModule() {
  HMODULE module = nullptr;
  ::GetModuleHandleExA(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCSTR>(&forwardingProcedure), &module);
  return module;
}

// Registered on first use for the module this code is linked into, and
// unregistered when the module goes away (the system keeps a library's
// classes registered after it is unloaded).
class WindowClass {
 public:
  WindowClass() : module_(thisModule()) {
    WNDCLASSEXA description{};
    description.cbSize = sizeof description;
    description.lpfnWndProc = forwardingProcedure;
    description.cbWndExtra = kExtraBytes;
    description.hInstance = module_;
    description.lpszClassName = kClassName;
    atom_ = ::RegisterClassExA(&description);
    if (atom_ == 0 && ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS) {
      // Left by an earlier load of this module at the same address: reuse it
      // when it is this very class, replace it otherwise.
      WNDCLASSEXA existing{};
      existing.cbSize = sizeof existing;
      ATOM found = static_cast<ATOM>(::GetClassInfoExA(module_, kClassName, &existing));
      if (found != 0 && existing.lpfnWndProc == forwardingProcedure &&
          existing.cbWndExtra == kExtraBytes) {
        atom_ = found;
      } else if (::UnregisterClassA(kClassName, module_)) {
        atom_ = ::RegisterClassExA(&description);
      }
    }
    error_ = atom_ == 0 ? ::GetLastError() : 0;
  }
  ~WindowClass() {
    if (atom_ != 0) ::UnregisterClassA(MAKEINTATOM(atom_), module_);
  }
  WindowClass(const WindowClass&) = delete;
  WindowClass& operator=(const WindowClass&) = delete;

  HMODULE module() const { return module_; }
  ATOM atom() const { return atom_; }
  uint32_t error() const { return error_; }

 private:
  HMODULE module_;
  ATOM atom_ = 0;
  uint32_t error_ = 0;
};

const WindowClass& windowClass() {
  static const WindowClass instance;
  return instance;
}

// A live window of this process made by createMessageWindow (of this module
// or of another one built from the same code: the class name is the same).
bool isMessageWindow(HWND hwnd) {
  DWORD process = 0;
  if (::GetWindowThreadProcessId(hwnd, &process) == 0) return false;
  return process == ::GetCurrentProcessId() && windowClass().atom() != 0 &&
         ::GetClassLongPtrA(hwnd, GCW_ATOM) == windowClass().atom() &&
         ::GetClassLongPtrA(hwnd, GCL_CBWNDEXTRA) == kExtraBytes;
}

// ---- exceptions and counts carried across system frames -----------------------

// A C++ exception must not unwind through the system's frames between a
// message function and the window procedure. The forwarding procedure keeps
// it here and the functions below raise it once the system call returned.
// Plain pointers and numbers: nothing here needs a destructor at thread exit.
thread_local std::exception_ptr* pendingException = nullptr;
// Set just before a call that runs a procedure of this thread directly, so
// the forwarding procedure can tell those from messages other threads sent.
thread_local bool directCallExpected = false;
// Messages sent from other threads that this thread's procedures handled.
thread_local uint32_t sentMessagesServed = 0;

void wakeReader();

void holdException(std::exception_ptr exception) {
  // A second failure while the first is still on its way is dropped: only
  // one exception can leave the function that raises it.
  if (pendingException != nullptr) return;
  pendingException = new std::exception_ptr(std::move(exception));
  // getMessage would otherwise keep waiting inside the system until the next
  // posted message; this wakes it to raise the exception.
  wakeReader();
}

void raisePending() {
  if (pendingException == nullptr) return;
  std::exception_ptr exception = std::move(*pendingException);
  delete pendingException;
  pendingException = nullptr;
  std::rethrow_exception(exception);
}

LRESULT CALLBACK forwardingProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  const bool direct = std::exchange(directCallExpected, false);
  // Null while the window is being created (until createMessageWindow has
  // stored it) and from WM_NCDESTROY on.
  auto procedure = reinterpret_cast<WindowProcedure>(::GetWindowLongPtrA(hwnd, kProcedureSlot));
  if (procedure == nullptr) return ::DefWindowProcA(hwnd, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    // kWmDestroy was the procedure's last message.
    ::SetWindowLongPtrA(hwnd, kProcedureSlot, 0);
    return ::DefWindowProcA(hwnd, message, wParam, lParam);
  }
  if (!direct && (::InSendMessageEx(nullptr) & (ISMEX_SEND | ISMEX_NOTIFY)) != 0) {
    ++sentMessagesServed;
  }
  try {
    return procedure(toHandle(hwnd), message, wParam, lParam);
  } catch (...) {
    holdException(std::current_exception());
    return 0;
  }
}

// ---- pump marks -------------------------------------------------------------------

// pumpMessages posts a mark to its own thread on entry and stops once it has
// read it, so messages posted while it pumps are left for the next round. A
// mark is a thread message (no window) that every reader here drops; its
// wParam is the serial of the pump that posted it, 0 for a mark that only
// wakes a reader. Marks are read in the order they were posted, so a pump is
// done once a mark with its serial or a later one has been read, by itself
// or by a reader nested in one of the procedures it dispatched.
thread_local uint32_t lastMarkIssued = 0;
thread_local uint32_t lastMarkRead = 0;

UINT pumpMarkMessage() {
  static const UINT message = ::RegisterWindowMessageA("Corvane.PumpMark");
  return message;
}

bool isPumpMark(const MSG& msg) {
  return msg.hwnd == nullptr && msg.message != 0 && msg.message == pumpMarkMessage();
}

// Serials wrap around; "reached" compares them as a sliding window.
bool markReached(uint32_t serial) { return static_cast<int32_t>(lastMarkRead - serial) >= 0; }

void noteMark(const MSG& msg) {
  auto serial = static_cast<uint32_t>(msg.wParam);
  if (serial != 0 && !markReached(serial)) lastMarkRead = serial;
}

// The serial of the posted mark, 0 when none could be posted (the queue is
// full or the message number could not be registered).
uint32_t postMark() {
  if (pumpMarkMessage() == 0) return 0;
  uint32_t serial = ++lastMarkIssued;
  if (serial == 0) serial = ++lastMarkIssued;
  return ::PostThreadMessageA(::GetCurrentThreadId(), pumpMarkMessage(), serial, 0) ? serial : 0;
}

void wakeReader() {
  if (pumpMarkMessage() != 0) ::PostThreadMessageA(::GetCurrentThreadId(), pumpMarkMessage(), 0, 0);
}

// Reads the next message, dropping marks; false when none is ready.
bool readMessage(MSG& msg, bool remove) {
  while (::PeekMessageA(&msg, nullptr, 0, 0, remove ? PM_REMOVE : PM_NOREMOVE)) {
    if (!isPumpMark(msg)) return true;
    noteMark(msg);
    if (remove) continue;
    // Take the mark that was only looked at. Only thread messages of the
    // mark's number match, but the quit message is returned whatever the
    // filter: should it come instead, it is put back.
    MSG taken;
    if (::PeekMessageA(&taken, reinterpret_cast<HWND>(-1), pumpMarkMessage(), pumpMarkMessage(),
                       PM_REMOVE)) {
      if (isPumpMark(taken)) {
        noteMark(taken);
      } else if (taken.message == WM_QUIT) {
        ::PostQuitMessage(static_cast<int>(taken.wParam));
        msg = taken;
        return true;
      }
    }
  }
  return false;
}

WindowMessage toWindowMessage(const MSG& msg) {
  return {toHandle(msg.hwnd), msg.message, msg.wParam, msg.lParam};
}

LRESULT dispatch(const MSG& msg) {
  directCallExpected = true;
  LRESULT result = ::DispatchMessageA(&msg);
  directCallExpected = false;
  return result;
}

bool onCallingThread(HWND hwnd) {
  return ::GetWindowThreadProcessId(hwnd, nullptr) == ::GetCurrentThreadId();
}

}  // namespace

// ---- windows --------------------------------------------------------------------

WindowHandle createMessageWindow(WindowProcedure procedure, void* userData) {
  if (procedure == nullptr) {
    throw OsError("createMessageWindow", "window procedure", kErrorInvalidParameter);
  }
  const WindowClass& registered = windowClass();
  if (registered.atom() == 0) {
    throw OsError("createMessageWindow", "window class", registered.error());
  }
  HWND hwnd = ::CreateWindowExA(0, MAKEINTATOM(registered.atom()), "", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                nullptr, registered.module(), nullptr);
  if (hwnd == nullptr) throw OsError("createMessageWindow", "", ::GetLastError());
  // The procedure last: until it is set, messages go to the default procedure.
  ::SetWindowLongPtrA(hwnd, kUserDataSlot, reinterpret_cast<LONG_PTR>(userData));
  ::SetWindowLongPtrA(hwnd, kProcedureSlot, reinterpret_cast<LONG_PTR>(procedure));
  return toHandle(hwnd);
}

bool destroyWindow(WindowHandle window) {
  HWND hwnd;
  if (!existing(window, hwnd)) return false;
  directCallExpected = true;
  const bool destroyed = ::DestroyWindow(hwnd) != FALSE;
  directCallExpected = false;
  raisePending();
  return destroyed;
}

bool isWindow(WindowHandle window) {
  HWND hwnd;
  return usable(window, hwnd) && ::IsWindow(hwnd) != FALSE;
}

void* windowUserData(WindowHandle window) {
  HWND hwnd;
  if (!usable(window, hwnd)) return nullptr;
  if (!isMessageWindow(hwnd)) {
    ::SetLastError(kErrorInvalidWindowHandle);
    return nullptr;
  }
  return reinterpret_cast<void*>(::GetWindowLongPtrA(hwnd, kUserDataSlot));
}

uint32_t windowThreadId(WindowHandle window) {
  HWND hwnd;
  return usable(window, hwnd) ? ::GetWindowThreadProcessId(hwnd, nullptr) : 0;
}

intptr_t defaultWindowProcedure(WindowHandle window, uint32_t message, uintptr_t wParam,
                                intptr_t lParam) {
  return ::DefWindowProcA(toHwnd(window), message, wParam, lParam);
}

// ---- posting and sending --------------------------------------------------------

bool postMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  HWND hwnd;
  return usable(window, hwnd) && ::PostMessageA(hwnd, message, wParam, lParam) != FALSE;
}

intptr_t sendMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  HWND hwnd;
  if (!usable(window, hwnd)) return 0;
  directCallExpected = onCallingThread(hwnd);
  LRESULT result = ::SendMessageA(hwnd, message, wParam, lParam);
  directCallExpected = false;
  raisePending();
  return result;
}

bool sendMessageTimeout(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam,
                        uint32_t flags, uint32_t timeoutMs, intptr_t* result) {
  if (result != nullptr) *result = 0;
  HWND hwnd;
  if (!usable(window, hwnd)) return false;
  DWORD_PTR answer = 0;
  directCallExpected = onCallingThread(hwnd);
  const bool done =
      ::SendMessageTimeoutA(hwnd, message, wParam, lParam, flags, timeoutMs, &answer) != 0;
  directCallExpected = false;
  if (done && result != nullptr) *result = static_cast<intptr_t>(answer);
  raisePending();
  return done;
}

bool sendNotifyMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  HWND hwnd;
  if (!usable(window, hwnd)) return false;
  directCallExpected = onCallingThread(hwnd);
  const bool done = ::SendNotifyMessageA(hwnd, message, wParam, lParam) != FALSE;
  directCallExpected = false;
  raisePending();
  return done;
}

void postQuitMessage(int32_t exitCode) { ::PostQuitMessage(exitCode); }

// ---- timers ---------------------------------------------------------------------

bool setTimer(WindowHandle window, uintptr_t id, uint32_t intervalMs) {
  HWND hwnd;
  return existing(window, hwnd) && ::SetTimer(hwnd, id, intervalMs, nullptr) != 0;
}

bool killTimer(WindowHandle window, uintptr_t id) {
  HWND hwnd;
  return existing(window, hwnd) && ::KillTimer(hwnd, id) != FALSE;
}

// The system fixes how long a thread may ignore its queue before it counts
// as hung.
bool setHungThresholdForTesting(uint32_t) { return false; }

// ---- reading the queue ----------------------------------------------------------
//
// An exception from a procedure run inside a read is raised before the read
// returns, unless the read has taken a message off the queue: then the
// message is returned and the exception is raised by the next call here,
// for a message loop by the dispatchMessage that handles that message.

bool peekMessage(WindowMessage& message, bool remove) {
  raisePending();
  MSG msg;
  if (!readMessage(msg, remove)) {
    raisePending();
    return false;
  }
  if (!remove) raisePending();
  message = toWindowMessage(msg);
  return true;
}

bool getMessage(WindowMessage& message) {
  raisePending();
  MSG msg;
  while (true) {
    const BOOL got = ::GetMessageA(&msg, nullptr, 0, 0);
    if (got == -1) throw OsError("getMessage", "", ::GetLastError());
    if (!isPumpMark(msg)) break;
    noteMark(msg);
    raisePending();
  }
  if (msg.message == WM_QUIT && pendingException != nullptr) {
    ::PostQuitMessage(static_cast<int>(msg.wParam));
    raisePending();
  }
  message = toWindowMessage(msg);
  return msg.message != WM_QUIT;
}

bool waitMessage(uint32_t timeoutMs) {
  using Clock = std::chrono::steady_clock;
  raisePending();
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (true) {
    MSG msg;
    const bool ready = readMessage(msg, false);
    raisePending();
    if (ready) return true;
    DWORD waitMs = INFINITE;
    if (timeoutMs != kInfiniteWait) {
      const Clock::time_point now = Clock::now();
      if (now >= deadline) return false;
      // Rounded up: waking a little early would only cost another round.
      waitMs =
          static_cast<DWORD>(std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count());
    }
    if (::MsgWaitForMultipleObjectsEx(0, nullptr, waitMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE) ==
        WAIT_FAILED) {
      throw OsError("waitMessage", "", ::GetLastError());
    }
  }
}

intptr_t dispatchMessage(const WindowMessage& message) {
  MSG msg{};
  msg.hwnd = toHwnd(message.window);
  msg.message = message.message;
  msg.wParam = message.wParam;
  msg.lParam = message.lParam;
  LRESULT result = dispatch(msg);
  raisePending();
  return result;
}

// Posted messages up to this pump's mark, then each timer that is due once;
// a timer that comes round again during the pump is dispatched and ends it.
// Without a mark (the queue is full) the posted phase stops after as many
// messages as the queue can hold.
int pumpMessages() {
  raisePending();
  const uint32_t serial = postMark();
  const uint32_t servedBefore = sentMessagesServed;
  int postedBudget = 10000;
  bool timersOnly = false;
  std::vector<std::pair<HWND, WPARAM>> ticked;
  int dispatched = 0;
  while (true) {
    if (!timersOnly) timersOnly = serial != 0 ? markReached(serial) : postedBudget == 0;
    const UINT filter = timersOnly ? WM_TIMER : 0;
    MSG msg;
    if (!::PeekMessageA(&msg, nullptr, filter, filter, PM_REMOVE)) break;
    if (isPumpMark(msg)) {
      noteMark(msg);
      raisePending();
      continue;
    }
    if (msg.message == WM_QUIT && msg.hwnd == nullptr) {
      // Left for the message loop.
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    bool last = false;
    if (msg.message == WM_TIMER) {
      const std::pair<HWND, WPARAM> timer{msg.hwnd, msg.wParam};
      last = std::find(ticked.begin(), ticked.end(), timer) != ticked.end();
      if (!last) ticked.push_back(timer);
    } else if (serial == 0 && !timersOnly) {
      --postedBudget;
    }
    dispatch(msg);
    ++dispatched;
    raisePending();
    if (last) break;
  }
  raisePending();
  return dispatched + static_cast<int>(sentMessagesServed - servedBefore);
}

}  // namespace corvane::platform
