// Copies between parameter lists that are reached only through their
// boundary interfaces. The list's own operations that read through an
// interface (TkivParamsList::CopyFromInterface and AddItemFromInterface) are
// defined in params_list_copy.cpp beside this one.
#pragma once

#include <cstdint>

#include "common/params_list_interfaces.h"

namespace corvane {

class TkivParamsList;

// Appends the items start..end of source (end < 0 or beyond the source: to
// its last item) to destination through destination's AddItem, then hands
// each new item the source item's lower-case name text, data type and
// quality. Nothing happens when either list is null. A failing call on
// either list raises Exception and ends the copy (items already added stay).
void CopyToInterface(IkivParamsListA* source, IkivParamsListA* destination, int32_t start = 0, int32_t end = -1);

// The same for all items of a list of this library's own, read directly
// rather than through a wrapper made for the copy: the destination gets the
// names, values and texts such a wrapper would hand out.
void CopyToInterface(const TkivParamsList& source, IkivParamsListA* destination);

}  // namespace corvane
