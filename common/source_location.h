// The place in the code a call comes from, as std::source_location gives it.
// Standard libraries whose std::source_location needs a compiler builtin the
// compiler lacks (libstdc++ under clang 14) leave it out; there a class of
// the same shape is built on the older builtins every supported compiler has.
#pragma once

#include <cstdint>
#include <version>

#if defined(__cpp_lib_source_location)
#include <source_location>
#endif

namespace corvane {

#if defined(__cpp_lib_source_location)
using SourceLocation = std::source_location;
#else
class SourceLocation {
 public:
  static constexpr SourceLocation current(const char* file = __builtin_FILE(), const char* function = __builtin_FUNCTION(),
                                          uint_least32_t line = __builtin_LINE(),
                                          uint_least32_t column = __builtin_COLUMN()) noexcept {
    SourceLocation where;
    where.file_ = file;
    where.function_ = function;
    where.line_ = line;
    where.column_ = column;
    return where;
  }

  constexpr SourceLocation() noexcept = default;
  constexpr uint_least32_t line() const noexcept { return line_; }
  constexpr uint_least32_t column() const noexcept { return column_; }
  constexpr const char* file_name() const noexcept { return file_; }
  constexpr const char* function_name() const noexcept { return function_; }

 private:
  const char* file_ = "";
  const char* function_ = "";
  uint_least32_t line_ = 0;
  uint_least32_t column_ = 0;
};
#endif

}  // namespace corvane
