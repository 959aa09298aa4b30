#include "common/exceptions.h"

#include <new>

namespace corvane {
namespace {

std::string assertionMessage(std::string_view text, std::string_view unit, int line) {
  std::string message(text);
  message += " (";
  message += unit;
  message += ", line ";
  message += std::to_string(line);
  message += ")";
  return message;
}

}  // namespace

EAssertionFailed::EAssertionFailed(std::string_view text, std::string_view unit, int line, SourceLocation where)
    : Exception(assertionMessage(text, unit, line)), text_(text), where_(where) {}

EListError EListError::IndexOutOfBounds(long long index) {
  return EListError("List index out of bounds (" + std::to_string(index) + ")");
}

std::string FailureText(const std::exception& error) {
  if (dynamic_cast<const std::bad_alloc*>(&error) != nullptr) return "out of memory";
  return error.what();
}

}  // namespace corvane
