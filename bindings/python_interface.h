// What every client of the embedded interpreter needs of the engine: the
// bound runtime functions, value conversion, the interpreter lock and error
// translation. The engine (python/) is one; script types and extension
// modules (bindings/) know the interpreter only through this interface.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "bindings/py_object.h"
#include "bindings/python_api.h"
#include "bindings/value_conversion.h"

namespace corvane {

// Live-instance statistics of a script type, for pyio.GetTypesStats.
struct TTypeStats {
  std::string TypeName;
  int32_t InstanceCount = 0;
  int32_t CreateHits = 0;
  int32_t DeleteHits = 0;
};

class TPythonInterface {
 public:
  TPythonInterface() = default;
  TPythonInterface(const TPythonInterface&) = delete;
  TPythonInterface& operator=(const TPythonInterface&) = delete;
  virtual ~TPythonInterface() = default;

  int32_t APIVersion = py::kPythonApiVersion;
  py::TDatetimeConversionMode DatetimeConversionMode = py::dcmToTuple;

  const py::PythonApi& Api() const { return api_; }

  // ---- Values (the interpreter lock held)
  py::TValueConverter Converter() const { return py::TValueConverter(api_, dateTypes_, DatetimeConversionMode); }
  py::Object VariantToPython(const platform::Variant& value) const;
  py::THostVariant PythonToVariant(py::Handle object) const;
  // "" with a TypeError set for anything but str and bytes.
  std::string PythonToText(py::Handle object) const;
  py::Object TextToPython(std::string_view text) const;
  py::Object None() const { return py::Object::Borrow(api_, api_.None()); }
  py::Object Bool(bool value) const { return py::Object::Borrow(api_, value ? api_.True() : api_.False()); }

  // ---- Errors
  // Turns the pending Python error into a host-side exception.
  [[noreturn]] virtual void RaiseError() = 0;
  void CheckError() {
    if (api_.PyErr_Occurred() != nullptr) RaiseError();
  }

  // ---- The interpreter lock
  // Lock gives the calling thread a thread state of its own and the lock;
  // Unlock gives the lock back. The thread state is made on a thread's first
  // use and kept until the interpreter ends, for up to kMaxKeptThreadStates
  // threads in the process, whichever engine they called through (the
  // thread states belong to the interpreter, and a thread that ends leaves
  // its kept state behind); beyond them it ends with the outermost Unlock.
  // Any thread may call them, in matching pairs (use the scoped types of
  // gil.h).
  static constexpr int32_t kMaxKeptThreadStates = 64;
  py::PyGILState_STATE Lock();
  void Unlock(py::PyGILState_STATE state);
  // Release and retake the lock with a saved thread state, on the thread
  // that saved it.
  py::PyThreadState* SaveThread();
  void RestoreThread(py::PyThreadState* state);
  // True on the thread that holds the lock through this interface.
  bool HoldsLock() const;

  // ---- Script sessions
  // The session this interface runs scripts in; 0 for an interpreter of its
  // own. Output and threads of the code a thread runs belong to the session
  // the thread has entered (see CurrentSession).
  uint64_t SessionId() const { return sessionId_; }
  // Makes a client's module importable by the code this interface runs:
  // enters it in the interpreter's module dictionary.
  virtual void PublishModule(const std::string& name, py::Handle module);

  // ---- Script type statistics
  void RegisterTypeStats(std::function<std::vector<TTypeStats>()> source);
  std::vector<TTypeStats> TypeStats() const;

 protected:
  // For the engine, which takes and ends the interpreter outside Lock.
  void MarkLockHeld(bool held);
  // For the engine, when it starts an interpreter: the kept thread states
  // of an earlier one ended with it.
  static void ForgetKeptThreadStates();

  py::PythonApi api_;
  py::TDateTypes dateTypes_;
  uint64_t sessionId_ = 0;

 private:
  std::atomic<uint32_t> lockHolder_{0};  // thread holding the lock through this interface, 0 for none
  static std::atomic<int32_t> keptThreadStates_;  // threads whose thread state Lock keeps, process-wide
  std::vector<std::function<std::vector<TTypeStats>()>> typeStats_;
};

namespace py {

// The script session whose code the calling thread runs, 0 for none. Set
// while a thread works for an instance (TGilAcquire enters its session) and
// for the whole life of a thread a session's script started.
uint64_t CurrentSession() noexcept;
void SetCurrentSession(uint64_t session) noexcept;

// Enters a session for a scope and returns to the one before.
class TSessionScope {
 public:
  explicit TSessionScope(uint64_t session) noexcept : previous_(CurrentSession()) { SetCurrentSession(session); }
  TSessionScope(const TSessionScope&) = delete;
  TSessionScope& operator=(const TSessionScope&) = delete;
  ~TSessionScope() { SetCurrentSession(previous_); }

 private:
  uint64_t previous_;
};

}  // namespace py
}  // namespace corvane
