// Win32 backend: blocking writes to a registry key with a deny entry in its
// access control list (test support).
//
// The entry denies the current user KEY_SET_VALUE, KEY_CREATE_SUB_KEY and
// DELETE on the key itself. The key's owner keeps WRITE_DAC, so the handle
// kept here can put the original list back.
#include <windows.h>
#include <aclapi.h>

#include <vector>

#include "platform/os_error.h"
#include "platform/portable/registry_write_block_backend.h"
#include "platform/win32/registry_names.h"

namespace corvane::platform {
namespace {

struct DenyEntryBlock : backend::RegistryWriteBlocker {
  HKEY key = nullptr;
  PSECURITY_DESCRIPTOR original = nullptr;  // owns the original list below
  PACL originalList = nullptr;
  ~DenyEntryBlock() override {
    if (key != nullptr) {
      ::SetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                        originalList, nullptr);
      ::RegCloseKey(key);
    }
    if (original != nullptr) ::LocalFree(original);
  }
};

// The user the process runs as (its token's user SID).
bool currentUser(std::vector<BYTE>& buffer, PSID& sid) {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  DWORD size = 0;
  ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  buffer.resize(size);
  const bool ok = size != 0 && ::GetTokenInformation(token, TokenUser, buffer.data(), size, &size);
  const DWORD error = ::GetLastError();
  ::CloseHandle(token);
  ::SetLastError(error);
  if (ok) sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
  return ok;
}

std::nullptr_t none(DWORD error) {
  setLastErrorCode(error);
  return nullptr;
}

}  // namespace

std::unique_ptr<backend::RegistryWriteBlocker> backend::blockRegistryWrites(RegistryRoot root,
                                                                         std::string_view path,
                                                                         RegistryView view) {
  const HKEY parent = rootKey(root);
  if (parent == nullptr) return none(ERROR_INVALID_HANDLE);
  auto state = std::make_unique<DenyEntryBlock>();
  HKEY key = nullptr;
  LONG result = ::RegOpenKeyExA(parent, normalizedPath(path).c_str(), 0,
                                READ_CONTROL | WRITE_DAC | viewFlag(view), &key);
  if (result != ERROR_SUCCESS) return none(static_cast<DWORD>(result));
  result = static_cast<LONG>(::GetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION,
                                               nullptr, nullptr, &state->originalList, nullptr,
                                               &state->original));
  if (result != ERROR_SUCCESS || state->originalList == nullptr) {
    // Without a list everyone may do everything; a list made of the one deny
    // entry would lock everyone out instead.
    ::RegCloseKey(key);
    return none(result != ERROR_SUCCESS ? static_cast<DWORD>(result) : ERROR_NOT_SUPPORTED);
  }

  std::vector<BYTE> userBuffer;
  PSID user = nullptr;
  if (!currentUser(userBuffer, user)) {
    const DWORD error = ::GetLastError();
    ::RegCloseKey(key);
    return none(error);
  }
  EXPLICIT_ACCESS_A deny{};
  deny.grfAccessPermissions = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | DELETE;
  deny.grfAccessMode = DENY_ACCESS;
  deny.grfInheritance = NO_INHERITANCE;
  deny.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  deny.Trustee.TrusteeType = TRUSTEE_IS_USER;
  deny.Trustee.ptstrName = static_cast<LPSTR>(user);
  PACL blocked = nullptr;
  result = static_cast<LONG>(::SetEntriesInAclA(1, &deny, state->originalList, &blocked));
  if (result == ERROR_SUCCESS) {
    result = static_cast<LONG>(::SetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION,
                                                 nullptr, nullptr, blocked, nullptr));
    ::LocalFree(blocked);
  }
  if (result != ERROR_SUCCESS) {
    ::RegCloseKey(key);
    return none(static_cast<DWORD>(result));
  }
  state->key = key;
  return state;
}

}  // namespace corvane::platform
