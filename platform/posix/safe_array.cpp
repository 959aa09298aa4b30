// POSIX backend: safe arrays with the OLE memory layout. Each array is one
// block from the C allocator: a 16-byte hidden header (the element type in
// its last four bytes, or the IID for arrays of interfaces), the SafeArray
// structure with its bounds, and for vectors the elements too; other arrays
// keep their elements in a second block. Bounds are stored last dimension
// first while callers give bounds and indices first dimension first.
#include <cstdlib>
#include <cstring>

#include "platform/ole_variant.h"
#include "platform/posix/ole_variant_internal.h"

namespace corvane::platform {
namespace {

constexpr size_t kHiddenHeader = 16;

// {00000000-0000-0000-C000-000000000046} and {00020400-0000-0000-C000-000000000046}
constexpr unsigned char kIidUnknown[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
constexpr unsigned char kIidDispatch[16] = {0, 4, 2, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};

size_t descriptorSize(uint32_t dims) { return sizeof(SafeArray) + (dims - 1) * sizeof(SafeArrayBound); }

unsigned char* hiddenHeaderOf(SafeArray* array) { return reinterpret_cast<unsigned char*>(array) - kHiddenHeader; }

uint16_t featuresFor(uint16_t elementType) {
  switch (elementType) {
    case vtBstr:
      return kFadfHaveVarType | kFadfBstr;
    case vtVariant:
      return kFadfHaveVarType | kFadfVariant;
    case vtUnknown:
      return kFadfHaveIid | kFadfUnknown;
    case vtDispatch:
      return kFadfHaveIid | kFadfDispatch;
    default:
      return kFadfHaveVarType;
  }
}

// Element count of the whole array; false when it does not fit in memory.
bool elementCount(const SafeArray* array, size_t& count) {
  uint64_t total = 1;
  for (uint16_t i = 0; i < array->dims; ++i) {
    total *= array->bounds[i].elements;
    if (total > SIZE_MAX / (array->elementSize ? array->elementSize : 1)) return false;
  }
  count = static_cast<size_t>(total);
  return true;
}

// A descriptor (hidden header, structure and bounds) with room for
// extraBytes after it.
SafeArray* allocateDescriptor(uint32_t dims, size_t extraBytes) {
  const size_t descriptor = descriptorSize(dims);
  if (extraBytes > SIZE_MAX - kHiddenHeader - descriptor) return nullptr;
  auto* block = static_cast<unsigned char*>(std::calloc(1, kHiddenHeader + descriptor + extraBytes));
  if (!block) return nullptr;
  return reinterpret_cast<SafeArray*>(block + kHiddenHeader);
}

void describe(SafeArray* array, uint16_t elementType, uint32_t dims) {
  array->dims = static_cast<uint16_t>(dims);
  array->features = featuresFor(elementType);
  array->elementSize = ole::elementSizeOf(elementType);
  unsigned char* hidden = hiddenHeaderOf(array);
  if (elementType == vtUnknown) {
    std::memcpy(hidden, kIidUnknown, 16);
  } else if (elementType == vtDispatch) {
    std::memcpy(hidden, kIidDispatch, 16);
  } else {
    const uint32_t type = elementType;
    std::memcpy(hidden + 12, &type, 4);
  }
}

bool ownsSeparateData(const SafeArray* array) {
  return !(array->features & (kFadfCreateVector | kFadfAuto | kFadfStatic | kFadfEmbedded));
}

// Releases what the elements own (strings, variants, interface references)
// and zeroes them.
void releaseElements(SafeArray* array) {
  size_t count;
  if (!array->data || !elementCount(array, count)) return;
  if (array->features & kFadfBstr) {
    auto* strings = static_cast<Bstr*>(array->data);
    for (size_t i = 0; i < count; ++i) sysFreeString(strings[i]);
  } else if (array->features & kFadfVariant) {
    auto* values = static_cast<Variant*>(array->data);
    for (size_t i = 0; i < count; ++i) variantClear(&values[i]);
  } else if (array->features & (kFadfUnknown | kFadfDispatch)) {
    auto* objects = static_cast<void**>(array->data);
    for (size_t i = 0; i < count; ++i) ole::releaseInterface(objects[i]);
  }
  std::memset(array->data, 0, count * array->elementSize);
}

// Address of the element at indices (first dimension first), or the
// failure: OLE lets the first dimension vary fastest.
HResult elementAddress(SafeArray* array, const int32_t* indices, unsigned char*& address) {
  if (!array || !indices) return kHrInvalidArg;
  uint64_t offset = 0;
  uint64_t stride = 1;
  for (uint16_t dim = 0; dim < array->dims; ++dim) {
    const SafeArrayBound& bound = array->bounds[array->dims - 1 - dim];
    const int64_t position = static_cast<int64_t>(indices[dim]) - bound.lowerBound;
    if (position < 0 || position >= static_cast<int64_t>(bound.elements)) return kHrDispBadIndex;
    offset += static_cast<uint64_t>(position) * stride;
    stride *= bound.elements;
  }
  address = static_cast<unsigned char*>(array->data) + offset * array->elementSize;
  return kHrOk;
}

}  // namespace

SafeArray* safeArrayCreate(uint16_t elementType, uint32_t dims, const SafeArrayBound* bounds) {
  if (dims == 0 || dims > 0xFFFF || !bounds || ole::elementSizeOf(elementType) == 0) return nullptr;
  SafeArray* array = allocateDescriptor(dims, 0);
  if (!array) return nullptr;
  describe(array, elementType, dims);
  for (uint32_t i = 0; i < dims; ++i) array->bounds[dims - 1 - i] = bounds[i];
  size_t count;
  if (!elementCount(array, count)) {
    std::free(hiddenHeaderOf(array));
    return nullptr;
  }
  // Even an array without elements gets a data block, as OLE gives one.
  array->data = std::calloc(count ? count : 1, array->elementSize);
  if (!array->data) {
    std::free(hiddenHeaderOf(array));
    return nullptr;
  }
  return array;
}

SafeArray* safeArrayCreateVector(uint16_t elementType, int32_t lowerBound, uint32_t elements) {
  const uint32_t elementSize = ole::elementSizeOf(elementType);
  if (elementSize == 0) return nullptr;
  const uint64_t dataBytes = static_cast<uint64_t>(elements) * elementSize;
  if (dataBytes > SIZE_MAX / 2) return nullptr;
  SafeArray* array = allocateDescriptor(1, static_cast<size_t>(dataBytes));
  if (!array) return nullptr;
  describe(array, elementType, 1);
  array->features |= kFadfCreateVector;
  array->bounds[0] = {elements, lowerBound};
  array->data = reinterpret_cast<unsigned char*>(array) + descriptorSize(1);
  return array;
}

HResult safeArrayDestroy(SafeArray* array) {
  if (!array) return kHrOk;
  if (array->locks > 0) return kHrDispArrayIsLocked;
  releaseElements(array);
  if (ownsSeparateData(array)) std::free(array->data);
  std::free(hiddenHeaderOf(array));
  return kHrOk;
}

HResult safeArrayCopy(SafeArray* source, SafeArray** target) {
  if (!target) return kHrInvalidArg;
  *target = nullptr;
  if (!source) return kHrOk;
  if (source->dims == 0) return kHrInvalidArg;
  size_t count;
  if (!elementCount(source, count)) return kHrOutOfMemory;
  SafeArray* copy = allocateDescriptor(source->dims, 0);
  if (!copy) return kHrOutOfMemory;
  std::memcpy(hiddenHeaderOf(copy), hiddenHeaderOf(source), kHiddenHeader + descriptorSize(source->dims));
  copy->features &= static_cast<uint16_t>(~(kFadfCreateVector | kFadfAuto | kFadfStatic | kFadfEmbedded));
  copy->locks = 0;
  copy->data = std::calloc(count ? count : 1, copy->elementSize ? copy->elementSize : 1);
  if (!copy->data) {
    std::free(hiddenHeaderOf(copy));
    return kHrOutOfMemory;
  }
  HResult hr = kHrOk;
  if (source->features & kFadfBstr) {
    auto* from = static_cast<Bstr*>(source->data);
    auto* to = static_cast<Bstr*>(copy->data);
    for (size_t i = 0; i < count && succeeded(hr); ++i) {
      if (!from[i]) continue;
      to[i] = sysAllocStringByteLen(reinterpret_cast<const char*>(from[i]), sysStringByteLen(from[i]));
      if (!to[i]) hr = kHrOutOfMemory;
    }
  } else if (source->features & kFadfVariant) {
    auto* from = static_cast<Variant*>(source->data);
    auto* to = static_cast<Variant*>(copy->data);
    for (size_t i = 0; i < count && succeeded(hr); ++i) hr = variantCopy(&to[i], &from[i]);
  } else if (source->features & kFadfRecord) {
    hr = kHrNotImpl;  // records need type information this backend never has
  } else {
    if (count) std::memcpy(copy->data, source->data, count * source->elementSize);
    if (source->features & (kFadfUnknown | kFadfDispatch)) {
      auto* objects = static_cast<void**>(copy->data);
      for (size_t i = 0; i < count; ++i) ole::addRefInterface(objects[i]);
    }
  }
  if (failed(hr)) {
    safeArrayDestroy(copy);
    return hr;
  }
  *target = copy;
  return kHrOk;
}

uint32_t safeArrayGetDim(SafeArray* array) { return array ? array->dims : 0; }

uint32_t safeArrayGetElemsize(SafeArray* array) { return array ? array->elementSize : 0; }

HResult safeArrayGetVartype(SafeArray* array, uint16_t* type) {
  if (!array || !type) return kHrInvalidArg;
  if (array->features & kFadfHaveVarType) {
    uint32_t stored;
    std::memcpy(&stored, hiddenHeaderOf(array) + 12, 4);
    *type = static_cast<uint16_t>(stored);
  } else if (array->features & kFadfRecord) {
    *type = vtRecord;
  } else if (array->features & kFadfHaveIid) {
    *type = (array->features & kFadfDispatch) ? vtDispatch : vtUnknown;
  } else if (array->features & kFadfBstr) {
    *type = vtBstr;
  } else if (array->features & kFadfVariant) {
    *type = vtVariant;
  } else {
    return kHrInvalidArg;
  }
  return kHrOk;
}

HResult safeArrayGetLBound(SafeArray* array, uint32_t dim, int32_t* bound) {
  if (!array || !bound) return kHrInvalidArg;
  if (dim == 0 || dim > array->dims) return kHrDispBadIndex;
  *bound = array->bounds[array->dims - dim].lowerBound;
  return kHrOk;
}

HResult safeArrayGetUBound(SafeArray* array, uint32_t dim, int32_t* bound) {
  if (!array || !bound) return kHrInvalidArg;
  if (dim == 0 || dim > array->dims) return kHrDispBadIndex;
  const SafeArrayBound& b = array->bounds[array->dims - dim];
  *bound = static_cast<int32_t>(static_cast<int64_t>(b.lowerBound) + b.elements - 1);
  return kHrOk;
}

HResult safeArrayGetElement(SafeArray* array, const int32_t* indices, void* value) {
  if (!value) return kHrInvalidArg;
  unsigned char* address;
  HResult hr = elementAddress(array, indices, address);
  if (failed(hr)) return hr;
  ++array->locks;
  if (array->features & kFadfBstr) {
    const Bstr stored = *reinterpret_cast<Bstr*>(address);
    Bstr copy = nullptr;
    if (stored) {
      copy = sysAllocStringByteLen(reinterpret_cast<const char*>(stored), sysStringByteLen(stored));
      if (!copy) hr = kHrOutOfMemory;
    }
    if (succeeded(hr)) *static_cast<Bstr*>(value) = copy;
  } else if (array->features & kFadfVariant) {
    auto* out = static_cast<Variant*>(value);
    variantInit(out);
    hr = variantCopy(out, reinterpret_cast<const Variant*>(address));
  } else {
    std::memcpy(value, address, array->elementSize);
    if (array->features & (kFadfUnknown | kFadfDispatch)) ole::addRefInterface(*static_cast<void**>(value));
  }
  --array->locks;
  return hr;
}

HResult safeArrayPutElement(SafeArray* array, const int32_t* indices, const void* value) {
  unsigned char* address;
  HResult hr = elementAddress(array, indices, address);
  if (failed(hr)) return hr;
  if (!value && !(array->features & (kFadfBstr | kFadfUnknown | kFadfDispatch))) return kHrInvalidArg;
  ++array->locks;
  if (array->features & kFadfBstr) {
    // The value is the string itself; a null string is stored as an empty one.
    auto text = static_cast<Bstr>(const_cast<void*>(value));
    Bstr copy = sysAllocStringByteLen(reinterpret_cast<const char*>(text), sysStringByteLen(text));
    if (copy) {
      sysFreeString(*reinterpret_cast<Bstr*>(address));
      *reinterpret_cast<Bstr*>(address) = copy;
    } else {
      hr = kHrOutOfMemory;
    }
  } else if (array->features & kFadfVariant) {
    hr = variantCopy(reinterpret_cast<Variant*>(address), static_cast<const Variant*>(value));
  } else if (array->features & (kFadfUnknown | kFadfDispatch)) {
    // The value is the interface pointer itself.
    void* object = const_cast<void*>(value);
    ole::addRefInterface(object);
    ole::releaseInterface(*reinterpret_cast<void**>(address));
    *reinterpret_cast<void**>(address) = object;
  } else {
    std::memcpy(address, value, array->elementSize);
  }
  --array->locks;
  return hr;
}

HResult safeArrayAccessData(SafeArray* array, void** data) {
  if (!array || !data) return kHrInvalidArg;
  if (array->locks >= 0xFFFF) return kHrUnexpected;
  ++array->locks;
  *data = array->data;
  return kHrOk;
}

HResult safeArrayUnaccessData(SafeArray* array) {
  if (!array) return kHrInvalidArg;
  if (array->locks == 0) return kHrUnexpected;
  --array->locks;
  return kHrOk;
}

}  // namespace corvane::platform
