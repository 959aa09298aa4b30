// POSIX backend: VARIANT life cycle. Init, clear, copy and copy-through-
// reference behave as the OLE functions of the same names: a string is
// copied with its byte length, an array deeply through safeArrayCopy, an
// interface by taking a reference; by-reference variants are copied as the
// reference unless variantCopyInd follows it.
#include <cstring>

#include "platform/ole_variant.h"
#include "platform/posix/ole_variant_internal.h"

namespace corvane::platform {
namespace ole {

bool isValidVariantType(uint16_t type) {
  if (type & 0x9000) return false;  // vector and reserved bits
  const uint16_t base = type & vtTypeMask;
  if (base == vtEmpty || base == vtNull) return (type & (vtArray | vtByRef)) == 0;
  return (base >= vtI2 && base <= vtDecimal) || (base >= vtI1 && base <= vtUInt) || base == vtRecord;
}

uint32_t elementSizeOf(uint16_t elementType) {
  switch (elementType) {
    case vtI1:
    case vtUI1:
      return 1;
    case vtI2:
    case vtUI2:
    case vtBool:
      return 2;
    case vtI4:
    case vtUI4:
    case vtR4:
    case vtInt:
    case vtUInt:
    case vtError:
      return 4;
    case vtR8:
    case vtCy:
    case vtDate:
    case vtI8:
    case vtUI8:
      return 8;
    case vtBstr:
    case vtDispatch:
    case vtUnknown:
      return sizeof(void*);
    case vtVariant:
      return sizeof(Variant);
    case vtDecimal:
      return 16;
    default:
      return 0;
  }
}

}  // namespace ole

void variantInit(Variant* value) {
  if (value) std::memset(value, 0, sizeof *value);
}

HResult variantClear(Variant* value) {
  if (!value) return kHrInvalidArg;
  const uint16_t type = value->vt;
  if (!ole::isValidVariantType(type)) return kHrDispBadVarType;
  HResult result = kHrOk;
  if (!(type & vtByRef)) {
    if (type & vtArray) {
      result = safeArrayDestroy(value->parray);
    } else if (type == vtBstr) {
      sysFreeString(value->bstrVal);
    } else if (type == vtDispatch || type == vtUnknown) {
      ole::releaseInterface(value->punkVal);
    } else if (type == vtRecord) {
      // Records carry their own type information, which this backend never
      // makes; nothing is released.
    }
  }
  // OLE resets the type even when a locked array stays alive.
  value->vt = vtEmpty;
  return result;
}

HResult variantCopy(Variant* target, const Variant* source) {
  if (!target || !source) return kHrInvalidArg;
  if (!ole::isValidVariantType(source->vt)) {
    variantClear(target);
    return kHrDispBadVarType;
  }
  if (target == source) return kHrOk;
  HResult hr = variantClear(target);
  if (failed(hr)) return hr;
  const uint16_t type = source->vt;
  Variant copy = *source;
  if (!(type & vtByRef)) {
    if (type & vtArray) {
      copy.parray = nullptr;
      if (source->parray) {
        hr = safeArrayCopy(source->parray, &copy.parray);
        if (failed(hr)) return hr;
      }
    } else if (type == vtBstr) {
      // A null string is copied as an allocated empty one, as OLE does.
      copy.bstrVal = sysAllocStringByteLen(reinterpret_cast<const char*>(source->bstrVal),
                                           sysStringByteLen(source->bstrVal));
      if (!copy.bstrVal) return kHrOutOfMemory;
    } else if (type == vtDispatch || type == vtUnknown) {
      ole::addRefInterface(copy.punkVal);
    }
  }
  *target = copy;
  return kHrOk;
}

HResult variantCopyInd(Variant* target, const Variant* source) {
  if (!target || !source) return kHrInvalidArg;
  const uint16_t type = source->vt;
  if (!(type & vtByRef)) return variantCopy(target, source);
  const uint16_t base = type & ~vtByRef;
  if (!ole::isValidVariantType(type) || base == vtRecord) return kHrInvalidArg;

  // The referenced value is read before the target is cleared, since the
  // target may be the source itself.
  Variant referenced;
  variantInit(&referenced);
  if (base == vtVariant) {
    const Variant* inner = source->pvarVal;
    if (!inner || (inner->vt & vtByRef)) return kHrInvalidArg;
    referenced = *inner;
  } else {
    if (!source->byref) return kHrInvalidArg;
    referenced.vt = base;
    if (base & vtArray) {
      referenced.parray = *static_cast<SafeArray* const*>(source->byref);
    } else if (base == vtDecimal) {
      // A decimal fills the whole variant; its first word is the type's place.
      std::memcpy(&referenced, source->byref, 16);
      referenced.vt = vtDecimal;
    } else {
      std::memcpy(&referenced.llVal, source->byref, ole::elementSizeOf(base));
    }
  }
  Variant copy;
  variantInit(&copy);
  HResult hr = variantCopy(&copy, &referenced);
  if (failed(hr)) return hr;
  if (target != source) {
    hr = variantClear(target);
    if (failed(hr)) {
      variantClear(&copy);
      return hr;
    }
  }
  *target = copy;
  return kHrOk;
}

}  // namespace corvane::platform
