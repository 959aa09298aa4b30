// POSIX backend: loading libraries and finding the modules of the process.
//
// dlopen reports failures only as text; they are mapped to the Windows codes
// a caller of LoadLibrary would see: a missing file or missing dependency is
// kErrorModNotFound, a file that is not a loadable image of this machine is
// kErrorBadExeFormat, an unresolved symbol kErrorProcNotFound.
#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "platform/dynamic_library.h"
#include "platform/files.h"
#include "platform/os_error.h"

namespace corvane::platform {
namespace {

bool contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

uint32_t loadErrorCode(const std::string& path, std::string_view message) {
  if (contains(message, "undefined symbol")) return kErrorProcNotFound;
  if (contains(message, "invalid ELF header") || contains(message, "wrong ELF class") ||
      contains(message, "file too short") || contains(message, "ELF file") ||
      contains(message, "not an ELF"))
    return kErrorBadExeFormat;
  if (path.find('/') != std::string::npos) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
      return errno == EACCES ? kErrorAccessDenied : kErrorModNotFound;
    if (S_ISDIR(info.st_mode)) return kErrorAccessDenied;
    // The file is there; when it is no ELF image at all it is the wrong
    // format, otherwise something it needs is missing.
    if (binaryType(path) != BinaryType::Other) return kErrorBadExeFormat;
  }
  if (contains(message, "Permission denied")) return kErrorAccessDenied;
  return kErrorModNotFound;
}

// The loaded objects' names as the dynamic linker knows them; the
// executable's is empty.
std::vector<std::string> loadedObjectNames() {
  std::vector<std::string> names;
  ::dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) {
        static_cast<std::vector<std::string>*>(data)->emplace_back(info->dlpi_name ? info->dlpi_name
                                                                                   : "");
        return 0;
      },
      &names);
  return names;
}

std::string_view lastPathPart(std::string_view path) {
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// A loaded object's full file name from the dynamic linker's record.
// The loader keeps the path a library was opened with; like Windows, answer
// it without "." and ".." parts.
std::string fileNameOfLinkMap(const link_map* map) {
  if (map == nullptr || map->l_name == nullptr || map->l_name[0] == '\0') return executablePath();
  if (map->l_name[0] == '/') return std::filesystem::path(map->l_name).lexically_normal().string();
  char resolved[PATH_MAX];
  return ::realpath(map->l_name, resolved) ? std::string(resolved) : std::string(map->l_name);
}

}  // namespace

DynamicLibrary::DynamicLibrary(const std::string& path) {
  if (path.empty()) {
    setLastErrorCode(kErrorModNotFound);
    throw OsError("dlopen", path, kErrorModNotFound);
  }
  handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* message = ::dlerror();
    const uint32_t code = loadErrorCode(path, message ? message : "");
    setLastErrorCode(code);
    throw OsError("dlopen", path, code);
  }
  setLastErrorCode(kErrorSuccess);
}

void DynamicLibrary::close() {
  if (handle_ != nullptr) ::dlclose(std::exchange(handle_, nullptr));
}

void* moduleSymbol(ModuleHandle module, const char* name) {
  if (module == nullptr) {
    setLastErrorCode(kErrorInvalidHandle);
    return nullptr;
  }
  void* address = ::dlsym(module, name);
  setLastErrorCode(address ? kErrorSuccess : kErrorProcNotFound);
  return address;
}

ModuleHandle moduleHandleByName(std::string_view name) {
  if (name.empty()) return ::dlopen(nullptr, RTLD_NOW);
  const bool fullPath = name.find('/') != std::string_view::npos;
  for (const std::string& objectName : loadedObjectNames()) {
    const std::string fileName = objectName.empty() ? executablePath() : objectName;
    if ((fullPath ? std::string_view(fileName) : lastPathPart(fileName)) != name) continue;
    if (objectName.empty()) return ::dlopen(nullptr, RTLD_NOW);
    // RTLD_NOLOAD only finds what is loaded; it counts a reference, which is
    // given back at once: like GetModuleHandle, the answer holds none.
    void* handle = ::dlopen(objectName.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) continue;  // e.g. the kernel's virtual object
    ::dlclose(handle);
    setLastErrorCode(kErrorSuccess);
    return handle;
  }
  setLastErrorCode(kErrorModNotFound);
  return nullptr;
}

std::string moduleFileNameOfAddress(const void* address) {
  Dl_info info{};
  link_map* map = nullptr;
  if (::dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0) {
    setLastErrorCode(kErrorModNotFound);
    return {};
  }
  return fileNameOfLinkMap(map);
}

std::string moduleFileName(ModuleHandle module) {
  if (module == nullptr) return executablePath();
  link_map* map = nullptr;
  if (::dlinfo(module, RTLD_DI_LINKMAP, &map) != 0) {
    setLastErrorCode(kErrorInvalidHandle);
    return {};
  }
  return fileNameOfLinkMap(map);
}

}  // namespace corvane::platform
