// Win32 backend: loading libraries and finding the modules of the process.
//
// Failures carry the codes the loader itself reports (GetLastError).
#include <windows.h>

#include "platform/dynamic_library.h"
#include "platform/files.h"
#include "platform/os_error.h"
#include "platform/win32/last_error.h"

namespace corvane::platform {
namespace {

HMODULE toModule(ModuleHandle module) { return static_cast<HMODULE>(module); }

// Turns off, for the calling thread only, the dialogs the system would show
// for a missing dependency or an unreadable drive, and restores the previous
// mode afterwards. The process-wide SetErrorMode would change the mode of
// the host's threads too while a library loads.
class QuietLoads {
 public:
  QuietLoads() {
    if (!::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previous_))
      previous_ = kUnchanged;
  }
  ~QuietLoads() {
    if (previous_ != kUnchanged) ::SetThreadErrorMode(previous_, nullptr);
  }
  QuietLoads(const QuietLoads&) = delete;
  QuietLoads& operator=(const QuietLoads&) = delete;

 private:
  static constexpr DWORD kUnchanged = ~DWORD{0};
  DWORD previous_ = kUnchanged;
};

}  // namespace

DynamicLibrary::DynamicLibrary(const std::string& path, SymbolScope) {
  if (path.empty()) throwOsError("LoadLibrary", path, kErrorModNotFound);
  // The loader wants "\" in paths: with "/" it may fail to see that a
  // library is already loaded and load a second copy.
  std::string systemPath = path;
  for (char& c : systemPath) {
    if (c == '/') c = '\\';
  }
  {
    QuietLoads quiet;
    handle_ = ::LoadLibraryA(systemPath.c_str());
  }
  if (handle_ == nullptr) throwLastError("LoadLibrary", path);
  setLastErrorCode(kErrorSuccess);
}

void DynamicLibrary::close() {
  if (handle_ != nullptr) ::FreeLibrary(toModule(std::exchange(handle_, nullptr)));
}

void* moduleSymbol(ModuleHandle module, const char* name) {
  // GetProcAddress would take a null module for the executable.
  if (module == nullptr) {
    setLastErrorCode(kErrorInvalidHandle);
    return nullptr;
  }
  return reinterpret_cast<void*>(::GetProcAddress(toModule(module), name));
}

ModuleHandle moduleHandleByName(std::string_view name) {
  if (name.empty()) return ::GetModuleHandleA(nullptr);
  return ::GetModuleHandleA(std::string(name).c_str());
}

std::string moduleFileNameOfAddress(const void* address) {
  HMODULE module = nullptr;
  if (!::GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          static_cast<LPCSTR>(address), &module))
    return {};
  return moduleFileName(module);
}

std::string moduleFileName(ModuleHandle module) {
  std::string path(MAX_PATH, '\0');
  while (true) {
    const DWORD length =
        ::GetModuleFileNameA(toModule(module), path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    // A cut-off name fills the whole buffer.
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

}  // namespace corvane::platform
