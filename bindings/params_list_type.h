// The parameter list script types: kivParamsList and kivParamsListItem are
// registered by their record with every wrapper component; the script host
// registers the extended types kivParamsListEx and kivParamsListItemEx when
// its component initialises. They wrap the same classes, so, the first
// registration of a class winning, no object is ever made of them.
#pragma once

namespace corvane::py {

class TPyDelphiWrapper;

void RegisterExtendedListWrappers(TPyDelphiWrapper& wrapper);

}  // namespace corvane::py
