#include "common/params_list_item.h"

#include <cstring>
#include <new>

#include "platform/code_page.h"
#include "platform/os_error.h"
#include "platform/shared_memory.h"

namespace corvane {

using platform::OleVariant;
using platform::Variant;

const TkivParamsListItemClass TkivParamsListItem::Class = {
    "TkivParamsListItem", nullptr, &TkivParamsListItem::CreateInstance,
    &TkivParamsListItem::DestroyInstance};

TkivParamsListItem* CV_STDCALL TkivParamsListItem::CreateInstance(const TkivParamsListItemClass* itemClass) {
  void* block = platform::sharedAlloc(sizeof(TkivParamsListItem));
  if (block == nullptr) return nullptr;
  return new (block) TkivParamsListItem(itemClass);
}

void CV_STDCALL TkivParamsListItem::DestroyInstance(TkivParamsListItem* item) {
  if (item == nullptr) return;
  item->~TkivParamsListItem();
  platform::sharedFree(item);
}

TkivParamsListItem* TkivParamsListItem::Create(const TkivParamsListItemClass* itemClass) {
  TkivParamsListItem* item = itemClass->Create(itemClass);
  if (item == nullptr) throw std::bad_alloc();
  return item;
}

namespace {

bool keepsCallerType(uint16_t type) {
  return (type >= platform::vtI2 && type <= platform::vtCy) || type == platform::vtBool ||
         (type >= platform::vtI1 && type <= platform::vtI8);
}

}  // namespace

OleVariant ToStoredValue(const Variant& value) {
  if (IsPlainStoredType(value.vt)) {
    OleVariant stored;
    stored.raw() = value;
    return stored;
  }
  if (value.vt == platform::vtString) {
    return OleVariant::fromString(platform::ansiToWide(AnsiString::Share(static_cast<const char*>(value.byref)).view()));
  }
  if (value.vt == platform::vtUString) {
    const auto* text = static_cast<const char16_t*>(value.byref);
    return OleVariant::fromString(text ? std::u16string_view(text) : std::u16string_view());
  }
  Variant raw;
  platform::variantInit(&raw);
  const platform::HResult hr = platform::variantCopyInd(&raw, &value);
  if (hr == platform::kHrOutOfMemory) throw std::bad_alloc();
  if (platform::failed(hr)) throw platform::OsError("VariantCopyInd", "item value", static_cast<uint32_t>(hr));
  OleVariant stored = OleVariant::adopt(raw);
  if (keepsCallerType(value.vt) && stored.type() != value.vt) stored = stored.changedTo(value.vt);
  return stored;
}

void TkivParamsListItem::SetValue(const Variant& value) {
  if (IsPlainStoredType(value.vt)) {
    SetPlainValue(value);
  } else {
    SetStoredValue(ToStoredValue(value));
  }
}

void TkivParamsListItem::SetStoredValue(OleVariant stored) {
  platform::variantClear(&value_);
  value_ = stored.release();
}

void TkivParamsListItem::Assign(const TkivParamsListItem& source) {
  if (&source == this) return;
  name_ = source.name_;
  lowerName_ = source.lowerName_;
  dataType_ = source.dataType_;
  quality_ = source.quality_;
}

}  // namespace corvane
