// POSIX backend, internal: errno to Windows error codes.
#pragma once

#include <cstdint>

namespace corvane::platform {

uint32_t windowsCodeFromErrno(int error);

}  // namespace corvane::platform
