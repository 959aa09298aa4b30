// Win32 backend: system-wide named locks are named mutexes.
//
// Each NamedLock object holds its own handle to the mutex of its name. The
// names live in the session's own namespace ("Local\"), which is where an
// unprefixed name goes too, so the lock is the very object a program that
// creates the mutex under the bare name uses. "Global\" is not an option: a
// normal user of an interactive session may not create objects there.
//
// A mutex belongs to a thread, not to a handle: a thread that holds the mutex
// through one object also gets it at once through every other object of the
// same name (the POSIX backend keeps a table to do the same). Each object
// counts its own acquisitions, so held() and release() answer for the object.
#include <windows.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "platform/named_lock.h"
#include "platform/os_error.h"
#include "platform/portable/named_lock_names.h"
#include "platform/thread.h"
#include "platform/win32/last_error.h"

namespace corvane::platform {
namespace {

// Object names are limited to MAX_PATH characters; the longest stem and the
// namespace leave room. The names live in the session's namespace.
std::string objectNameFor(std::string_view name) { return "Local\\" + lockNameStem(name); }

}  // namespace

struct NamedLock::State {
  std::string name;
  HANDLE mutex = nullptr;
  std::atomic<uint32_t> owner{0};  // thread holding the mutex through this object
  int depth = 0;                   // written only by the owner while it holds the mutex

  // Waits for the mutex; true when this thread got it. A mutex whose holder
  // ended without releasing it (WAIT_ABANDONED) is taken over: what it
  // guarded is only ever replaced as a whole.
  bool wait(DWORD timeoutMs) {
    switch (::WaitForSingleObject(mutex, timeoutMs)) {
      case WAIT_OBJECT_0:
      case WAIT_ABANDONED:
        if (depth++ == 0) owner = currentThreadId();
        return true;
      case WAIT_TIMEOUT:
        return false;
      default:
        throwLastError("WaitForSingleObject", name);
    }
  }
};

NamedLock::NamedLock(std::string_view name) : state_(std::make_unique<State>()) {
  state_->name = name;
  const std::string objectName = objectNameFor(name);
  state_->mutex = ::CreateMutexA(nullptr, FALSE, objectName.c_str());
  // A mutex made by another user (or an elevated process) may refuse the full
  // access CreateMutex asks for; waiting and releasing is all a lock needs.
  if (state_->mutex == nullptr && ::GetLastError() == ERROR_ACCESS_DENIED)
    state_->mutex = ::OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, objectName.c_str());
  if (state_->mutex == nullptr) throwLastError("CreateMutex", objectName);
}

NamedLock::~NamedLock() {
  // Closing the handle does not release the mutex; its holder must. A lock
  // destroyed while another thread holds it through this object stays held
  // until that thread ends, and then counts as abandoned.
  if (state_->owner == currentThreadId()) {
    while (state_->depth > 0) {
      --state_->depth;
      ::ReleaseMutex(state_->mutex);
    }
  }
  ::CloseHandle(state_->mutex);
}

void NamedLock::acquire(int spinCount) {
  for (int i = 0; i < spinCount; ++i) {
    if (state_->wait(0)) return;
    std::this_thread::yield();
  }
  state_->wait(INFINITE);
}

bool NamedLock::tryAcquire() { return state_->wait(0); }

void NamedLock::release() {
  if (state_->owner != currentThreadId() || state_->depth == 0)
    throw std::logic_error("NamedLock::release: the calling thread does not hold \"" +
                           state_->name + "\"");
  if (--state_->depth == 0) state_->owner = 0;
  ::ReleaseMutex(state_->mutex);
}

bool NamedLock::held() const { return state_->owner == currentThreadId(); }

}  // namespace corvane::platform
