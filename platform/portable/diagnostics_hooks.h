// Internal: the split of diagnostics.h between the shared hook handling and
// the backends. diagnostics_hooks.cpp defines the public functions: each asks
// its hook first and calls the backend's system function below only when no
// hook is set.
#pragma once

#include <cstdint>
#include <string_view>

namespace corvane::platform::backend {

// Defined by each backend: the system's own debugger output and message box.
void outputDebugString(std::string_view text);
int32_t messageBox(uintptr_t owner, std::string_view text, std::string_view caption,
                   uint32_t flags);

}  // namespace corvane::platform::backend
