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

// Heap types: the runtime builds a type from a description of its slots, so
// no type object layout is ever compiled in.
struct PyType_Slot {
  int slot;
  void* pfunc;
};

struct PyType_Spec {
  const char* name;
  int basicsize;
  int itemsize;
  unsigned int flags;
  PyType_Slot* slots;  // ends with {0, nullptr}
};

using getter = PyObject* (*)(PyObject*, void*);
using setter = int (*)(PyObject*, PyObject*, void*);

struct PyGetSetDef {
  const char* name;
  getter get;
  setter set;
  const char* doc;
  void* closure;
};

using PyCFunctionWithKeywords = PyObject* (*)(PyObject* self, PyObject* args, PyObject* kwargs);
using destructor = void (*)(PyObject*);
using visitproc = int (*)(PyObject*, void*);
using traverseproc = int (*)(PyObject*, visitproc, void*);
using inquiry = int (*)(PyObject*);
using reprfunc = PyObject* (*)(PyObject*);
using richcmpfunc = PyObject* (*)(PyObject*, PyObject*, int);
using getiterfunc = PyObject* (*)(PyObject*);
using iternextfunc = PyObject* (*)(PyObject*);
using lenfunc = Py_ssize_t (*)(PyObject*);
using ssizeargfunc = PyObject* (*)(PyObject*, Py_ssize_t);
using ssizeobjargproc = int (*)(PyObject*, Py_ssize_t, PyObject*);
using objobjproc = int (*)(PyObject*, PyObject*);

// Slot numbers of the stable ABI (the runtime's Py_* slot ids).
enum TypeSlot : int {
  kSlotSqAssItem = 39,
  kSlotSqContains = 41,
  kSlotSqItem = 44,
  kSlotSqLength = 45,
  kSlotTpClear = 51,
  kSlotTpDealloc = 52,
  kSlotTpDoc = 56,
  kSlotTpHash = 59,
  kSlotTpIter = 62,
  kSlotTpIternext = 63,
  kSlotTpMethods = 64,
  kSlotTpNew = 65,
  kSlotTpRepr = 66,
  kSlotTpRichcompare = 67,
  kSlotTpStr = 70,
  kSlotTpTraverse = 71,
  kSlotTpGetset = 73,
};

inline constexpr unsigned int kTpFlagsDefault = 1u << 18;  // the version tag, implied from 3.10 on
inline constexpr unsigned int kTpFlagsBaseType = 1u << 10;
inline constexpr unsigned int kTpFlagsHaveGc = 1u << 14;

// Rich comparison operators.
enum CompareOp : int { kCompareLt = 0, kCompareLe = 1, kCompareEq = 2, kCompareNe = 3, kCompareGt = 4, kCompareGe = 5 };

inline constexpr int kMethVarargs = 0x0001;
inline constexpr int kMethKeywords = 0x0002;
inline constexpr int kMethNoArgs = 0x0004;
inline constexpr int kMethO = 0x0008;
inline constexpr int kPyFileInput = 257;  // compile a module's worth of statements
inline constexpr int kPythonApiVersion = 1013;

#include "bindings/python_api_list.h"

struct PythonApi {
#define CORVANE_PY_FUNCTION(result, name, parameters) result(*name) parameters = nullptr;
  CORVANE_PYTHON_FUNCTIONS(CORVANE_PY_FUNCTION)
  CORVANE_PYTHON_OPTIONAL_FUNCTIONS(CORVANE_PY_FUNCTION)
  CORVANE_PYTHON_OPTIONAL_310_FUNCTIONS(CORVANE_PY_FUNCTION)
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

}  // namespace corvane::py
