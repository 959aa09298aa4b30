// Draining an instance's log through GetLogEx, as a host does.
#pragma once

#include <string>
#include <vector>

#include "host/plugin_library.h"

namespace corvane::host {

struct LogLine {
  int Kind;  // 1 error, 2 warning, 3 information
  std::string Text;
};

// Everything pending, in order; the buffer grows when the pending text does
// not fit, so nothing stays behind.
std::vector<LogLine> DrainLog(LoadedPlugin& plugin, const TPluginCallRecord& instance);

const char* LogKindName(int kind);  // "error", "warning", "info"

}  // namespace corvane::host
