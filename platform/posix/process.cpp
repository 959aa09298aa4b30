// POSIX backend: child processes, the executable's location and the
// process's own resident memory and open descriptors (from /proc).
#include <dirent.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>
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

uint64_t residentMemoryBytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (!line.starts_with("VmRSS:")) continue;
    uint64_t kilobytes = 0;
    std::istringstream(line.substr(6)) >> kilobytes;  // "VmRSS:    1234 kB"
    return kilobytes * 1024;
  }
  return 0;
}

int32_t openHandleCount() {
  DIR* folder = opendir("/proc/self/fd");
  if (folder == nullptr) return -1;
  int32_t count = 0;
  while (const dirent* entry = readdir(folder)) {
    if (entry->d_name[0] != '.') ++count;
  }
  closedir(folder);
  return count - 1;  // the descriptor of the listing itself
}

}  // namespace corvane::platform
