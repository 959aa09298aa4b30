#include "plugin/call_params.h"

#include <string>

#include "plugin/plugin_values.h"

namespace corvane {

IkivParamsListA* CallParams(const TPluginCallRecord& record) {
  if (record.Params == 0) return nullptr;
  return *reinterpret_cast<IkivParamsListA* const*>(record.Params);
}

std::optional<platform::OleVariant> ReadParam(IkivParamsListA* list, std::string_view name) {
  if (list == nullptr) return std::nullopt;
  platform::OleVariant value;
  const std::string key(name);
  CheckBoundaryResult(list->ItemValueByName(key.c_str(), 0, -1, value.get()), "ItemValueByName");
  if (value.isEmpty() || value.isNull()) return std::nullopt;
  return value;
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
