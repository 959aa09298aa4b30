// corvane-host dialog: asks the instance for its options dialog, as a host
// does, and prints what arrives: the form as an indented tree of objects
// and properties, the code resource's three parts and the item list.
#pragma once

#include "host/plugin_library.h"
#include "plugin/call_record.h"

namespace corvane::host {

// Answers the process's exit code.
int ShowDialog(LoadedPlugin& plugin, TPluginCallRecord& instance);

}  // namespace corvane::host
