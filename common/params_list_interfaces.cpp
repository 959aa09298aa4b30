#include "common/params_list_interfaces.h"

#include <cstdio>
#include <string>

#include "common/exceptions.h"

namespace corvane {

void CheckBoundaryResult(HResult hr, std::string_view operation) {
  if (platform::succeeded(hr)) return;
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
  const char* reason = hr == platform::kHrOutOfMemory ? ": out of memory" : "";
  throw Exception(std::string(operation) + " failed" + reason + " (" + code + ")");
}

}  // namespace corvane
