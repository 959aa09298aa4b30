// Debugger output and message boxes. Neither ever blocks an unattended run:
// on POSIX debugger output goes to the file named by CORVANE_DEBUG_OUTPUT
// ("-" for standard error) and is dropped otherwise; message boxes print to
// standard error and answer at once. Tests can catch both with hooks.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/abi.h"
#include "platform/message_window.h"

namespace corvane::platform {

// POSIX writes the text as one line (a newline appended) in one write.
CV_PLATFORM_API void outputDebugString(std::string_view text);

inline constexpr uint32_t kMbOk = 0x0000;
inline constexpr uint32_t kMbIconError = 0x0010;
inline constexpr uint32_t kMbTaskModal = 0x2000;
inline constexpr int32_t kIdOk = 1;

// owner is a native window handle of the host (0 for none).
CV_PLATFORM_API int32_t messageBox(uintptr_t owner, std::string_view text, std::string_view caption,
                                   uint32_t flags);

using DebugOutputHook = std::function<void(std::string_view text)>;
using MessageBoxHook = std::function<int32_t(std::string_view text, std::string_view caption,
                                             uint32_t flags)>;
// Replace the system calls for the calling process (tests); empty restores.
CV_PLATFORM_API void setDebugOutputHook(DebugOutputHook hook);
CV_PLATFORM_API void setMessageBoxHook(MessageBoxHook hook);

}  // namespace corvane::platform
