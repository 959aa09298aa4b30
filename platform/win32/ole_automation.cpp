// Win32 backend: OLE strings, variants and safe arrays are the system's own
// (oleaut32); the platform types have exactly their layout.
#include <windows.h>
#include <oleauto.h>

#include <cstddef>

#include "platform/allocation_faults.h"
#include "platform/ole_string.h"
#include "platform/ole_variant.h"

namespace corvane::platform {

static_assert(sizeof(OleChar) == sizeof(OLECHAR));
static_assert(sizeof(Variant) == sizeof(VARIANT));
static_assert(alignof(VARIANT) == 8);
static_assert(offsetof(Variant, llVal) == offsetof(VARIANT, llVal));
static_assert(sizeof(SafeArray) == sizeof(SAFEARRAY));
static_assert(offsetof(SafeArray, data) == offsetof(SAFEARRAY, pvData));
static_assert(offsetof(SafeArray, bounds) == offsetof(SAFEARRAY, rgsabound));
static_assert(sizeof(SafeArrayBound) == sizeof(SAFEARRAYBOUND));

namespace {

VARIANT* os(Variant* value) { return reinterpret_cast<VARIANT*>(value); }
VARIANT* os(const Variant* value) { return reinterpret_cast<VARIANT*>(const_cast<Variant*>(value)); }
SAFEARRAY* os(SafeArray* array) { return reinterpret_cast<SAFEARRAY*>(array); }
SafeArray* ours(SAFEARRAY* array) { return reinterpret_cast<SafeArray*>(array); }
BSTR os(Bstr text) { return reinterpret_cast<BSTR>(text); }
const OLECHAR* os(const OleChar* text) { return reinterpret_cast<const OLECHAR*>(text); }
Bstr ours(BSTR text) { return reinterpret_cast<Bstr>(text); }

}  // namespace

// --- strings ---------------------------------------------------------------------

// A null text is the empty string, made without allocating.
Bstr sysAllocString(const OleChar* text) {
  if (text != nullptr && refuseAllocation(Allocator::OleStrings)) return nullptr;
  return ours(::SysAllocString(os(text)));
}

Bstr sysAllocStringLen(const OleChar* text, uint32_t length) {
  if (refuseAllocation(Allocator::OleStrings)) return nullptr;
  return ours(::SysAllocStringLen(os(text), length));
}

Bstr sysAllocStringByteLen(const char* bytes, uint32_t byteLength) {
  if (refuseAllocation(Allocator::OleStrings)) return nullptr;
  return ours(::SysAllocStringByteLen(bytes, byteLength));
}

bool sysReAllocStringLen(Bstr* target, const OleChar* text, uint32_t length) {
  if (refuseAllocation(Allocator::OleStrings)) return false;
  return ::SysReAllocStringLen(reinterpret_cast<BSTR*>(target), os(text), length) != FALSE;
}

void sysFreeString(Bstr text) { ::SysFreeString(os(text)); }

uint32_t sysStringLen(Bstr text) { return ::SysStringLen(os(text)); }

uint32_t sysStringByteLen(Bstr text) { return ::SysStringByteLen(os(text)); }

// --- variants --------------------------------------------------------------------

void variantInit(Variant* value) { ::VariantInit(os(value)); }

HResult variantClear(Variant* value) { return ::VariantClear(os(value)); }

HResult variantCopy(Variant* target, const Variant* source) { return ::VariantCopy(os(target), os(source)); }

HResult variantCopyInd(Variant* target, const Variant* source) { return ::VariantCopyInd(os(target), os(source)); }

HResult variantChangeType(Variant* target, const Variant* source, uint16_t flags, uint16_t type) {
  return ::VariantChangeType(os(target), os(source), flags, type);
}

HResult variantChangeTypeEx(Variant* target, const Variant* source, Lcid locale, uint16_t flags, uint16_t type) {
  return ::VariantChangeTypeEx(os(target), os(source), locale, flags, type);
}

// --- safe arrays -------------------------------------------------------------------

SafeArray* safeArrayCreate(uint16_t elementType, uint32_t dims, const SafeArrayBound* bounds) {
  return ours(::SafeArrayCreate(elementType, dims,
                                reinterpret_cast<SAFEARRAYBOUND*>(const_cast<SafeArrayBound*>(bounds))));
}

SafeArray* safeArrayCreateVector(uint16_t elementType, int32_t lowerBound, uint32_t elements) {
  return ours(::SafeArrayCreateVector(elementType, lowerBound, elements));
}

HResult safeArrayDestroy(SafeArray* array) { return ::SafeArrayDestroy(os(array)); }

HResult safeArrayCopy(SafeArray* source, SafeArray** target) {
  return ::SafeArrayCopy(os(source), reinterpret_cast<SAFEARRAY**>(target));
}

uint32_t safeArrayGetDim(SafeArray* array) { return ::SafeArrayGetDim(os(array)); }

uint32_t safeArrayGetElemsize(SafeArray* array) { return ::SafeArrayGetElemsize(os(array)); }

HResult safeArrayGetVartype(SafeArray* array, uint16_t* type) {
  VARTYPE vt = 0;
  const HRESULT hr = ::SafeArrayGetVartype(os(array), &vt);
  if (SUCCEEDED(hr)) *type = vt;
  return hr;
}

HResult safeArrayGetLBound(SafeArray* array, uint32_t dim, int32_t* bound) {
  LONG value = 0;
  const HRESULT hr = ::SafeArrayGetLBound(os(array), dim, &value);
  if (SUCCEEDED(hr)) *bound = value;
  return hr;
}

HResult safeArrayGetUBound(SafeArray* array, uint32_t dim, int32_t* bound) {
  LONG value = 0;
  const HRESULT hr = ::SafeArrayGetUBound(os(array), dim, &value);
  if (SUCCEEDED(hr)) *bound = value;
  return hr;
}

HResult safeArrayGetElement(SafeArray* array, const int32_t* indices, void* value) {
  return ::SafeArrayGetElement(os(array), reinterpret_cast<LONG*>(const_cast<int32_t*>(indices)), value);
}

HResult safeArrayPutElement(SafeArray* array, const int32_t* indices, const void* value) {
  return ::SafeArrayPutElement(os(array), reinterpret_cast<LONG*>(const_cast<int32_t*>(indices)),
                               const_cast<void*>(value));
}

HResult safeArrayAccessData(SafeArray* array, void** data) { return ::SafeArrayAccessData(os(array), data); }

HResult safeArrayUnaccessData(SafeArray* array) { return ::SafeArrayUnaccessData(os(array)); }

}  // namespace corvane::platform
