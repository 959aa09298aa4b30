// corvane-host run: loads the plug-in's settings with a script, feeds the
// lines of input files (or standard input) to it as parse packets of one
// client, and prints what came back for each packet.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "host/plugin_library.h"
#include "plugin/call_record.h"

namespace corvane::host {

// arguments: SCRIPT [INPUT...] [--python PATH]. printLog drains and prints
// the instance's log. Answers the process's exit code.
int RunScript(LoadedPlugin& plugin, TPluginCallRecord& instance, const std::vector<std::string>& arguments,
              const std::function<void()>& printLog);

}  // namespace corvane::host
