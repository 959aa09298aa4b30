// The exception family of the module: every failure inside the library is an
// Exception (or derived) carrying the message that is logged or shown; the
// exported entry points turn them into result codes.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include "common/source_location.h"

namespace corvane {

class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  std::string_view Message() const { return what(); }
};

// An internal invariant was broken. The message is the text followed by the
// source unit and line: "Assertion failure (Public\Common\kivParamLst, line 120)".
class EAssertionFailed : public Exception {
 public:
  EAssertionFailed(std::string_view text, std::string_view unit, int line,
                   SourceLocation where = SourceLocation::current());
  const std::string& Text() const { return text_; }
  // Where in this code base the assertion failed (for the debugger output;
  // the message keeps the unit and line it was given).
  const SourceLocation& Where() const { return where_; }

 private:
  std::string text_;
  SourceLocation where_;
};

// An index outside a list's bounds: "List index out of bounds (%d)".
class EListError : public Exception {
 public:
  using Exception::Exception;
  static EListError IndexOutOfBounds(long long index);
};

// Raises EAssertionFailed unless the condition holds.
inline void Assert(bool condition, std::string_view text, std::string_view unit, int line,
                   SourceLocation where = SourceLocation::current()) {
  if (!condition) throw EAssertionFailed(text, unit, line, where);
}

// The text a failure is logged with: its message, or "out of memory" for an
// allocation refused (whose own message names no more than its class).
std::string FailureText(const std::exception& error);

}  // namespace corvane
