// The embedded Python interpreter. The engine loads a Python 3 runtime
// library by path, binds the entry points it needs by name, starts the
// interpreter, redirects the standard streams, publishes its clients'
// modules, runs the initialisation script in __main__, calls script
// functions and turns Python errors into host-side exceptions.
//
// One engine per process can own the interpreter at a time. Destroying that
// engine ends the interpreter before the library is released, so an engine
// created afterwards starts a fresh one: nothing of an earlier script
// survives a restart.
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
  bool IsHandleValid() const { return library_.loaded(); }
  bool Initialized() const { return initialized_; }
  const std::string& LastLoadError() const { return lastLoadError_; }
  // Ends the interpreter and releases the library (what destruction does),
  // so that StopReport() can be read before the engine goes.
  void UnloadDll();
  // Empty when the last stop ended the interpreter; otherwise why it was
  // left running, e.g. "1 script thread did not stop; the Python runtime
  // stays loaded".
  const std::string& StopReport() const { return stopReport_; }

  // ---- Running code (the interpreter lock held)
  // Executes source text (UTF-8) as file input in the __main__ namespace.
  void ExecString(std::string_view source);
  // A module-level function (Python or built-in) of __main__, or an empty
  // object.
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
  void Abandon(bool ownLock, py::PyGILState_STATE state, int32_t running);
  void RedirectStreams();
  void RestoreStreams();
  void SetProgramName();
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
};

// The plug-in's engine: load failures never end the process, threads on.
class TkivPythonEngine : public TPythonEngine {
 public:
  TkivPythonEngine();
};

// The engine that owns the interpreter. Throws "No Python engine was
// created" when there is none and "The Python engine is not properly
// initialized" while it is not initialised.
TPythonEngine& GetPythonEngine();

}  // namespace corvane
