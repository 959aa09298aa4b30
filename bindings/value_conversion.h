// Conversion between host values (OLE Automation variants, 8-bit texts in the
// process's ANSI code page) and Python objects. Every call needs the
// interpreter lock. Objects are taken as borrowed handles and returned as
// owned objects.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "bindings/py_object.h"
#include "bindings/python_api.h"
#include "platform/ole_variant.h"

namespace corvane::py {

enum TDatetimeConversionMode : uint8_t { dcmToTuple = 0, dcmToDatetime = 1 };

// Classes of the time and datetime modules that date values are recognised
// by and made with; any may be missing (borrowed, kept alive by the engine).
struct TDateTypes {
  PyObject* StructTime = nullptr;
  PyObject* DateTime = nullptr;
  PyObject* Date = nullptr;
  PyObject* Time = nullptr;
  PyObject* TimeDelta = nullptr;
};

// Owner of a host value that may hold the module's 8-bit strings (variant
// type 0x100), which OLE does not know how to release, at any depth of
// variant arrays.
class THostVariant {
 public:
  THostVariant() { platform::variantInit(&value_); }
  THostVariant(const THostVariant&) = delete;
  THostVariant& operator=(const THostVariant&) = delete;
  THostVariant(THostVariant&& other) noexcept : value_(other.value_) { platform::variantInit(&other.value_); }
  THostVariant& operator=(THostVariant&& other) noexcept;
  ~THostVariant() { Clear(value_); }

  uint16_t type() const { return value_.vt; }
  const platform::Variant& raw() const { return value_; }
  platform::Variant& raw() { return value_; }

  // Releases what a raw value holds, 8-bit strings included, and empties it.
  static void Clear(platform::Variant& value);

 private:
  platform::Variant value_;
};

class TValueConverter {
 public:
  TValueConverter(const PythonApi& api, const TDateTypes& dates,
                  TDatetimeConversionMode mode = dcmToTuple)
      : api_(api), dates_(dates), mode_(mode) {}

  // New reference; throws Exception for arrays of more than three
  // dimensions and for dates a million years or more from 1899 (or not a
  // number), and EPythonError for date modes that cannot be served.
  Object VariantToPython(const platform::Variant& value) const;
  // Throws Exception for sequences nested more than kMaxSequenceDepth
  // levels deep, which a list that contains itself is.
  THostVariant PythonToVariant(Handle object) const;
  static constexpr int32_t kMaxSequenceDepth = 100;
  // A str through UTF-16 to the ANSI code page, a bytes object up to its
  // first zero byte; anything else gives "" and leaves a TypeError set.
  std::string PythonToText(Handle object) const;
  // The same text without a copy where the object holds it as it is (an
  // ASCII str, a bytes object); otherwise it is made in storage. The view
  // lives as long as the object and storage do.
  std::string_view PythonToTextView(Handle object, std::string& storage) const;
  // Never fails for want of a valid text: bytes that make no character
  // become U+FFFD.
  Object TextToPython(std::string_view text) const;
  Object WideToPython(std::u16string_view text) const;
  // Throws EPythonError for an object that is no str.
  std::u16string PythonToWide(Handle object) const;

 private:
  THostVariant PythonToVariant(Handle object, int32_t depth) const;
  void StoreWide(Handle text, platform::Variant& out) const;
  Object ScalarToPython(const platform::Variant& value) const;
  Object ArrayToPython(platform::SafeArray* array, uint16_t elementType) const;
  Object DateToPython(double date) const;
  bool PythonToDate(Handle object, double& date) const;
  std::optional<std::string> Utf8Of(Handle text) const;
  bool IsInstance(Handle object, PyTypeObject* type) const;
  bool IsInstance(Handle object, Handle type) const;

  const PythonApi& api_;
  TDateTypes dates_;
  TDatetimeConversionMode mode_;
};

// Calendar arithmetic of OLE dates (days since 1899-12-30, the fraction the
// time of day, taken as positive for dates before that day). DecodeOleDate
// takes finite dates within a million years of 1899.
struct TDateParts {
  int32_t Year, Month, Day, Hour, Minute, Second, Millisecond;
  int32_t DayOfWeek;  // Monday 0 .. Sunday 6
  int32_t DayOfYear;  // 1 January is 1
};
TDateParts DecodeOleDate(double date);
// False when the parts name no date of the years 1 to 9999.
bool EncodeOleDate(int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute,
                   int32_t second, int32_t millisecond, double& date);

}  // namespace corvane::py
