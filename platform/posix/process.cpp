// POSIX backend: child processes and the executable's location.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "platform/files.h"
#include "platform/os_error.h"
#include "platform/posix/errno_mapping.h"
#include "platform/process.h"
#include "platform/thread.h"

extern char** environ;

namespace corvane::platform {

struct ChildProcess::State {
  pid_t pid = -1;
  std::optional<int32_t> exitCode;
};

namespace {

int32_t exitCodeOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

// Collects the child's status; false while it still runs.
bool reap(pid_t pid, std::optional<int32_t>& exitCode, bool block) {
  if (exitCode) return true;
  int status = 0;
  while (true) {
    const pid_t result = ::waitpid(pid, &status, block ? 0 : WNOHANG);
    if (result == pid) break;
    if (result == 0) return false;
    if (errno == EINTR) continue;
    exitCode = -1;  // not our child any more (reaped elsewhere)
    return true;
  }
  exitCode = exitCodeOf(status);
  return true;
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments)
    : state_(std::make_unique<State>()) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  // Where the C library spawns through a plain fork (or an emulator turns
  // its vfork into one), a program that cannot be run is only seen as a
  // child that exits at once; ask first, so the caller gets the error.
  int error = ::access(program.c_str(), X_OK) == 0 ? 0 : errno;
  if (error == 0) error = ::posix_spawn(&state_->pid, program.c_str(), nullptr, nullptr, argv.data(), environ);
  if (error != 0) {
    setLastErrorCode(windowsCodeFromErrno(error));
    throw OsError("posix_spawn", program, windowsCodeFromErrno(error));
  }
}

ChildProcess::ChildProcess(ChildProcess&&) noexcept = default;

ChildProcess::~ChildProcess() {
  if (state_) reap(state_->pid, state_->exitCode, true);
}

int32_t ChildProcess::wait(uint32_t timeoutMs, bool* timedOut) {
  const uint64_t deadline = tickCount64() + timeoutMs;
  uint32_t pause = 1;
  while (!reap(state_->pid, state_->exitCode, false)) {
    if (tickCount64() >= deadline) {
      if (timedOut) *timedOut = true;
      return -1;
    }
    sleepMs(pause);
    if (pause < 20) pause *= 2;
  }
  if (timedOut) *timedOut = false;
  return *state_->exitCode;
}

void ChildProcess::terminate() {
  if (!state_->exitCode) ::kill(state_->pid, SIGKILL);
}

int32_t ChildProcess::processId() const { return static_cast<int32_t>(state_->pid); }

std::string executableDirectory() {
  std::string path = executablePath();
  path.resize(path.rfind('/') + 1);  // "/proc/self/exe" always links to an absolute path
  return path;
}

const char* executableSuffix() { return ""; }

bool standardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

}  // namespace corvane::platform
