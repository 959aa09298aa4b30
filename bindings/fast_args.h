// Positional arguments of methods called the fast way (METH_FASTCALL: an
// array, no tuple), parsed by the runtime's PyArg_ParseTuple formats. The
// common case (the right count, exact ints where "i" or "b" asks for one) is
// read directly; anything else goes through PyArg_ParseTuple itself on a
// tuple of the arguments, so conversions and error messages are the
// parser's own. Formats may hold "O", "i", "b", "|" and ":name".
#pragma once

#include <climits>
#include <cstddef>

#include "bindings/py_object.h"
#include "bindings/python_errors.h"

namespace corvane::py {

using PyCFunctionFast = PyObject* (*)(PyObject* self, PyObject* const* args, Py_ssize_t nargs);
inline constexpr int kMethFastcall = 0x0080;

// Makes a method table entry of a fast function.
inline PyMethodDef FastMethod(const char* name, PyCFunctionFast function, const char* doc) {
  return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void*>(function)), kMethFastcall, doc};
}

namespace detail {

inline bool readFast(const PythonApi&, PyObject* arg, char code, PyObject** target) {
  (void)code;
  *target = arg;
  return true;
}

inline bool readFast(const PythonApi& api, PyObject* arg, char code, int* target) {
  if (reinterpret_cast<PyObject*>(arg->ob_type) != PythonApi::TypeObject(api.PyLong_Type)) return false;
  const long long value = api.PyLong_AsLongLong(arg);
  if (value == -1 && api.PyErr_Occurred() != nullptr) {
    api.PyErr_Clear();
    return false;
  }
  if (code == 'i' && value >= INT_MIN && value <= INT_MAX) {
    *target = static_cast<int>(value);
    return true;
  }
  return false;
}

inline bool readFast(const PythonApi& api, PyObject* arg, char code, unsigned char* target) {
  int value = 0;
  if (code != 'b' || !readFast(api, arg, 'i', &value) || value < 0 || value > 255) return false;
  *target = static_cast<unsigned char>(value);
  return true;
}

}  // namespace detail

// Throws EPyErrorPending (with the parser's TypeError set) when the
// arguments do not fit the format.
template <class... Targets>
void ParseFastArgs(const PythonApi& api, PyObject* const* args, Py_ssize_t nargs, const char* format,
                   Targets*... targets) {
  // The codes of the format, and how many arguments are required.
  char codes[sizeof...(Targets) + 1] = {};
  Py_ssize_t required = -1, count = 0;
  for (const char* c = format; *c != '\0' && *c != ':'; ++c) {
    if (*c == '|') {
      required = count;
    } else if (count < static_cast<Py_ssize_t>(sizeof...(Targets))) {
      codes[count++] = *c;
    }
  }
  if (required < 0) required = count;
  bool fast = nargs >= required && nargs <= count;
  Py_ssize_t index = 0;
  if (fast) {
    const auto read = [&](auto* target) {
      if (fast && index < nargs) fast = detail::readFast(api, args[index], codes[index], target);
      ++index;
    };
    (read(targets), ...);
    (void)read;  // unused for formats without arguments
  }
  if (fast) return;
  Object tuple = Object::Steal(api, api.PyTuple_New(nargs));
  if (!tuple) throw EPyErrorPending();
  for (Py_ssize_t i = 0; i < nargs; ++i) api.PyTuple_SetItem(tuple.ptr(), i, Object::Borrow(api, args[i]).release());
  if (!api.PyArg_ParseTuple(tuple.ptr(), format, targets...)) throw EPyErrorPending();
}

}  // namespace corvane::py
