// OleVariant: the owning wrapper of one VARIANT over the platform's OLE
// functions.
#include "platform/ole_variant.h"

#include <new>

#include "platform/os_error.h"

namespace corvane::platform {
namespace {

// Running out of memory is reported as such, whichever OLE call met it.
void check(HResult hr, const char* function) {
  if (hr == kHrOutOfMemory) throw std::bad_alloc();
  if (failed(hr)) throw OsError(function, "", static_cast<uint32_t>(hr));
}

}  // namespace

OleVariant::OleVariant(const OleVariant& other) {
  variantInit(&value_);
  check(variantCopy(&value_, &other.value_), "VariantCopy");
}

OleVariant& OleVariant::operator=(const OleVariant& other) {
  if (this != &other) {
    // Copy first, so a failing copy leaves this value as it was.
    OleVariant copy(other);
    *this = std::move(copy);
  }
  return *this;
}

OleVariant& OleVariant::operator=(OleVariant&& other) noexcept {
  if (this != &other) {
    variantClear(&value_);
    value_ = other.value_;
    variantInit(&other.value_);
  }
  return *this;
}

OleVariant OleVariant::adopt(Variant& raw) {
  OleVariant result;
  result.value_ = raw;
  variantInit(&raw);
  return result;
}

OleVariant OleVariant::copyOf(const Variant& raw) {
  OleVariant result;
  check(variantCopy(&result.value_, &raw), "VariantCopy");
  return result;
}

OleVariant OleVariant::null() {
  OleVariant result;
  result.value_.vt = vtNull;
  return result;
}

OleVariant OleVariant::fromBool(bool value) {
  OleVariant result;
  result.value_.vt = vtBool;
  result.value_.boolVal = value ? kVariantTrue : kVariantFalse;
  return result;
}

OleVariant OleVariant::fromI2(int16_t value) {
  OleVariant result;
  result.value_.vt = vtI2;
  result.value_.iVal = value;
  return result;
}

OleVariant OleVariant::fromI4(int32_t value) {
  OleVariant result;
  result.value_.vt = vtI4;
  result.value_.lVal = value;
  return result;
}

OleVariant OleVariant::fromI8(int64_t value) {
  OleVariant result;
  result.value_.vt = vtI8;
  result.value_.llVal = value;
  return result;
}

OleVariant OleVariant::fromUI1(uint8_t value) {
  OleVariant result;
  result.value_.vt = vtUI1;
  result.value_.bVal = value;
  return result;
}

OleVariant OleVariant::fromUI4(uint32_t value) {
  OleVariant result;
  result.value_.vt = vtUI4;
  result.value_.ulVal = value;
  return result;
}

OleVariant OleVariant::fromR8(double value) {
  OleVariant result;
  result.value_.vt = vtR8;
  result.value_.dblVal = value;
  return result;
}

OleVariant OleVariant::fromCurrency(int64_t scaledBy10000) {
  OleVariant result;
  result.value_.vt = vtCy;
  result.value_.cyVal = scaledBy10000;
  return result;
}

OleVariant OleVariant::fromDate(double oleDate) {
  OleVariant result;
  result.value_.vt = vtDate;
  result.value_.date = oleDate;
  return result;
}

OleVariant OleVariant::fromString(std::u16string_view text) {
  OleVariant result;
  result.value_.bstrVal = OleString(text).release();
  result.value_.vt = vtBstr;
  return result;
}

Variant OleVariant::release() {
  Variant raw = value_;
  variantInit(&value_);
  return raw;
}

OleVariant OleVariant::changedTo(uint16_t type, uint16_t flags) const {
  OleVariant result;
  check(variantChangeType(&result.value_, &value_, flags, type), "VariantChangeType");
  return result;
}

}  // namespace corvane::platform
