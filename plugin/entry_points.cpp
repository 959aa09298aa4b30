#include "plugin/entry_points.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <mutex>
#include <string>

#include "platform/code_page.h"
#include "platform/diagnostics.h"
#include "platform/message_window.h"
#include "platform/resources.h"
#include "platform/thread.h"
#include "plugin/call_context.h"
#include "plugin/call_params.h"
#include "plugin/call_result.h"
#include "plugin/plugin_host.h"
#include "plugin/plugin_values.h"
#include "plugin/plugin_library.h"

namespace corvane {
namespace {

constexpr uint32_t kInterfaceVersion = 4;

PluginPin FindInstance(const TPluginCallRecord* record) {
  PluginLibrary* library = PluginLibrary::Current();
  if (record == nullptr || library == nullptr) return {};
  return library->Instances().Find(record->InstanceHandle);
}

void setStatus(TPluginDataItem& item, uint32_t status) {
  item.Type = ditStatus;
  item.Pointer = status;
}

// Every instance that shares the registry path reloads its settings: on the
// thread that loaded it directly, otherwise through its host window. A direct
// reload holds the instance's command lock, as its commands do: a settings
// command running on another thread at the same time (which points the
// instance at another INI file while it runs) is waited for, not raced.
void broadcastReload(PluginLibrary& library, const std::string& registryPath) {
  const uint32_t self = platform::currentThreadId();
  library.Instances().ForEach([&](TkivPlugin& plugin) {
    if (plugin.ModuleRegistryPath() != registryPath || !plugin.OnLoadSettingsNow.Assigned()) return;
    try {
      if (plugin.LoadThreadId() == self) {
        std::lock_guard lock(plugin.CommandLock());
        plugin.OnLoadSettingsNow.Raise(plugin);
        return;
      }
      const auto window = reinterpret_cast<platform::WindowHandle>(plugin.HostWindow());
      if (window == nullptr) return;
      if (!platform::postMessage(window, HostMsgReloadSettings, plugin.ModuleIndex(), 0)) {
        intptr_t ignored = 0;
        platform::sendMessageTimeout(window, HostMsgReloadSettings, plugin.ModuleIndex(), 0,
                                     platform::kSmtoAbortIfHung, 1000, &ignored);
      }
    } catch (...) {
      // One instance failing to reload does not stop the others.
    }
  });
}

// A raw-data resource of the module this code belongs to; empty when absent.
std::string moduleResource(std::string_view name) {
  static const char anchor = 0;
  const auto data = platform::findModuleResource(&anchor, platform::ansiUpper(name));
  return data ? std::string(*data) : std::string();
}

struct DialogParts {
  std::string form;
  std::string extra;
  std::string code;
};

// The form and its code by form name, or the module's default form.
void loadDialogResources(DialogParts& parts, const std::string& formName) {
  if (!formName.empty()) {
    const std::string name = platform::ansiUpper(formName);
    parts.form = moduleResource(name);
    parts.code = moduleResource(name + "_CODE");
    return;
  }
  parts.code = moduleResource("FORM_DATA");
  parts.form = moduleResource(platform::ansiUpper(moduleResource("FORM_NAME")));
}

}  // namespace

int32_t CreatePluginInstance(TPluginCallRecord* record) noexcept {
  if (record == nullptr || record->InstanceHandle != 0) return kResultBadCall;
  PluginLibrary* library = PluginLibrary::Current();
  if (library == nullptr) return kResultBadCall;
  // A failing constructor is reported to the debugger output: there is no
  // instance whose log could take it.
  TCallGuard guard{"CREATE"};
  return GuardedCall(guard, [&] {
    CallContext context;
    context.Enter(*record);
    TPluginCreation creation;
    if (record->Params != 0) creation.Params = *reinterpret_cast<IkivParamsListA* const*>(record->Params);
    std::unique_ptr<TkivPlugin> plugin = library->PluginClass()(0, &creation);
    const uintptr_t handle = library->Instances().Add(std::move(plugin));
    context.Leave();
    record->InstanceHandle = handle;
    return kResultDone;
  });
}

int32_t FreePluginInstance(TPluginCallRecord* record) noexcept {
  if (record == nullptr) return kResultBadCall;
  PluginLibrary* library = PluginLibrary::Current();
  if (record->InputItem.Type == ditLibraryRelease &&
      static_cast<uint32_t>(record->InputItem.Pointer) == LibraryReleaseRequest) {
    if (library != nullptr) library->RunReleaseCallbacks();
    return kResultDone;
  }
  if (record->InstanceHandle == 0 || library == nullptr) return kResultBadCall;
  return library->Instances().Free(record->InstanceHandle) ? kResultDone : kResultBadCall;
}

uint8_t GetModuleInfo(TPluginCallRecord* record, void* buffer, uint32_t* size) noexcept {
  if (size == nullptr) return 0;
  *size = 0;
  try {
    PluginPin plugin = FindInstance(record);
    if (!plugin) return 0;
    const std::string description = platform::ansiToUtf8(plugin->Description());
    const std::string commands = platform::ansiToUtf8(plugin->CustomCommands().GetText());
    const uint32_t header = sizeof(ModuleInfoRecord);
    *size = header + static_cast<uint32_t>(description.size() + commands.size());
    if (buffer == nullptr) return 0;
    auto* info = static_cast<ModuleInfoRecord*>(buffer);
    const uint32_t capacity = info->BufferSize;
    if (capacity < header) return 0;
    std::memset(reinterpret_cast<char*>(info) + sizeof info->BufferSize, 0, header - sizeof info->BufferSize);
    info->Flags = plugin->ModuleType() | (static_cast<uint32_t>(plugin->ModuleOptions() & 0x07) << 16);
    info->InterfaceVersion = kInterfaceVersion;
    info->ModuleVersion = plugin->ModuleVersion();
    info->InfoFlag = plugin->InfoFlag();
    if (*size > capacity) return 0;
    char* text = reinterpret_cast<char*>(info) + header;
    if (!description.empty()) {
      std::memcpy(text, description.data(), description.size());
      info->DescriptionLength = static_cast<uint32_t>(description.size());
      info->DescriptionAddress = reinterpret_cast<uintptr_t>(text);
      text += description.size();
    }
    if (!commands.empty()) {
      std::memcpy(text, commands.data(), commands.size());
      info->CommandsLength = static_cast<uint32_t>(commands.size());
      info->CommandsAddress = reinterpret_cast<uintptr_t>(text);
    }
    return 1;
  } catch (...) {
    return 0;
  }
}

int32_t GetLogEx(TPluginCallRecord* record) noexcept {
  if (record == nullptr) return 0;
  record->OutputItem.Type = ditStatus;
  record->OutputItem.Pointer = 0;
  int32_t copied = 0;
  try {
    PluginPin plugin = FindInstance(record);
    if (!plugin || plugin->LogList() == nullptr) return 0;
    try {
      plugin->OnLogDrain.Raise(*plugin);
    } catch (...) {
      // What the module held back stays queued; the drain goes on.
    }
    uint32_t length = 0;
    copied = plugin->LogList()->Drain(reinterpret_cast<char*>(record->InputItem.Pointer), record->InputItem.Size,
                                      length);
    record->OutputItem.Pointer = length;
  } catch (...) {
  }
  return copied;
}

int32_t ProcessData(TPluginCallRecord* record) noexcept {
  if (record == nullptr || record->RecordSize != CallRecordSize || record->Params == 0) return kResultBadCall;
  PluginPin plugin;
  TCallGuard guard{"PROCESS"};
  return GuardedCall(guard, [&] {
    plugin = FindInstance(record);
    if (!plugin) return kResultBadCall;
    guard.Instance = plugin.get();
    // An instance that is unloading and still busy gets time to finish; the
    // waiting thread keeps serving its messages.
    const uint64_t start = platform::tickCount64();
    while (plugin->Busy() && plugin->TerminateNow()) {
      if (platform::tickCount64() - start >= 30000) return kResultBadCall;
      platform::pumpMessages();
      platform::waitMessage(50);
    }
    if (plugin->TerminateNow() || PluginLibrary::Current() == nullptr) return kResultBadCall;
    plugin->EnterBusy();
    struct BusyMark {
      TkivPlugin& plugin;
      ~BusyMark() { plugin.LeaveBusy(); }
    } busy{*plugin};
    return plugin->ProcessPacket(record);
  });
}

int32_t ExecutePluginCommand(TPluginCallRecord* record) noexcept {
  if (record == nullptr || record->RecordSize != CallRecordSize || record->Params == 0) return kResultBadCall;
  std::string command = "CMD?";
  PluginPin plugin;
  TCallGuard guard{command};
  return GuardedCall(guard, [&] {
    plugin = FindInstance(record);
    if (!plugin) return kResultBadCall;
    guard.Instance = plugin.get();
    CallContext context;
    context.Enter(*record);
    IkivParamsListA* params = GetPacketParams(*record);
    try {
      if (auto value = ReadParam(params, "TEMPORARY-LOAD")) {
        if (auto flag = BoolOf(value->raw())) plugin->SetIsTemporaryLoad(*flag);
      }
    } catch (...) {
    }
    auto name = ParamText(params, "COMMAND");
    if (!name || name->empty()) return kResultBadCall;
    command = *name;
    guard.Context = command;
    // A failing command handler's call stack goes to the log as well.
    guard.LogStack = true;
    return plugin->ExecuteCommand(command, record);
  });
}

void GetOptionsDialog(TPluginCallRecord* record) noexcept {
  if (record == nullptr) return;
  record->OutputItem.Size = 0;
  setStatus(record->OutputItem, 1);
  try {
    PluginPin plugin = FindInstance(record);
    if (!plugin) return;
    auto* buffer = reinterpret_cast<char*>(record->InputItem.Pointer);
    const int32_t capacity = record->InputItem.Size;
    std::string formName;
    if (buffer != nullptr && capacity > 0) formName.assign(buffer, std::find(buffer, buffer + capacity, '\0'));

    DialogParts parts;
    if (!plugin->OnGetOptionsDialog.Assigned() || !formName.empty()) {
      loadDialogResources(parts, formName);
    } else {
      std::string extra;
      plugin->OnGetOptionsDialog.Raise(*plugin, record, formName, extra);
      if (formName.empty() && extra.empty()) {
        setStatus(record->OutputItem, 2);
        return;
      }
      if (!formName.empty()) loadDialogResources(parts, formName);
      parts.extra = std::move(extra);
    }

    if (parts.form.empty() && parts.extra.empty() && parts.code.empty()) {
      setStatus(record->OutputItem, 2);
      return;
    }
    const size_t needed = sizeof(OptionsDialogBlock) + parts.form.size() + parts.extra.size() + parts.code.size();
    if (buffer == nullptr || capacity < 0 || needed > static_cast<size_t>(capacity)) {
      setStatus(record->OutputItem, 3);
      record->OutputItem.Size = static_cast<int32_t>(needed);
      return;
    }
    OptionsDialogBlock block;
    block.FormOffset = sizeof block;
    block.FormLength = static_cast<uint32_t>(parts.form.size());
    block.ExtraOffset = block.FormOffset + block.FormLength;
    block.ExtraLength = static_cast<uint32_t>(parts.extra.size());
    block.CodeOffset = block.ExtraOffset + block.ExtraLength;
    block.CodeLength = static_cast<uint32_t>(parts.code.size());
    std::memcpy(buffer, &block, sizeof block);
    std::memcpy(buffer + block.FormOffset, parts.form.data(), parts.form.size());
    std::memcpy(buffer + block.ExtraOffset, parts.extra.data(), parts.extra.size());
    std::memcpy(buffer + block.CodeOffset, parts.code.data(), parts.code.size());
    record->OutputItem.Type = ditHostBuffer;
    record->OutputItem.Size = 0;
    record->OutputItem.Pointer = needed;
  } catch (...) {
    // The status tells how far the call got.
  }
}

void ShowOptionsDialog(TPluginCallRecord* record) noexcept {
  if (record == nullptr) return;
  record->OutputItem.Size = 4;
  setStatus(record->OutputItem, 2);
  try {
    PluginPin plugin = FindInstance(record);
    if (!plugin) return;
    if (!plugin->OnShowOptionsDialog.Assigned()) {
      setStatus(record->OutputItem, 3);
      return;
    }
    CallContext context;
    context.Enter(*record);
    setStatus(record->OutputItem, 4);
    if (IkivParamsListA* params = GetPacketParams(*record)) {
      plugin->SetINIFile(ParamText(params, "INI-FILE").value_or(std::string()));
      if (auto language = ParamText(params, "LANGUAGE")) plugin->ApplyHostLanguage(*language);
      if (auto owner = ParamInteger(params, "OWNER-FORM")) plugin->SetOwnerWindow(static_cast<uintptr_t>(*owner));
    }
    plugin->SetOptionsDialogOpen(true);
    plugin->SetOptionsDialogRoleFlags(record->RoleFlags);
    int32_t result = 0;
    try {
      plugin->OnShowOptionsDialog.Raise(*plugin, record, result);
    } catch (const std::exception& e) {
      plugin->AddLog(lkError, std::string(e.what()) + " {SHOWOPTIONS}");
      result = 0;
    }
    setStatus(record->OutputItem, static_cast<uint32_t>(result));
    if (result != 0) {
      if (PluginLibrary* library = PluginLibrary::Current()) broadcastReload(*library, plugin->ModuleRegistryPath());
    }
    plugin->SetOptionsDialogOpen(false);
    plugin->SetOptionsDialogRoleFlags(0);
  } catch (...) {
    // The status tells how far the call got.
  }
}

}  // namespace corvane
