// POSIX backend: variantChangeType(Ex), the conversions of OLE's
// VariantChangeTypeEx between the scalar types, strings, currency and dates,
// in the one locale this backend has (US English, whatever LCID is given).
//
// Integer conversions keep two habits of the reference implementation: a
// value converted between a signed and an unsigned integer type of the same
// size keeps its bits (-1 as UI4 is 4294967295), and a boolean converts to
// any integer type by keeping its bits. Floating-point values round half to
// even; currency rounds likewise except towards 64-bit integers, where
// negative amounts round down.
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>

#include "platform/ole_variant.h"
#include "platform/posix/ole_variant_internal.h"
#include "platform/posix/variant_text.h"

namespace corvane::platform {
namespace {

using oletext::ParsedNumber;

// -- Integer types ----------------------------------------------------------

struct IntegerType {
  unsigned bytes;
  bool isSigned;
};

bool integerTypeOf(uint16_t type, IntegerType& info) {
  switch (type) {
    case vtI1: info = {1, true}; return true;
    case vtUI1: info = {1, false}; return true;
    case vtI2: info = {2, true}; return true;
    case vtUI2: info = {2, false}; return true;
    case vtI4:
    case vtInt: info = {4, true}; return true;
    case vtUI4:
    case vtUInt: info = {4, false}; return true;
    case vtI8: info = {8, true}; return true;
    case vtUI8: info = {8, false}; return true;
    default: return false;
  }
}

int64_t signedMinimum(unsigned bytes) { return bytes == 8 ? INT64_MIN : -(int64_t{1} << (bytes * 8 - 1)); }
int64_t signedMaximum(unsigned bytes) { return bytes == 8 ? INT64_MAX : (int64_t{1} << (bytes * 8 - 1)) - 1; }
uint64_t unsignedMaximum(unsigned bytes) { return bytes == 8 ? UINT64_MAX : (uint64_t{1} << (bytes * 8)) - 1; }

// Stores the low bytes of bits as the integer type.
void storeBits(Variant& out, uint16_t type, uint64_t bits) {
  out.vt = type;
  switch (type) {
    case vtI1: out.cVal = static_cast<int8_t>(bits); break;
    case vtUI1: out.bVal = static_cast<uint8_t>(bits); break;
    case vtI2: out.iVal = static_cast<int16_t>(bits); break;
    case vtUI2: out.uiVal = static_cast<uint16_t>(bits); break;
    case vtI4:
    case vtInt: out.lVal = static_cast<int32_t>(bits); break;
    case vtUI4:
    case vtUInt: out.ulVal = static_cast<uint32_t>(bits); break;
    default: out.ullVal = bits; break;
  }
}

// An exact integer of either signedness.
struct Integer {
  bool negative;
  uint64_t magnitude;
  static Integer fromSigned(int64_t v) {
    return {v < 0, v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v)};
  }
  static Integer fromUnsigned(uint64_t v) { return {false, v}; }
  uint64_t bits() const { return negative ? 0 - magnitude : magnitude; }
  double toDouble() const {
    return negative ? -static_cast<double>(magnitude) : static_cast<double>(magnitude);
  }
};

HResult storeInteger(Variant& out, uint16_t type, Integer value) {
  IntegerType info;
  integerTypeOf(type, info);
  if (info.isSigned) {
    const uint64_t limit = value.negative ? static_cast<uint64_t>(-(signedMinimum(info.bytes) + 1)) + 1
                                          : static_cast<uint64_t>(signedMaximum(info.bytes));
    if (value.magnitude > limit) return kHrDispOverflow;
  } else if ((value.negative && value.magnitude != 0) || value.magnitude > unsignedMaximum(info.bytes)) {
    return kHrDispOverflow;
  }
  storeBits(out, type, value.bits());
  return kHrOk;
}

// Rounds half to even without depending on the floating-point environment.
double roundHalfEven(double value) {
  const double floor = std::floor(value);
  const double difference = value - floor;
  if (difference > 0.5) return floor + 1;
  if (difference < 0.5) return floor;
  return std::fmod(floor, 2.0) == 0 ? floor : floor + 1;
}

HResult integerFromDouble(Variant& out, uint16_t type, double value) {
  if (std::isnan(value)) return kHrDispOverflow;
  const double rounded = roundHalfEven(value);
  IntegerType info;
  integerTypeOf(type, info);
  if (info.bytes == 8) {
    if (info.isSigned) {
      if (rounded < -9223372036854775808.0 || rounded >= 9223372036854775808.0) return kHrDispOverflow;
      storeBits(out, type, static_cast<uint64_t>(static_cast<int64_t>(rounded)));
    } else {
      if (rounded < 0 || rounded >= 18446744073709551616.0) return kHrDispOverflow;
      storeBits(out, type, static_cast<uint64_t>(rounded));
    }
    return kHrOk;
  }
  if (info.isSigned) {
    if (rounded < static_cast<double>(signedMinimum(info.bytes)) ||
        rounded > static_cast<double>(signedMaximum(info.bytes)))
      return kHrDispOverflow;
    storeBits(out, type, static_cast<uint64_t>(static_cast<int64_t>(rounded)));
  } else {
    if (rounded < 0 || rounded > static_cast<double>(unsignedMaximum(info.bytes))) return kHrDispOverflow;
    storeBits(out, type, static_cast<uint64_t>(rounded));
  }
  return kHrOk;
}

HResult integerFromCurrency(Variant& out, uint16_t type, int64_t currency) {
  int64_t whole = currency / 10000;
  const int64_t remainder = currency % 10000;
  if (type == vtI8) {
    // Negative amounts with a fraction round down.
    if (remainder < 0) {
      --whole;
    } else if (remainder > 5000 || (remainder == 5000 && (whole & 1))) {
      ++whole;
    }
  } else if (remainder > 5000 || (remainder == 5000 && (whole & 1))) {
    ++whole;
  } else if (remainder < -5000 || (remainder == -5000 && (whole & 1))) {
    --whole;
  }
  return storeInteger(out, type, Integer::fromSigned(whole));
}

// -- Currency, reals, dates -----------------------------------------------

// The double's exact value rounded to four decimals.
HResult currencyFromDouble(Variant& out, double value) {
  if (!(std::fabs(value) < 1e15)) return kHrDispOverflow;
  char buffer[64];
  const auto printed = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 4);
  uint64_t magnitude = 0;
  bool negative = false;
  for (const char* c = buffer; c != printed.ptr; ++c) {
    if (*c == '-') negative = true;
    if (*c >= '0' && *c <= '9') magnitude = magnitude * 10 + static_cast<unsigned>(*c - '0');
  }
  if (magnitude > (negative ? uint64_t{1} << 63 : INT64_MAX)) return kHrDispOverflow;
  out.vt = vtCy;
  out.cyVal = static_cast<int64_t>(negative ? 0 - magnitude : magnitude);
  return kHrOk;
}

// Whole numbers of the currency range; the reference leaves out the two
// outermost ones for 64-bit signed sources.
HResult currencyFromInteger(Variant& out, uint16_t sourceType, Integer value) {
  const uint64_t limit = sourceType == vtI8 ? 922337203685476u : 922337203685477u;
  if (value.magnitude > limit) return kHrDispOverflow;
  out.vt = vtCy;
  out.cyVal = static_cast<int64_t>(value.bits() * 10000);
  return kHrOk;
}

HResult r4FromDouble(Variant& out, double value) {
  const float single = static_cast<float>(value);
  if (std::isinf(single)) return kHrDispOverflow;
  out.vt = vtR4;
  out.fltVal = single;
  return kHrOk;
}

HResult dateFromDouble(Variant& out, double value) {
  if (!(value >= oletext::kMinDate && value < oletext::kMaxDateExclusive)) return kHrDispOverflow;
  out.vt = vtDate;
  out.date = value;
  return kHrOk;
}

void storeBool(Variant& out, bool value) {
  out.vt = vtBool;
  out.boolVal = value ? kVariantTrue : kVariantFalse;
}

HResult storeText(Variant& out, const std::u16string& text) {
  out.bstrVal = sysAllocStringLen(text.data(), static_cast<uint32_t>(text.size()));
  if (!out.bstrVal) return kHrOutOfMemory;
  out.vt = vtBstr;
  return kHrOk;
}

// -- Sources --------------------------------------------------------------

// Conversions from an exact integer (every integer type, and booleans).
HResult fromInteger(Variant& out, uint16_t sourceType, Integer value, uint16_t target, uint16_t flags) {
  IntegerType targetInfo, sourceInfo;
  if (integerTypeOf(target, targetInfo)) {
    if (sourceType == vtBool) {
      storeBits(out, target, value.bits());
      return kHrOk;
    }
    integerTypeOf(sourceType, sourceInfo);
    if (sourceInfo.bytes == targetInfo.bytes) {
      storeBits(out, target, value.bits());
      return kHrOk;
    }
    if (target == vtUI2 && sourceInfo.bytes == 8) {
      // The reference checks 64-bit values against the UI4 range here and
      // keeps the low 16 bits.
      if (value.negative && value.magnitude != 0) return kHrDispOverflow;
      if (value.magnitude > UINT32_MAX) return kHrDispOverflow;
      storeBits(out, target, value.magnitude);
      return kHrOk;
    }
    return storeInteger(out, target, value);
  }
  switch (target) {
    case vtR4: return r4FromDouble(out, value.toDouble());
    case vtR8:
      out.vt = vtR8;
      out.dblVal = value.toDouble();
      return kHrOk;
    case vtDate: return dateFromDouble(out, value.toDouble());
    case vtCy: return currencyFromInteger(out, sourceType, value);
    case vtBool: storeBool(out, value.magnitude != 0); return kHrOk;
    case vtBstr:
      if (sourceType == vtBool && (flags & (kVariantAlphaBool | kVariantLocalBool)))
        return storeText(out, value.magnitude != 0 ? u"True" : u"False");
      return storeText(out, value.negative ? oletext::formatSigned(static_cast<int64_t>(value.bits()))
                                           : oletext::formatUnsigned(value.magnitude));
    default: return kHrDispTypeMismatch;
  }
}

// Conversions from R4, R8 and DATE values.
HResult fromReal(Variant& out, uint16_t sourceType, double value, uint16_t target) {
  IntegerType info;
  if (integerTypeOf(target, info)) return integerFromDouble(out, target, value);
  switch (target) {
    case vtR4: return r4FromDouble(out, value);
    case vtR8:
      out.vt = vtR8;
      out.dblVal = value;
      return kHrOk;
    case vtDate:
      if (sourceType == vtR4) {
        // The reference does not check the date range for singles.
        out.vt = vtDate;
        out.date = value;
        return kHrOk;
      }
      return dateFromDouble(out, value);
    case vtCy: return currencyFromDouble(out, value);
    case vtBool: storeBool(out, value != 0); return kHrOk;
    case vtBstr: {
      if (sourceType == vtDate) {
        std::u16string text;
        const HResult hr = oletext::formatDate(value, text);
        return failed(hr) ? hr : storeText(out, text);
      }
      return storeText(out, oletext::formatDouble(value, sourceType == vtR4 ? 7 : 15));
    }
    default: return kHrDispTypeMismatch;
  }
}

HResult fromCurrency(Variant& out, int64_t currency, uint16_t target) {
  IntegerType info;
  if (integerTypeOf(target, info)) {
    return integerFromCurrency(out, target, currency);
  }
  // In extended precision, so that amounts with more bits than a double
  // holds still give the nearest double.
  const double value = static_cast<double>(static_cast<long double>(currency) / 10000.0L);
  switch (target) {
    case vtR4: return r4FromDouble(out, value);
    case vtR8:
      out.vt = vtR8;
      out.dblVal = value;
      return kHrOk;
    case vtDate:
      // The reference does not check the date range here.
      out.vt = vtDate;
      out.date = value;
      return kHrOk;
    case vtBool: storeBool(out, currency != 0); return kHrOk;
    case vtBstr: return storeText(out, oletext::formatCurrency(currency));
    default: return kHrDispTypeMismatch;
  }
}

// A radix ("&H", "&O") number as a floating-point value: the reference
// accepts the 32-bit signed range only.
HResult radixToDouble(const ParsedNumber& number, double& value) {
  if (number.radixOverflow) return kHrDispOverflow;
  if (number.radixValue <= 0x7FFFFFFF) {
    value = static_cast<double>(number.radixValue);
  } else if (number.radixValue == 0x80000000u) {
    value = -2147483648.0;
  } else {
    return kHrDispOverflow;
  }
  return kHrOk;
}

HResult numberToDouble(const ParsedNumber& number, double& value) {
  return number.radix ? radixToDouble(number, value) : oletext::parsedToDouble(number, value);
}

bool equalsIgnoringCase(std::u16string_view text, std::u16string_view word) {
  if (text.size() != word.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t a = text[i], b = word[i];
    if (a >= u'A' && a <= u'Z') a = static_cast<char16_t>(a - u'A' + u'a');
    if (b >= u'A' && b <= u'Z') b = static_cast<char16_t>(b - u'A' + u'a');
    if (a != b) return false;
  }
  return true;
}

HResult fromText(Variant& out, Bstr source, uint16_t target) {
  const std::u16string_view text(source ? source : u"", sysStringLen(source));
  if (target == vtBstr) return storeText(out, std::u16string(text));
  if (target == vtDate) {
    double date;
    const HResult hr = oletext::parseDate(text, date);
    if (failed(hr)) return hr;
    out.vt = vtDate;
    out.date = date;
    return kHrOk;
  }
  if (target == vtBool) {
    if (equalsIgnoringCase(text, u"True") || text == u"#TRUE#") {
      storeBool(out, true);
      return kHrOk;
    }
    if (equalsIgnoringCase(text, u"False") || text == u"#FALSE#") {
      storeBool(out, false);
      return kHrOk;
    }
  }
  ParsedNumber number;
  HResult hr = oletext::parseNumber(text, number);
  if (failed(hr)) return hr;

  IntegerType info;
  if (integerTypeOf(target, info)) {
    if (number.radix) {
      // Radix forms fill the type's bits: &HFFFF is -1 as I2.
      // 64-bit values that round to 2^64 as a double count as too large.
      if (number.radixOverflow || number.radixValue > unsignedMaximum(info.bytes) ||
          number.radixValue >= 0xFFFFFFFFFFFFFC00u)
        return kHrDispOverflow;
      storeBits(out, target, number.radixValue);
      return kHrOk;
    }
    if (info.isSigned) {
      int64_t value;
      hr = oletext::parsedToSigned(number, signedMinimum(info.bytes), signedMaximum(info.bytes), value);
      if (succeeded(hr)) storeBits(out, target, static_cast<uint64_t>(value));
    } else {
      uint64_t value;
      hr = oletext::parsedToUnsigned(number, unsignedMaximum(info.bytes), value);
      if (succeeded(hr)) storeBits(out, target, value);
    }
    return hr;
  }

  if (target == vtCy && number.radix) return kHrDispOverflow;
  double value;
  hr = numberToDouble(number, value);
  if (failed(hr)) return hr;
  switch (target) {
    case vtR4:
      // Magnitudes below the smallest single-precision value do not fit.
      if (value != 0 && std::fabs(value) < static_cast<double>(FLT_TRUE_MIN)) return kHrDispOverflow;
      return r4FromDouble(out, value);
    case vtR8:
      out.vt = vtR8;
      out.dblVal = value;
      return kHrOk;
    case vtCy: return currencyFromDouble(out, value);
    case vtBool: storeBool(out, value != 0); return kHrOk;
    default: return kHrDispTypeMismatch;
  }
}

HResult fromEmpty(Variant& out, uint16_t target) {
  IntegerType info;
  if (integerTypeOf(target, info)) {
    storeBits(out, target, 0);
    return kHrOk;
  }
  switch (target) {
    case vtR4:
    case vtR8:
    case vtDate:
    case vtCy:
    case vtBool:
      out.vt = target;
      out.llVal = 0;
      return kHrOk;
    case vtBstr: return storeText(out, std::u16string());
    default: return kHrDispTypeMismatch;
  }
}

// A one-dimensional byte array and a string convert into each other byte
// for byte, as in OLE.
HResult textFromBytes(Variant& out, SafeArray* bytes) {
  if (!bytes || bytes->dims != 1) return kHrInvalidArg;
  out.bstrVal = sysAllocStringByteLen(static_cast<const char*>(bytes->data), bytes->bounds[0].elements);
  if (!out.bstrVal) return kHrOutOfMemory;
  out.vt = vtBstr;
  return kHrOk;
}

HResult bytesFromText(Variant& out, Bstr text) {
  const SafeArrayBound bound{sysStringByteLen(text), 0};
  SafeArray* bytes = safeArrayCreate(vtUI1, 1, &bound);
  if (!bytes) return kHrOutOfMemory;
  if (bound.elements) std::memcpy(bytes->data, text, bound.elements);
  out.vt = vtArray | vtUI1;
  out.parray = bytes;
  return kHrOk;
}

// Whether OLE knows the target type at all; known types it cannot convert
// to fail with a type mismatch instead.
bool isKnownTarget(uint16_t type) {
  const uint16_t base = type & vtTypeMask;
  if (type & 0x9000) return false;
  if (type & (vtArray | vtByRef)) return ole::isValidVariantType(type);
  return base <= vtDecimal || (base >= vtI1 && base <= vtUInt) || base == vtRecord;
}

// Converts a plain (not by-reference) source of another type.
HResult coerce(Variant& out, const Variant& source, uint16_t target, uint16_t flags) {
  const uint16_t type = source.vt;
  if (type == vtNull) return target == vtNull ? kHrOk : kHrDispTypeMismatch;
  if (target == vtEmpty || target == vtNull) {
    out.vt = target;
    return kHrOk;
  }
  if (type == (vtArray | vtUI1) && target == vtBstr) return textFromBytes(out, source.parray);
  if (type == vtBstr && target == (vtArray | vtUI1)) return bytesFromText(out, source.bstrVal);
  if ((type | target) & (vtArray | vtByRef)) return kHrDispTypeMismatch;
  switch (type) {
    case vtEmpty: return fromEmpty(out, target);
    case vtI1: return fromInteger(out, type, Integer::fromSigned(source.cVal), target, flags);
    case vtI2: return fromInteger(out, type, Integer::fromSigned(source.iVal), target, flags);
    case vtBool: return fromInteger(out, type, Integer::fromSigned(source.boolVal), target, flags);
    case vtI4:
    case vtInt: return fromInteger(out, type, Integer::fromSigned(source.lVal), target, flags);
    case vtI8: return fromInteger(out, type, Integer::fromSigned(source.llVal), target, flags);
    case vtUI1: return fromInteger(out, type, Integer::fromUnsigned(source.bVal), target, flags);
    case vtUI2: return fromInteger(out, type, Integer::fromUnsigned(source.uiVal), target, flags);
    case vtUI4:
    case vtUInt: return fromInteger(out, type, Integer::fromUnsigned(source.ulVal), target, flags);
    case vtUI8: return fromInteger(out, type, Integer::fromUnsigned(source.ullVal), target, flags);
    case vtR4: return fromReal(out, type, source.fltVal, target);
    case vtR8: return fromReal(out, type, source.dblVal, target);
    case vtDate: return fromReal(out, type, source.date, target);
    case vtCy: return fromCurrency(out, source.cyVal, target);
    case vtBstr: return fromText(out, source.bstrVal, target);
    case vtDispatch:
      // Converting an object asks it for its value; a null object has none.
      return source.punkVal ? kHrDispTypeMismatch : kHrDispBadVarType;
    case vtRecord: return kHrInvalidArg;
    default: return kHrDispTypeMismatch;  // errors, interfaces, decimals, plain VT_VARIANT
  }
}

}  // namespace

HResult variantChangeTypeEx(Variant* target, const Variant* source, Lcid locale, uint16_t flags, uint16_t type) {
  (void)locale;  // one locale on this backend
  if (!target || !source) return kHrInvalidArg;
  if (!isKnownTarget(type) || !ole::isValidVariantType(source->vt)) return kHrDispBadVarType;
  if (source->vt == vtRecord) return kHrInvalidArg;

  // Like OLE, work on a deep copy of the source with references followed,
  // so target and source may be the same variant.
  Variant value;
  variantInit(&value);
  HResult hr = variantCopyInd(&value, source);
  if (failed(hr)) return hr;

  Variant result;
  variantInit(&result);
  if (value.vt == type) {
    result = value;
  } else {
    hr = coerce(result, value, type, flags);
    variantClear(&value);
    if (failed(hr)) return hr;
  }
  hr = variantClear(target);
  if (failed(hr)) {
    variantClear(&result);
    return hr;
  }
  *target = result;
  return kHrOk;
}

HResult variantChangeType(Variant* target, const Variant* source, uint16_t flags, uint16_t type) {
  return variantChangeTypeEx(target, source, kLocaleUserDefault, flags, type);
}

}  // namespace corvane::platform
