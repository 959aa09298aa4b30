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
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "bindings/python_api.h"
#include "bindings/value_conversion.h"
#include "common/exceptions.h"
#include "platform/dynamic_library.h"
#include "python/python_errors.h"
#include "python/python_io.h"
#include "python/python_module.h"

namespace corvane {

// Live-instance statistics of a script type, for pyio.GetTypesStats.
struct TTypeStats {
  std::string TypeName;
  int32_t InstanceCount = 0;
  int32_t CreateHits = 0;
  int32_t DeleteHits = 0;
};

class TPythonEngine {
 public:
  TPythonEngine();
  TPythonEngine(const TPythonEngine&) = delete;
  TPythonEngine& operator=(const TPythonEngine&) = delete;
  virtual ~TPythonEngine();

  // ---- Settings
  std::string DllName = "python27.dll";
  std::string DllPath;               // folder of the library; empty: the registered one
  std::string RegVersion = "2.7";
  int32_t APIVersion = py::kPythonApiVersion;
  bool UseLastKnownVersion = true;
  std::string ProgramName;           // empty: the host executable's path
  std::vector<std::string> InitScript;  // lines of 8-bit text
  std::string MainModuleName = "__main__";
  bool RedirectIO = true;
  bool InitThreads = false;
  bool FatalMsgDlg = true;            // show load failures in a message box
  bool AutoUnload = true;
  py::TDatetimeConversionMode DatetimeConversionMode = py::dcmToTuple;
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
  void RegisterTypeStats(std::function<TTypeStats()> source);
  std::vector<TTypeStats> TypeStats() const;

  // ---- Life cycle
  // Loads the library, binds the API and initialises the interpreter. Load
  // and binding failures end in a message box (when FatalMsgDlg) and no
  // library, kept in LastLoadError(); a failure while initialising
  // propagates with the library still loaded.
  void LoadDll();
  bool IsHandleValid() const { return library_.loaded(); }
  bool Initialized() const { return initialized_; }
  const std::string& LastLoadError() const { return lastLoadError_; }
  const py::PythonApi& Api() const { return api_; }

  // ---- Running code (the interpreter lock held)
  // Executes source text (UTF-8) as file input in the __main__ namespace.
  void ExecString(std::string_view source);
  // A module-level function (Python or built-in) of __main__: a new
  // reference, or null.
  py::PyObject* FindFunction(std::string_view name);
  // Calls with positional arguments (borrowed) and converts the result.
  py::THostVariant CallFunction(py::PyObject* function, std::span<py::PyObject* const> arguments);
  py::PyObject* ReturnNone();
  // Turns the pending Python error (or the last one stored) into the
  // matching host-side exception, after printing its traceback to
  // sys.stderr. A SystemExit becomes EPySystemExit: it never ends the host.
  [[noreturn]] void RaiseError();
  void CheckError();  // raises when a Python error is pending

  // ---- Values (the interpreter lock held)
  py::PyObject* VariantToPython(const platform::Variant& value) const;
  py::THostVariant PythonToVariant(py::PyObject* object) const;
  std::string PythonToText(py::PyObject* object) const;
  py::PyObject* TextToPython(std::string_view text) const;
  py::TValueConverter Converter() const;

  // ---- The interpreter lock
  // Lock gives the calling thread a thread state of its own (made on first
  // use, kept while nested) and the lock; Unlock gives both back. Any thread
  // may call them, in matching pairs.
  py::PyGILState_STATE Lock();
  void Unlock(py::PyGILState_STATE state);
  // Release and retake the lock with a saved thread state, on the thread
  // that saved it.
  py::PyThreadState* SaveThread();
  void RestoreThread(py::PyThreadState* state);

 protected:
  virtual void Initialize();
  void Finalize();

 private:
  void UnloadDll();
  void RedirectStreams();
  void RestoreStreams();
  void SetProgramName();
  void SetArguments();
  void KeepStandardTypes();
  [[noreturn]] void ThrowTranslated(py::PyObject* type, py::PyObject* value);
  std::string ObjectText(py::PyObject* object) const;
  void PrintException(py::PyObject* type, py::PyObject* value, py::PyObject* traceback);

  platform::DynamicLibrary library_;
  py::PythonApi api_;
  std::string lastLoadError_;
  int32_t major_ = 2;
  int32_t minor_ = 7;
  bool python3_ = false;
  std::string builtins_ = "__builtin__";
  bool initialized_ = false;
  bool streamsRedirected_ = false;
  std::atomic<uint32_t> lockHolder_{0};  // thread holding the interpreter lock through this engine, 0 for none
  std::vector<TEngineClient*> clients_;
  TPythonInputOutput* io_ = nullptr;
  std::unique_ptr<TPythonModule> pyio_;
  std::vector<std::function<TTypeStats()>> typeStats_;
  std::vector<py::PyRef> kept_;  // standard types used by conversions and lookups
  py::TDateTypes dateTypes_;
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
