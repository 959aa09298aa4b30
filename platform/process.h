// Starting and waiting for child processes (used by the host program and by
// tests that need a second process).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/abi.h"

namespace corvane::platform {

class CV_PLATFORM_API ChildProcess {
 public:
  // Starts the program (a path, not searched for) with the arguments; the
  // child inherits the environment. Throws OsError on failure.
  ChildProcess(const std::string& program, const std::vector<std::string>& arguments);
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ChildProcess(ChildProcess&&) noexcept;
  ~ChildProcess();  // waits for the child when it was not waited for

  // Exit code; waits at most timeoutMs and answers -1 with timedOut set on
  // time-out. On POSIX a child ended by a signal answers 128 + the signal.
  int32_t wait(uint32_t timeoutMs, bool* timedOut = nullptr);
  // Ends the child at once (a test's way out of a hung child).
  void terminate();
  int32_t processId() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The folder of the running executable, with a trailing delimiter.
CV_PLATFORM_API std::string executableDirectory();
// The suffix of executables: ".exe" on Windows, empty on POSIX.
CV_PLATFORM_API const char* executableSuffix();
// Whether the process's standard error is a terminal (a console on Windows),
// so that a progress line that rewrites itself can be shown there.
CV_PLATFORM_API bool standardErrorIsTerminal();

// The process's resident memory in bytes (its working set on Windows), for
// programs that watch it over long runs; 0 when the system does not say.
CV_PLATFORM_API uint64_t residentMemoryBytes();
// The process's open file descriptors (open handles on Windows); -1 when
// the system does not say (Wine answers 0).
CV_PLATFORM_API int32_t openHandleCount();

}  // namespace corvane::platform
