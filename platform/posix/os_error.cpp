// POSIX backend: error codes. The module reports errors with Windows error
// codes and their system texts, so errno values are mapped to the nearest
// Windows code and the texts of the codes the module uses are kept here.
#include <cerrno>

#include "platform/os_error.h"

namespace corvane::platform {
namespace {

thread_local uint32_t lastError = kErrorSuccess;

struct CodeText {
  uint32_t code;
  const char* text;
};

constexpr CodeText kTexts[] = {
    {kErrorSuccess, "The operation completed successfully."},
    {kErrorFileNotFound, "The system cannot find the file specified."},
    {kErrorPathNotFound, "The system cannot find the path specified."},
    {kErrorAccessDenied, "Access is denied."},
    {kErrorInvalidHandle, "The handle is invalid."},
    {kErrorNotEnoughMemory, "Not enough memory resources are available to process this command."},
    {kErrorBadFormat, "An attempt was made to load a program with an incorrect format."},
    {kErrorInvalidData, "The data is invalid."},
    {kErrorBadExeFormat, "%1 is not a valid Win32 application."},
    {kErrorKeyDeleted, "Illegal operation attempted on a registry key that has been marked for deletion."},
    {kErrorUnhandledException, "{Application Error} The exception %s (0x%08lx) occurred in the application at location 0x%08lx."},
    {kErrorWindowOfOtherThread, "Invalid window; it belongs to other thread."},
    {kErrorNotEnoughQuota, "Not enough quota is available to process this command."},
    {kErrorInvalidParameter, "The parameter is incorrect."},
    {kErrorModNotFound, "The specified module could not be found."},
    {kErrorProcNotFound, "The specified procedure could not be found."},
    {kErrorAlreadyExists, "Cannot create a file when that file already exists."},
    {kErrorMoreData, "More data is available."},
    {kErrorNoMoreItems, "No more data is available."},
    {kErrorInvalidWindowHandle, "Invalid window handle."},
    {kErrorTimeout, "This operation returned because the timeout period expired."},
};

}  // namespace

uint32_t lastErrorCode() { return lastError; }

void setLastErrorCode(uint32_t code) { lastError = code; }

std::string systemErrorMessage(uint32_t code) {
  for (const auto& entry : kTexts) {
    if (entry.code == code) return entry.text;
  }
  return {};
}

// Used by the other POSIX backend files after a failing system call.
uint32_t windowsCodeFromErrno(int error) {
  switch (error) {
    case 0: return kErrorSuccess;
    case ENOENT: return kErrorFileNotFound;
    case ENOTDIR: return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS: return kErrorAccessDenied;
    case EBADF: return kErrorInvalidHandle;
    case ENOMEM: return kErrorNotEnoughMemory;
    case ENOEXEC: return kErrorBadFormat;
    case EINVAL: return kErrorInvalidParameter;
    case EEXIST: return kErrorAlreadyExists;
    case ETIMEDOUT: return kErrorTimeout;
    default: return 0x20000000u | static_cast<uint32_t>(error);  // customer bit: an unmapped errno
  }
}

}  // namespace corvane::platform
