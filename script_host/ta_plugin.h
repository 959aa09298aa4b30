// TaPlugin: the concrete module. Its behaviour is the user's Python script:
// the instance embeds one Python engine, runs the script once when the
// engine starts, and then hands every data packet and event to the script's
// entry functions (ParseData, FilterData, ExportData, QueryData, EventData).
// The script answers through the module "plugin" and the script types.
//
// Threads and locks, outermost first:
//   the script lock, which is the instance's command lock: commands, and
//      one call into this instance's script at a time, also while the script
//      lets the interpreter lock go (re-entrant, so a host callback may call
//      back into the instance on the same thread)
//   -> the client list's lock (look-up, insertion and sweep only)
//   -> a client's own lock (its FIFO and state, held across ParseData)
//   -> the interpreter lock, innermost; it is let go around every call into
//      the host. Only leaf locks (the log queue, the output queue) are taken
//      while it is held; nothing is acquired while holding those.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "bindings/py_object.h"
#include "bindings/python_module.h"
#include "bindings/wrapper.h"
#include "common/str_holder.h"
#include "common/timer_ex.h"
#include "plugin/data_source_cfg.h"
#include "plugin/parser_clients.h"
#include "plugin/plugin_module.h"
#include "python/python_engine.h"
#include "python/python_io.h"
#include "ui/text_resources.h"

namespace corvane {

// Host id, data source id and client id of a packet or event, as three
// 32-bit little-endian integers: what scripts get as the source descriptor.
using TSourceDescriptor = std::array<uint8_t, 12>;
TSourceDescriptor SourceDescriptorOf(const TPluginCallRecord& record);

// The text with one leading and one trailing double quote removed, each on
// its own.
std::string StripQuotes(std::string text);
// "0x00000002 - <the system's message>", or the code alone when the system
// has no message for it.
std::string SystemErrorText(uint32_t code);

// The configuration hash of a runtime path and a script text.
uint32_t ConfigurationHash(std::string_view runtimePath, std::string_view script);

class TaPlugin : public TkivPlugin {
  CV_DECLARE_CLASS_INFO

 public:
  // The script's entry functions, in the order they are resolved.
  enum TEntryFunction { efFilterData, efExportData, efParseData, efQueryData, efEventData, efCount };
  static const char* EntryFunctionName(TEntryFunction function);

  // The translatable texts.
  enum TText { txNoRuntime, txUnableToExecute, txDiscarded, txWrongCall, txWrongParameter };

  static constexpr uint32_t SweepIntervalMs = 500;
  static constexpr uint64_t ClientIdleMs = 3600000;
  static constexpr uint64_t StreamEndShortening = 3420000;
  static constexpr int32_t StreamEndValue = 0x102;
  // How long freeing the timer or the output window from another thread
  // waits for the loading thread, which may never serve its messages.
  static constexpr uint32_t ReleaseWaitMs = 100;

  TaPlugin(uintptr_t moduleDllHandle, const TPluginCreation* creation);
  ~TaPlugin() override;

  // ---- Event handlers
  void kivPluginCreate();
  void kivPluginLoad(TPluginCallRecord* record, int32_t& result);
  void kivPluginUnload(TPluginCallRecord* record, int32_t& result);
  void kivPluginLoadSettingsNow();
  void kivPluginSaveSettingsNow();
  void kivPluginShowOptionsDialog(TPluginCallRecord* record, int32_t& result);
  void kivPluginEvent(const std::string& event, TPluginCallRecord* record, int32_t& result);
  void kivPluginProcessData(TPluginCallRecord* record, int32_t& result);

  TkivStrHolder& Properties() const { return *properties_; }
  const TTextResources& Texts() const { return texts_; }
  uint32_t StoredConfigurationHash() const;
  bool EngineRunning() const;
  // Runtime folder + runtime file name.
  std::string RuntimePath() const;

  // ---- What the module "plugin" works on (the interpreter lock held)
  struct TScriptState {
    TSourceDescriptor Source{};
    bool SourceValid = false;
    bool DiscardRequested = false;
    bool DiscardSilently = false;
    std::string DiscardReason;
    TPluginCallRecord* CurrentRecord = nullptr;
  };
  TScriptState& ScriptState() { return state_; }
  TPythonEngine& Engine() const { return *engine_; }
  // Hands the script output waiting in the queue to the log, in order.
  void FlushScriptOutput() noexcept;

 private:
  class TScriptCall;

  void ApplySettings(TDataSourceCfg& config);
  void StartEngine();
  void StopEngine() noexcept;
  void ResolveEntryFunctions(TPythonEngine& engine);
  bool ChooseRuntime(TkivPythonEngine& engine);
  std::string DllOption() const;
  void Sweep();

  // The packet roles; each answers the packet's result.
  int32_t Parse(TPluginCallRecord& record, TScriptCall& call);
  int32_t Filter(TPluginCallRecord& record, TScriptCall& call);
  int32_t ExportOrQuery(TPluginCallRecord& record, TScriptCall& call, TEntryFunction function);

  void LogCallFailure(TEntryFunction function, const std::exception& error) noexcept;

  // Members, in the module's order.
  TkivStrHolder* properties_;
  std::unique_ptr<TkivTimerEx> clientTimer_;
  std::unique_ptr<TCustomParserClientList> clients_;
  TDataSourceCfg* config_ = nullptr;
  TScriptState state_;
  uint32_t configurationHash_ = 0;
  py::Object entryFunctions_[efCount];
  TTextResources texts_;
  std::string scriptText_;
  std::string runtimeFolder_;
  std::string runtimeFileName_;
  std::shared_ptr<TPythonGUIInputOutput> io_;
  std::unique_ptr<TkivPythonEngine> engine_;
  std::unique_ptr<TPythonModule> callbackModule_;
  std::unique_ptr<py::TPyDelphiWrapper> wrapper_;

  // The script lock: one script call at a time, and the guard of the
  // engine and what it was started with. It is the instance's command lock
  // (re-entrant), so that commands and script calls share one order: a
  // script whose host callback sends a command to this instance on the same
  // thread gets it at once, and an UNLOAD on another thread waits for the
  // script call instead of deadlocking with it. callDepth_ counts the script
  // calls of the thread holding it.
  platform::CriticalSection& ScriptLock() const { return const_cast<TaPlugin*>(this)->CommandLock(); }
  int32_t callDepth_ = 0;
  // Guards io_ for the log drain, which runs beside everything else.
  mutable std::mutex ioLock_;
};

}  // namespace corvane
