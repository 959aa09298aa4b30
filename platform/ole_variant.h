// OLE Automation values (VARIANT) and safe arrays with the Windows memory
// layout of the build's bitness: a 2-byte type, three reserved words and an
// 8-byte payload (16 bytes in all on 32-bit targets, 24 on 64-bit ones, where
// the record payload is two pointers). Copy, clear and change-type behave as
// the system's OLE functions do; on Windows they are those functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/abi.h"
#include "platform/ole_string.h"

namespace corvane::platform {

using HResult = int32_t;
using Lcid = uint32_t;

inline constexpr HResult kHrOk = 0;
inline constexpr HResult kHrFalse = 1;
inline constexpr HResult kHrUnexpected = static_cast<HResult>(0x8000FFFF);
inline constexpr HResult kHrNotImpl = static_cast<HResult>(0x80004001);
inline constexpr HResult kHrNoInterface = static_cast<HResult>(0x80004002);
inline constexpr HResult kHrPointer = static_cast<HResult>(0x80004003);
inline constexpr HResult kHrFail = static_cast<HResult>(0x80004005);
inline constexpr HResult kHrOutOfMemory = static_cast<HResult>(0x8007000E);
inline constexpr HResult kHrInvalidArg = static_cast<HResult>(0x80070057);
inline constexpr HResult kHrDispBadVarType = static_cast<HResult>(0x80020008);
inline constexpr HResult kHrDispOverflow = static_cast<HResult>(0x8002000A);
inline constexpr HResult kHrDispTypeMismatch = static_cast<HResult>(0x80020005);
inline constexpr HResult kHrDispArrayIsLocked = static_cast<HResult>(0x8002000D);
inline constexpr HResult kHrDispBadIndex = static_cast<HResult>(0x8002000B);

inline constexpr bool succeeded(HResult hr) { return hr >= 0; }
inline constexpr bool failed(HResult hr) { return hr < 0; }

// Variant type codes (the OLE VARTYPE numbering). vtString is the 8-bit
// string type of the module's runtime; OLE itself does not know it.
enum VarType : uint16_t {
  vtEmpty = 0,
  vtNull = 1,
  vtI2 = 2,
  vtI4 = 3,
  vtR4 = 4,
  vtR8 = 5,
  vtCy = 6,
  vtDate = 7,
  vtBstr = 8,
  vtDispatch = 9,
  vtError = 10,
  vtBool = 11,
  vtVariant = 12,
  vtUnknown = 13,
  vtDecimal = 14,
  vtI1 = 16,
  vtUI1 = 17,
  vtUI2 = 18,
  vtUI4 = 19,
  vtI8 = 20,
  vtUI8 = 21,
  vtInt = 22,
  vtUInt = 23,
  vtRecord = 0x24,
  vtString = 0x100,
  vtUString = 0x102,
  vtArray = 0x2000,
  vtByRef = 0x4000,
  vtTypeMask = 0x0FFF,
};

// Flags of variantChangeType.
inline constexpr uint16_t kVariantNoValueProp = 0x01;
inline constexpr uint16_t kVariantAlphaBool = 0x02;
inline constexpr uint16_t kVariantNoUserOverride = 0x04;
inline constexpr uint16_t kVariantLocalBool = 0x10;

inline constexpr Lcid kLocaleUserDefault = 0x0400;
inline constexpr Lcid kLocaleEnglishUs = 0x0409;

inline constexpr int16_t kVariantTrue = -1;
inline constexpr int16_t kVariantFalse = 0;

// Safe array features (fFeatures).
inline constexpr uint16_t kFadfAuto = 0x0001;
inline constexpr uint16_t kFadfStatic = 0x0002;
inline constexpr uint16_t kFadfEmbedded = 0x0004;
inline constexpr uint16_t kFadfFixedSize = 0x0010;
inline constexpr uint16_t kFadfRecord = 0x0020;
inline constexpr uint16_t kFadfHaveIid = 0x0040;
inline constexpr uint16_t kFadfHaveVarType = 0x0080;
inline constexpr uint16_t kFadfBstr = 0x0100;
inline constexpr uint16_t kFadfUnknown = 0x0200;
inline constexpr uint16_t kFadfDispatch = 0x0400;
inline constexpr uint16_t kFadfVariant = 0x0800;
inline constexpr uint16_t kFadfCreateVector = 0x2000;

struct SafeArrayBound {
  uint32_t elements;
  int32_t lowerBound;
};

// As in OLE, a 16-byte hidden header precedes the structure: the element
// type in its last four bytes, or the interface IID for arrays of interfaces.
struct SafeArray {
  uint16_t dims;
  uint16_t features;
  uint32_t elementSize;
  uint32_t locks;
  void* data;
  SafeArrayBound bounds[1];  // last dimension first, as OLE stores them
};

struct Variant {
  uint16_t vt;
  uint16_t reserved1;
  uint16_t reserved2;
  uint16_t reserved3;
  union {
    int64_t llVal;
    uint64_t ullVal;
    int32_t lVal;
    uint32_t ulVal;
    int16_t iVal;
    uint16_t uiVal;
    int8_t cVal;
    uint8_t bVal;
    float fltVal;
    double dblVal;
    int16_t boolVal;
    int32_t scode;
    int64_t cyVal;  // currency: the value times 10000
    double date;    // days since 1899-12-30, the fraction the time of day
    Bstr bstrVal;
    SafeArray* parray;
    void* byref;
    Variant* pvarVal;
    void* punkVal;
    struct {
      void* pvRecord;
      void* pRecInfo;
    } record;
  };
};

#if defined(__i386__) || defined(_M_IX86)
static_assert(sizeof(Variant) == 16, "VARIANT is 16 bytes on 32-bit targets");
#else
static_assert(sizeof(void*) != 8 || sizeof(Variant) == 24, "VARIANT is 24 bytes on 64-bit targets");
#endif
static_assert(offsetof(Variant, llVal) == 8);

CV_PLATFORM_API void variantInit(Variant* value);
CV_PLATFORM_API HResult variantClear(Variant* value);
CV_PLATFORM_API HResult variantCopy(Variant* target, const Variant* source);
CV_PLATFORM_API HResult variantCopyInd(Variant* target, const Variant* source);
// Converts with the user's default locale. target may equal source; on
// failure the target is left as it was. The POSIX backend knows one locale,
// US English, whatever LCID is given, and ignores the calendar and NLS
// formatting flags.
CV_PLATFORM_API HResult variantChangeType(Variant* target, const Variant* source, uint16_t flags,
                                          uint16_t type);
CV_PLATFORM_API HResult variantChangeTypeEx(Variant* target, const Variant* source, Lcid locale,
                                            uint16_t flags, uint16_t type);

CV_PLATFORM_API SafeArray* safeArrayCreate(uint16_t elementType, uint32_t dims,
                                           const SafeArrayBound* bounds);  // first dimension first
CV_PLATFORM_API SafeArray* safeArrayCreateVector(uint16_t elementType, int32_t lowerBound,
                                                 uint32_t elements);
CV_PLATFORM_API HResult safeArrayDestroy(SafeArray* array);
CV_PLATFORM_API HResult safeArrayCopy(SafeArray* source, SafeArray** target);
CV_PLATFORM_API uint32_t safeArrayGetDim(SafeArray* array);
CV_PLATFORM_API uint32_t safeArrayGetElemsize(SafeArray* array);
CV_PLATFORM_API HResult safeArrayGetVartype(SafeArray* array, uint16_t* type);
CV_PLATFORM_API HResult safeArrayGetLBound(SafeArray* array, uint32_t dim, int32_t* bound);  // dim from 1
CV_PLATFORM_API HResult safeArrayGetUBound(SafeArray* array, uint32_t dim, int32_t* bound);
CV_PLATFORM_API HResult safeArrayGetElement(SafeArray* array, const int32_t* indices, void* value);
CV_PLATFORM_API HResult safeArrayPutElement(SafeArray* array, const int32_t* indices, const void* value);
CV_PLATFORM_API HResult safeArrayAccessData(SafeArray* array, void** data);
CV_PLATFORM_API HResult safeArrayUnaccessData(SafeArray* array);

// Sole owner of one VARIANT; copies are deep (variantCopy), destruction
// clears. The layout is exactly that of Variant.
class CV_PLATFORM_API OleVariant {
 public:
  OleVariant() { variantInit(&value_); }
  OleVariant(const OleVariant& other);
  OleVariant(OleVariant&& other) noexcept : value_(other.value_) { variantInit(&other.value_); }
  OleVariant& operator=(const OleVariant& other);
  OleVariant& operator=(OleVariant&& other) noexcept;
  ~OleVariant() { variantClear(&value_); }

  // Takes over a raw value; the source is left Empty.
  static OleVariant adopt(Variant& raw);
  // Deep copy of a raw value; throws std::bad_alloc when memory runs out,
  // OsError when OLE refuses it otherwise.
  static OleVariant copyOf(const Variant& raw);

  static OleVariant null();
  static OleVariant fromBool(bool value);
  static OleVariant fromI2(int16_t value);
  static OleVariant fromI4(int32_t value);
  static OleVariant fromI8(int64_t value);
  static OleVariant fromUI1(uint8_t value);
  static OleVariant fromUI4(uint32_t value);
  static OleVariant fromR8(double value);
  static OleVariant fromCurrency(int64_t scaledBy10000);
  static OleVariant fromDate(double oleDate);
  static OleVariant fromString(std::u16string_view text);

  uint16_t type() const { return value_.vt; }
  bool isEmpty() const { return value_.vt == vtEmpty; }
  bool isNull() const { return value_.vt == vtNull; }
  const Variant& raw() const { return value_; }
  Variant& raw() { return value_; }
  Variant* get() { return &value_; }
  const Variant* get() const { return &value_; }
  Variant release();  // hands the value out, leaves this Empty
  void clear() { variantClear(&value_); }

  // A converted copy (variantChangeType with no flags); throws OsError
  // carrying the HRESULT on failure (std::bad_alloc when memory runs out).
  OleVariant changedTo(uint16_t type, uint16_t flags = 0) const;

 private:
  Variant value_;
};

static_assert(sizeof(OleVariant) == sizeof(Variant));

}  // namespace corvane::platform
