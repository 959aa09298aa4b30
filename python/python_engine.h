// The embedded Python interpreter. The engine loads a Python 3 runtime
// library by path, binds the entry points it needs by name, starts the
// interpreter, redirects the standard streams, publishes its clients'
// modules, runs the initialisation script in __main__, calls script
// functions and turns Python errors into host-side exceptions.
//
// An engine either owns an interpreter of its own or, with ShareRuntime,
// runs its script in a session of the one interpreter the process's sharing
// engines have in common.
//
// Own interpreter: one engine per process can own it at a time. Destroying
// that engine ends the interpreter before the library is released, so an
// engine created afterwards starts a fresh one: nothing of an earlier script
// survives a restart.
//
// Shared interpreter: the first sharing engine loads the runtime library and
// starts the interpreter; later ones use it (an engine that names another
// library gets a load error). Each engine runs its script in a session: a
// namespace of its own, its clients' modules importable only there, the
// modules beside ScriptFile loaded afresh for it, and the threads its code
// starts. Ending the engine ends its session; the interpreter and the
// library modules imported stay (C extensions cannot be loaded again into a
// restarted interpreter) until EndSharedRuntime, run when the plug-in library
// is released or unloaded.
//
// Threads the script started are asked to stop (SystemExit in each) before
// the interpreter ends, and waited for at most ThreadStopWaitMs. Should one
// still run after that, ending the interpreter would hang (the runtime joins
// its threads) or crash the process later (the thread wakes in a finished
// runtime or an unloaded library), so the interpreter is left running
// without an owner and its library stays loaded; StopReport() says so. The
// next engine to start ends that interpreter first if its threads have
// stopped by then, and refuses to start while they still run.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "bindings/engine_client.h"
#include "bindings/py_object.h"
#include "bindings/python_api.h"
#include "bindings/python_errors.h"
#include "bindings/python_interface.h"
#include "bindings/python_module.h"
#include "bindings/value_conversion.h"
#include "common/exceptions.h"
#include "platform/dynamic_library.h"
#include "python/python_io.h"

namespace corvane {

class TPythonEngine : public TPythonInterface {
 public:
  TPythonEngine();
  ~TPythonEngine() override;

  // ---- Settings
  std::string DllName = "python27.dll";
  std::string DllPath;               // folder of the library; empty: the registered one
  std::string RegVersion = "2.7";
  bool UseLastKnownVersion = true;
  std::string ProgramName;           // empty: the host executable's path
  std::vector<std::string> InitScript;  // lines of 8-bit text
  std::string MainModuleName = "__main__";
  bool RedirectIO = true;
  bool InitThreads = false;
  bool FatalMsgDlg = true;            // show load failures in a message box
  bool AutoUnload = true;
  // Run in a session of the process's shared interpreter.
  bool ShareRuntime = false;
  // The script's file: __file__ of a session's namespace, and the folder
  // whose modules the script imports as its own. Empty: none.
  std::string ScriptFile;
  // How long stopping waits for the script's threads to end.
  uint32_t ThreadStopWaitMs = 2000;
  // Runs after the initialisation script, with the interpreter lock held.
  std::function<void(TPythonEngine& engine)> OnAfterInit;

  // ---- Version facts (set when the library loads)
  int32_t MajorVersion() const { return major_; }
  int32_t MinorVersion() const { return minor_; }
  bool IsPython3000() const { return python3_; }
  const std::string& BuiltinModuleName() const { return builtins_; }

  // ---- Clients and output
  void AddClient(TEngineClient& client);   // in initialisation order
  void SetIO(TPythonInputOutput* io) { io_ = io; }
  TPythonInputOutput* IO() const { return io_; }

  // ---- Life cycle
  // Loads the library, binds the API and initialises the interpreter. Load
  // and binding failures end in a message box (when FatalMsgDlg) and no
  // library, kept in LastLoadError(); a failure while initialising
  // propagates with the library still loaded.
  void LoadDll();
  bool IsHandleValid() const { return library_.loaded() || attached_; }
  bool Initialized() const { return initialized_; }
  const std::string& LastLoadError() const { return lastLoadError_; }
  // Ends the interpreter and releases the library (what destruction does),
  // so that StopReport() can be read before the engine goes.
  void UnloadDll();
  // Empty when the last stop ended the interpreter; otherwise why it was
  // left running, e.g. "1 script thread did not stop; the Python runtime
  // stays loaded".
  const std::string& StopReport() const { return stopReport_; }
  // After a session ended: objects that the interpreter still holds (kept by
  // a library module, or threads still running) use this engine or its
  // clients, which must then live as long as the interpreter.
  bool LeftObjectsBehind() const { return leftObjectsBehind_; }

  void PublishModule(const std::string& name, py::Handle module) override;

  // ---- Running code (the interpreter lock held)
  // Executes source text (UTF-8) as file input in the script's namespace
  // (__main__, or the session's).
  void ExecString(std::string_view source);
  py::Handle Namespace() const;  // its dictionary
  // A module-level function (Python or built-in) of the script's namespace,
  // or an empty object.
  py::Object FindFunction(std::string_view name);
  // Calls with positional arguments and converts the result.
  py::THostVariant CallFunction(py::Handle function, std::span<const py::Handle> arguments);
  // Turns the pending Python error (or the last one stored) into the
  // matching host-side exception, after printing its traceback to
  // sys.stderr. A SystemExit becomes EPySystemExit: it never ends the host.
  [[noreturn]] void RaiseError() override;

 protected:
  virtual void Initialize();
  void Finalize();

 private:
  void TakeVersionFacts();  // of the library named by DllName
  bool AttachSharedRuntime(const std::string& path, std::string& error);
  void InitializeShared();
  void FinalizeShared();
  void RunInitScript();
  void Abandon(bool ownLock, py::PyGILState_STATE state, int32_t running);
  void RedirectStreams();
  void RestoreStreams();
  void SetProgramName(std::vector<py::PyWideChar>& storage);
  void SetArguments();
  void KeepStandardTypes();
  [[noreturn]] void ThrowTranslated(py::PyObject* type, py::PyObject* value);
  std::string ObjectText(py::Handle object) const;
  void PrintException(py::PyObject* type, py::PyObject* value, py::PyObject* traceback);

  platform::DynamicLibrary library_;
  std::string lastLoadError_;
  std::string stopReport_;
  int32_t major_ = 2;
  int32_t minor_ = 7;
  bool python3_ = false;
  std::string builtins_ = "__builtin__";
  bool initialized_ = false;
  bool streamsRedirected_ = false;
  std::vector<TEngineClient*> clients_;
  TPythonInputOutput* io_ = nullptr;
  std::unique_ptr<TPythonModule> pyio_;
  std::vector<py::Object> kept_;  // standard types used by conversions and lookups
  py::PyObject* functionType_ = nullptr;
  std::vector<py::PyWideChar> programName_;  // the runtime keeps a pointer to it
  bool attached_ = false;  // uses the shared runtime
  py::Object session_;     // the session's Python side
  py::Object namespace_;   // the session's namespace module
  bool leftObjectsBehind_ = false;
};

// The plug-in's engine: load failures never end the process, threads on.
class TkivPythonEngine : public TPythonEngine {
 public:
  TkivPythonEngine();
};

// Why the runtime library at path cannot run a session: another library
// already runs the shared interpreter. Empty when it can.
std::string SharedRuntimeConflict(const std::string& path);
// Ends the shared interpreter and releases its library, once no engine uses
// it and its threads have stopped (else it stays); for the plug-in library's
// release. An engine that shares afterwards starts a new one.
void EndSharedRuntime() noexcept;

// The engine that owns the interpreter. Throws "No Python engine was
// created" when there is none and "The Python engine is not properly
// initialized" while it is not initialised.
TPythonEngine& GetPythonEngine();

}  // namespace corvane
