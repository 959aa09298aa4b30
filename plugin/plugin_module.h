// TkivPlugin: the module object, one per plug-in instance the host creates.
// It holds the instance's identity, properties, paths, state flags, log
// queue and the host's handles and functions. It has no behaviour of its own
// beyond that: a concrete module derives from it and plugs its behaviour in
// by assigning the events, which the framework calls only when assigned.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/component.h"
#include "common/params_list_interfaces.h"
#include "common/thread_lists.h"
#include "common/thread_params_list.h"
#include "log/log_data_list.h"
#include "platform/abi.h"
#include "platform/ole_variant.h"
#include "platform/sync.h"
#include "plugin/call_record.h"
#include "plugin/custom_commands.h"
#include "plugin/parser_items.h"
#include "ui/wtransl.h"

namespace corvane {

// Module roles as bit numbers of ModuleType, of a call's role flags and of
// the role enable flags.
enum TModuleRole : uint8_t { mrQuery = 0, mrParser = 1, mrExport = 2, mrStore = 3, mrFilter = 5 };
inline constexpr uint8_t RoleBit(TModuleRole role) { return static_cast<uint8_t>(1u << role); }
// Whether a call is made for a role.
inline bool HasRole(const TPluginCallRecord& record, TModuleRole role) { return (record.RoleFlags & RoleBit(role)) != 0; }

// Bit 2 of ModuleOptions: the module is configured per host configuration,
// and LOAD reads "CONFIG-ID".
inline constexpr uint8_t ModuleOptionPerConfig = 0x04;

// Message 1809 to the host's window: log lines are pending.
inline constexpr uint32_t HostMsgLogPending = 0x0711;
// Message 1812: the host should have the instance reload its settings.
inline constexpr uint32_t HostMsgReloadSettings = 0x0714;

// The kinds of DataLogger_SendDataEx.
inline constexpr int32_t HostSendEvent = 7;
inline constexpr int32_t HostSendBytes = 0x81;
inline constexpr int32_t HostSendString = 0x82;

// DataLogger_SendDataEx: host id, data source id, client id, 0, kind,
// pointer, count; the host's result comes back unchanged.
using TDataLoggerSendDataEx = int32_t(CV_STDCALL*)(uint32_t hostId, int32_t dataSourceId, uint32_t clientId,
                                                   int32_t reserved, int32_t kind, void* data, int32_t count);
// The host functions the module resolves but never calls; only their
// addresses are kept.
using THostProcedure = void(CV_STDCALL*)();

struct THostFunctions {
  THostProcedure SendNotify = nullptr;             // DataLogger_SendNotify
  TDataLoggerSendDataEx SendDataEx = nullptr;      // DataLogger_SendDataEx
  THostProcedure DataSourceData = nullptr;         // DataLogger_DataSourceData
  THostProcedure DataSourceState = nullptr;        // DataLogger_DataSourceState
  THostProcedure ManageDynForm = nullptr;          // DataLogger_ManageDynForm
};

// One data source of the host configuration (SET-STATE "DATA-SOURCES-IN-CFG").
struct TConfigDataSource {
  std::string Line;
  int32_t Id = -1;
  std::string Name;
  std::string Text;
};

// Texts each with a 32-bit configuration id in its object slot.
class TModuleConfigList : public TThreadStringList {
 public:
  // The first text with this id and its index, under the read lock; index -1
  // and no text for id 0 or no match.
  int32_t FindId(uint32_t id, std::string* text = nullptr);
};

// What the creating call gives: present when a call record was given, with
// its parameter list (null when the record has none).
struct TPluginCreation {
  IkivParamsListA* Params = nullptr;
};

// Events. Each is a handler the concrete module assigns; Raise calls it only
// when assigned and reports whether it did.
template <class... Args>
class TPluginEvent {
 public:
  using Handler = std::function<void(Args...)>;

  TPluginEvent& operator=(Handler handler) {
    handler_ = std::move(handler);
    return *this;
  }
  bool Assigned() const { return static_cast<bool>(handler_); }
  bool Raise(Args... args) const {
    if (!handler_) return false;
    handler_(std::forward<Args>(args)...);
    return true;
  }

 private:
  Handler handler_;
};

class TkivPlugin;
using TPluginNotifyEvent = TPluginEvent<TkivPlugin&>;
using TPluginResultEvent = TPluginEvent<TkivPlugin&, TPluginCallRecord*, int32_t&>;
using TPluginOptionsDialogEvent = TPluginEvent<TkivPlugin&, TPluginCallRecord*, std::string&, std::string&>;
using TPluginCommandEvent = TPluginEvent<TkivPlugin&, const std::string&, TPluginCallRecord*, int32_t&>;
using TPluginSetStateEvent = TPluginEvent<TkivPlugin&, uint8_t>;

class TkivPlugin : public TComponent {
  CV_DECLARE_CLASS_INFO

 public:
  static constexpr std::string_view DefaultMsgNoData = "No data for processing";
  static constexpr std::string_view DefaultMsgWriteComplete = "Data have been processed successfully";
  static constexpr std::string_view DefaultMsgWriteCompleteError = "Data have been processed with errors";

  // Builds a module of class T (derived from TkivPlugin, constructed from
  // moduleDllHandle and the creation parameters; none when the creating call
  // gave no call record), then completes the construction: the form hook
  // and OnCreate, where the concrete module sets its properties and assigns
  // its events.
  template <class T = TkivPlugin>
  static std::unique_ptr<T> Create(uintptr_t moduleDllHandle, const TPluginCreation* creation = nullptr) {
    auto module = std::make_unique<T>(moduleDllHandle, creation);
    module->AfterConstruction();
    return module;
  }

  TkivPlugin(uintptr_t moduleDllHandle, const TPluginCreation* creation);
  ~TkivPlugin() override;

  // Events, in field order.
  TPluginResultEvent OnShowOptionsDialog;
  TPluginOptionsDialogEvent OnGetOptionsDialog;  // FormName, Extra
  TPluginCommandEvent OnCommand;                 // Command
  TPluginResultEvent OnLoad;
  TPluginResultEvent OnUnload;
  TPluginNotifyEvent OnSaveSettingsNow;
  TPluginNotifyEvent OnLoadSettingsNow;
  TPluginNotifyEvent OnGetItems;
  TPluginNotifyEvent OnItemsChanged;
  TPluginSetStateEvent OnSetState;  // RoleFlags
  TPluginResultEvent OnProcessData;
  TPluginCommandEvent OnEvent;  // EventType
  TPluginNotifyEvent OnLanguageChanged;
  // Fires once construction is complete (Create).
  TPluginNotifyEvent OnCreate;
  // Fires before the host drains the log (GetLogEx), from the draining
  // thread: a module hands over what it still holds back for the log.
  TPluginNotifyEvent OnLogDrain;

  // --- Module properties, by name (GET-/SET-MODULE-PARAMETER) ---
  // An unknown name reads as Empty; writing an unknown or read-only name,
  // or a value that cannot be converted, answers false.
  platform::OleVariant GetModuleParameter(std::string_view name);
  bool SetModuleParameter(std::string_view name, const platform::Variant& value);

  // --- Commands ---
  // Runs one host command (the call's parameter list is the record's Params,
  // inside a CallContext). Commands are serialised by the command lock; a
  // nested command on the same thread raises EAssertionFailed.
  int32_t ExecuteCommand(const std::string& command, TPluginCallRecord* record);

  // The framework's side of a data packet: checks, the OnProcessData
  // handler, completion messages, and the filter pass-through when there is
  // no handler. Handler failures become -3 and a warning line.
  int32_t ProcessPacket(TPluginCallRecord* record);

  // --- Paths ---
  const std::string& ModulePath() const { return modulePath_; }  // with a trailing delimiter
  const std::string& ModuleName() const { return moduleName_; }
  // The common application data folder + the 4th part of ModuleRegistryPath,
  // with a trailing delimiter.
  std::string AppDataPath() const;
  std::string ModuleConfigId() const;
  std::string ModuleDataPath();

  // --- Logging ---
  // Appends one line to the log queue and tells the host; never raises.
  void AddLog(TLogKind kind, std::string_view text, bool flag = false) noexcept;
  // Posts message 1809 to the host's window (none while it is 0).
  void NotifyLogPending() noexcept;
  TLogDataList* LogList() const { return log_.get(); }

  // --- Host calls ---
  // Each answers -1 without calling when DataLogger_SendDataEx is unknown.
  int32_t SendDataToHost(uint32_t hostId, int32_t dataSourceId, uint32_t clientId, int32_t kind, void* data,
                         int32_t count) const;
  int32_t SendByteToHost(uint32_t hostId, int32_t dataSourceId, uint32_t clientId, uint8_t value) const;
  int32_t SendBytesToHost(uint32_t hostId, int32_t dataSourceId, uint32_t clientId, const void* data,
                          int32_t count) const;
  int32_t SendStringToHost(uint32_t hostId, int32_t dataSourceId, uint32_t clientId, std::string_view text) const;
  // Sends kind 7 with a new list: "EVENT-GLOBAL" (only when true), then
  // "EVENT-TYPE" in upper case, then a copy of params (may be null).
  int32_t RaiseHostEvent(bool global, std::string_view eventType, const TkivParamsList* params,
                         uint32_t hostId, int32_t dataSourceId, uint32_t clientId) const;

  // "COM<n>" gives n; any other name the masked CRC-32 of its lower case.
  static int32_t DataSourceIdFromName(std::string_view name);
  // The set of roles whose enable flag is true.
  uint8_t ModuleEnabled() const;

  // --- Fields ---
  platform::CriticalSection& CommandLock() { return commandLock_; }
  int32_t& CommandNesting() { return commandNesting_; }  // interlocked
  uintptr_t PluginHandle() const { return reinterpret_cast<uintptr_t>(this); }
  uintptr_t ModuleDllHandle() const { return moduleDllHandle_; }
  int32_t ModuleLoadCount() const;
  // Interlocked; the count never drops below 0. Both answer the new count.
  int32_t IncrementLoadCount();
  int32_t DecrementLoadCount();
  uint32_t ModuleIndex() const { return moduleIndex_; }
  void SetModuleIndex(uint32_t hostId) { moduleIndex_ = hostId; }
  const std::string& ItemsText() const { return itemsText_; }
  void SetItemsText(std::string text) { itemsText_ = std::move(text); }
  const std::string& Description() const { return description_; }
  void SetDescription(std::string text) { description_ = std::move(text); }
  // Read by every log line, from any thread: copies under the text lock.
  std::string LogTitle() const {
    std::lock_guard guard(textLock_);
    return logTitle_;
  }
  void SetLogTitle(std::string text) {
    std::lock_guard guard(textLock_);
    logTitle_ = std::move(text);
  }
  uint8_t ModuleType() const { return moduleType_; }
  void SetModuleType(uint8_t roles) { moduleType_ = roles; }
  uint8_t ModuleOptions() const { return moduleOptions_; }
  void SetModuleOptions(uint8_t options) { moduleOptions_ = options; }
  uint8_t InfoFlag() const { return infoFlag_; }
  void SetInfoFlag(uint8_t flag) { infoFlag_ = flag; }
  uint32_t ModuleLoadForConfig() const { return moduleLoadForConfig_; }
  void SetModuleLoadForConfig(uint32_t id) { moduleLoadForConfig_ = id; }
  const std::string& ApplicationFullName() const { return applicationFullName_; }
  void SetApplicationFullName(std::string name) { applicationFullName_ = std::move(name); }
  const std::string& DisplayFullVersion() const { return displayFullVersion_; }
  TParserItems& ParserItems() { return parserItems_; }
  TkivPluginCustomCmdList& CustomCommands() { return *customCommands_; }
  TkivThreadParamsList& CustomParams();  // made on first use
  bool TerminateNow() const { return terminateNow_.load(std::memory_order_acquire); }
  void SetTerminateNow(bool value) { terminateNow_.store(value, std::memory_order_release); }
  std::vector<TConfigDataSource>& DataSources() { return dataSources_; }
  const std::string& DataSourceLoadFor() const { return dataSourceLoadFor_; }
  void SetDataSourceLoadFor(std::string text) { dataSourceLoadFor_ = std::move(text); }
  const std::string& MsgNoData() const { return msgNoData_; }
  const std::string& MsgWriteComplete() const { return msgWriteComplete_; }
  const std::string& MsgWriteCompleteError() const { return msgWriteCompleteError_; }
  float ModuleVersion() const { return moduleVersion_; }
  void SetModuleVersion(float version) { moduleVersion_ = version; }
  // Changed by ShowOptionsDialog while packets may read it.
  std::string INIFile() const {
    std::lock_guard guard(textLock_);
    return iniFile_;
  }
  void SetINIFile(std::string path) {
    std::lock_guard guard(textLock_);
    iniFile_ = std::move(path);
  }
  uint8_t ModuleRegistryRoot1() const { return registryRoot1_; }
  uint8_t ModuleRegistryRoot2() const { return registryRoot2_; }
  void SetModuleRegistryRoots(uint8_t root1, uint8_t root2) {
    registryRoot1_ = root1;
    registryRoot2_ = root2;
  }
  const std::string& ModuleRegistryPath() const { return registryPath_; }
  void SetModuleRegistryPath(std::string path) { registryPath_ = std::move(path); }
  const std::string& INISectionPrefix() const { return iniSectionPrefix_; }
  void SetINISectionPrefix(std::string prefix) { iniSectionPrefix_ = std::move(prefix); }
  bool RoleEnabled(TModuleRole role) const { return roleEnabled_[role]; }
  void SetRoleEnabled(uint8_t role, bool enabled) { roleEnabled_[role & 7] = enabled; }
  const std::string& EventsSupported() const { return eventsSupported_; }
  void SetEventsSupported(std::string text) { eventsSupported_ = std::move(text); }
  bool IsTemporaryLoad() const { return isTemporaryLoad_; }
  void SetIsTemporaryLoad(bool value) { isTemporaryLoad_ = value; }
  bool SettingsBusy() const { return settingsBusy_; }
  void SetSettingsBusy(bool busy) { settingsBusy_ = busy; }
  uintptr_t OwnerWindow() const { return ownerWindow_; }
  void SetOwnerWindow(uintptr_t window) { ownerWindow_ = window; }
  uintptr_t HostWindow() const { return hostWindow_.load(std::memory_order_acquire); }
  void SetHostWindow(uintptr_t window) { hostWindow_.store(window, std::memory_order_release); }
  uintptr_t ParentApp() const { return parentApp_; }
  void SetParentApp(uintptr_t module) { parentApp_ = module; }
  uint8_t SubscribeForData() const { return subscribeForData_; }
  TModuleConfigList& ModuleConfigList();  // made on first use
  // Inside ProcessData. Calls run side by side, so the mark counts them:
  // the first to leave does not clear it under the others.
  bool Busy() const { return busyCalls_.load(std::memory_order_acquire) > 0; }
  void EnterBusy() { busyCalls_.fetch_add(1, std::memory_order_acq_rel); }
  void LeaveBusy() { busyCalls_.fetch_sub(1, std::memory_order_acq_rel); }
  bool Translated() const { return translated_; }
  void SetTranslated(bool translated) { translated_ = translated; }
  bool OptionsDialogOpen() const { return optionsDialogOpen_; }
  void SetOptionsDialogOpen(bool open) { optionsDialogOpen_ = open; }
  uint8_t OptionsDialogRoleFlags() const { return optionsDialogRoleFlags_; }
  void SetOptionsDialogRoleFlags(uint8_t flags) { optionsDialogRoleFlags_ = flags; }
  uint32_t LoadThreadId() const { return loadThreadId_; }
  void SetLoadThreadId(uint32_t id) { loadThreadId_ = id; }
  const std::string& CurrentLanguage() const { return currentLanguage_; }
  void SetCurrentLanguage(std::string language) { currentLanguage_ = std::move(language); }
  // The property names the translator translates: its defaults, the
  // messages and what TranslatorComponentProperties added.
  const std::vector<std::string>& TranslatorPropertyNames() const { return translator_->ComponentProperties; }

  // --- Translation ---
  // The instance's translator. Its LanguageFile is empty (and nothing is
  // translated) unless the module's own ".lng" file exists.
  TWtransl& Translator() { return *translator_; }
  // Translates the module from English into the current language ("NONE"
  // when empty), once until the translated mark is cleared.
  void TranslateModule();
  // Translates another component the same way (its texts start in English).
  bool TranslateComponent(TComponent& component);
  // The host's "LANGUAGE": a different, non-empty language takes effect:
  // the module is translated into it from the language its texts are in,
  // and OnLanguageChanged fires (its errors are logged under "TRANSL").
  void ApplyHostLanguage(const std::string& language);
  THostFunctions& HostFunctions() { return hostFunctions_; }
  const THostFunctions& HostFunctions() const { return hostFunctions_; }

 protected:
  // Completes the construction (Create calls it once).
  void AfterConstruction();

 private:
  struct TModuleProperty;
  static const std::vector<TModuleProperty>& ModuleProperties();
  static const TModuleProperty* FindModuleProperty(std::string_view name);
  void LoadFormResource();
  platform::OleVariant GetCustomParam(std::string_view key);
  bool SetCustomParam(std::string_view key, const platform::Variant& value);

  bool closing_ = false;
  std::unique_ptr<TWtransl> translator_;
  platform::CriticalSection commandLock_;
  int32_t commandNesting_ = 0;
  uintptr_t moduleDllHandle_;
  int32_t moduleLoadCount_ = 0;
  uint32_t moduleIndex_ = 0;
  std::string itemsText_;
  std::string description_;
  std::string logTitle_;
  uint8_t moduleType_ = 0;
  uint8_t moduleOptions_ = 0;
  uint8_t infoFlag_ = 1;
  std::string modulePath_;
  std::string moduleName_;
  uint32_t moduleLoadForConfig_ = 0;
  std::string applicationFullName_;
  std::string displayFullVersion_;
  TParserItems parserItems_;
  std::unique_ptr<TkivPluginCustomCmdList> customCommands_;
  std::unique_ptr<TkivThreadParamsList> customParams_;
  std::unique_ptr<TLogDataList> log_;
  std::atomic<bool> terminateNow_{false};
  std::vector<TConfigDataSource> dataSources_;
  std::string dataSourceLoadFor_;
  std::string msgNoData_;
  std::string msgWriteComplete_;
  std::string msgWriteCompleteError_;
  float moduleVersion_ = 4.0f;
  std::string iniFile_;
  uint8_t registryRoot1_ = 2;
  uint8_t registryRoot2_ = 1;
  std::string registryPath_;
  std::string iniSectionPrefix_;
  bool roleEnabled_[8] = {};
  std::string eventsSupported_;
  bool isTemporaryLoad_ = false;
  bool settingsBusy_ = false;
  uintptr_t ownerWindow_ = 0;
  std::atomic<uintptr_t> hostWindow_{0};
  uintptr_t parentApp_ = 0;
  uint8_t subscribeForData_ = 0;
  std::unique_ptr<TModuleConfigList> moduleConfigList_;
  std::atomic<int32_t> busyCalls_{0};
  bool translated_ = false;
  bool optionsDialogOpen_ = false;
  uint8_t optionsDialogRoleFlags_ = 0;
  uint32_t loadThreadId_ = 0;
  std::string currentLanguage_;
  std::string translatedLanguage_;  // the language the module's texts are in
  THostFunctions hostFunctions_;
  mutable std::mutex textLock_;  // guards logTitle_ and iniFile_
  platform::CriticalSection lazyLock_;  // guards making CustomParams and the configuration list
};

// The text with the characters a file name cannot hold replaced by
// replacement, and "_" put in front when it names a device ("CON", "AUX",
// "PRN", "NUL", or anything beginning with "COM" or "LPT").
std::string MakeFileNameSafe(std::string_view text, char replacement);

}  // namespace corvane
