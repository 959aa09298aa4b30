// POSIX backend: the call stack from the C library's backtrace(), with the
// symbol names the dynamic linker knows (exported functions; others appear as
// module + offset).
#include <execinfo.h>

#include <cstdlib>
#include <string>

#include "platform/call_stack.h"

namespace corvane::platform {

std::string callStackText(uint32_t skipFrames) {
  try {
    constexpr int kMaxFrames = 64;
    void* frames[kMaxFrames];
    const int count = backtrace(frames, kMaxFrames);
    // Frame 0 is this function, frame 1 its caller.
    const int first = 2 + static_cast<int>(skipFrames);
    if (count <= first) return {};
    char** symbols = backtrace_symbols(frames + first, count - first);
    if (symbols == nullptr) return {};
    std::string text;
    for (int i = 0; i < count - first; ++i) {
      text += symbols[i];
      text += "\r\n";
    }
    std::free(symbols);  // one block holds the array and the texts
    return text;
  } catch (...) {
    return {};
  }
}

}  // namespace corvane::platform
