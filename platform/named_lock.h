// A lock shared by every process of the machine, identified by a name made of
// the characters 0-9, a-z and "_". Windows: a named mutex; POSIX: an advisory
// lock (flock) on a file in the lock folder: CORVANE_LOCK_DIR, else
// $XDG_RUNTIME_DIR/corvane-locks, else /tmp/corvane-locks-<uid>. Other
// characters in a name are allowed and kept apart from these.
//
// The lock belongs to a thread, as a Windows mutex does. A thread that holds
// it, through any NamedLock object of the name, acquires it again at once
// through any of them (so one thread may nest uses of one INI file), and must
// release each acquisition through the object it made it with. Other threads
// and processes wait until the holder's last acquisition is released
// (destroying an object releases those its holder made through it). held()
// and release() answer for the calling thread and the one object.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/abi.h"

namespace corvane::platform {

class CV_PLATFORM_API NamedLock {
 public:
  // Throws OsError when the lock cannot be made at all.
  explicit NamedLock(std::string_view name);
  NamedLock(const NamedLock&) = delete;
  NamedLock& operator=(const NamedLock&) = delete;
  ~NamedLock();  // releases when held

  // Tries without waiting spinCount times, yielding between tries, then waits.
  void acquire(int spinCount = 0);
  bool tryAcquire();
  // Throws std::logic_error when the calling thread does not hold the lock.
  void release();
  bool held() const;  // the calling thread holds the lock through this object

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The name rule of the INI file lock: the text in lower case with every
// character other than 0-9 and a-z replaced by "_".
CV_PLATFORM_API std::string lockNameFor(std::string_view text);

}  // namespace corvane::platform
