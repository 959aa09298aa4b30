// The command protocol: how a host command (a parameter list whose value
// "COMMAND" names it) is dispatched and answered through the list's value
// "RESULT" and the result code.
#include <charconv>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "common/exceptions.h"
#include "platform/dynamic_library.h"
#include "platform/interlocked.h"
#include "platform/thread.h"
#include "plugin/call_params.h"
#include "plugin/call_record.h"
#include "plugin/call_result.h"
#include "plugin/plugin_host.h"
#include "plugin/plugin_module.h"
#include "plugin/plugin_values.h"

namespace corvane {
namespace {

void writeResult(IkivParamsListA* list, const platform::Variant& value) { WriteParam(list, "RESULT", value); }

bool hasValue(IkivParamsListA* list, const char* name) {
  if (list == nullptr) return false;
  int32_t index = -1;
  CheckBoundaryResult(list->ItemIndexByName(name, 0, -1, &index), "ItemIndexByName");
  return index >= 0;
}

std::string trimmed(std::string_view text) {
  size_t first = 0, last = text.size();
  while (first < last && static_cast<unsigned char>(text[first]) <= ' ') ++first;
  while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ') --last;
  return std::string(text.substr(first, last - first));
}

std::vector<std::string> SplitTrimmed(std::string_view line, char separator) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t at; (at = line.find(separator, start)) != std::string_view::npos; start = at + 1) {
    fields.push_back(trimmed(line.substr(start, at - start)));
  }
  fields.push_back(trimmed(line.substr(start)));
  return fields;
}

// A decimal number, optionally signed; nullopt for anything else.
std::optional<int64_t> ParseInteger(std::string_view text) {
  int64_t value = 0;
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (first != last && *first == '+') ++first;
  const auto [end, error] = std::from_chars(first, last, value);
  if (error != std::errc() || end != last || first == last) return std::nullopt;
  return value;
}

// Balances the nesting counter and the command lock on every path.
class CommandScope {
 public:
  explicit CommandScope(TkivPlugin& plugin) : plugin_(plugin) {
    plugin_.CommandLock().enter();
    nesting_ = platform::interlockedIncrement(plugin_.CommandNesting());
  }
  ~CommandScope() {
    platform::interlockedDecrement(plugin_.CommandNesting());
    plugin_.CommandLock().leave();
  }
  bool Nested() const { return nesting_ != 1; }

 private:
  TkivPlugin& plugin_;
  int32_t nesting_;
};

}  // namespace

int32_t TkivPlugin::ExecuteCommand(const std::string& command, TPluginCallRecord* record) {
  CommandScope scope(*this);
  Assert(!scope.Nested(), "Nested plugin commands are not allowed", "Private\\Plugins\\kivPluginModule", 3418);
  IkivParamsListA* params = record ? GetPacketParams(*record) : nullptr;

  if (command == "LOAD") {
    // A host that names a language expects it to take effect.
    if (auto language = ParamText(params, "LANGUAGE")) ApplyHostLanguage(*language);
  }
  if (auto window = ParamInteger(params, "MSG-PROC-HANDLE")) SetHostWindow(static_cast<uintptr_t>(*window));
  if (auto owner = ParamInteger(params, "OWNER-FORM")) SetOwnerWindow(static_cast<uintptr_t>(*owner));

  if (command == "EVENT") {
    auto eventType = ParamText(params, "EVENT-TYPE");
    if (!eventType) return kResultBadCall;
    TCallGuard guard{command, this};
    return GuardedCall(guard, [&] {
      int32_t result = kResultBadCall;
      return OnEvent.Raise(*this, *eventType, record, result) ? result : kResultDone;
    });
  }

  if (command == "LOAD") {
    if (IncrementLoadCount() != 1) return kResultDone;
    TCallGuard guard{"LOAD", this};
    return GuardedCall(guard, [&] {
      SetLoadThreadId(platform::currentThreadId());
      SetOptionsDialogOpen(false);
      SetModuleIndex(record ? record->HostId : 0);
      SetModuleRegistryPath(ParamText(params, "REGISTRY-PATH").value_or(""));
      SetINISectionPrefix(ParamText(params, "INI-SECTION-PREFIX").value_or(""));
      uintptr_t host = static_cast<uintptr_t>(ParamInteger(params, "HANDLE").value_or(0));
      SetApplicationFullName(ParamText(params, "APPLICATION-NAME").value_or(""));
      if (host == 0 && !ApplicationFullName().empty()) {
        host = reinterpret_cast<uintptr_t>(platform::moduleHandleByName(ApplicationFullName()));
      }
      SetParentApp(host);
      SetModuleLoadForConfig(0);
      if (ModuleOptions() & ModuleOptionPerConfig) {
        if (auto id = ParamInteger(params, "CONFIG-ID")) SetModuleLoadForConfig(static_cast<uint32_t>(*id));
      }
      SetINIFile(ParamText(params, "INI-FILE").value_or(""));
      if (host != 0) {
        const auto module = reinterpret_cast<platform::ModuleHandle>(host);
        THostFunctions& functions = HostFunctions();
        functions.SendNotify = reinterpret_cast<THostProcedure>(platform::moduleSymbol(module, "DataLogger_SendNotify"));
        functions.SendDataEx =
            reinterpret_cast<TDataLoggerSendDataEx>(platform::moduleSymbol(module, "DataLogger_SendDataEx"));
        functions.DataSourceData =
            reinterpret_cast<THostProcedure>(platform::moduleSymbol(module, "DataLogger_DataSourceData"));
        functions.DataSourceState =
            reinterpret_cast<THostProcedure>(platform::moduleSymbol(module, "DataLogger_DataSourceState"));
        functions.ManageDynForm =
            reinterpret_cast<THostProcedure>(platform::moduleSymbol(module, "DataLogger_ManageDynForm"));
      }
      SetTerminateNow(false);
      if (LogList() != nullptr && LogList()->Count() > 0) NotifyLogPending();
      int32_t result = 0;
      OnLoad.Raise(*this, record, result);
      return kResultDone;
    });
  }

  if (command == "UNLOAD") {
    if (ModuleLoadCount() == 0) return kResultDone;
    if (DecrementLoadCount() != 0) return kResultDone;
    TCallGuard guard{command, this};
    return GuardedCall(guard, [&] {
      SetTerminateNow(true);
      for (uint8_t role = 0; role < 8; ++role) SetRoleEnabled(role, false);
      const std::string iniFile = ParamText(params, "INI-FILE").value_or("");
      if (iniFile != INIFile()) {
        SetINIFile(iniFile);
        try {
          OnSaveSettingsNow.Raise(*this);
        } catch (...) {
        }
      }
      try {
        int32_t result = 0;
        OnUnload.Raise(*this, record, result);
      } catch (...) {
      }
      SetOptionsDialogOpen(false);
      SetParentApp(0);
      SetHostWindow(0);
      return kResultDone;
    });
  }

  if (command == "SET-ITEMS") {
    auto value = ReadParam(params, "ITEMS");
    if (!value || value->type() != platform::vtBstr) return kResultBadCall;
    ParserItems().SetParserItems(TextOf(value->raw()).value_or(""), true);
    OnItemsChanged.Raise(*this);
    return kResultDone;
  }

  if (command == "SET-STATE") {
    int32_t result = kResultBadCall;
    if (auto lines = ParamText(params, "DATA-SOURCES-IN-CFG")) {
      DataSources().clear();
      size_t pos = 0;
      while (pos <= lines->size()) {
        size_t end = lines->find_first_of("\r\n", pos);
        if (end == std::string::npos) end = lines->size();
        const std::string line = lines->substr(pos, end - pos);
        pos = end + 1;
        if (line.empty()) continue;
        try {
          auto fields = SplitTrimmed(line, ';');
          const int64_t id = ParseInteger(fields.empty() ? "" : fields[0]).value_or(-1);
          if (id == -1) continue;
          DataSources().push_back({line, static_cast<int32_t>(id), fields.size() > 1 ? fields[1] : "",
                                   fields.size() > 2 ? fields[2] : ""});
        } catch (const std::exception& e) {
          result = kResultFailed;
          ReportException(this, "SETSTATE", e);
        }
      }
    }
    if (auto loadFor = ParamText(params, "DATA-SOURCE-LOAD")) SetDataSourceLoadFor(*loadFor);
    auto enable = ParamInteger(params, "RESULT");
    if (!enable) return result;
    const uint8_t roles = record ? record->RoleFlags : 0;
    for (uint8_t role = 0; role < 8; ++role) {
      if (roles & (1u << role)) SetRoleEnabled(role, *enable == 1);
    }
    OnSetState.Raise(*this, roles);
    return kResultDone;
  }

  if (command == "ITEMS") {
    if (!hasValue(params, "RESULT")) return kResultBadCall;
    OnGetItems.Raise(*this);
    SetItemsText(ParserItems().GetParserItemsText());
    writeResult(params, TextValue(ItemsText()).raw());
    return kResultDone;
  }

  if (command == "EVENTS-SUPPORT") {
    writeResult(params, TextValue(EventsSupported()).raw());
    return kResultDone;
  }

  if (command == "GET-MODULE-PARAMETER") {
    auto name = ParamText(params, "PARAM");
    if (!name) return kResultNotHandled;
    writeResult(params, GetModuleParameter(*name).raw());
    return kResultDone;
  }

  if (command == "SET-MODULE-PARAMETER") {
    auto name = ParamText(params, "PARAM");
    if (!name) return kResultNotHandled;
    const platform::OleVariant value = ReadParam(params, "VALUE").value_or(platform::OleVariant());
    writeResult(params, platform::OleVariant::fromBool(SetModuleParameter(*name, value.raw())).raw());
    return kResultDone;
  }

  if (command == "SAVE-SETTINGS-NOW" || command == "LOAD-SETTINGS-NOW") {
    const std::string kept = INIFile();
    SetINIFile(ParamText(params, "INI-FILE").value_or(""));
    try {
      if (command == "LOAD-SETTINGS-NOW") {
        OnLoadSettingsNow.Raise(*this);
        SetINIFile(kept);
      }
      const auto noSave = ParamInteger(params, "NO-SAVE");
      if (OnSaveSettingsNow.Assigned() && (!noSave || *noSave == 0)) OnSaveSettingsNow.Raise(*this);
    } catch (...) {
      SetINIFile(kept);
      throw;
    }
    SetINIFile(kept);
    return kResultNotHandled;
  }

  TCallGuard guard{command, this};
  return GuardedCall(guard, [&] {
    int32_t result = kResultNotHandled;
    OnCommand.Raise(*this, command, record, result);
    return result;
  });
}

}  // namespace corvane
