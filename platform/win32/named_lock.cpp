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
// same name (the POSIX stand-in makes such an object wait). Each object
// counts its own acquisitions, so held() and release() answer for the object.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <stdexcept>
#include <thread>

#include "platform/named_lock.h"
#include "platform/os_error.h"
#include "platform/thread.h"
#include "platform/win32/last_error.h"

namespace corvane::platform {
namespace {

// Object names are limited to MAX_PATH characters: 200 for the name, 17 for
// the hash and 6 for the namespace leave room.
constexpr size_t kMaxNameStem = 200;

// The kernel object's name for a lock name: 0-9, a-z and "_" stay as they
// are, so names made by lockNameFor are used unchanged; every other character
// becomes "-" and two hexadecimal digits, which also keeps "\" (a namespace
// separator to the system) out. A long name is cut and completed with a hash
// of the whole name.
std::string objectNameFor(std::string_view name) {
  std::string stem;
  for (const char c : name) {
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || c == '_') {
      stem += c;
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "-%02X", static_cast<unsigned char>(c));
      stem += escaped;
    }
  }
  if (stem.size() > kMaxNameStem) {
    uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (const char c : name) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    char suffix[20];
    std::snprintf(suffix, sizeof suffix, "-%016llX", static_cast<unsigned long long>(hash));
    stem.resize(kMaxNameStem);
    stem += suffix;
  }
  return "Local\\" + stem;
}

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

std::string lockNameFor(std::string_view text) {
  std::string name(text);
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z'))) c = '_';
  }
  return name;
}

}  // namespace corvane::platform
