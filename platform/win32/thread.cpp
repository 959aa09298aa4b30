// Win32 backend: thread identity and time.
#include <windows.h>

#include "platform/thread.h"

namespace corvane::platform {

uint32_t currentThreadId() { return ::GetCurrentThreadId(); }

uint64_t tickCount64() { return ::GetTickCount64(); }

void sleepMs(uint32_t milliseconds) { ::Sleep(milliseconds); }

}  // namespace corvane::platform
