// Win32 backend: debugger output and message boxes are the system's. The
// hooks in front of them are in portable/diagnostics_hooks.cpp.
#include <windows.h>

#include <string>

#include "platform/portable/diagnostics_hooks.h"

namespace corvane::platform::backend {

void outputDebugString(std::string_view text) { ::OutputDebugStringA(std::string(text).c_str()); }

int32_t messageBox(uintptr_t owner, std::string_view text, std::string_view caption,
                   uint32_t flags) {
  return ::MessageBoxA(reinterpret_cast<HWND>(owner), std::string(text).c_str(),
                       std::string(caption).c_str(), flags);
}

}  // namespace corvane::platform::backend
