// The module properties the host reads and writes by name
// (GET-MODULE-PARAMETER, SET-MODULE-PARAMETER).
#include <charconv>
#include <functional>

#include "platform/ascii.h"
#include "platform/files.h"
#include "plugin/plugin_module.h"
#include "plugin/plugin_values.h"

namespace corvane {

using platform::OleVariant;
using platform::Variant;

namespace {

// A whole decimal number (an optional sign, then digits); nullopt otherwise.
std::optional<int32_t> decimal(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  int32_t number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return number;
}

// The key of a "Custom..." name, nullopt when the name is none.
std::optional<std::string_view> customKey(std::string_view name) {
  constexpr std::string_view prefix = "Custom";
  if (name.substr(0, prefix.size()) != prefix) return std::nullopt;
  std::string_view key = name.substr(prefix.size());
  if (!key.empty() && (key.front() == ' ' || key.front() == ':' || key.front() == '_')) key.remove_prefix(1);
  if (key.empty()) return std::nullopt;
  return key;
}

// An index key: shorter than 3 characters and a decimal number.
std::optional<int32_t> customIndex(std::string_view key) {
  if (key.size() >= 3) return std::nullopt;
  return decimal(key);
}

OleVariant textOrEmpty(const std::string& text) { return TextValue(text); }

template <class Setter>
bool setText(const Variant& value, Setter&& set) {
  std::optional<std::string> text = TextOf(value);
  if (!text) return false;
  set(std::move(*text));
  return true;
}

}  // namespace

struct TkivPlugin::TModuleProperty {
  std::string_view Name;
  std::function<OleVariant(TkivPlugin&)> Get;                 // empty: not readable
  std::function<bool(TkivPlugin&, const Variant&)> Set;      // empty: read-only
};

const std::vector<TkivPlugin::TModuleProperty>& TkivPlugin::ModuleProperties() {
  using P = TkivPlugin;
  static const std::vector<TModuleProperty> table = {
      {"LogTitle", [](P& m) { return textOrEmpty(m.LogTitle()); },
       [](P& m, const Variant& v) { return setText(v, [&](std::string t) { m.SetLogTitle(std::move(t)); }); }},
      {"Description", [](P& m) { return textOrEmpty(m.description_); },
       [](P& m, const Variant& v) { return setText(v, [&](std::string t) { m.description_ = std::move(t); }); }},
      {"EventsSupported", [](P& m) { return textOrEmpty(m.eventsSupported_); },
       [](P& m, const Variant& v) {
         return setText(v, [&](std::string t) { m.eventsSupported_ = std::move(t); });
       }},
      {"CustomCommands", [](P& m) { return TextValue(m.customCommands_->GetText()); },
       [](P& m, const Variant& v) { return setText(v, [&](std::string t) { m.customCommands_->AddFromText(t); }); }},
      {"TranslatorComponentProperties",
       [](P& m) {
         std::string text;
         for (const std::string& name : m.TranslatorPropertyNames()) text += name + "\r\n";
         return TextValue(text);
       },
       [](P& m, const Variant& v) { return setText(v, [&](std::string t) { m.Translator().AddComponentProperties(t); }); }},
      {"ModuleType", [](P& m) { return OleVariant::fromUI4(m.moduleType_); },
       [](P& m, const Variant& v) {
         std::optional<int64_t> bits = IntegerOf(v);
         if (!bits) return false;
         m.moduleType_ = static_cast<uint8_t>(*bits & 0xFF);
         return true;
       }},
      {"ModuleEnabled", [](P& m) { return OleVariant::fromUI4(m.ModuleEnabled()); }, nullptr},
      {"ModuleDllHandle", [](P& m) { return HandleValue(m.moduleDllHandle_); }, nullptr},
      {"ModuleLoadCount", [](P& m) { return OleVariant::fromI4(m.ModuleLoadCount()); }, nullptr},
      {"ModuleIndex", [](P& m) { return OleVariant::fromUI4(m.moduleIndex_); }, nullptr},
      {"ModulePluginHandle", [](P& m) { return HandleValue(m.PluginHandle()); }, nullptr},
      {"ModulePath", [](P& m) { return textOrEmpty(m.modulePath_); }, nullptr},
      {"ModuleDataPath", [](P& m) { return TextValue(m.ModuleDataPath()); }, nullptr},
      {"AppDataPath", [](P& m) { return TextValue(m.AppDataPath()); }, nullptr},
      {"ModuleName", [](P& m) { return textOrEmpty(m.moduleName_); }, nullptr},
      {"ModuleLoadForConfig", [](P& m) { return OleVariant::fromUI4(m.moduleLoadForConfig_); }, nullptr},
      {"ModuleConfigId", [](P& m) { return TextValue(m.ModuleConfigId()); }, nullptr},
      {"ApplicationFullName", [](P& m) { return textOrEmpty(m.applicationFullName_); }, nullptr},
      {"INIFile", [](P& m) { return textOrEmpty(m.INIFile()); }, nullptr},
      {"ModuleRegistryRoot1", [](P& m) { return OleVariant::fromUI1(m.registryRoot1_); }, nullptr},
      {"ModuleRegistryRoot2", [](P& m) { return OleVariant::fromUI1(m.registryRoot2_); }, nullptr},
      {"ModuleRegistryPath", [](P& m) { return textOrEmpty(m.registryPath_); }, nullptr},
      {"INISectionPrefix", [](P& m) { return textOrEmpty(m.iniSectionPrefix_); }, nullptr},
      {"DisplayFullVersion", [](P& m) { return textOrEmpty(m.displayFullVersion_); }, nullptr},
      {"ParserItems", [](P& m) { return TextValue(m.parserItems_.GetParserItemsText()); },
       [](P& m, const Variant& v) {
         return setText(v, [&](std::string t) { m.parserItems_.SetParserItems(t, true); });
       }},
      {"ParserItemsCount", [](P& m) { return OleVariant::fromI4(m.parserItems_.Count()); }, nullptr},
      {"DataSourceLoadFor", [](P& m) { return textOrEmpty(m.dataSourceLoadFor_); }, nullptr},
      {"TerminateNow", [](P& m) { return OleVariant::fromBool(m.terminateNow_); }, nullptr},
      {"IsTemporaryLoad", [](P& m) { return OleVariant::fromBool(m.isTemporaryLoad_); }, nullptr},
      {"ParentApp", [](P& m) { return HandleValue(m.parentApp_); }, nullptr},
      {"OWNER-FORM", [](P& m) { return HandleValue(m.ownerWindow_); },
       [](P& m, const Variant& v) {
         std::optional<int64_t> handle = IntegerOf(v);
         if (!handle) return false;
         m.ownerWindow_ = static_cast<uintptr_t>(*handle);
         return true;
       }},
      {"SUBSCRIBE-FOR-DATA", nullptr,
       [](P& m, const Variant& v) {
         std::optional<bool> flag = BoolOf(v);
         if (!flag) return false;
         m.subscribeForData_ = *flag ? 1 : 0;
         return true;
       }},
      {"TESTTRANSL",
       [](P&) {
         const std::vector<std::string> arguments = platform::processArguments();
         bool found = false;
         for (size_t i = 1; i < arguments.size(); ++i) found = found || arguments[i] == "/TESTTRANSL";
         return OleVariant::fromBool(found);
       },
       nullptr},
  };
  return table;
}

const TkivPlugin::TModuleProperty* TkivPlugin::FindModuleProperty(std::string_view name) {
  for (const TModuleProperty& property : ModuleProperties()) {
    if (platform::sameTextAscii(property.Name, name)) return &property;
  }
  return nullptr;
}

OleVariant TkivPlugin::GetModuleParameter(std::string_view name) {
  if (const TModuleProperty* property = FindModuleProperty(name)) {
    return property->Get ? property->Get(*this) : OleVariant();
  }

  // ParserItemName001, ParserItemDesc001, ParserItemType001: the prefix
  // compares case-sensitively, characters 15 to 17 are the index.
  constexpr size_t prefixLength = 14;
  const std::string_view prefix = name.substr(0, prefixLength);
  if (prefix == "ParserItemName" || prefix == "ParserItemDesc" || prefix == "ParserItemType") {
    const std::optional<int32_t> index = decimal(name.substr(prefixLength, 3));
    if (!index || *index < 0 || *index >= parserItems_.Count()) return {};
    const TParserItem& item = parserItems_.Items(*index);
    if (prefix == "ParserItemName") return TextValue(item.Name);
    if (prefix == "ParserItemDesc") return TextValue(item.Description);
    return SignedByteValue(static_cast<int8_t>(item.Type));
  }

  if (std::optional<std::string_view> key = customKey(name)) return GetCustomParam(*key);
  return {};
}

bool TkivPlugin::SetModuleParameter(std::string_view name, const Variant& value) {
  if (const TModuleProperty* property = FindModuleProperty(name)) {
    return property->Set ? property->Set(*this, value) : false;
  }
  if (std::optional<std::string_view> key = customKey(name)) return SetCustomParam(*key, value);
  return false;
}

OleVariant TkivPlugin::GetCustomParam(std::string_view key) {
  WriteLock lock(CustomParams());
  TkivParamsList* list = lock.Guarded<TkivParamsList>();
  if (key == "COUNT") return OleVariant::fromI4(list->Count());
  if (std::optional<int32_t> index = customIndex(key)) {
    const TkivParamsListItem* item = list->Items(*index);
    return item != nullptr ? item->Value() : OleVariant();
  }
  const TkivParamsListItem* item = list->ItemByName(key);
  return item != nullptr ? item->Value() : OleVariant();
}

bool TkivPlugin::SetCustomParam(std::string_view key, const Variant& value) {
  WriteLock lock(CustomParams());
  TkivParamsList* list = lock.Guarded<TkivParamsList>();
  if (key == "COUNT") {
    list->Clear();
    return true;
  }
  if (std::optional<int32_t> index = customIndex(key)) {
    if (TkivParamsListItem* item = list->Items(*index)) item->SetValue(value);
    return true;
  }
  list->SetItem(key, value, true);
  return true;
}

}  // namespace corvane
