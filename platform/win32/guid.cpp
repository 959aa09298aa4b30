// Win32 backend: GUIDs from CoCreateGuid (random, version 4). Their text
// form is the backend-neutral one (portable/guid_string.cpp).
#include <windows.h>
#include <objbase.h>

#include <cstring>

#include "platform/guid.h"
#include "platform/os_error.h"
#include "platform/win32/last_error.h"

namespace corvane::platform {

static_assert(sizeof(Guid) == sizeof(GUID));

Guid createGuid() {
  GUID created{};
  const HRESULT result = ::CoCreateGuid(&created);
  if (FAILED(result)) throwOsError("CoCreateGuid", "", static_cast<uint32_t>(result));
  Guid guid{};
  std::memcpy(&guid, &created, sizeof guid);
  return guid;
}

}  // namespace corvane::platform
