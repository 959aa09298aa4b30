// TkivParamsListItem: one named value of a parameter list, laid out as the
// plug-in and its host share it (class reference first; see
// params_list_layout.cpp for the offsets). Items are made and destroyed
// only through their class table, so that an item always dies by the code of
// the module whose class it belongs to.
#pragma once

#include <cstdint>
#include <string_view>

#include "common/ansi_string.h"
#include "platform/abi.h"
#include "platform/ole_variant.h"

namespace corvane {

class TkivParamsListItem;

// The class reference of an item: its name, its parent class and the two
// operations a derived item class may replace. Entries never throw.
struct TkivParamsListItemClass {
  const char* ClassName;
  const TkivParamsListItemClass* Parent;
  TkivParamsListItem* (CV_STDCALL* Create)(const TkivParamsListItemClass* itemClass);  // nullptr on failure
  void (CV_STDCALL* Destroy)(TkivParamsListItem* item);
};

// True for the types the storage rule keeps bit for bit (Empty, Null,
// numbers, dates, booleans, error codes): nothing to convert, copy or free.
inline bool IsPlainStoredType(uint16_t type) {
  return type <= platform::vtDate || type == platform::vtError || type == platform::vtBool ||
         (type >= platform::vtI1 && type <= platform::vtUInt);
}

inline constexpr uint32_t RowDelimiterType = 0xFF01;
inline constexpr std::string_view RowDelimiterName = "$NEW_ROW$";

class TkivParamsListItem {
 public:
  static const TkivParamsListItemClass Class;

  // Makes an item of the given class (Name empty, Value Empty, DataType 0,
  // Quality 2). Throws std::bad_alloc when the class cannot make one.
  static TkivParamsListItem* Create(const TkivParamsListItemClass* itemClass = &Class);
  // Frees the item through its own class.
  void Destroy() { classRef_->Destroy(this); }

  const TkivParamsListItemClass* ClassRef() const { return classRef_; }

  const AnsiString& Name() const { return name_; }
  void SetName(std::string_view name) { name_ = AnsiString(name); }
  const AnsiString& LowerName() const { return lowerName_; }
  void SetLowerName(std::string_view lowerName) { lowerName_ = AnsiString(lowerName); }
  void SetLowerName(const AnsiString& lowerName) { lowerName_ = lowerName; }
  // Name and LowerName as one text, for a name that is its own lower-case form.
  void SetNameAsLowerName(std::string_view name) { AnsiString::MakeShared(name, name_, lowerName_); }
  // Shares the texts of another item's names.
  void ShareNames(const TkivParamsListItem& other) {
    name_ = other.name_;
    lowerName_ = other.lowerName_;
  }
  uint32_t DataType() const { return dataType_; }
  void SetDataType(uint32_t dataType) { dataType_ = dataType; }
  uint8_t Quality() const { return quality_; }
  void SetQuality(uint8_t quality) { quality_ = quality; }

  // A copy of the value.
  platform::OleVariant Value() const { return platform::OleVariant::copyOf(value_); }
  // The stored value itself, for reading without a copy.
  const platform::Variant& ValueRef() const { return value_; }
  // Stores a copy by the storage rule: an 8-bit string (vtString, payload an
  // AnsiString's characters) or a wide string (vtUString, payload zero-
  // terminated UTF-16) becomes an OLE string; a by-reference value is stored
  // dereferenced; every other value is copied as it is and keeps its type.
  // Throws platform::OsError when the value cannot be copied; the old value
  // then stays.
  void SetValue(const platform::Variant& value);
  // Takes a value already in stored form (see ToStoredValue).
  void SetStoredValue(platform::OleVariant stored);
  // Stores a value of a plain type (IsPlainStoredType) as it is.
  void SetPlainValue(const platform::Variant& value) {
    if (value_.vt != platform::vtEmpty) platform::variantClear(&value_);
    value_ = value;
  }

  // Copies Name, LowerName, DataType and Quality (not Value).
  void Assign(const TkivParamsListItem& source);
  bool IsRowDelimiter() const { return dataType_ == RowDelimiterType; }

 protected:
  explicit TkivParamsListItem(const TkivParamsListItemClass* itemClass) : classRef_(itemClass) {}
  ~TkivParamsListItem() {
    if (!IsPlainStoredType(value_.vt)) platform::variantClear(&value_);
    AnsiString::ReleaseBoth(name_, lowerName_);
  }
  TkivParamsListItem(const TkivParamsListItem&) = delete;
  TkivParamsListItem& operator=(const TkivParamsListItem&) = delete;

  // The class-table entries of this class, for derived classes to reuse.
  static TkivParamsListItem* CV_STDCALL CreateInstance(const TkivParamsListItemClass* itemClass);
  static void CV_STDCALL DestroyInstance(TkivParamsListItem* item);

 private:
  friend struct ParamsListLayout;

  const TkivParamsListItemClass* classRef_;
  AnsiString name_;
  AnsiString lowerName_;
  uint32_t dataType_ = 0;
  uint8_t quality_ = 2;
  alignas(8) platform::Variant value_{};  // 8-aligned as on Windows, also where the ABI aligns doubles to 4
};

// Converts any value to the form the storage rule keeps (see SetValue).
platform::OleVariant ToStoredValue(const platform::Variant& value);

}  // namespace corvane
