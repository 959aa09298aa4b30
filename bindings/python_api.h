// The module's own declarations of the part of the Python runtime's stable
// ABI it uses, and the table of entry points bound by name from a runtime
// loaded at run time. The runtime is never linked and its headers are never
// included: the declarations below follow its ABI (a test compares them with
// the reference headers), so one build serves every Python 3 runtime from
// 3.8 on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>

namespace corvane::py {

using Py_ssize_t = std::ptrdiff_t;

struct PyTypeObject;
struct PyLongObject;
struct PyThreadState;

// The object head of the runtime's (non free-threaded) builds: only static
// definitions such as a module definition need it; everything else treats
// objects as opaque and counts references through Py_IncRef / Py_DecRef.
struct PyObject {
  Py_ssize_t ob_refcnt;
  PyTypeObject* ob_type;
};

enum PyGILState_STATE { PyGILState_LOCKED, PyGILState_UNLOCKED };

// The runtime's wide character is the platform's wchar_t (UTF-16 on
// Windows, UTF-32 on POSIX); only program names are passed in it.
using PyWideChar = wchar_t;

using PyCFunction = PyObject* (*)(PyObject* self, PyObject* args);

struct PyMethodDef {
  const char* ml_name;
  PyCFunction ml_meth;
  int ml_flags;
  const char* ml_doc;
};

struct PyModuleDef_Base {
  PyObject ob_base;
  PyObject* (*m_init)();
  Py_ssize_t m_index;
  PyObject* m_copy;
};

struct PyModuleDef_Slot;

struct PyModuleDef {
  PyModuleDef_Base m_base;
  const char* m_name;
  const char* m_doc;
  Py_ssize_t m_size;
  PyMethodDef* m_methods;
  PyModuleDef_Slot* m_slots;
  int (*m_traverse)(PyObject*, int (*)(PyObject*, void*), void*);
  int (*m_clear)(PyObject*);
  void (*m_free)(void*);
};

inline constexpr int kMethVarargs = 0x0001;
inline constexpr int kPyFileInput = 257;  // compile a module's worth of statements
inline constexpr int kPythonApiVersion = 1013;

#include "bindings/python_api_list.h"

struct PythonApi {
#define CORVANE_PY_FUNCTION(result, name, parameters) result(*name) parameters = nullptr;
  CORVANE_PYTHON_FUNCTIONS(CORVANE_PY_FUNCTION)
  CORVANE_PYTHON_OPTIONAL_FUNCTIONS(CORVANE_PY_FUNCTION)
#undef CORVANE_PY_FUNCTION
#define CORVANE_PY_OBJECT(type, name) type* name = nullptr;
  CORVANE_PYTHON_OBJECTS(CORVANE_PY_OBJECT)
#undef CORVANE_PY_OBJECT
#define CORVANE_PY_EXCEPTION(name) PyObject** name = nullptr;
  CORVANE_PYTHON_EXCEPTIONS(CORVANE_PY_EXCEPTION)
  CORVANE_PYTHON_OPTIONAL_EXCEPTIONS(CORVANE_PY_EXCEPTION)
#undef CORVANE_PY_EXCEPTION

  PyObject* None() const { return _Py_NoneStruct; }
  PyObject* True() const { return reinterpret_cast<PyObject*>(_Py_TrueStruct); }
  PyObject* False() const { return reinterpret_cast<PyObject*>(_Py_FalseStruct); }
  static PyObject* TypeObject(PyTypeObject* type) { return reinterpret_cast<PyObject*>(type); }
};

// Looks a name up in the loaded runtime; nullptr when it is not exported.
using SymbolLookup = std::function<void*(const char* name)>;

// Fills the table. Returns the first mandatory name the runtime does not
// export (the table is then incomplete and must not be used), or nothing.
std::optional<std::string> BindPythonApi(PythonApi& api, const SymbolLookup& lookup);

// An owned reference: released when the handle goes. Handles are made
// explicitly by stealing a new reference or by taking another one to a
// borrowed object, so each call site says which it has.
class PyRef {
 public:
  PyRef() = default;
  static PyRef Steal(const PythonApi& api, PyObject* object) { return PyRef(api, object); }
  static PyRef Borrow(const PythonApi& api, PyObject* object) {
    if (object != nullptr) api.Py_IncRef(object);
    return PyRef(api, object);
  }
  PyRef(const PyRef& other) : api_(other.api_), object_(other.object_) {
    if (object_ != nullptr) api_->Py_IncRef(object_);
  }
  PyRef(PyRef&& other) noexcept
      : api_(other.api_), object_(std::exchange(other.object_, nullptr)) {}
  PyRef& operator=(PyRef other) noexcept {
    std::swap(api_, other.api_);
    std::swap(object_, other.object_);
    return *this;
  }
  ~PyRef() { reset(); }

  PyObject* get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }
  // Hands the reference to the caller (for an API that steals one).
  PyObject* release() { return std::exchange(object_, nullptr); }
  void reset() {
    if (object_ != nullptr) api_->Py_DecRef(std::exchange(object_, nullptr));
  }

 private:
  PyRef(const PythonApi& api, PyObject* object) : api_(&api), object_(object) {}
  const PythonApi* api_ = nullptr;
  PyObject* object_ = nullptr;
};

}  // namespace corvane::py
