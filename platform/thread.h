// Thread identity and time.
#pragma once

#include <cstdint>

#include "platform/abi.h"

namespace corvane::platform {

CV_PLATFORM_API uint32_t currentThreadId();  // never 0
CV_PLATFORM_API uint64_t tickCount64();      // milliseconds since an arbitrary start, monotonic
CV_PLATFORM_API void sleepMs(uint32_t milliseconds);

}  // namespace corvane::platform
