// VarParam: a holder of one Python value, so that native operations with
// out parameters (FindRow) can hand results back to scripts. Scripts make
// holders with plugin.CreateVarParam(value) and read Value afterwards.
#pragma once

#include "bindings/py_object.h"

namespace corvane::py {

class TPyDelphiWrapper;

// True for a VarParam holder.
bool IsVarParam(const TPyDelphiWrapper& wrapper, Handle object);
// The held object (None when empty) of a holder.
Object VarParamValue(const PythonApi& api, Handle holder);
// Holds value from now on; holders (itself included) are never held.
void SetVarParamValue(const PythonApi& api, Handle holder, Handle value);

}  // namespace corvane::py
