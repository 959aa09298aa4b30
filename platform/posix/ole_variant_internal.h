// POSIX backend: helpers shared by the variant, safe array and change-type
// code. Not part of the platform interface.
#pragma once

#include <cstdint>

#include "platform/abi.h"
#include "platform/ole_variant.h"

namespace corvane::platform::ole {

// The type codes OLE accepts in a VARIANT it clears or copies: Empty and Null
// plain only, the scalar, string, interface and record types plain, as arrays
// or by reference. The vector and reserved bits, and unknown base types
// (among them the runtime's 8-bit string, 0x100), are refused.
bool isValidVariantType(uint16_t type);

// Size of one safe array element of the given type; 0 for types a safe array
// cannot hold.
uint32_t elementSizeOf(uint16_t elementType);

// The three methods every interface starts with, called through its vtable
// with the Windows calling convention.
struct UnknownVtbl {
  int32_t(CV_STDCALL* queryInterface)(void* self, const void* iid, void** out);
  uint32_t(CV_STDCALL* addRef)(void* self);
  uint32_t(CV_STDCALL* release)(void* self);
};

inline void addRefInterface(void* object) {
  if (object) (*static_cast<UnknownVtbl**>(object))->addRef(object);
}

inline void releaseInterface(void* object) {
  if (object) (*static_cast<UnknownVtbl**>(object))->release(object);
}

}  // namespace corvane::platform::ole
