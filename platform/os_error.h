// The one exception type the platform layer raises: what failed, on what,
// and the operating system's error code.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "platform/abi.h"

namespace corvane::platform {

class CV_PLATFORM_API OsError : public std::runtime_error {
 public:
  OsError(std::string function, std::string subject, uint32_t code);

  const std::string& function() const { return function_; }
  const std::string& subject() const { return subject_; }
  uint32_t code() const { return code_; }

 private:
  std::string function_;
  std::string subject_;
  uint32_t code_;
};

// The calling thread's last operating-system error code (GetLastError on
// Windows, errno mapped to the nearest Windows code on POSIX).
CV_PLATFORM_API uint32_t lastErrorCode();
CV_PLATFORM_API void setLastErrorCode(uint32_t code);

// The system's message text for an error code, empty when it has none.
CV_PLATFORM_API std::string systemErrorMessage(uint32_t code);

// Windows error codes the code base names.
inline constexpr uint32_t kErrorSuccess = 0;
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorPathNotFound = 3;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorInvalidHandle = 6;
inline constexpr uint32_t kErrorNotEnoughMemory = 8;
inline constexpr uint32_t kErrorBadFormat = 11;
inline constexpr uint32_t kErrorInvalidData = 13;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorProcNotFound = 127;
inline constexpr uint32_t kErrorBadExeFormat = 193;
inline constexpr uint32_t kErrorAlreadyExists = 183;
inline constexpr uint32_t kErrorModNotFound = 126;
inline constexpr uint32_t kErrorMoreData = 234;
inline constexpr uint32_t kErrorNoMoreItems = 259;
inline constexpr uint32_t kErrorTimeout = 1460;
inline constexpr uint32_t kErrorUnhandledException = 574;
inline constexpr uint32_t kErrorKeyDeleted = 1018;
inline constexpr uint32_t kErrorInvalidWindowHandle = 1400;
inline constexpr uint32_t kErrorWindowOfOtherThread = 1408;
inline constexpr uint32_t kErrorNotEnoughQuota = 1816;

}  // namespace corvane::platform
