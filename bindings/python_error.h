// The host-side form of a Python error: the Python exception's type name,
// its value as text and the message built from them. The engine raises the
// whole family (python/python_errors.h); conversions raise the base class.
#pragma once

#include <string>
#include <utility>

#include "common/exceptions.h"

namespace corvane {

class EPythonError : public Exception {
 public:
  explicit EPythonError(const std::string& message, std::string name = {}, std::string value = {})
      : Exception(message), name_(std::move(name)), value_(std::move(value)) {}
  const std::string& EName() const { return name_; }
  const std::string& EValue() const { return value_; }

 private:
  std::string name_;
  std::string value_;
};

}  // namespace corvane
