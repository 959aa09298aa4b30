// Win32 backend: error codes and their system texts.
#include <windows.h>

#include "platform/os_error.h"

namespace corvane::platform {

uint32_t lastErrorCode() { return ::GetLastError(); }

void setLastErrorCode(uint32_t code) { ::SetLastError(code); }

std::string systemErrorMessage(uint32_t code) {
  char* buffer = nullptr;
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
      0, reinterpret_cast<char*>(&buffer), 0, nullptr);
  std::string text = length ? std::string(buffer, length) : std::string();
  if (buffer) ::LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  return text;
}

}  // namespace corvane::platform
