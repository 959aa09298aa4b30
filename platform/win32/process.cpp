// Win32 backend: child processes, the executable's location and the
// process's own working set and open handles.
//
// A child's arguments travel as one command line that the child splits again
// (its C runtime or CommandLineToArgvW); they are quoted by the rules both
// use, so spaces, quotes, backslashes and empty arguments arrive unchanged.
#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>

#include <optional>

#include "platform/files.h"
#include "platform/os_error.h"
#include "platform/process.h"
#include "platform/win32/last_error.h"

namespace corvane::platform {

struct ChildProcess::State {
  HANDLE process = nullptr;
  int32_t processId = 0;
  std::optional<int32_t> exitCode;
  ~State() {
    if (process != nullptr) ::CloseHandle(process);
  }
};

namespace {

// The exit code a terminated child answers: the one POSIX reports for a
// child ended by SIGKILL, so callers see one value on every system.
constexpr UINT kTerminatedExitCode = 128 + 9;

// Appends one argument: as it is when nothing in it needs quoting, else in
// quotes, with each quote escaped by a backslash and the backslashes before
// a quote (or before the closing quote) doubled.
void appendQuoted(std::string& commandLine, const std::string& argument) {
  if (!commandLine.empty()) commandLine += ' ';
  if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) {
    commandLine += argument;
    return;
  }
  commandLine += '"';
  size_t backslashes = 0;
  for (const char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') backslashes = 2 * backslashes + 1;
    commandLine.append(backslashes, '\\');
    backslashes = 0;
    commandLine += c;
  }
  commandLine.append(2 * backslashes, '\\');
  commandLine += '"';
}

// Collects the exit code once the child has ended; false while it runs.
bool collect(HANDLE process, std::optional<int32_t>& exitCode, DWORD timeoutMs) {
  if (exitCode) return true;
  const DWORD result = ::WaitForSingleObject(process, timeoutMs);
  if (result == WAIT_TIMEOUT) return false;
  DWORD code = 0;
  if (result != WAIT_OBJECT_0 || !::GetExitCodeProcess(process, &code)) {
    exitCode = -1;  // the handle no longer tells
    return true;
  }
  exitCode = static_cast<int32_t>(code);
  return true;
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments)
    : state_(std::make_unique<State>()) {
  std::string commandLine;
  appendQuoted(commandLine, program);
  for (const std::string& argument : arguments) appendQuoted(commandLine, argument);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  // The program is a path, never searched for; no handles are inherited.
  if (!::CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info)) {
    throwLastError("CreateProcess", program);
  }
  ::CloseHandle(info.hThread);
  state_->process = info.hProcess;
  state_->processId = static_cast<int32_t>(info.dwProcessId);
}

ChildProcess::ChildProcess(ChildProcess&&) noexcept = default;

ChildProcess::~ChildProcess() {
  if (state_) collect(state_->process, state_->exitCode, INFINITE);
}

int32_t ChildProcess::wait(uint32_t timeoutMs, bool* timedOut) {
  const bool ended = collect(state_->process, state_->exitCode, timeoutMs);
  if (timedOut) *timedOut = !ended;
  return ended ? *state_->exitCode : -1;
}

void ChildProcess::terminate() {
  if (!state_->exitCode) ::TerminateProcess(state_->process, kTerminatedExitCode);
}

int32_t ChildProcess::processId() const { return state_->processId; }

std::string executableDirectory() {
  std::string path = executablePath();
  const size_t delimiter = path.find_last_of("\\/");
  path.resize(delimiter == std::string::npos ? 0 : delimiter + 1);
  return path;
}

const char* executableSuffix() { return ".exe"; }

bool standardErrorIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

uint64_t residentMemoryBytes() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
  return counters.WorkingSetSize;
}

int32_t openHandleCount() {
  DWORD count = 0;
  if (!GetProcessHandleCount(GetCurrentProcess(), &count)) return -1;
  return static_cast<int32_t>(count);
}

}  // namespace corvane::platform
