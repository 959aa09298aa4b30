// The embedded Python interpreter: loading, starting, running code, errors,
// the interpreter lock and ending.
#include "python/python_engine.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>

#include "bindings/callback_guard.h"
#include "platform/code_page.h"
#include "platform/diagnostics.h"
#include "platform/files.h"
#include "platform/os_error.h"
#include "platform/thread.h"
#include "python/python_version.h"
#include "python/script_sessions_source.h"

namespace corvane {

using py::PyObject;
using py::Handle;
using py::Object;

// ---- The process's engine ---------------------------------------------------------

namespace {

std::mutex processEngineLock;
TPythonEngine* processEngine = nullptr;

// An interpreter whose engine stopped while some of the script's threads
// still ran, with what those threads may still use. Never freed while the
// interpreter runs, not even when the process ends: the threads may still be
// inside the library.
struct AbandonedInterpreter {
  platform::DynamicLibrary library;
  py::PythonApi api;
  std::unique_ptr<TPythonModule> pyio;
  std::vector<py::PyWideChar> programName;
  int32_t running = 0;  // threads still running when last counted, -1: not countable
};
AbandonedInterpreter* abandoned = nullptr;  // guarded by processEngineLock

std::string format(const char* pattern, uint32_t code, const std::string& text) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%d", static_cast<int>(code));
  std::string result = pattern;
  result.replace(result.find("%d"), 2, buffer);
  result.replace(result.find("%s"), 2, text);
  return result;
}

// "2 script threads did not stop"
std::string threadsText(int32_t running) {
  if (running < 0) return "the script's threads could not be counted";
  return std::to_string(running) + (running == 1 ? " script thread" : " script threads") + " did not stop";
}


// The interpreter the sharing engines have in common. Made by the first
// one, freed only once its interpreter has ended (the engines' and the
// interpreter's objects point into it). Guarded by processEngineLock; the
// session table by the interpreter lock.
class TSharedRuntime : public TPythonInterface {
 public:
  explicit TSharedRuntime(const py::PythonApi& api) { api_ = api; }
  // Only the runtime's own set-up runs code through this interface.
  [[noreturn]] void RaiseError() override {
    api_.PyErr_Clear();
    throw Exception("The shared Python runtime could not be prepared for scripts");
  }
  void SetApi(const py::PythonApi& api) { api_ = api; }

  std::string LibraryPath;
  platform::DynamicLibrary Library;
  std::vector<py::PyWideChar> ProgramName;
  std::unique_ptr<TPythonModule> Pyio;
  Object Names;  // the session machinery's namespace
  bool Initialized = false;
  bool StreamsRedirected = false;
  int32_t Engines = 0;            // attached engines, not counting those left to their threads
  uint64_t LastSession = 0;       // interpreter lock
  std::unordered_map<uint64_t, TPythonEngine*> Sessions;  // interpreter lock
};
TSharedRuntime* sharedRuntime = nullptr;
// Whether the shared interpreter runs: code with no session entered then has
// no engine to report to (no exclusive engine can run beside it).
std::atomic<bool> sharedRuntimeRunning{false};

}  // namespace

TPythonEngine& GetPythonEngine() {
  std::lock_guard guard(processEngineLock);
  if (processEngine == nullptr) throw Exception("No Python engine was created");
  if (!processEngine->Initialized()) throw Exception("The Python engine is not properly initialized");
  return *processEngine;
}

namespace {

// Why the library at path cannot serve as the shared runtime, or nothing when
// it is the one loaded (named the same or another way). With
// processEngineLock held.
std::string sharedRuntimeConflict(const TSharedRuntime& runtime, const std::string& path) {
  if (!runtime.Library.loaded() || runtime.LibraryPath == path) return {};
  bool same = false;
  try {
    // Loading a library already loaded only counts it once more.
    same = platform::DynamicLibrary(path).handle() == runtime.Library.handle();
  } catch (const platform::OsError&) {
  }
  if (same) return {};
  return "The Python runtime \"" + runtime.LibraryPath + "\" already runs in this process; \"" + path +
         "\" cannot run beside it";
}

}  // namespace

std::string SharedRuntimeConflict(const std::string& path) {
  std::lock_guard guard(processEngineLock);
  return sharedRuntime != nullptr ? sharedRuntimeConflict(*sharedRuntime, path) : std::string();
}

// ---- The module pyio ------------------------------------------------------------------

namespace {

// The engine the calling thread runs code for, with the interpreter lock
// held: its session's, or the one that owns the interpreter. Null when the
// code runs for no session of the shared interpreter.
TPythonEngine* engineOfThisThread() {
  if (const uint64_t session = py::CurrentSession(); session != 0) {
    // Only ever filled and emptied with the interpreter lock held.
    if (sharedRuntime == nullptr) return nullptr;
    const auto found = sharedRuntime->Sessions.find(session);
    return found == sharedRuntime->Sessions.end() ? nullptr : found->second;
  }
  if (sharedRuntimeRunning.load()) return nullptr;
  try {
    return &GetPythonEngine();
  } catch (...) {
    return nullptr;
  }
}

// Runs a module function body through the callback guard. With no engine,
// the body gets none, so it can still answer.
template <class Body>
PyObject* guarded(PyObject* self, Body body) {
  const py::PythonApi* api = TPythonModule::ContextOf(self).Api;
  if (api == nullptr) return nullptr;
  TPythonEngine* engine = engineOfThisThread();
  return py::GuardedObject(*api, [&] { return body(*api, engine); });
}

PyObject* pyioWrite(PyObject* self, PyObject* args) {
  return guarded(self, [&](const py::PythonApi& api, TPythonEngine* engine) -> Object {
    PyObject* text = nullptr;
    if (!api.PyArg_ParseTuple(args, "O:write", &text)) throw EPyErrorPending();
    TPythonInputOutput* io = engine != nullptr ? engine->IO() : nullptr;
    const bool unicode = api.PyObject_IsInstance(text, py::PythonApi::TypeObject(api.PyUnicode_Type)) == 1;
    if (io != nullptr && unicode) {
      io->Write(engine->Converter().PythonToWide(text));
    } else if (io != nullptr) {
      const std::string bytes = engine->PythonToText(text);
      py::ThrowIfPythonError(api);
      io->Write(platform::ansiToWide(bytes));
    } else if (engine == nullptr && unicode) {
      // Code that runs for no script (a library's clean-up, say): the
      // debugger's output is the only place left to show it.
      Object utf8 = Object::Steal(api, api.PyUnicode_AsEncodedString(text, "utf-8", "replace"));
      if (utf8) platform::outputDebugString(api.PyBytes_AsString(utf8.get()));
      api.PyErr_Clear();
    }
    return Object::Borrow(api, api.None());
  });
}

PyObject* pyioRead(PyObject* self, PyObject*) {
  return guarded(self, [&](const py::PythonApi& api, TPythonEngine* engine) -> Object {
    if (engine == nullptr) return Object::Steal(api, api.PyUnicode_FromStringAndSize("", 0));
    const std::u16string text = engine->IO() ? engine->IO()->Read() : std::u16string();
    return engine->Converter().WideToPython(text);
  });
}

PyObject* pyioSetDelayWrites(PyObject* self, PyObject* args) {
  return guarded(self, [&](const py::PythonApi& api, TPythonEngine* engine) -> Object {
    int value = 0;
    if (!api.PyArg_ParseTuple(args, "i:SetDelayWrites", &value)) throw EPyErrorPending();
    if (engine != nullptr && engine->IO()) engine->IO()->SetDelayWrites(value != 0);
    return Object::Borrow(api, api.None());
  });
}

PyObject* pyioSetMaxLines(PyObject* self, PyObject* args) {
  return guarded(self, [&](const py::PythonApi& api, TPythonEngine* engine) -> Object {
    int value = 0;
    if (!api.PyArg_ParseTuple(args, "i:SetMaxLines", &value)) throw EPyErrorPending();
    if (engine != nullptr && engine->IO()) engine->IO()->SetMaxLines(value);
    return Object::Borrow(api, api.None());
  });
}

PyObject* pyioGetTypesStats(PyObject* self, PyObject* args) {
  return guarded(self, [&](const py::PythonApi& api, TPythonEngine* engine) -> Object {
    std::vector<std::string> wanted;
    const py::TDateTypes noDates;
    const py::TValueConverter converter(api, noDates, py::dcmToTuple);
    const py::Py_ssize_t count = api.PyTuple_Size(args);
    for (py::Py_ssize_t i = 0; i < count; ++i) {
      wanted.push_back(converter.PythonToText(api.PyTuple_GetItem(args, i)));
      py::ThrowIfPythonError(api);
    }
    Object list = Object::Steal(api, api.PyList_New(0));
    if (engine == nullptr) return list;
    for (const TTypeStats& stats : engine->TypeStats()) {
      if (!wanted.empty() && std::find(wanted.begin(), wanted.end(), stats.TypeName) == wanted.end()) continue;
      Object entry = Object::Steal(api, api.PyTuple_New(4));
      api.PyTuple_SetItem(entry.get(), 0, engine->TextToPython(stats.TypeName).release());
      api.PyTuple_SetItem(entry.get(), 1, api.PyLong_FromLongLong(stats.InstanceCount));
      api.PyTuple_SetItem(entry.get(), 2, api.PyLong_FromLongLong(stats.CreateHits));
      api.PyTuple_SetItem(entry.get(), 3, api.PyLong_FromLongLong(stats.DeleteHits));
      if (api.PyList_Append(list.get(), entry.get()) != 0) throw EPyErrorPending();
    }
    return list;
  });
}

// The session the calling thread works for (0 for none), and entering and
// leaving one: how a thread a script started keeps to that script.
PyObject* pyioSession(PyObject* self, PyObject*) {
  const py::PythonApi* api = TPythonModule::ContextOf(self).Api;
  return api == nullptr ? nullptr : api->PyLong_FromLongLong(static_cast<long long>(py::CurrentSession()));
}

PyObject* pyioEnter(PyObject* self, PyObject* args) {
  const py::PythonApi* api = TPythonModule::ContextOf(self).Api;
  if (api == nullptr) return nullptr;
  unsigned long long session = 0;
  if (!api->PyArg_ParseTuple(args, "K:_enter", &session)) return nullptr;
  py::SetCurrentSession(session);
  api->Py_IncRef(api->None());
  return api->None();
}

PyObject* pyioLeave(PyObject* self, PyObject*) {
  const py::PythonApi* api = TPythonModule::ContextOf(self).Api;
  if (api == nullptr) return nullptr;
  py::SetCurrentSession(0);
  api->Py_IncRef(api->None());
  return api->None();
}

void addPyioFunctions(TPythonModule& module) {
  module.AddMethod("write", &pyioWrite, "write(String) -> None");
  module.AddMethod("read", &pyioRead, "read() -> String");
  module.AddMethod("SetDelayWrites", &pyioSetDelayWrites, "SetDelayWrites(Boolean) -> None");
  module.AddMethod("SetMaxLines", &pyioSetMaxLines, "SetMaxLines(Integer) -> None");
  module.AddMethod("GetTypesStats", &pyioGetTypesStats,
                   "GetTypesStats( [type name] ) -> a list of tuple (TypeName, InstanceCount, CreateHits, DeleteHits)");
  module.AddMethod("_session", &pyioSession, "_session() -> the script session of this thread, 0 for none");
  module.AddMethod("_enter", &pyioEnter, "_enter(session) -> None");
  module.AddMethod("_leave", &pyioLeave, "_leave() -> None");
}

// Replaces the standard streams by an object that forwards to pyio.
constexpr const char* kRedirectSource =
    "import sys\n"
    "class DebugOutput:\n"
    "  pyio = __import__(\"pyio\")\n"
    "  softspace=0\n"
    "  encoding=None\n"
    "  def write(self,message):\n"
    "     self.pyio.write(message)\n"
    "  def readline(self, size=None):\n"
    "     return self.pyio.read(size)\n"
    "  def flush(self):\n"
    "     pass\n"
    "sys.old_stdin=sys.stdin\n"
    "sys.old_stdout=sys.stdout\n"
    "sys.old_stderr=sys.stderr\n"
    "sys.stdin=sys.stderr=sys.stdout=DebugOutput()\n";

constexpr const char* kRestoreSource =
    "import sys\n"
    "if hasattr(sys, \"old_stdin\"):  sys.stdin=sys.old_stdin\n"
    "if hasattr(sys, \"old_stdout\"): sys.stdout=sys.old_stdout\n"
    "if hasattr(sys, \"old_stderr\"): sys.stderr=sys.old_stderr\n";

}  // namespace

// ---- Construction and settings -------------------------------------------------------

TPythonEngine::TPythonEngine() = default;

TPythonEngine::~TPythonEngine() {
  try {
    UnloadDll();
  } catch (...) {
  }
}

TkivPythonEngine::TkivPythonEngine() {
  UseLastKnownVersion = false;
  InitThreads = true;
  RedirectIO = true;
}

void TPythonEngine::AddClient(TEngineClient& client) { clients_.push_back(&client); }


// ---- Loading -----------------------------------------------------------------------------

void TPythonEngine::LoadDll() {
  if (IsHandleValid()) UnloadDll();
  lastLoadError_.clear();
  if (!UseLastKnownVersion) RegVersion = VersionFromLibraryName(DllName).Text;
  std::string folder = DllPath.empty() ? RegisteredInstallFolder(RegVersion) : DllPath;
  if (!folder.empty() && !platform::isPathDelimiter(folder.back())) folder += platform::pathDelimiter();

  const auto fail = [&](std::string text) {
    lastLoadError_ = std::move(text);
    if (FatalMsgDlg)
      platform::messageBox(0, lastLoadError_, "Error", platform::kMbOk | platform::kMbIconError | platform::kMbTaskModal);
  };
  if (ShareRuntime) {
    std::string error;
    if (!AttachSharedRuntime(folder + DllName, error)) {
      fail(std::move(error));
      return;
    }
    TakeVersionFacts();
    Initialize();
    return;
  }
  try {
    // Global symbols: the runtime's extension modules look its functions
    // up in the process.
    library_ = platform::DynamicLibrary(folder + DllName, platform::SymbolScope::Global);
  } catch (const platform::OsError& error) {
    fail(format("Error %d: Could not open Dll \"%s\"", error.code(), DllName));
    return;
  }

  TakeVersionFacts();

  const std::optional<std::string> missing =
      py::BindPythonApi(api_, [&](const char* name) { return library_.symbol(name); });
  if (missing) {
    library_.symbol(missing->c_str());  // the loader's code for that very name
    const uint32_t code = platform::lastErrorCode();
    api_ = {};
    library_.close();
    fail(format("Error %d: could not map symbol \"%s\"", code, *missing));
    return;
  }
  Initialize();
}

void TPythonEngine::TakeVersionFacts() {
  const TPythonLibraryVersion version = VersionFromLibraryName(DllName);
  major_ = version.Major;
  minor_ = version.Minor;
  python3_ = platform::ansiUpper(DllName).find("PYTHON3") != std::string::npos;
  builtins_ = python3_ ? "builtins" : "__builtin__";
}

bool TPythonEngine::AttachSharedRuntime(const std::string& path, std::string& error) {
  std::lock_guard guard(processEngineLock);
  if (sharedRuntime == nullptr) sharedRuntime = new TSharedRuntime(py::PythonApi{});
  TSharedRuntime& runtime = *sharedRuntime;
  if (runtime.Library.loaded()) {
    if (std::string conflict = sharedRuntimeConflict(runtime, path); !conflict.empty()) {
      error = std::move(conflict);
      return false;
    }
  } else {
    try {
      // Global symbols: the runtime's extension modules look its functions
      // up in the process.
      runtime.Library = platform::DynamicLibrary(path, platform::SymbolScope::Global);
    } catch (const platform::OsError& failure) {
      error = format("Error %d: Could not open Dll \"%s\"", failure.code(), DllName);
      return false;
    }
    py::PythonApi api;
    const std::optional<std::string> missing =
        py::BindPythonApi(api, [&](const char* name) { return runtime.Library.symbol(name); });
    if (missing) {
      runtime.Library.symbol(missing->c_str());
      const uint32_t code = platform::lastErrorCode();
      runtime.Library.close();
      error = format("Error %d: could not map symbol \"%s\"", code, *missing);
      return false;
    }
    runtime.SetApi(api);
    runtime.LibraryPath = path;
  }
  api_ = runtime.Api();
  attached_ = true;
  ++runtime.Engines;
  return true;
}

void TPythonEngine::UnloadDll() {
  Finalize();
  if (attached_) {
    std::lock_guard guard(processEngineLock);
    // Threads left running keep to the interpreter, not to this count: the
    // runtime's end waits for them itself.
    --sharedRuntime->Engines;
    attached_ = false;
  }
  pyio_.reset();  // only now: the interpreter kept pointers into its definition
  clients_.clear();
  if (AutoUnload && library_.loaded()) {
    library_.close();
    api_ = {};
  }
}

// ---- The script's threads ------------------------------------------------------------------

namespace {

constexpr uint32_t kThreadStopStepMs = 10;
// A start that finds an abandoned interpreter counts its threads again, but
// does not wait long for them: they were asked to stop long ago.
constexpr uint32_t kAbandonedRetryWaitMs = 100;

// to_ask() gives the threads not yet asked to stop: every thread running
// Python code and every thread the threading module started, except the
// caller and the host's threads the threading module knows (main and
// dummy). Each is asked once, so a second request cannot cut a thread's own
// clean-up short. Timers are cancelled: they wait on a lock, which an
// asynchronous exception does not interrupt. running() counts the threads
// started through _thread (and so threading) that have not ended, daemon
// threads included.
//
// let_main_go() serves an interpreter ended on another thread than the one
// the threading module takes for its main thread (the one that imported
// it). The runtime's shutdown waits for every non-daemon thread, the main
// one included, and lets the main one go only when it ends the interpreter
// itself; otherwise it would wait for a thread that is not coming back.
constexpr const char* kThreadStopSource =
    "import sys, _thread\n"
    "asked = set()\n"
    "def to_ask():\n"
    "    found = set(getattr(sys, '_current_frames', dict)())\n"
    "    threading = sys.modules.get('threading')\n"
    "    if threading is not None:\n"
    "        host = tuple(getattr(threading, name) for name in ('_MainThread', '_DummyThread') if hasattr(threading, name))\n"
    "        for thread in threading.enumerate():\n"
    "            if isinstance(thread, threading.Timer):\n"
    "                thread.cancel()\n"
    "            if thread.ident is not None and not isinstance(thread, host):\n"
    "                found.add(thread.ident)\n"
    "    found.discard(_thread.get_ident())\n"
    "    found -= asked\n"
    "    asked.update(found)\n"
    "    return list(found)\n"
    "def running():\n"
    "    return _thread._count()\n"
    "def let_main_go():\n"
    "    threading = sys.modules.get('threading')\n"
    "    if threading is None: return\n"
    "    main = threading.main_thread()\n"
    "    lock = getattr(main, '_tstate_lock', None)\n"
    "    if main.ident != _thread.get_ident() and lock is not None and lock.locked():\n"
    "        lock.release()\n";

// The script's threads, seen through the functions above. Lives, with the
// interpreter lock held, only while the interpreter runs.
// A new, empty dictionary (the table binds no PyDict_New), or an empty
// object with the error cleared.
Object newDictionary(const py::PythonApi& api) {
  Object builtins = Object::Steal(api, api.PyImport_ImportModule("builtins"));
  Object dictType = builtins ? Object::Steal(api, api.PyObject_GetAttrString(builtins.get(), "dict")) : Object();
  Object none = Object::Steal(api, api.PyTuple_New(0));
  Object names = dictType && none ? Object::Steal(api, api.PyObject_Call(dictType.get(), none.get(), nullptr)) : Object();
  if (!names) api.PyErr_Clear();
  return names;
}

class TScriptThreads {
 public:
  // Every thread of the interpreter.
  explicit TScriptThreads(const py::PythonApi& api) : api_(api) {
    api.PyErr_Clear();
    Object names = newDictionary(api);
    Object code = Object::Steal(api, api.Py_CompileString(kThreadStopSource, "<thread stop>", py::kPyFileInput));
    Object done = names && code ? Object::Steal(api, api.PyEval_EvalCode(code.get(), names.get(), names.get())) : Object();
    if (done) Take(names, [&](const char* name) { return api.PyDict_GetItemString(names.get(), name); });
    api.PyErr_Clear();
  }
  // The threads of one script session (its to_ask and running), or of the
  // whole interpreter (the names of kThreadStopSource, let_main_go too).
  TScriptThreads(const py::PythonApi& api, Handle owner, bool session) : api_(api) {
    if (session) {
      toAsk_ = Object::Steal(api, api.PyObject_GetAttrString(owner.ptr(), "to_ask"));
      running_ = Object::Steal(api, api.PyObject_GetAttrString(owner.ptr(), "running"));
    } else {
      Take(Object::Borrow(api, owner), [&](const char* name) { return api.PyDict_GetItemString(owner.ptr(), name); });
    }
    api.PyErr_Clear();
    none_ = Object::Steal(api, api.PyTuple_New(0));
  }

  // Asks the script's threads to stop (a SystemExit raised in each) and
  // waits for them to end, letting go of the interpreter lock between steps,
  // at most waitMs. Gives the number of threads still running, or -1 when
  // they cannot be counted. Zero only counts once no thread was asked in the
  // same step: a thread just started by one being asked is not counted
  // until it first runs.
  int32_t Stop(uint32_t waitMs) {
    const uint64_t deadline = platform::tickCount64() + waitMs;
    for (;;) {
      py::Py_ssize_t asked = 0;
      if (Object found = Call(toAsk_)) {
        asked = api_.PyList_Size(found.get());
        for (py::Py_ssize_t i = 0; i < asked; ++i) {
          const long long id = api_.PyLong_AsLongLong(api_.PyList_GetItem(found.get(), i));
          if (id != -1) api_.PyThreadState_SetAsyncExc(static_cast<unsigned long>(id), *api_.PyExc_SystemExit);
        }
      }
      api_.PyErr_Clear();
      Object count = Call(running_);
      const long long alive = count ? api_.PyLong_AsLongLong(count.get()) : -1;
      api_.PyErr_Clear();
      if (alive < 0) return -1;
      if (alive == 0 && asked == 0) return 0;
      if (platform::tickCount64() >= deadline) return static_cast<int32_t>(alive);
      py::PyThreadState* saved = api_.PyEval_SaveThread();
      platform::sleepMs(kThreadStopStepMs);
      api_.PyEval_RestoreThread(saved);
    }
  }

  // Just before the interpreter ends, with no script thread left.
  void LetMainThreadGo() {
    Call(letMainGo_);
    api_.PyErr_Clear();
  }

 private:
  template <class Lookup>
  void Take(Object keep, Lookup lookup) {
    keep_ = std::move(keep);
    const auto borrowed = [&](const char* name) {
      PyObject* value = lookup(name);
      return value != nullptr ? Object::Borrow(api_, value) : Object();
    };
    if (keep_) {
      toAsk_ = borrowed("to_ask");
      running_ = borrowed("running");
      letMainGo_ = borrowed("let_main_go");
    }
    none_ = Object::Steal(api_, api_.PyTuple_New(0));
  }

  Object Call(const Object& function) {
    return function && none_ ? Object::Steal(api_, api_.PyObject_Call(function.get(), none_.get(), nullptr)) : Object();
  }

  const py::PythonApi& api_;
  Object keep_;
  Object none_;
  Object toAsk_, running_, letMainGo_;
};

// Ends an abandoned interpreter if its threads have stopped since. Called
// without processEngineLock: the interpreter's threads may wait for that
// lock (pyio looks up the engine) while they hold the interpreter lock.
bool endAbandoned(AbandonedInterpreter& old) {
  const py::PythonApi& api = old.api;
  const py::PyGILState_STATE state = api.PyGILState_Ensure();
  {
    TScriptThreads threads(api);
    old.running = threads.Stop(kAbandonedRetryWaitMs);
    if (old.running == 0) threads.LetMainThreadGo();
  }
  if (old.running != 0) {
    api.PyGILState_Release(state);
    return false;
  }
  api.Py_FinalizeEx();
  return true;
}

}  // namespace

// ---- Starting and ending the interpreter ---------------------------------------------------

void TPythonEngine::Initialize() {
  if (attached_) {
    InitializeShared();
    return;
  }
  {
    std::unique_lock guard(processEngineLock);
    if (abandoned != nullptr && processEngine == nullptr) {
      // Ended outside the lock; meanwhile this engine keeps others out.
      AbandonedInterpreter* old = std::exchange(abandoned, nullptr);
      processEngine = this;
      guard.unlock();
      const bool ended = endAbandoned(*old);
      guard.lock();
      processEngine = nullptr;
      if (!ended) {
        abandoned = old;
        throw Exception("There is already one instance of TPythonEngine running: an earlier script's interpreter, "
                        "left running because " + threadsText(old->running));
      }
      delete old;
    }
    // An interpreter started by anyone else (another engine, or the host
    // itself) is not this engine's to use or to end.
    if ((processEngine != nullptr && processEngine != this) || (!initialized_ && api_.Py_IsInitialized()))
      throw Exception("There is already one instance of TPythonEngine running");
    processEngine = this;
  }
  try {
    SetProgramName(programName_);
    ForgetKeptThreadStates();  // those of an earlier interpreter ended with it
    api_.Py_Initialize();
    initialized_ = true;
    MarkLockHeld(true);
  } catch (...) {
    std::lock_guard guard(processEngineLock);
    if (!initialized_) processEngine = nullptr;
    throw;
  }
  KeepStandardTypes();
  SetArguments();
  // Thread support needs nothing more: every runtime this engine binds
  // creates the interpreter lock when it starts.
  if (RedirectIO && io_ != nullptr) RedirectStreams();
  RunInitScript();
}

void TPythonEngine::RunInitScript() {
  for (TEngineClient* client : clients_) {
    if (!client->Initialized()) client->Initialize(*this);
  }
  if (!InitScript.empty()) {
    std::string text;
    for (size_t i = 0; i < InitScript.size(); ++i) {
      if (i > 0) text += "\r\n";
      text += InitScript[i];
    }
    std::string source = platform::ansiToUtf8(text);
    std::erase(source, '\r');
    ExecString(source);
  }
  if (OnAfterInit) OnAfterInit(*this);
}

void TPythonEngine::InitializeShared() {
  TSharedRuntime& runtime = *sharedRuntime;  // attached: it stays while this engine is counted
  bool started = false;
  {
    std::lock_guard guard(processEngineLock);
    if (processEngine != nullptr || abandoned != nullptr || (!runtime.Initialized && api_.Py_IsInitialized()))
      throw Exception("There is already one instance of TPythonEngine running");
    if (!runtime.Initialized) {
      // The interpreter starts with its lock held by this thread, which
      // keeps it for the session below.
      started = true;
      SetProgramName(runtime.ProgramName);
      ForgetKeptThreadStates();
      api_.Py_Initialize();
      runtime.Initialized = true;
      sharedRuntimeRunning = true;
      SetArguments();
      runtime.Pyio = std::make_unique<TPythonModule>("pyio");
      runtime.Pyio->OnInitialization = addPyioFunctions;
      runtime.Pyio->Initialize(runtime);
      if (RedirectIO) {
        ExecString(kRedirectSource);
        runtime.StreamsRedirected = true;
      }
      // Kept by the runtime: its objects use the runtime's own table.
      runtime.Names = newDictionary(runtime.Api());
      for (const char* source : {kThreadStopSource, kScriptSessionsSource}) {
        Object code = runtime.Names ? Object::Steal(api_, api_.Py_CompileString(source, "<script sessions>", py::kPyFileInput))
                                    : Object();
        Object done = code ? Object::Steal(api_, api_.PyEval_EvalCode(code.get(), runtime.Names.get(), runtime.Names.get()))
                           : Object();
        if (!done) {
          runtime.Names = Object();
          api_.PyErr_Clear();
          break;
        }
      }
    }
  }
  // Taken outside the process lock: the interpreter lock is the inner one.
  // The thread state made stays with this thread.
  if (!started) api_.PyGILState_Ensure();
  initialized_ = true;
  MarkLockHeld(true);
  KeepStandardTypes();
  PyObject* sessionType = runtime.Names ? api_.PyDict_GetItemString(runtime.Names.get(), "Session") : nullptr;
  if (sessionType == nullptr) throw EPythonError("The shared Python runtime could not be prepared for scripts");
  sessionId_ = ++runtime.LastSession;
  runtime.Sessions[sessionId_] = this;
  py::TSessionScope scope(sessionId_);
  {
    size_t cut = ScriptFile.size();
    while (cut > 0 && !platform::isPathDelimiter(ScriptFile[cut - 1])) --cut;
    const std::string folder = cut > 0 ? ScriptFile.substr(0, cut - 1) : std::string();
    Object arguments = Object::Steal(api_, api_.PyTuple_New(3));
    if (!arguments) RaiseError();
    api_.PyTuple_SetItem(arguments.get(), 0, api_.PyLong_FromUnsignedLongLong(sessionId_));
    api_.PyTuple_SetItem(arguments.get(), 1, TextToPython(folder).release());
    api_.PyTuple_SetItem(arguments.get(), 2, TextToPython(ScriptFile).release());
    CheckError();
    session_ = Object::Steal(api_, api_.PyObject_Call(sessionType, arguments.get(), nullptr));
    if (!session_) RaiseError();
    namespace_ = Object::Steal(api_, api_.PyObject_GetAttrString(session_.get(), "namespace"));
    if (!namespace_) RaiseError();
  }
  RunInitScript();
}

void TPythonEngine::PublishModule(const std::string& name, Handle module) {
  if (!session_) {
    TPythonInterface::PublishModule(name, module);
    return;
  }
  Object publish = Object::Steal(api_, api_.PyObject_GetAttrString(session_.get(), "publish"));
  Object arguments = Object::Steal(api_, api_.PyTuple_New(2));
  if (!publish || !arguments) RaiseError();
  api_.PyTuple_SetItem(arguments.get(), 0, TextToPython(name).release());
  api_.PyTuple_SetItem(arguments.get(), 1, Object::Borrow(api_, module).release());
  if (!Object::Steal(api_, api_.PyObject_Call(publish.get(), arguments.get(), nullptr))) RaiseError();
}

void TPythonEngine::Finalize() {
  if (!initialized_) return;
  if (attached_) {
    FinalizeShared();
    return;
  }
  stopReport_.clear();
  // The interpreter ends with a thread state of the calling thread, which
  // takes the lock from whoever holds it once they let it go.
  const bool ownLock = !HoldsLock();
  const py::PyGILState_STATE state = ownLock ? api_.PyGILState_Ensure() : py::PyGILState_STATE{};
  // Only with no script thread left can the runtime's own shutdown neither
  // wait for one (it joins every non-daemon thread) nor leave one to wake
  // in a finished runtime.
  auto threads = std::make_unique<TScriptThreads>(api_);
  const int32_t running = threads->Stop(ThreadStopWaitMs);
  try {
    if (streamsRedirected_) RestoreStreams();
  } catch (...) {
    api_.PyErr_Clear();
  }
  for (TEngineClient* client : clients_) {
    try {
      if (client->Initialized()) client->Finalize();
    } catch (...) {
    }
  }
  if (pyio_) pyio_->Finalize();
  kept_.clear();
  dateTypes_ = {};
  functionType_ = nullptr;
  if (running == 0) threads->LetMainThreadGo();
  threads.reset();
  if (running != 0) {
    Abandon(ownLock, state, running);
    return;
  }
  api_.Py_FinalizeEx();
  initialized_ = false;
  MarkLockHeld(false);
  std::lock_guard guard(processEngineLock);
  if (processEngine == this) processEngine = nullptr;
}

void TPythonEngine::FinalizeShared() {
  stopReport_.clear();
  leftObjectsBehind_ = false;
  const bool ownLock = !HoldsLock();
  const py::PyGILState_STATE state = ownLock ? api_.PyGILState_Ensure() : py::PyGILState_STATE{};
  {
    py::TSessionScope scope(sessionId_);
    int32_t running = 0;
    if (session_) running = TScriptThreads(api_, session_, true).Stop(ThreadStopWaitMs);
    if (running != 0) {
      // The threads keep the session, this engine and its clients: they stay
      // as they are, the output of the threads reaching this engine's IO.
      stopReport_ = threadsText(running) + "; the Python runtime stays loaded";
      leftObjectsBehind_ = true;
    } else {
      if (session_) {
        Object close = Object::Steal(api_, api_.PyObject_GetAttrString(session_.get(), "close"));
        Object none = Object::Steal(api_, api_.PyTuple_New(0));
        if (close && none) Object::Steal(api_, api_.PyObject_Call(close.get(), none.get(), nullptr));
        api_.PyErr_Clear();
      }
      namespace_.reset();
      session_.reset();
      for (TEngineClient* client : clients_) {
        try {
          if (client->Initialized()) client->Finalize();
        } catch (...) {
        }
        leftObjectsBehind_ = leftObjectsBehind_ || client->Outlived();
      }
      kept_.clear();
      dateTypes_ = {};
      functionType_ = nullptr;
      sharedRuntime->Sessions.erase(sessionId_);
    }
  }
  if (ownLock) {
    api_.PyGILState_Release(state);
  } else {
    api_.PyEval_SaveThread();
  }
  initialized_ = false;
  MarkLockHeld(false);
}

// Leaves the interpreter running, with its library and what it points into,
// and lets go of the lock. The process keeps them until a later start ends
// that interpreter.
void TPythonEngine::Abandon(bool ownLock, py::PyGILState_STATE state, int32_t running) {
  auto* record = new AbandonedInterpreter{std::move(library_), api_, std::move(pyio_), std::move(programName_), running};
  if (ownLock) {
    api_.PyGILState_Release(state);
  } else {
    api_.PyEval_SaveThread();  // the interpreter keeps the thread state
  }
  initialized_ = false;
  MarkLockHeld(false);
  // The table stays filled: objects of that interpreter may hold its
  // address, and an owner that keeps this engine keeps them working until
  // the interpreter ends.
  stopReport_ = threadsText(running) + "; the Python runtime stays loaded";
  std::lock_guard guard(processEngineLock);
  abandoned = record;
  if (processEngine == this) processEngine = nullptr;
}

void TPythonEngine::SetProgramName(std::vector<py::PyWideChar>& programName_) {
  if (api_.Py_SetProgramName == nullptr) return;  // dropped by newer runtimes; the default serves
  const std::u16string name = platform::ansiToWide(ProgramName.empty() ? platform::executablePath() : ProgramName);
  programName_.clear();
  for (size_t i = 0; i < name.size(); ++i) {
    uint32_t unit = name[i];
    if constexpr (sizeof(py::PyWideChar) == 4) {
      if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < name.size() && name[i + 1] >= 0xDC00 && name[i + 1] < 0xE000) {
        unit = 0x10000 + ((unit - 0xD800) << 10) + (name[i + 1] - 0xDC00);
        ++i;
      }
    }
    programName_.push_back(static_cast<py::PyWideChar>(unit));
  }
  programName_.push_back(0);
  api_.Py_SetProgramName(programName_.data());
}

void TPythonEngine::KeepStandardTypes() {
  const auto attribute = [&](const char* module, const char* name) -> PyObject* {
    Object imported = Object::Steal(api_, api_.PyImport_ImportModule(module));
    if (!imported) {
      api_.PyErr_Clear();
      return nullptr;
    }
    Object value = Object::Steal(api_, api_.PyObject_GetAttrString(imported.get(), name));
    if (!value) {
      api_.PyErr_Clear();
      return nullptr;
    }
    kept_.push_back(value);
    return value.get();
  };
  dateTypes_.StructTime = attribute("time", "struct_time");
  dateTypes_.DateTime = attribute("datetime", "datetime");
  dateTypes_.Date = attribute("datetime", "date");
  dateTypes_.Time = attribute("datetime", "time");
  dateTypes_.TimeDelta = attribute("datetime", "timedelta");
  functionType_ = attribute("types", "FunctionType");
}

void TPythonEngine::SetArguments() {
  // sys.argv: an empty first element and the host's own arguments; and, as
  // for a program run from a file, the current folder first on sys.path.
  Object argv = Object::Steal(api_, api_.PyList_New(0));
  const std::vector<std::string> arguments = platform::processArguments();
  for (size_t i = 0; i < std::max<size_t>(arguments.size(), 1); ++i) {
    Object text = TextToPython(i == 0 ? std::string() : arguments[i]);
    if (text) api_.PyList_Append(argv.get(), text.get());
  }
  api_.PySys_SetObject("argv", argv.get());
  if (PyObject* path = api_.PySys_GetObject("path")) {
    Object empty = TextToPython("");
    api_.PyList_Insert(path, 0, empty.get());
  }
  api_.PyErr_Clear();
}

void TPythonEngine::RedirectStreams() {
  pyio_ = std::make_unique<TPythonModule>("pyio");
  pyio_->OnInitialization = addPyioFunctions;
  pyio_->Initialize(*this);
  ExecString(kRedirectSource);
  streamsRedirected_ = true;
}

void TPythonEngine::RestoreStreams() {
  streamsRedirected_ = false;
  ExecString(kRestoreSource);
}

// ---- The shared interpreter's end ----------------------------------------------------------

namespace {
// How long the end of the shared interpreter waits for threads left running.
constexpr uint32_t kSharedEndWaitMs = 2000;
}  // namespace

namespace {

// Without releaseLibrary the runtime library stays mapped: unmapping it
// while the process ends lets the loader unmap this library as well, whose
// code is still running.
void endSharedRuntime(bool releaseLibrary) noexcept {
  std::lock_guard guard(processEngineLock);
  TSharedRuntime* runtime = sharedRuntime;
  if (runtime == nullptr || runtime->Engines > 0) return;
  if (runtime->Initialized) {
    const py::PythonApi& api = runtime->Api();
    const py::PyGILState_STATE state = api.PyGILState_Ensure();
    std::unique_ptr<TScriptThreads> threads;
    if (runtime->Names) threads = std::make_unique<TScriptThreads>(api, runtime->Names, false);
    const int32_t running = threads ? threads->Stop(kSharedEndWaitMs) : 0;
    if (running != 0) {
      // Threads of an earlier script still run: the interpreter, its library
      // and this record stay for the life of the process.
      api.PyGILState_Release(state);
      return;
    }
    if (runtime->StreamsRedirected) {
      Object code = Object::Steal(api, api.Py_CompileString(kRestoreSource, "<string>", py::kPyFileInput));
      PyObject* main = api.PyImport_AddModule("__main__");
      if (code && main != nullptr) {
        PyObject* globals = api.PyModule_GetDict(main);
        Object::Steal(api, api.PyEval_EvalCode(code.get(), globals, globals));
      }
      api.PyErr_Clear();
    }
    if (runtime->Pyio) runtime->Pyio->Finalize();
    if (threads) threads->LetMainThreadGo();
    threads.reset();
    runtime->Names = Object();
    api.Py_FinalizeEx();
    sharedRuntimeRunning = false;
  }
  runtime->Pyio.reset();
  if (releaseLibrary) {
    runtime->Library.close();
  } else {
    new platform::DynamicLibrary(std::move(runtime->Library));  // deliberately never freed
  }
  delete runtime;
  sharedRuntime = nullptr;
}

// A plug-in library unloaded without its release request, or a process
// ending with the library loaded, still ends the shared interpreter: it runs
// code of this library.
struct TSharedRuntimeEnd {
  ~TSharedRuntimeEnd() { endSharedRuntime(false); }
} sharedRuntimeEnd;

}  // namespace

void EndSharedRuntime() noexcept { endSharedRuntime(true); }

// ---- Running code --------------------------------------------------------------------------

Handle TPythonEngine::Namespace() const {
  if (namespace_) return api_.PyModule_GetDict(namespace_.get());
  PyObject* main = api_.PyImport_AddModule(MainModuleName.c_str());  // borrowed
  return main != nullptr ? api_.PyModule_GetDict(main) : nullptr;
}

void TPythonEngine::ExecString(std::string_view source) {
  py::TSessionScope scope(sessionId_);
  const std::string text(source);
  Object code = Object::Steal(api_, api_.Py_CompileString(text.c_str(), "<string>", py::kPyFileInput));
  if (!code) RaiseError();
  PyObject* globals = Namespace().ptr();  // borrowed
  if (globals == nullptr) RaiseError();
  Object result = Object::Steal(api_, api_.PyEval_EvalCode(code.get(), globals, globals));
  if (!result) RaiseError();
}

Object TPythonEngine::FindFunction(std::string_view name) {
  PyObject* main = namespace_ ? namespace_.get() : api_.PyImport_AddModule(MainModuleName.c_str());
  if (main == nullptr) {
    api_.PyErr_Clear();
    return Object();
  }
  Object value = Object::Steal(api_, api_.PyObject_GetAttrString(main, std::string(name).c_str()));
  if (!value) {
    api_.PyErr_Clear();
    return Object();
  }
  Object type = Object::Steal(api_, api_.PyObject_Type(value.get()));
  const bool function = (functionType_ != nullptr && type.get() == functionType_) ||
                        type.get() == py::PythonApi::TypeObject(api_.PyCFunction_Type);
  return function ? value : Object();
}

py::THostVariant TPythonEngine::CallFunction(Handle function, std::span<const Handle> arguments) {
  if (!initialized_) throw EPythonError("Python is not properly initialized");
  py::TSessionScope scope(sessionId_);
  Object tuple = Object::Steal(api_, api_.PyTuple_New(static_cast<py::Py_ssize_t>(arguments.size())));
  if (!tuple) RaiseError();
  for (size_t i = 0; i < arguments.size(); ++i) {
    api_.PyTuple_SetItem(tuple.get(), static_cast<py::Py_ssize_t>(i), Object::Borrow(api_, arguments[i]).release());
  }
  Object result = Object::Steal(api_, api_.PyObject_Call(function.ptr(), tuple.get(), nullptr));
  if (!result || api_.PyErr_Occurred() != nullptr) RaiseError();
  py::THostVariant value = PythonToVariant(result.get());
  CheckError();
  return value;
}


// ---- Errors --------------------------------------------------------------------------------

std::string TPythonEngine::ObjectText(Handle object) const {
  if (!object) return {};
  Object text = Object::Steal(api_, api_.PyObject_Str(object.ptr()));
  if (!text) {
    api_.PyErr_Clear();
    return {};
  }
  std::string result = PythonToText(text.get());
  api_.PyErr_Clear();
  return result;
}

void TPythonEngine::PrintException(PyObject* type, PyObject* value, PyObject* traceback) {
  // What the runtime's own printing does, except that a SystemExit does not
  // end the process: the exception is stored in sys.last_* and shown
  // through sys.excepthook (or directly when there is none or it fails).
  PyObject* none = api_.None();
  api_.PySys_SetObject("last_type", type);
  api_.PySys_SetObject("last_value", value ? value : none);
  api_.PySys_SetObject("last_traceback", traceback ? traceback : none);
  api_.PySys_SetObject("last_exc", value ? value : none);
  PyObject* hook = api_.PySys_GetObject("excepthook");  // borrowed
  bool shown = false;
  if (hook != nullptr && hook != none) {
    Object arguments = Object::Steal(api_, api_.PyTuple_New(3));
    PyObject* items[] = {type, value ? value : none, traceback ? traceback : none};
    for (py::Py_ssize_t i = 0; i < 3; ++i) {
      api_.Py_IncRef(items[i]);
      api_.PyTuple_SetItem(arguments.get(), i, items[i]);
    }
    Object result = Object::Steal(api_, api_.PyObject_Call(hook, arguments.get(), nullptr));
    shown = static_cast<bool>(result);
    if (!shown) {
      PyObject *hookType = nullptr, *hookValue = nullptr, *hookTrace = nullptr;
      api_.PyErr_Fetch(&hookType, &hookValue, &hookTrace);
      api_.PyErr_NormalizeException(&hookType, &hookValue, &hookTrace);
      Object t = Object::Steal(api_, hookType), v = Object::Steal(api_, hookValue), tb = Object::Steal(api_, hookTrace);
      if (t) api_.PyErr_Display(t.get(), v ? v.get() : none, tb ? tb.get() : none);
    }
  }
  if (!shown) api_.PyErr_Display(type, value ? value : none, traceback ? traceback : none);
  api_.PyErr_Clear();
}

void TPythonEngine::RaiseError() {
  PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
  api_.PyErr_Fetch(&type, &value, &traceback);
  if (type == nullptr) {
    PyObject* lastType = api_.PySys_GetObject("last_type");  // borrowed
    if (lastType == nullptr || lastType == api_.None()) {
      api_.PyErr_Clear();
      throw EPythonError("RaiseError: could'nt fetch last exception");
    }
    Object keptType = Object::Borrow(api_, lastType);
    Object keptValue = Object::Borrow(api_, api_.PySys_GetObject("last_value"));
    ThrowTranslated(keptType.get(), keptValue.get());
  }
  api_.PyErr_NormalizeException(&type, &value, &traceback);
  Object keptType = Object::Steal(api_, type);
  Object keptValue = Object::Steal(api_, value);
  Object keptTrace = Object::Steal(api_, traceback);
  PrintException(keptType.get(), keptValue.get(), keptTrace.get());
  ThrowTranslated(keptType.get(), keptValue.get());
}

namespace {

using Raise = void (*)(const std::string& message, const std::string& name, const std::string& value);

template <class E>
[[noreturn]] void raiseAs(const std::string& message, const std::string& name, const std::string& value) {
  throw E(message, name, value);
}

struct ErrorClass {
  PyObject** py::PythonApi::*exception;
  Raise raise;
  bool syntax;
};

// First match wins, so subclasses come before their bases.
const ErrorClass kErrorClasses[] = {
    {&py::PythonApi::PyExc_SystemExit, &raiseAs<EPySystemExit>, false},
    {&py::PythonApi::PyExc_StopIteration, &raiseAs<EPyStopIteration>, false},
    {&py::PythonApi::PyExc_KeyboardInterrupt, &raiseAs<EPyKeyboardInterrupt>, false},
    {&py::PythonApi::PyExc_ImportError, &raiseAs<EPyImportError>, false},
    {&py::PythonApi::PyExc_WindowsError, &raiseAs<EPyWindowsError>, false},
    {&py::PythonApi::PyExc_IOError, &raiseAs<EPyIOError>, false},
    {&py::PythonApi::PyExc_OSError, &raiseAs<EPyOSError>, false},
    {&py::PythonApi::PyExc_EnvironmentError, &raiseAs<EPyEnvironmentError>, false},
    {&py::PythonApi::PyExc_EOFError, &raiseAs<EPyEOFError>, false},
    {&py::PythonApi::PyExc_NotImplementedError, &raiseAs<EPyNotImplementedError>, false},
    {&py::PythonApi::PyExc_RuntimeError, &raiseAs<EPyRuntimeError>, false},
    {&py::PythonApi::PyExc_UnboundLocalError, &raiseAs<EPyUnboundLocalError>, false},
    {&py::PythonApi::PyExc_NameError, &raiseAs<EPyNameError>, false},
    {&py::PythonApi::PyExc_AttributeError, &raiseAs<EPyAttributeError>, false},
    {&py::PythonApi::PyExc_TabError, nullptr, true},
    {&py::PythonApi::PyExc_IndentationError, nullptr, true},
    {&py::PythonApi::PyExc_SyntaxError, nullptr, true},
    {&py::PythonApi::PyExc_TypeError, &raiseAs<EPyTypeError>, false},
    {&py::PythonApi::PyExc_AssertionError, &raiseAs<EPyAssertionError>, false},
    {&py::PythonApi::PyExc_IndexError, &raiseAs<EPyIndexError>, false},
    {&py::PythonApi::PyExc_KeyError, &raiseAs<EPyKeyError>, false},
    {&py::PythonApi::PyExc_LookupError, &raiseAs<EPyLookupError>, false},
    {&py::PythonApi::PyExc_OverflowError, &raiseAs<EPyOverflowError>, false},
    {&py::PythonApi::PyExc_ZeroDivisionError, &raiseAs<EPyZeroDivisionError>, false},
    {&py::PythonApi::PyExc_FloatingPointError, &raiseAs<EPyFloatingPointError>, false},
    {&py::PythonApi::PyExc_ArithmeticError, &raiseAs<EPyArithmeticError>, false},
    {&py::PythonApi::PyExc_UnicodeEncodeError, &raiseAs<UnicodeEncodeError>, false},
    {&py::PythonApi::PyExc_UnicodeDecodeError, &raiseAs<UnicodeDecodeError>, false},
    {&py::PythonApi::PyExc_UnicodeTranslateError, &raiseAs<UnicodeTranslateError>, false},
    {&py::PythonApi::PyExc_UnicodeError, &raiseAs<EPyUnicodeError>, false},
    {&py::PythonApi::PyExc_ValueError, &raiseAs<EPyValueError>, false},
    {&py::PythonApi::PyExc_ReferenceError, &raiseAs<EPyReferenceError>, false},
    {&py::PythonApi::PyExc_SystemError, &raiseAs<EPySystemError>, false},
    {&py::PythonApi::PyExc_MemoryError, &raiseAs<EPyMemoryError>, false},
    {&py::PythonApi::PyExc_UserWarning, &raiseAs<EPyUserWarning>, false},
    {&py::PythonApi::PyExc_DeprecationWarning, &raiseAs<EPyDeprecationWarning>, false},
    {&py::PythonApi::PyExc_SyntaxWarning, &raiseAs<EPySyntaxWarning>, false},
    {&py::PythonApi::PyExc_RuntimeWarning, &raiseAs<EPyRuntimeWarning>, false},
    {&py::PythonApi::PyExc_FutureWarning, &raiseAs<FutureWarning>, false},
    {&py::PythonApi::PyExc_PendingDeprecationWarning, &raiseAs<PendingDeprecationWarning>, false},
    {&py::PythonApi::PyExc_Warning, &raiseAs<EPyWarning>, false},
    {&py::PythonApi::PyExc_Exception, &raiseAs<EPyException>, false},
};

std::string trimmed(std::string text) {
  const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; };
  while (!text.empty() && space(text.back())) text.pop_back();
  size_t start = 0;
  while (start < text.size() && space(text[start])) ++start;
  return text.substr(start);
}

}  // namespace

void TPythonEngine::ThrowTranslated(PyObject* type, PyObject* value) {
  std::string typeName;
  if (api_.PyObject_IsInstance(type, py::PythonApi::TypeObject(api_.PyType_Type)) == 1) {
    Object name = Object::Steal(api_, api_.PyObject_GetAttrString(type, "__name__"));
    typeName = name ? ObjectText(name.get()) : ObjectText(type);
  } else {
    typeName = ObjectText(type);
  }
  api_.PyErr_Clear();
  const std::string valueText = ObjectText(value);
  const std::string message = valueText.empty() ? typeName : typeName + ": " + valueText;

  for (const ErrorClass& entry : kErrorClasses) {
    PyObject** exception = api_.*entry.exception;
    if (exception == nullptr || *exception == nullptr) continue;
    if (api_.PyErr_GivenExceptionMatches(type, *exception) == 0) continue;
    if (!entry.syntax) entry.raise(message, typeName, valueText);

    // Syntax errors: where the source went wrong.
    std::string fileName, lineText, reason;
    int64_t line = 0, offset = 0;
    const auto text = [&](PyObject* object) { return object && object != api_.None() ? ObjectText(object) : std::string(); };
    const auto number = [&](PyObject* object) {
      if (object == nullptr || object == api_.None()) return int64_t{0};
      const long long n = api_.PyLong_AsLongLong(object);
      api_.PyErr_Clear();
      return static_cast<int64_t>(n == -1 ? 0 : n);
    };
    if (value != nullptr && api_.PyObject_IsInstance(value, py::PythonApi::TypeObject(api_.PyTuple_Type)) == 1) {
      reason = text(api_.PyTuple_GetItem(value, 0));
      PyObject* details = api_.PyTuple_GetItem(value, 1);
      if (details != nullptr && api_.PyTuple_Size(details) >= 4) {
        fileName = text(api_.PyTuple_GetItem(details, 0));
        line = number(api_.PyTuple_GetItem(details, 1));
        offset = number(api_.PyTuple_GetItem(details, 2));
        lineText = text(api_.PyTuple_GetItem(details, 3));
      }
    } else if (value != nullptr) {
      const auto attribute = [&](const char* name) { return Object::Steal(api_, api_.PyObject_GetAttrString(value, name)); };
      fileName = text(attribute("filename").get());
      lineText = text(attribute("text").get());
      offset = number(attribute("offset").get());
      line = number(attribute("lineno").get());
      reason = text(attribute("msg").get());
    }
    api_.PyErr_Clear();
    std::string syntaxMessage = message;
    if (!reason.empty()) {
      syntaxMessage = typeName + ": " + reason + " (line " + std::to_string(line) + ", offset " +
                      std::to_string(offset) + "): '" + trimmed(lineText) + "'";
    }
    const auto fill = [&](auto error) {
      error.EFileName = fileName;
      error.ELineNumber = static_cast<int32_t>(line);
      error.EOffset = static_cast<int32_t>(offset);
      error.ELineText = lineText;
      throw error;
    };
    if (exception == api_.PyExc_TabError) fill(EPyTabError(syntaxMessage, typeName, valueText));
    if (exception == api_.PyExc_IndentationError) fill(EPyIndentationError(syntaxMessage, typeName, valueText));
    fill(EPySyntaxError(syntaxMessage, typeName, valueText));
  }
  throw EPyExecError(message, typeName, valueText);
}

}  // namespace corvane
