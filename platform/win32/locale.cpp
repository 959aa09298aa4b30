// Win32 backend: the calling thread's locale.
#include <windows.h>

#include "platform/locale.h"

namespace corvane::platform {

uint32_t threadLocale() { return ::GetThreadLocale(); }

bool setThreadLocale(uint32_t locale) { return ::SetThreadLocale(locale) != FALSE; }

}  // namespace corvane::platform
