// The module "plugin" a script calls back into the host with: ten functions
// bound to the instance that runs the script.
#pragma once

#include "bindings/python_module.h"

namespace corvane {

// Fills the module's method table (its context is the TaPlugin).
void AddPluginFunctions(TPythonModule& module);

}  // namespace corvane
