// A lock shared by every process of the machine, identified by a name made of
// the characters 0-9, a-z and "_". Windows: a named mutex; POSIX: an advisory
// lock on a file in the lock folder. Also exclusive between threads.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/abi.h"

namespace corvane::platform {

class CV_PLATFORM_API NamedLock {
 public:
  explicit NamedLock(std::string_view name);
  NamedLock(const NamedLock&) = delete;
  NamedLock& operator=(const NamedLock&) = delete;
  ~NamedLock();  // releases when held

  // Tries without waiting spinCount times, then waits. Throws OsError when
  // the lock cannot be made at all.
  void acquire(int spinCount = 0);
  bool tryAcquire();
  void release();
  bool held() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The name rule of the INI file lock: the text in lower case with every
// character other than 0-9 and a-z replaced by "_".
CV_PLATFORM_API std::string lockNameFor(std::string_view text);

}  // namespace corvane::platform
