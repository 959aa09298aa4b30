// Win32 backend: the call stack from CaptureStackBackTrace, each frame given
// as the file name of its module and the offset into it (no symbol files are
// read).
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/call_stack.h"

namespace corvane::platform {

std::string callStackText(uint32_t skipFrames) {
  try {
    constexpr ULONG kMaxFrames = 62;  // the limit of CaptureStackBackTrace on older systems
    void* frames[kMaxFrames];
    const USHORT count = CaptureStackBackTrace(1 + skipFrames, kMaxFrames, frames, nullptr);
    std::string text;
    for (USHORT i = 0; i < count; ++i) {
      HMODULE module = nullptr;
      char path[MAX_PATH] = "?";
      if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                             static_cast<LPCSTR>(frames[i]), &module) &&
          GetModuleFileNameA(module, path, MAX_PATH) == 0) {
        path[0] = '?';
        path[1] = 0;
      }
      const char* name = path;
      for (const char* p = path; *p != 0; ++p) {
        if (*p == '\\' || *p == '/') name = p + 1;
      }
      char line[MAX_PATH + 40];
      std::snprintf(line, sizeof line, "%s+0x%llx\r\n", name,
                    static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(frames[i]) -
                                                    reinterpret_cast<uintptr_t>(module)));
      text += line;
    }
    return text;
  } catch (...) {
    return {};
  }
}

}  // namespace corvane::platform
