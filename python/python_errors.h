// The host-side Python error classes, one per Python exception class the
// engine tells apart; the plug-in itself only uses their messages.
#pragma once

#include <cstdint>
#include <string>

#include "bindings/python_error.h"

namespace corvane {

#define CORVANE_PYTHON_ERROR(name, base)                               \
  class name : public base {                                           \
   public:                                                             \
    using base::base;                                                  \
  };

CORVANE_PYTHON_ERROR(EPyExecError, EPythonError)
CORVANE_PYTHON_ERROR(EPyException, EPyExecError)
CORVANE_PYTHON_ERROR(EPyStandardError, EPyException)
CORVANE_PYTHON_ERROR(EPySystemExit, EPyException)
CORVANE_PYTHON_ERROR(EPyStopIteration, EPyException)
CORVANE_PYTHON_ERROR(EPyKeyboardInterrupt, EPyException)
CORVANE_PYTHON_ERROR(EPyImportError, EPyStandardError)
CORVANE_PYTHON_ERROR(EPyEnvironmentError, EPyStandardError)
CORVANE_PYTHON_ERROR(EPyOSError, EPyEnvironmentError)
CORVANE_PYTHON_ERROR(EPyIOError, EPyEnvironmentError)
CORVANE_PYTHON_ERROR(EPyWindowsError, EPyOSError)
CORVANE_PYTHON_ERROR(EPyEOFError, EPyStandardError)
CORVANE_PYTHON_ERROR(EPyRuntimeError, EPyStandardError)
CORVANE_PYTHON_ERROR(EPyNotImplementedError, EPyRuntimeError)
CORVANE_PYTHON_ERROR(EPyNameError, EPyStandardError)
CORVANE_PYTHON_ERROR(EPyUnboundLocalError, EPyNameError)
CORVANE_PYTHON_ERROR(EPyAttributeError, EPyStandardError)
CORVANE_PYTHON_ERROR(EPyTypeError, EPyStandardError)
CORVANE_PYTHON_ERROR(EPyAssertionError, EPyStandardError)
CORVANE_PYTHON_ERROR(EPyLookupError, EPyStandardError)
CORVANE_PYTHON_ERROR(EPyIndexError, EPyLookupError)
CORVANE_PYTHON_ERROR(EPyKeyError, EPyLookupError)
CORVANE_PYTHON_ERROR(EPyArithmeticError, EPyStandardError)
CORVANE_PYTHON_ERROR(EPyOverflowError, EPyArithmeticError)
CORVANE_PYTHON_ERROR(EPyZeroDivisionError, EPyArithmeticError)
CORVANE_PYTHON_ERROR(EPyFloatingPointError, EPyArithmeticError)
CORVANE_PYTHON_ERROR(EPyValueError, EPyStandardError)
CORVANE_PYTHON_ERROR(EPyUnicodeError, EPyValueError)
CORVANE_PYTHON_ERROR(UnicodeEncodeError, EPyUnicodeError)
CORVANE_PYTHON_ERROR(UnicodeDecodeError, EPyUnicodeError)
CORVANE_PYTHON_ERROR(UnicodeTranslateError, EPyUnicodeError)
CORVANE_PYTHON_ERROR(EPyReferenceError, EPyStandardError)
CORVANE_PYTHON_ERROR(EPySystemError, EPyStandardError)
CORVANE_PYTHON_ERROR(EPyMemoryError, EPyStandardError)
CORVANE_PYTHON_ERROR(EPyWarning, EPyException)
CORVANE_PYTHON_ERROR(EPyUserWarning, EPyWarning)
CORVANE_PYTHON_ERROR(EPyDeprecationWarning, EPyWarning)
CORVANE_PYTHON_ERROR(PendingDeprecationWarning, EPyWarning)
CORVANE_PYTHON_ERROR(EPySyntaxWarning, EPyWarning)
CORVANE_PYTHON_ERROR(EPyRuntimeWarning, EPyWarning)
CORVANE_PYTHON_ERROR(FutureWarning, EPyWarning)

#undef CORVANE_PYTHON_ERROR

// Syntax errors also name where the source went wrong.
class EPySyntaxError : public EPyStandardError {
 public:
  using EPyStandardError::EPyStandardError;
  std::string EFileName;
  int32_t ELineNumber = 0;
  int32_t EOffset = 0;
  std::string ELineText;
};
class EPyIndentationError : public EPySyntaxError {
 public:
  using EPySyntaxError::EPySyntaxError;
};
class EPyTabError : public EPyIndentationError {
 public:
  using EPyIndentationError::EPyIndentationError;
};

}  // namespace corvane
