#include "plugin/call_params.h"

#include <string>

#include "common/params_list.h"
#include "common/params_list_wrap.h"
#include "plugin/plugin_values.h"

namespace corvane {

IkivParamsListA* GetPacketParams(const TPluginCallRecord& record) {
  if (record.Params == 0) return nullptr;
  return *reinterpret_cast<IkivParamsListA* const*>(record.Params);
}

InterfaceRef<IkivParamsListW> GetItemParams(const TPluginDataItem& item) {
  if (item.Pointer == 0) return {};
  switch (item.Type) {
    case ditParamsList:
    case ditWrappedParamsList:
      return TkivParamsListWrap::NewInterfaceW(reinterpret_cast<TkivParamsList*>(item.Pointer), true);
    case ditListInterface:
      return InterfaceRef<IkivParamsListW>::Borrow(*reinterpret_cast<IkivParamsListW* const*>(item.Pointer));
    default:
      return {};
  }
}

std::optional<platform::OleVariant> ReadParam(IkivParamsListA* list, std::string_view name) {
  if (list == nullptr) return std::nullopt;
  platform::OleVariant value;
  const std::string key(name);
  CheckBoundaryResult(list->ItemValueByName(key.c_str(), 0, -1, value.get()), "ItemValueByName");
  if (value.isEmpty() || value.isNull()) return std::nullopt;
  return value;
}

void WriteParam(IkivParamsListA* list, std::string_view name, const platform::Variant& value) {
  if (list == nullptr) return;
  const std::string key(name);
  InterfaceRef<IkivParamsListItemA> item;
  CheckBoundaryResult(list->SetItem(key.c_str(), &value, 1, item.put()), "SetItem");
}

std::optional<std::string> ParamText(IkivParamsListA* list, std::string_view name) {
  const auto value = ReadParam(list, name);
  return value ? TextOf(value->raw()) : std::nullopt;
}

std::optional<int64_t> ParamInteger(IkivParamsListA* list, std::string_view name) {
  const auto value = ReadParam(list, name);
  return value ? IntegerOf(value->raw()) : std::nullopt;
}

}  // namespace corvane
