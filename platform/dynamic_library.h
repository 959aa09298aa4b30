// Loading libraries at run time and finding the modules of the process.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "platform/abi.h"
#include "platform/os_error.h"

namespace corvane::platform {

using ModuleHandle = void*;  // an HMODULE on Windows, a dlopen handle on POSIX

// Load failures carry the codes LoadLibrary gives: kErrorModNotFound for a
// missing file or a missing library it needs, kErrorBadExeFormat for a file
// that is no loadable image for this process, kErrorProcNotFound for an
// import that cannot be resolved, kErrorAccessDenied for an unreadable file.

// Whether the library's symbols serve libraries loaded after it. A language
// runtime whose extension modules expect to find the runtime's functions in
// the process (as the Python runtime's do on POSIX) needs Global; Windows
// resolves imports per module and ignores the choice.
enum class SymbolScope : uint8_t { Local, Global };

class CV_PLATFORM_API DynamicLibrary {
 public:
  DynamicLibrary() = default;
  // Loads the library with the system's critical-error dialogs suppressed
  // (POSIX: dlopen with RTLD_NOW and RTLD_LOCAL or RTLD_GLOBAL). Throws OsError (function,
  // path, error code) when it cannot be loaded; callers take the code from
  // OsError::code(). The thread's last error code is not reliable afterwards:
  // on Windows the C++ runtime clears it while throwing.
  explicit DynamicLibrary(const std::string& path, SymbolScope scope = SymbolScope::Local);
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;
  DynamicLibrary(DynamicLibrary&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;
  ~DynamicLibrary();

  bool loaded() const { return handle_ != nullptr; }
  ModuleHandle handle() const { return handle_; }
  void* symbol(const char* name) const;  // nullptr when missing
  void close();

 private:
  ModuleHandle handle_ = nullptr;
};

// Symbol of an already loaded module (GetProcAddress); nullptr when missing.
CV_PLATFORM_API void* moduleSymbol(ModuleHandle module, const char* name);
// Handle of a loaded module by file name (GetModuleHandleA), without loading
// anything or holding a reference; an empty name gives the executable. A name
// with a delimiter is compared with the full path, others with the last part
// (case-sensitively on POSIX). nullptr when none is loaded under that name.
CV_PLATFORM_API ModuleHandle moduleHandleByName(std::string_view name);
// Full file name of the module that contains the given code or data address.
CV_PLATFORM_API std::string moduleFileNameOfAddress(const void* address);
// Full file name of a loaded module; the executable for nullptr.
CV_PLATFORM_API std::string moduleFileName(ModuleHandle module);

}  // namespace corvane::platform
