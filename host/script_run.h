// corvane-host run: the script bench. Loads the plug-in's settings with a
// script, feeds recorded input to it as packets or events of the chosen role,
// and prints what came back for each (or compares that with an expected
// output).
#pragma once

#include <string>
#include <vector>

#include "host/plugin_library.h"
#include "plugin/call_record.h"

namespace corvane::host {

// arguments: SCRIPT [INPUT...] [options] (see RunUsage). Answers the
// process's exit code: 0 done (and matching the expected output), 1 a
// difference from the expected output, 2 bad input or a failed LOAD.
int RunScript(LoadedPlugin& plugin, TPluginCallRecord& instance, const std::vector<std::string>& arguments);

}  // namespace corvane::host
