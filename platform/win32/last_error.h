// Win32 backend, internal: raising OsError for a failed system call.
//
// The thread's last error does not survive the throw: the C++ runtime's
// exception bookkeeping reads thread-local storage (TlsGetValue), which
// clears it. Catchers take the code from OsError::code().
#pragma once

#include <windows.h>

#include <string>

#include "platform/os_error.h"

namespace corvane::platform {

[[noreturn]] inline void throwOsError(const char* function, const std::string& subject,
                                      uint32_t code) {
  throw OsError(function, subject, code);
}

// The code is read before the exception is built: building its message
// (FormatMessage) changes the last error.
[[noreturn]] inline void throwLastError(const char* function, const std::string& subject) {
  throwOsError(function, subject, ::GetLastError());
}

}  // namespace corvane::platform
