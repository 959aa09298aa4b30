// Reading the named values of a call's parameter list. During a call (inside
// a CallContext) the record's Params addresses an IkivParamsListA reference;
// a value that is missing, Empty or Null counts as absent.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/params_list_interfaces.h"
#include "platform/ole_variant.h"
#include "plugin/call_record.h"

namespace corvane {

// The call's list, or null when the record has none.
IkivParamsListA* GetPacketParams(const TPluginCallRecord& record);
// The list a data item carries: a new adapter over a list object (types 1
// and 8), the referenced interface (type 9); empty for other types or a null
// pointer.
InterfaceRef<IkivParamsListW> GetItemParams(const TPluginDataItem& item);

std::optional<platform::OleVariant> ReadParam(IkivParamsListA* list, std::string_view name);
// Adds or replaces a value (SetItem with create).
void WriteParam(IkivParamsListA* list, std::string_view name, const platform::Variant& value);
// The value's text form; nullopt when absent or without a text form.
std::optional<std::string> ParamText(IkivParamsListA* list, std::string_view name);
// The value as an integer; nullopt when absent or not convertible.
std::optional<int64_t> ParamInteger(IkivParamsListA* list, std::string_view name);

}  // namespace corvane
