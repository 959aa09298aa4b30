// The results the entry points and the command protocol answer the host,
// and the guard that keeps every failure inside the module: whatever a call
// throws becomes a result code and a report, never an exception in the
// host's frames.
#pragma once

#include <cstdint>
#include <exception>
#include <string_view>

#include "plugin/plugin_host.h"

namespace corvane {

enum class TCallResult : int32_t {
  Done = 0,
  BadCall = -1,     // wrong record size, no Params, no such instance, a missing command or value
  NotHandled = -2,  // nobody handled the command (also: settings re-read, the script restarted)
  Failed = -3,      // a handler or the script failed
  NoEngine = -4,    // no script engine, or no entry function for the call
};

constexpr int32_t ResultCode(TCallResult result) { return static_cast<int32_t>(result); }

// The same codes as the int32_t results the host and the module's events
// pass around.
inline constexpr int32_t kResultDone = ResultCode(TCallResult::Done);
inline constexpr int32_t kResultBadCall = ResultCode(TCallResult::BadCall);
inline constexpr int32_t kResultNotHandled = ResultCode(TCallResult::NotHandled);
inline constexpr int32_t kResultFailed = ResultCode(TCallResult::Failed);
inline constexpr int32_t kResultNoEngine = ResultCode(TCallResult::NoEngine);

// What a guarded call reports a failure under: the context ("PROCESS", the
// command's name) and the instance whose log gets the line, once known.
struct TCallGuard {
  std::string_view Context;
  TkivPlugin* Instance = nullptr;
  bool LogStack = false;  // the call stack as a log line too
};

// Runs body (answering an int32_t result) and turns whatever it throws into
// Failed, reported through ReportException (the instance's log and the
// debugger output).
template <class Body>
int32_t GuardedCall(TCallGuard& guard, Body&& body) noexcept {
  try {
    return body();
  } catch (const std::exception& error) {
    ReportException(guard.Instance, guard.Context, error);
  } catch (...) {
    ReportException(guard.Instance, guard.Context, "unknown exception");
  }
  if (guard.LogStack && guard.Instance != nullptr) LogCallStack(*guard.Instance);
  return kResultFailed;
}

}  // namespace corvane
