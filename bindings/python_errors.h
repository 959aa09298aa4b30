// The host-side form of Python errors: one class per Python exception class
// the engine tells apart, each carrying the Python type name, the value as
// text and the message built from them. Each class knows the Python class it
// stands for, so that a host-side error raised inside a native callback goes
// back to the script as that very class.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "bindings/python_api.h"
#include "common/exceptions.h"

namespace corvane {

// Which exception variable of the bound API a host-side class maps back to.
using PythonClassSlot = py::PyObject** py::PythonApi::*;

class EPythonError : public Exception {
 public:
  explicit EPythonError(const std::string& message, std::string name = {}, std::string value = {})
      : Exception(message), name_(std::move(name)), value_(std::move(value)) {}
  const std::string& EName() const { return name_; }
  const std::string& EValue() const { return value_; }
  virtual PythonClassSlot PythonClass() const { return &py::PythonApi::PyExc_RuntimeError; }

 private:
  std::string name_;
  std::string value_;
};

#define CORVANE_PYTHON_ERROR(name, base, python)                                       \
  class name : public base {                                                         \
   public:                                                                           \
    using base::base;                                                                \
    PythonClassSlot PythonClass() const override { return &py::PythonApi::python; } \
  };

CORVANE_PYTHON_ERROR(EPyExecError, EPythonError, PyExc_RuntimeError)
CORVANE_PYTHON_ERROR(EPyException, EPyExecError, PyExc_Exception)
CORVANE_PYTHON_ERROR(EPyStandardError, EPyException, PyExc_Exception)
CORVANE_PYTHON_ERROR(EPySystemExit, EPyException, PyExc_SystemExit)
CORVANE_PYTHON_ERROR(EPyStopIteration, EPyException, PyExc_StopIteration)
CORVANE_PYTHON_ERROR(EPyKeyboardInterrupt, EPyException, PyExc_KeyboardInterrupt)
CORVANE_PYTHON_ERROR(EPyImportError, EPyStandardError, PyExc_ImportError)
CORVANE_PYTHON_ERROR(EPyEnvironmentError, EPyStandardError, PyExc_EnvironmentError)
CORVANE_PYTHON_ERROR(EPyOSError, EPyEnvironmentError, PyExc_OSError)
CORVANE_PYTHON_ERROR(EPyIOError, EPyEnvironmentError, PyExc_IOError)
CORVANE_PYTHON_ERROR(EPyWindowsError, EPyOSError, PyExc_OSError)
CORVANE_PYTHON_ERROR(EPyEOFError, EPyStandardError, PyExc_EOFError)
CORVANE_PYTHON_ERROR(EPyRuntimeError, EPyStandardError, PyExc_RuntimeError)
CORVANE_PYTHON_ERROR(EPyNotImplementedError, EPyRuntimeError, PyExc_NotImplementedError)
CORVANE_PYTHON_ERROR(EPyNameError, EPyStandardError, PyExc_NameError)
CORVANE_PYTHON_ERROR(EPyUnboundLocalError, EPyNameError, PyExc_UnboundLocalError)
CORVANE_PYTHON_ERROR(EPyAttributeError, EPyStandardError, PyExc_AttributeError)
CORVANE_PYTHON_ERROR(EPyTypeError, EPyStandardError, PyExc_TypeError)
CORVANE_PYTHON_ERROR(EPyAssertionError, EPyStandardError, PyExc_AssertionError)
CORVANE_PYTHON_ERROR(EPyLookupError, EPyStandardError, PyExc_LookupError)
CORVANE_PYTHON_ERROR(EPyIndexError, EPyLookupError, PyExc_IndexError)
CORVANE_PYTHON_ERROR(EPyKeyError, EPyLookupError, PyExc_KeyError)
CORVANE_PYTHON_ERROR(EPyArithmeticError, EPyStandardError, PyExc_ArithmeticError)
CORVANE_PYTHON_ERROR(EPyOverflowError, EPyArithmeticError, PyExc_OverflowError)
CORVANE_PYTHON_ERROR(EPyZeroDivisionError, EPyArithmeticError, PyExc_ZeroDivisionError)
CORVANE_PYTHON_ERROR(EPyFloatingPointError, EPyArithmeticError, PyExc_FloatingPointError)
CORVANE_PYTHON_ERROR(EPyValueError, EPyStandardError, PyExc_ValueError)
CORVANE_PYTHON_ERROR(EPyUnicodeError, EPyValueError, PyExc_UnicodeError)
CORVANE_PYTHON_ERROR(UnicodeEncodeError, EPyUnicodeError, PyExc_UnicodeError)
CORVANE_PYTHON_ERROR(UnicodeDecodeError, EPyUnicodeError, PyExc_UnicodeError)
CORVANE_PYTHON_ERROR(UnicodeTranslateError, EPyUnicodeError, PyExc_UnicodeError)
CORVANE_PYTHON_ERROR(EPyReferenceError, EPyStandardError, PyExc_ReferenceError)
CORVANE_PYTHON_ERROR(EPySystemError, EPyStandardError, PyExc_SystemError)
CORVANE_PYTHON_ERROR(EPyMemoryError, EPyStandardError, PyExc_MemoryError)
CORVANE_PYTHON_ERROR(EPyWarning, EPyException, PyExc_Warning)
CORVANE_PYTHON_ERROR(EPyUserWarning, EPyWarning, PyExc_UserWarning)
CORVANE_PYTHON_ERROR(EPyDeprecationWarning, EPyWarning, PyExc_DeprecationWarning)
CORVANE_PYTHON_ERROR(PendingDeprecationWarning, EPyWarning, PyExc_PendingDeprecationWarning)
CORVANE_PYTHON_ERROR(EPySyntaxWarning, EPyWarning, PyExc_SyntaxWarning)
CORVANE_PYTHON_ERROR(EPyRuntimeWarning, EPyWarning, PyExc_RuntimeWarning)
CORVANE_PYTHON_ERROR(FutureWarning, EPyWarning, PyExc_FutureWarning)

#undef CORVANE_PYTHON_ERROR

// Syntax errors also name where the source went wrong.
class EPySyntaxError : public EPyStandardError {
 public:
  using EPyStandardError::EPyStandardError;
  PythonClassSlot PythonClass() const override { return &py::PythonApi::PyExc_SyntaxError; }
  std::string EFileName;
  int32_t ELineNumber = 0;
  int32_t EOffset = 0;
  std::string ELineText;
};
class EPyIndentationError : public EPySyntaxError {
 public:
  using EPySyntaxError::EPySyntaxError;
  PythonClassSlot PythonClass() const override { return &py::PythonApi::PyExc_IndentationError; }
};
class EPyTabError : public EPyIndentationError {
 public:
  using EPyIndentationError::EPyIndentationError;
  PythonClassSlot PythonClass() const override { return &py::PythonApi::PyExc_TabError; }
};

// A Python error is already set (a runtime call failed and said why): the
// callback that catches this leaves that error in place.
class EPyErrorPending : public Exception {
 public:
  EPyErrorPending() : Exception("a Python error is pending") {}
};

}  // namespace corvane
