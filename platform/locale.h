// The thread locale (a Windows locale identifier) that language files may
// set. On Windows it is the calling thread's; the POSIX stand-in keeps one
// value for the process, which nothing but the translator reads.
#pragma once

#include <cstdint>

#include "platform/abi.h"

namespace corvane::platform {

CV_PLATFORM_API uint32_t threadLocale();
// False when the system refuses the identifier.
CV_PLATFORM_API bool setThreadLocale(uint32_t locale);

}  // namespace corvane::platform
