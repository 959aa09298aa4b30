// A module's version stamp on Windows: the fixed part of its version
// resource.
#include <windows.h>

#include <vector>

#include "platform/files.h"

namespace corvane::platform {

std::optional<FileVersion> fileVersion(const std::string& path) {
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeA(path.c_str(), &ignored);
  if (size == 0) return std::nullopt;
  std::vector<unsigned char> block(size);
  if (!::GetFileVersionInfoA(path.c_str(), 0, size, block.data())) return std::nullopt;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedSize = 0;
  if (!::VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &fixedSize) || fixed == nullptr ||
      fixedSize < sizeof(VS_FIXEDFILEINFO))
    return std::nullopt;
  return FileVersion{HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                     HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS)};
}

}  // namespace corvane::platform
