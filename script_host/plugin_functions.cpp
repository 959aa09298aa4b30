// The module "plugin": what a script calls to reach the host. Every function
// runs with the interpreter lock held and lets it go around each call into
// the host, which may call back into this or another instance at once.
#include "script_host/plugin_functions.h"

#include <cstring>
#include <optional>
#include <string>

#include "bindings/callback_guard.h"
#include "bindings/gil.h"
#include "platform/code_page.h"
#include "plugin/call_params.h"
#include "plugin/plugin_values.h"
#include "script_host/ta_plugin.h"

namespace corvane {

namespace {

using py::Handle;
using py::Object;
using py::PyObject;
using py::PythonApi;

// What a function body works with.
struct TCallbackContext {
  TaPlugin& Plugin;
  TPythonEngine& Engine;
  const PythonApi& Api;

  // ValueError "<function>: <text>[<suffix>]".
  [[noreturn]] void Fail(const char* function, TaPlugin::TText text, const char* suffix = "") const {
    const std::string message = std::string(function) + ": " + Plugin.Texts().Text(text) + suffix;
    Api.PyErr_Clear();
    Api.PyErr_SetString(*Api.PyExc_ValueError, message.c_str());
    throw EPyErrorPending();
  }

  bool IsExactly(Handle object, py::PyTypeObject* type) const {
    return object && reinterpret_cast<PyObject*>(object.ptr())->ob_type == type;
  }

  // The host text of an argument: a str through the ANSI code page, bytes up
  // to the first NUL, anything else as its str().
  std::string Text(Handle object) const {
    if (IsExactly(object, Api.PyUnicode_Type) || IsExactly(object, Api.PyBytes_Type) ||
        Api.PyObject_IsInstance(object.ptr(), PythonApi::TypeObject(Api.PyUnicode_Type)) == 1 ||
        Api.PyObject_IsInstance(object.ptr(), PythonApi::TypeObject(Api.PyBytes_Type)) == 1) {
      std::string text = Engine.PythonToText(object);
      py::ThrowIfPythonError(Api);
      return text;
    }
    Api.PyErr_Clear();
    Object shown = py::Checked(Api, Api.PyObject_Str(object.ptr()));
    std::string text = Engine.PythonToText(shown);
    py::ThrowIfPythonError(Api);
    return text;
  }

  // The bytes of a "s*" argument: a str as UTF-8, or any object with the
  // buffer interface; nothing (no error set) for other objects.
  std::optional<std::string> Bytes(Handle object) const {
    if (IsExactly(object, Api.PyBytes_Type)) return BytesOf(object);
    Object copy;
    if (Api.PyObject_IsInstance(object.ptr(), PythonApi::TypeObject(Api.PyUnicode_Type)) == 1) {
      copy = Object::Steal(Api, Api.PyUnicode_AsUTF8String(object.ptr()));
    } else if (Object view = Object::Steal(Api, Api.PyMemoryView_FromObject(object.ptr()))) {
      copy = Object::Steal(Api, Api.PyBytes_FromObject(view.get()));
    }
    if (!copy) {
      Api.PyErr_Clear();
      return std::nullopt;
    }
    return BytesOf(copy);
  }
  // The content of a bytes object.
  std::string BytesOf(Handle bytes) const {
    return std::string(Api.PyBytes_AsString(bytes.ptr()), static_cast<size_t>(Api.PyBytes_Size(bytes.ptr())));
  }

  // A destination: None (the current source), else exactly 12 bytes.
  struct TDestination {
    int32_t DataSourceId = 0;
    uint32_t ClientId = 0;
  };
  TDestination Destination(Handle dest, const char* function) const {
    if (!dest || dest.ptr() == Api.None()) return CurrentDestination();
    std::optional<std::string> bytes = Bytes(dest);
    if (!bytes) Fail(function, TaPlugin::txWrongCall);
    if (bytes->size() != 12) Fail(function, TaPlugin::txWrongParameter, " 1");
    const auto word = [&](size_t at) {
      uint32_t value = 0;
      for (size_t b = 0; b < 4; ++b) value |= static_cast<uint32_t>(static_cast<uint8_t>((*bytes)[at + b])) << (8 * b);
      return value;
    };
    return {static_cast<int32_t>(word(4)), word(8)};
  }
  TDestination CurrentDestination() const {
    const TaPlugin::TScriptState& state = Plugin.ScriptState();
    if (!state.SourceValid) return {};
    uint32_t dataSourceId = 0;
    uint32_t clientId = 0;
    std::memcpy(&dataSourceId, state.Source.data() + 4, 4);
    std::memcpy(&clientId, state.Source.data() + 8, 4);
    return {static_cast<int32_t>(dataSourceId), clientId};
  }

  bool HostCallbackPresent() const { return Plugin.HostFunctions().SendDataEx != nullptr; }
};

// Runs a function body for the instance behind self.
template <class Body>
PyObject* callback(PyObject* self, Body body) {
  const TPythonModule::TContext context = TPythonModule::ContextOf(self);
  if (context.Api == nullptr) return nullptr;
  const PythonApi& api = *context.Api;
  if (context.Owner == nullptr) {
    api.PyErr_SetString(*api.PyExc_RuntimeError, "the plug-in instance of this script has stopped");
    return nullptr;
  }
  auto& plugin = *static_cast<TaPlugin*>(context.Owner);
  return py::GuardedObject(api, [&]() -> Object {
    TCallbackContext call{plugin, plugin.Engine(), api};
    return body(call);
  });
}

// Parses with the function's format; on failure the function's own
// ValueError replaces the parser's.
template <class... Targets>
void parse(const TCallbackContext& call, PyObject* args, const char* format, const char* function,
           Targets*... targets) {
  if (!call.Api.PyArg_ParseTuple(args, format, targets...)) call.Fail(function, TaPlugin::txWrongCall);
}

PyObject* GetModuleParameter(PyObject* self, PyObject* args) {
  return callback(self, [&](TCallbackContext& call) -> Object {
    PyObject* name = nullptr;
    if (!call.Api.PyArg_ParseTuple(args, "O:GetModuleParameter", &name)) throw EPyErrorPending();
    std::string text = call.Engine.PythonToText(name);
    py::ThrowIfPythonError(call.Api);
    const platform::OleVariant value = call.Plugin.GetModuleParameter(text);
    return call.Engine.VariantToPython(value.raw());
  });
}

PyObject* DiscardDataPacket(PyObject* self, PyObject* args) {
  return callback(self, [&](TCallbackContext& call) -> Object {
    PyObject* reason = nullptr;
    PyObject* silent = nullptr;
    parse(call, args, "|OO:DiscardDataPacket", "DiscardDataPacket", &reason, &silent);
    TaPlugin::TScriptState& state = call.Plugin.ScriptState();
    std::string reasonText;
    if (reason != nullptr && reason != call.Api.None()) reasonText = call.Text(reason);
    state.DiscardRequested = true;
    state.DiscardReason = std::move(reasonText);
    state.DiscardSilently = silent != nullptr && call.IsExactly(silent, call.Api.PyBool_Type) && silent == call.Api.True();
    return call.Engine.None();
  });
}

PyObject* DbgLog(PyObject* self, PyObject* args) {
  return callback(self, [&](TCallbackContext& call) -> Object {
    PyObject* message = nullptr;
    int level = lkInformation;
    parse(call, args, "O|i:DbgLog", "DbgLog", &message, &level);
    if (level < lkError || level > lkInformation) level = lkInformation;
    const std::string text = call.Text(message);
    {
      // Telling the host may wait for its window: the lock goes meanwhile.
      py::TGilRelease unlocked(call.Engine);
      // What the script printed before comes first.
      call.Plugin.FlushScriptOutput();
      call.Plugin.AddLog(static_cast<TLogKind>(level), text);
    }
    return call.Engine.None();
  });
}

// SendData and SendString: "z*s*".
template <bool AsText>
Object sendBytes(TCallbackContext& call, PyObject* args, const char* format, const char* function) {
  PyObject* dest = nullptr;
  PyObject* data = nullptr;
  parse(call, args, format, function, &dest, &data);
  std::optional<std::string> bytes = call.Bytes(data);
  if (!bytes) call.Fail(function, TaPlugin::txWrongCall);
  const TCallbackContext::TDestination to = call.Destination(dest, function);
  if (bytes->empty() || !call.HostCallbackPresent()) return call.Engine.None();
  const uint32_t hostId = call.Plugin.ModuleIndex();
  {
    py::TGilRelease unlocked(call.Engine);
    if constexpr (AsText) {
      call.Plugin.SendStringToHost(hostId, to.DataSourceId, to.ClientId, *bytes);
    } else {
      call.Plugin.SendBytesToHost(hostId, to.DataSourceId, to.ClientId, bytes->data(),
                                  static_cast<int32_t>(bytes->size()));
    }
  }
  return call.Engine.None();
}

PyObject* SendData(PyObject* self, PyObject* args) {
  return callback(self, [&](TCallbackContext& call) { return sendBytes<false>(call, args, "OO:SendData", "SendData"); });
}

PyObject* SendString(PyObject* self, PyObject* args) {
  return callback(self,
                  [&](TCallbackContext& call) { return sendBytes<true>(call, args, "OO:SendString", "SendString"); });
}

PyObject* SendByte(PyObject* self, PyObject* args) {
  return callback(self, [&](TCallbackContext& call) -> Object {
    PyObject* dest = nullptr;
    int value = 0;
    parse(call, args, "Oi:SendByte", "SendByte", &dest, &value);
    const TCallbackContext::TDestination to = call.Destination(dest, "SendByte");
    if (!call.HostCallbackPresent()) return call.Engine.None();
    const uint32_t hostId = call.Plugin.ModuleIndex();
    {
      py::TGilRelease unlocked(call.Engine);
      call.Plugin.SendByteToHost(hostId, to.DataSourceId, to.ClientId, static_cast<uint8_t>(value & 0xFF));
    }
    return call.Engine.None();
  });
}

PyObject* SendDataToDataSource(PyObject* self, PyObject* args) {
  return callback(self, [&](TCallbackContext& call) -> Object {
    PyObject* name = nullptr;
    PyObject* data = nullptr;
    parse(call, args, "OO:SendDataToDataSource", "SendDataToDataSource", &name, &data);
    std::optional<std::string> bytes = call.Bytes(data);
    if (!bytes) call.Fail("SendDataToDataSource", TaPlugin::txWrongCall);
    const std::string target = call.Text(name);
    if (bytes->empty() || !call.HostCallbackPresent()) return call.Engine.None();
    const int32_t dataSourceId = TkivPlugin::DataSourceIdFromName(target);
    const uint32_t clientId = call.CurrentDestination().ClientId;
    {
      py::TGilRelease unlocked(call.Engine);
      call.Plugin.SendBytesToHost(0, dataSourceId, clientId, bytes->data(), static_cast<int32_t>(bytes->size()));
    }
    return call.Engine.None();
  });
}

// Raises a host event with the list (may be null), the lock let go.
void raiseEvent(TCallbackContext& call, const std::string& eventType, const TkivParamsList* params) {
  const TCallbackContext::TDestination to = call.CurrentDestination();
  const uint32_t hostId = call.Plugin.ModuleIndex();
  py::TGilRelease unlocked(call.Engine);
  call.Plugin.RaiseHostEvent(false, eventType, params, hostId, to.DataSourceId, to.ClientId);
}

PyObject* SendEvent(PyObject* self, PyObject* args) {
  return callback(self, [&](TCallbackContext& call) -> Object {
    PyObject* event = nullptr;
    parse(call, args, "O:SendEvent", "SendEvent", &event);
    const std::string eventType = call.Text(event);
    auto params = TkivParamsList::Create();
    raiseEvent(call, eventType, params.get());
    return call.Engine.None();
  });
}

PyObject* SendEventEx(PyObject* self, PyObject* args) {
  return callback(self, [&](TCallbackContext& call) -> Object {
    PyObject* event = nullptr;
    PyObject* list = nullptr;
    parse(call, args, "OO:SendEventEx", "SendEventEx", &event, &list);
    if (!call.IsExactly(list, call.Api.PyList_Type)) call.Fail("SendEventEx", TaPlugin::txWrongParameter, " 2");
    const std::string eventType = call.Text(event);
    auto params = TkivParamsList::Create();
    const py::Py_ssize_t count = call.Api.PyList_Size(list);
    for (py::Py_ssize_t i = 0; i + 1 < count; i += 2) {
      const std::string name = call.Text(call.Api.PyList_GetItem(list, i));
      const py::THostVariant value = call.Engine.PythonToVariant(call.Api.PyList_GetItem(list, i + 1));
      py::ThrowIfPythonError(call.Api);
      params->AddItem(name, value.raw());
    }
    raiseEvent(call, eventType, params.get());
    return call.Engine.None();
  });
}

PyObject* RedirectData(PyObject* self, PyObject* args) {
  return callback(self, [&](TCallbackContext& call) -> Object {
    PyObject* target = nullptr;
    parse(call, args, "O:RedirectData", "RedirectData", &target);
    const std::string configuration = call.Text(target);
    TPluginCallRecord* record = call.Plugin.ScriptState().CurrentRecord;
    if (record == nullptr) return call.Engine.None();
    auto params = TkivParamsList::Create();
    params->AddItem("CFG", TextValue(configuration).raw());
    if (InterfaceRef<IkivParamsListW> packet = GetItemParams(record->InputItem)) {
      if (InterfaceRef<IkivParamsListA> ansi = packet.Query<IkivParamsListA>()) params->CopyFromInterface(ansi.get());
    }
    raiseEvent(call, "REDIRECT-TO-CFG", params.get());
    return call.Engine.None();
  });
}

}  // namespace

void AddPluginFunctions(TPythonModule& module) {
  module.AddMethod("GetModuleParameter", GetModuleParameter, "GetModuleParameter(String ParameterName)");
  module.AddMethod("DiscardDataPacket", DiscardDataPacket, "DiscardDataPacket(String Reason = '; Boolean Silent = False)");
  module.AddMethod("DbgLog", DbgLog, "DbgLog(String Msg; Integer LogLevel = 0)");
  module.AddMethod("SendData", SendData, "SendData(Object DestDs; Bytes Data)");
  module.AddMethod("SendString", SendString, "SendString(Object DestDs; String Data)");
  module.AddMethod("SendByte", SendByte, "SendByte(Object DestDs; Integer Byte)");
  module.AddMethod("SendDataToDataSource", SendDataToDataSource, "SendDataToDataSource(String DestDs; Bytes Data)");
  module.AddMethod("SendEvent", SendEvent, "SendEvent(String EventId)");
  module.AddMethod("SendEventEx", SendEventEx, "SendEventEx(String EventId, List EventArgs)");
  module.AddMethod("RedirectData", RedirectData, "RedirectData(String TargetConfig)");
}

}  // namespace corvane
