// The one way native code is handed to the interpreter: every C function
// the runtime calls (module functions, methods, type slots) runs its body
// through Guarded. A C++ exception never unwinds through interpreter frames;
// it becomes a Python exception instead:
// - EPyErrorPending: the Python error already set stays as it is;
// - a host-side Python error class: its own Python class (an error that came
//   from Python keeps its value text, others their message);
// - std::bad_alloc: MemoryError;
// - anything else: RuntimeError with the message.
#pragma once

#include <exception>
#include <new>
#include <string>

#include "bindings/py_object.h"
#include "bindings/python_errors.h"

namespace corvane::py {

// Sets the Python error the exception in flight stands for. Call only from a
// catch block.
inline void SetPythonErrorFromCurrentException(const PythonApi& api) noexcept {
  try {
    throw;
  } catch (const EPyErrorPending&) {
    if (api.PyErr_Occurred() == nullptr) api.PyErr_SetString(*api.PyExc_SystemError, "error return without exception set");
  } catch (const EPythonError& error) {
    PyObject** slot = api.*error.PythonClass();
    const std::string& text = error.EName().empty() ? std::string(error.what()) : error.EValue();
    api.PyErr_SetString(slot != nullptr && *slot != nullptr ? *slot : *api.PyExc_RuntimeError, text.c_str());
  } catch (const std::bad_alloc&) {
    api.PyErr_NoMemory();
  } catch (const std::exception& error) {
    api.PyErr_SetString(*api.PyExc_RuntimeError, error.what());
  } catch (...) {
    api.PyErr_SetString(*api.PyExc_RuntimeError, "unknown native failure");
  }
}

// Runs body; its result on success, failure (with a Python error set) when
// it throws. Bodies returning an Object hand its reference to the runtime.
template <class Result, class Body>
Result Guarded(const PythonApi& api, Result failure, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    SetPythonErrorFromCurrentException(api);
    return failure;
  }
}

template <class Body>
PyObject* GuardedObject(const PythonApi& api, Body&& body) noexcept {
  try {
    Object result = body();
    if (!result && api.PyErr_Occurred() == nullptr)
      api.PyErr_SetString(*api.PyExc_SystemError, "error return without exception set");
    return result.release();
  } catch (...) {
    SetPythonErrorFromCurrentException(api);
    return nullptr;
  }
}

// Throws EPyErrorPending when a Python error is set (after a runtime call
// that reports failure only that way).
inline void ThrowIfPythonError(const PythonApi& api) {
  if (api.PyErr_Occurred() != nullptr) throw EPyErrorPending();
}

// An API result that must not be null: null means the runtime set an error.
inline Object Checked(const PythonApi& api, PyObject* result) {
  if (result == nullptr) throw EPyErrorPending();
  return Object::Steal(api, result);
}

}  // namespace corvane::py
