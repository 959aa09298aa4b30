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
  // Starts the program with the arguments; throws OsError on failure.
  ChildProcess(const std::string& program, const std::vector<std::string>& arguments);
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ChildProcess(ChildProcess&&) noexcept;
  ~ChildProcess();  // waits for the child when it was not waited for

  // Exit code; waits at most timeoutMs, nullopt-like -1 with timedOut set on time-out.
  int32_t wait(uint32_t timeoutMs, bool* timedOut = nullptr);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The folder of the running executable, with a trailing delimiter.
CV_PLATFORM_API std::string executableDirectory();
// The suffix of executables: ".exe" on Windows, empty on POSIX.
CV_PLATFORM_API const char* executableSuffix();

}  // namespace corvane::platform
