// The call stack of the calling thread as text, for crash reports and the
// log: one line per frame, innermost first, each naming the module and, where
// the system knows it cheaply, the function and offset.
#pragma once

#include <cstdint>
#include <string>

#include "platform/abi.h"

namespace corvane::platform {

// skipFrames frames above the caller are left out (the caller itself is
// always left out). Empty when the system offers no stack walk; never throws.
CV_PLATFORM_API std::string callStackText(uint32_t skipFrames = 0);

}  // namespace corvane::platform
