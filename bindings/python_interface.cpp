// Values, the interpreter lock and type statistics of the engine interface.
#include "bindings/python_interface.h"

#include "platform/thread.h"

namespace corvane {

py::Object TPythonInterface::VariantToPython(const platform::Variant& value) const {
  return Converter().VariantToPython(value);
}
py::THostVariant TPythonInterface::PythonToVariant(py::Handle object) const {
  return Converter().PythonToVariant(object.ptr());
}
std::string TPythonInterface::PythonToText(py::Handle object) const { return Converter().PythonToText(object.ptr()); }
py::Object TPythonInterface::TextToPython(std::string_view text) const { return Converter().TextToPython(text); }

namespace py {
namespace {
thread_local uint64_t currentSession = 0;
}
uint64_t CurrentSession() noexcept { return currentSession; }
void SetCurrentSession(uint64_t session) noexcept { currentSession = session; }
}  // namespace py

void TPythonInterface::PublishModule(const std::string& name, py::Handle module) {
  if (api_.PyDict_SetItemString(api_.PyImport_GetModuleDict(), name.c_str(), module.ptr()) != 0) RaiseError();
}

std::atomic<int32_t> TPythonInterface::keptThreadStates_{0};

py::PyGILState_STATE TPythonInterface::Lock() {
  const bool firstUse = api_.PyGILState_GetThisThreadState() == nullptr;
  const py::PyGILState_STATE state = api_.PyGILState_Ensure();
  // A thread state made here would end with the matching Unlock, and the
  // next call from the same thread would make one again: a host thread that
  // delivers every packet would pay for that each time, and its script would
  // lose its threading.local() values between packets. One more count keeps
  // the state until the interpreter ends, for a bounded number of threads.
  if (firstUse && keptThreadStates_.load() < kMaxKeptThreadStates &&
      keptThreadStates_.fetch_add(1) < kMaxKeptThreadStates) {
    api_.PyGILState_Ensure();
  }
  if (state == py::PyGILState_UNLOCKED) lockHolder_ = platform::currentThreadId();
  return state;
}

void TPythonInterface::Unlock(py::PyGILState_STATE state) {
  if (state == py::PyGILState_UNLOCKED) lockHolder_ = 0;
  api_.PyGILState_Release(state);
}

py::PyThreadState* TPythonInterface::SaveThread() {
  lockHolder_ = 0;
  return api_.PyEval_SaveThread();
}

void TPythonInterface::RestoreThread(py::PyThreadState* state) {
  api_.PyEval_RestoreThread(state);
  lockHolder_ = platform::currentThreadId();
}

void TPythonInterface::MarkLockHeld(bool held) { lockHolder_ = held ? platform::currentThreadId() : 0; }

void TPythonInterface::ForgetKeptThreadStates() { keptThreadStates_ = 0; }

bool TPythonInterface::HoldsLock() const { return lockHolder_ == platform::currentThreadId(); }

void TPythonInterface::RegisterTypeStats(std::function<std::vector<TTypeStats>()> source) {
  typeStats_.push_back(std::move(source));
}

std::vector<TTypeStats> TPythonInterface::TypeStats() const {
  std::vector<TTypeStats> result;
  for (const auto& source : typeStats_) {
    for (TTypeStats& stats : source()) result.push_back(std::move(stats));
  }
  return result;
}

}  // namespace corvane
