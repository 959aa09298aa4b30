// TaPlugin: data packets and events reach the script's entry functions.
#include <initializer_list>
#include <optional>
#include <stdexcept>
#include <vector>

#include "bindings/callback_guard.h"
#include "bindings/gil.h"
#include "bindings/native_class.h"
#include "bindings/native_guard.h"
#include "common/exceptions.h"
#include "platform/abi.h"
#include "platform/thread.h"
#include "plugin/call_params.h"
#include "plugin/call_result.h"
#include "plugin/parsed_data.h"
#include "plugin/plugin_values.h"
#include "script_host/ta_plugin.h"

namespace corvane {

namespace {

// A copy of a host list, item by item (name, value and attributes).
void copyHostList(TkivParamsList& into, IkivParamsListA* source) {
  if (source != nullptr) into.CopyFromInterface(source);
}

void copyHostList(TkivParamsList& into, const InterfaceRef<IkivParamsListW>& source) {
  if (!source) return;
  InterfaceRef<IkivParamsListA> ansi = source.Query<IkivParamsListA>();
  if (!ansi) throw Exception("The packet's parameter list offers no 8-bit interface");
  into.CopyFromInterface(ansi.get());
}

// The copies of the host's lists a packet's script call works on: the
// module parameters, and the packet's data list when there is one.
struct TPacketCopies {
  ParamsListPtr Params = TkivParamsList::Create();
  ParamsListPtr Data;
};

TPacketCopies copiesOf(const TPluginCallRecord& record, const InterfaceRef<IkivParamsListW>* packet) {
  TPacketCopies copies;
  copyHostList(*copies.Params, GetPacketParams(record));
  if (packet != nullptr) {
    copies.Data = TkivParamsList::Create();
    copyHostList(*copies.Data, *packet);
  }
  return copies;
}

}  // namespace

// One call into the script: the script lock for its whole length and the
// call depth.
class TaPlugin::TScriptCall {
 public:
  TScriptCall(TaPlugin& plugin, TPluginCallRecord& record)
      : plugin_(plugin), lock_(plugin.ScriptLock()), record_(record) {
    ++plugin_.callDepth_;
  }
  TScriptCall(const TScriptCall&) = delete;
  TScriptCall& operator=(const TScriptCall&) = delete;
  ~TScriptCall() { --plugin_.callDepth_; }

  // An engine that can run code (it may exist without, when its start
  // failed before the interpreter was up).
  bool Live() const { return plugin_.engine_ && plugin_.engine_->Initialized(); }

  // Calls the entry function with the arguments makeArguments builds (all
  // with the interpreter lock held; the objects lent to the script die when
  // the call ends). inspect runs after the call, still under the lock. A
  // failure is logged; false then.
  template <class MakeArguments, class Inspect>
  bool Run(TEntryFunction function, MakeArguments makeArguments, Inspect inspect) {
    TPythonEngine& engine = *plugin_.engine_;
    const py::PythonApi& api = engine.Api();
    py::TGilAcquire gil(engine);
    bool done = false;
    std::optional<std::string> failure;
    {
      // The packet or event is the current one while the entry function
      // runs: the state is set and cleared with the interpreter lock held,
      // since threads the script started read it.
      TCurrentRecord current(plugin_.state_, record_);
      py::TWrapScope scope;
      try {
        std::vector<py::Object> arguments = makeArguments(engine, *plugin_.wrapper_, scope);
        py::Object tuple = py::Object::Steal(api, api.PyTuple_New(static_cast<py::Py_ssize_t>(arguments.size())));
        if (!tuple) engine.RaiseError();
        for (size_t i = 0; i < arguments.size(); ++i) {
          api.PyTuple_SetItem(tuple.get(), static_cast<py::Py_ssize_t>(i), arguments[i].release());
        }
        // The script's return value is not used.
        py::Object result =
            py::Object::Steal(api, api.PyObject_Call(plugin_.entryFunctions_[function].get(), tuple.get(), nullptr));
        if (!result) engine.RaiseError();
        done = true;
      } catch (const std::exception& error) {
        api.PyErr_Clear();
        failure = FailureText(error);
      }
      inspect();
      scope.End();
    }
    if (failure) {
      // What the script printed before it failed (and the traceback) comes
      // first in the log; the queue is delivered without the interpreter lock.
      py::TGilRelease unlocked(engine);
      plugin_.FlushScriptOutput();
      plugin_.LogCallFailure(function, std::runtime_error(*failure));
    }
    return done;
  }

  // What every entry function gets first, the module parameters and the
  // source descriptor, then the given native objects, each lent for the call.
  std::vector<py::Object> Arguments(TPythonEngine& engine, py::TPyDelphiWrapper& wrapper, py::TWrapScope& scope,
                                    TkivParamsList* params, std::initializer_list<py::TNativeObject> rest) const {
    std::vector<py::Object> arguments;
    arguments.reserve(2 + rest.size());
    arguments.push_back(wrapper.Wrap(py::NativeObject(params), scope));
    arguments.push_back(Descriptor(engine));
    for (const py::TNativeObject& native : rest) arguments.push_back(wrapper.Wrap(native, scope));
    return arguments;
  }

  py::Object Descriptor(TPythonEngine& engine) const {
    const TSourceDescriptor descriptor = SourceDescriptorOf(record_);
    return py::Checked(engine.Api(), engine.Api().PyBytes_FromStringAndSize(
                                         reinterpret_cast<const char*>(descriptor.data()), descriptor.size()));
  }

 private:
  class TCurrentRecord {
   public:
    TCurrentRecord(TScriptState& state, TPluginCallRecord& record) : state_(state) {
      state.CurrentRecord = &record;
      state.Source = SourceDescriptorOf(record);
      state.SourceValid = true;
    }
    TCurrentRecord(const TCurrentRecord&) = delete;
    TCurrentRecord& operator=(const TCurrentRecord&) = delete;
    ~TCurrentRecord() { state_.CurrentRecord = nullptr; }

   private:
    TScriptState& state_;
  };

  TaPlugin& plugin_;
  std::lock_guard<platform::CriticalSection> lock_;
  TPluginCallRecord& record_;
};

void TaPlugin::LogCallFailure(TEntryFunction function, const std::exception& error) noexcept {
  try {
    std::string text = texts_.Text(txUnableToExecute);
    const size_t at = text.find("%s");
    if (at != std::string::npos) text.replace(at, 2, EntryFunctionName(function));
    AddLog(lkError, text + ": " + FailureText(error));
  } catch (...) {
  }
}

void TaPlugin::kivPluginProcessData(TPluginCallRecord* record, int32_t& result) {
  TScriptCall call(*this, *record);
  if (!engine_) {
    result = kResultNoEngine;
    return;
  }
  result = 0;
  TEntryFunction function = efCount;
  try {
    if (HasRole(*record, mrParser)) {
      function = efParseData;
      result = Parse(*record, call);
    } else if (HasRole(*record, mrFilter)) {
      function = efFilterData;
      result = Filter(*record, call);
    } else if (HasRole(*record, mrExport)) {
      function = efExportData;
      result = ExportOrQuery(*record, call, efExportData);
    } else if (HasRole(*record, mrQuery)) {
      function = efQueryData;
      result = ExportOrQuery(*record, call, efQueryData);
    }
  } catch (const std::exception& error) {
    // Preparing the arguments or delivering the results failed.
    if (function == efCount) throw;
    result = kResultFailed;
    LogCallFailure(function, error);
  }
}

int32_t TaPlugin::Parse(TPluginCallRecord& record, TScriptCall& call) {
  if (!call.Live() || !entryFunctions_[efParseData] || !clients_) return 0;
  TParserClientRef client =
      FindClient(*clients_, record, false, [this](const TPluginCallRecord& creating) {
        return std::make_unique<TCustomParserClient>(this, creating);
      });
  if (!client) return 0;
  auto clientLock = client->Lock();
  const TPluginDataItem& input = record.InputItem;
  if (input.Type == ditClientStream) {
    if (input.Pointer == static_cast<uintptr_t>(StreamEndValue)) {
      // The stream has ended: the sweep removes the client a few minutes on.
      client->SetIdleFor(StreamEndShortening);
    }
    if (clientTimer_) clientTimer_->SetEnabled(clients_->Count() >= 1);
    return 0;
  }
  if (input.Pointer != 0 && input.Size > 0) client->WriteBytes(reinterpret_cast<const void*>(input.Pointer), input.Size);

  const TPacketCopies copies = copiesOf(record, nullptr);
  TParsedDataList results;
  const bool done = call.Run(
      efParseData,
      [&](TPythonEngine& engine, py::TPyDelphiWrapper& wrapper, py::TWrapScope& scope) {
        return call.Arguments(engine, wrapper, scope, copies.Params.get(),
                              {py::NativeObject(&client->Fifo()), py::NativeObject(&results.Values())});
      },
      [] {});
  if (!done) return kResultFailed;
  DeliverParsedData(record, results, true);
  return 0;
}

int32_t TaPlugin::Filter(TPluginCallRecord& record, TScriptCall& call) {
  InterfaceRef<IkivParamsListW> packet = GetItemParams(record.InputItem);
  if (!packet || !call.Live() || !entryFunctions_[efFilterData]) {
    record.OutputItem = record.InputItem;  // passes through unchanged
    return 0;
  }
  const TPacketCopies copies = copiesOf(record, &packet);
  TParsedDataList results;
  bool discarded = false;
  bool silent = false;
  std::string reason;
  const bool done = call.Run(
      efFilterData,
      [&](TPythonEngine& engine, py::TPyDelphiWrapper& wrapper, py::TWrapScope& scope) {
        state_.DiscardRequested = false;
        state_.DiscardSilently = false;
        state_.DiscardReason.clear();
        return call.Arguments(engine, wrapper, scope, copies.Params.get(),
                              {py::NativeObject(copies.Data.get()), py::NativeObject(&results.Values())});
      },
      [&] {
        discarded = state_.DiscardRequested;
        silent = state_.DiscardSilently;
        reason = state_.DiscardReason;
      });
  if (!done) return kResultFailed;
  if (discarded) {
    results.Clear();
    if (!silent) AddLog(lkInformation, texts_.Text(txDiscarded) + (reason.empty() ? "" : ": " + reason));
    return 0;
  }
  DeliverParsedData(record, results, false);
  return 0;
}

int32_t TaPlugin::ExportOrQuery(TPluginCallRecord& record, TScriptCall& call, TEntryFunction function) {
  InterfaceRef<IkivParamsListW> packet = GetItemParams(record.InputItem);
  if (!packet || !call.Live() || !entryFunctions_[function]) return 0;
  const TPacketCopies copies = copiesOf(record, &packet);
  const bool done = call.Run(
      function,
      [&](TPythonEngine& engine, py::TPyDelphiWrapper& wrapper, py::TWrapScope& scope) {
        return call.Arguments(engine, wrapper, scope, copies.Params.get(), {py::NativeObject(copies.Data.get())});
      },
      [] {});
  return done ? kResultDone : kResultFailed;
}

void TaPlugin::kivPluginEvent(const std::string& event, TPluginCallRecord* record, int32_t& result) {
  if (event == "GET-PY-PATH") {
    WriteParam(GetPacketParams(*record), "RESULT", TextValue(RuntimePath()).raw());
    result = 0;
    return;
  }
  if (event == "GetOsType") {
    WriteParam(GetPacketParams(*record), "RESULT", TextValue(std::string(1, platform::kOsTypeLetter)).raw());
    result = 0;
    return;
  }
  TScriptCall call(*this, *record);
  if (!engine_ || !call.Live() || !entryFunctions_[efEventData]) {
    result = kResultNoEngine;
    return;
  }
  result = 0;
  const TPacketCopies copies = copiesOf(*record, nullptr);
  const bool done = call.Run(
      efEventData,
      [&](TPythonEngine& engine, py::TPyDelphiWrapper& wrapper, py::TWrapScope& scope) {
        std::vector<py::Object> arguments = call.Arguments(engine, wrapper, scope, copies.Params.get(), {});
        arguments.push_back(engine.TextToPython(event));
        return arguments;
      },
      [] {});
  if (!done) result = kResultFailed;
}

void TaPlugin::Sweep() {
  if (!clients_ || !clientTimer_) return;
  clientTimer_->SetEnabled(false);
  SweepClients(*clients_, ClientIdleMs, true);
  clientTimer_->SetEnabled(clients_->Count() > 1);
}

}  // namespace corvane
