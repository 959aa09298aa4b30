#include "common/params_list_copy.h"

#include <algorithm>
#include <new>
#include <string>
#include <string_view>

#include "common/exceptions.h"
#include "common/params_list.h"
#include "common/params_list_wrap.h"
#include "platform/code_page.h"

namespace corvane {

using platform::OleVariant;

namespace {

bool isAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Whether lower is text with A to Z lowered.
bool isLowerAsciiOf(std::string_view lower, std::string_view text) {
  if (lower.size() != text.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (lower[i] != (c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c)) return false;
  }
  return true;
}

std::string_view TextOf(const char* text) { return text != nullptr ? std::string_view(text) : std::string_view(); }

// The indexes to copy from a list of count items: start..end, clipped to the
// items that exist, so that a caller's range can never address a missing item.
struct CopyRange {
  int32_t first;
  int32_t last;
};
CopyRange RangeOf(int32_t count, int32_t start, int32_t end) {
  return {std::max(start, 0), (end < 0 || end >= count) ? count - 1 : end};
}

InterfaceRef<IkivParamsListItemA> ItemOf(IkivParamsListA& list, int32_t index) {
  InterfaceRef<IkivParamsListItemA> item;
  CheckBoundaryResult(list.GetItem(index, item.put()), "IkivParamsListA.GetItem");
  return item;
}

OleVariant ValueOf(IkivParamsListItemA& item) {
  OleVariant value;
  CheckBoundaryResult(item.GetValue(value.get()), "IkivParamsListItemA.GetValue");
  return value;
}

// Gives item the lower-case name, data type and quality read through source.
// The lower-case name text arrives as UTF-8; it is lowered again by the
// locale's rules, because the text that item wrappers hand out has only A to
// Z lowered, and an item whose lower-case name keeps other capitals could
// never be found by its own name. A foreign item may hand out no text at all
// (the interface allows nil); the item then keeps the lower-case name made
// from its name, for the same reason.
void TakeAttributes(TkivParamsListItem& item, std::string_view lower, uint32_t dataType, uint8_t quality) {
  if (!lower.empty()) item.SetLowerName(platform::ansiLower(platform::utf8ToAnsi(lower)));
  item.SetDataType(dataType);
  item.SetQuality(quality);
}

void TakeAttributes(TkivParamsListItem& item, IkivParamsListItemA& source) {
  TakeAttributes(item, TextOf(source.GetLowerNameText()), source.GetDataType(), source.GetQuality());
}

}  // namespace

bool TkivParamsList::CopyFromInterface(IkivParamsListA* source, int32_t start, int32_t end) {
  if (source == nullptr) return false;
  // A wrapper of this library's own is read without an item wrapper per
  // item: it would hand out exactly what the list holds.
  if (const TkivParamsList* own = TkivParamsListWrap::ListBehind(source)) {
    CopyAsThroughWrapper(*own, start, end);
    return true;
  }
  // The count is taken once, so copying a list into itself doubles it once.
  const CopyRange range = RangeOf(source->GetCount(), start, end);
  TAppendedItems appended(*this);
  for (int32_t i = range.first; i <= range.last; ++i) {
    InterfaceRef<IkivParamsListItemA> item = ItemOf(*source, i);
    if (!item) continue;
    const OleVariant value = ValueOf(*item);
    TkivParamsListItem* copy = AddItem(TextOf(item->GetName()), value.raw());
    if (copy != nullptr) TakeAttributes(*copy, *item);
  }
  appended.Keep();
  return true;
}

void TkivParamsList::CopyAsThroughWrapper(const TkivParamsList& source, int32_t start, int32_t end) {
  source.CheckAlive();
  const CopyRange range = RangeOf(source.Count(), start, end);
  TAppendedItems appended(*this);
  for (int32_t i = range.first; i <= range.last; ++i) {
    const TkivParamsListItem& item = *source.Items(i);
    const std::string_view name = item.Name().view();
    if (isAscii(name)) {
      // The wrapper's text is the name with A to Z lowered, which is the
      // lower-case name AddItem makes; when the item has that one already,
      // the copy shares both texts instead of making them again.
      TkivParamsListItem* copy = isLowerAsciiOf(item.LowerName().view(), name) ? AddItemSharingNames(item)
                                                                                : AddItem(name, item.ValueRef());
      if (copy == nullptr) continue;
      copy->SetDataType(item.DataType());
      copy->SetQuality(item.Quality());
    } else if (TkivParamsListItem* copy = AddItem(name, item.ValueRef())) {
      TakeAttributes(*copy, ItemWrapperLowerNameText(name), item.DataType(), item.Quality());
    }
  }
  appended.Keep();
}

TkivParamsListItem* TkivParamsList::AddItemFromInterface(IkivParamsListItemA* source) {
  bool failed = false;
  TkivParamsListItem* item = classRef_->AddItemFromInterface(this, source, &failed);
  if (failed) throw Exception("Unable to add an item read through IkivParamsListItemA");
  return item;
}

TkivParamsListItem* CV_STDCALL TkivParamsList::AddItemFromInterfaceInstance(TkivParamsList* list,
                                                                           IkivParamsListItemA* source,
                                                                           bool* failed) {
  *failed = false;
  if (source == nullptr) return nullptr;
  TkivParamsListItem* item = nullptr;
  try {
    const OleVariant value = ValueOf(*source);
    item = list->NewItem(TextOf(source->GetName()), value.raw());
    TakeAttributes(*item, *source);
  } catch (...) {
    if (item != nullptr) item->Destroy();
    *failed = true;
    return nullptr;
  }
  try {
    list->InsertAt(list->count_, item);  // destroys the item itself when it cannot be added
  } catch (...) {
    *failed = true;
    return nullptr;
  }
  return item;
}

namespace {

// What AddItem through a list wrapper of this library does with each item,
// without an item wrapper per item: the item's lower-case name text handed
// to such a wrapper stays with the wrapper, so the list keeps the lower-case
// name AddItem made. Failures raise as the interface's would.
void appendThroughOwnWrapper(const TkivParamsList& source, TkivParamsList& destination) {
  const int32_t count = source.Count();
  for (int32_t i = 0; i < count; ++i) {
    const TkivParamsListItem& item = *source.Items(i);
    TkivParamsListItem* copy = nullptr;
    try {
      copy = destination.AddItem(item.Name().view(), item.ValueRef());
    } catch (const std::bad_alloc&) {
      CheckBoundaryResult(platform::kHrOutOfMemory, "IkivParamsListA.AddItem");
    } catch (...) {
      CheckBoundaryResult(platform::kHrUnexpected, "IkivParamsListA.AddItem");
    }
    if (copy == nullptr) continue;
    copy->SetDataType(item.DataType());
    copy->SetQuality(item.Quality());
  }
}

}  // namespace

void CopyToInterface(const TkivParamsList& source, IkivParamsListA* destination) {
  if (destination == nullptr) return;
  if (TkivParamsList* own = TkivParamsListWrap::ListBehind(destination)) {
    appendThroughOwnWrapper(source, *own);
    return;
  }
  const int32_t count = source.Count();
  for (int32_t i = 0; i < count; ++i) {
    const TkivParamsListItem& item = *source.Items(i);
    const std::string name = item.Name().str();
    OleVariant value = item.Value();
    InterfaceRef<IkivParamsListItemA> copy;
    CheckBoundaryResult(destination->AddItem(name.empty() ? nullptr : name.c_str(), value.get(), copy.put()),
                        "IkivParamsListA.AddItem");
    if (!copy) continue;
    const std::string lower = ItemWrapperLowerNameText(name);
    copy->SetLowerNameText(lower.empty() ? nullptr : lower.c_str());
    copy->SetDataType(item.DataType());
    copy->SetQuality(item.Quality());
  }
}

void CopyToInterface(IkivParamsListA* source, IkivParamsListA* destination, int32_t start, int32_t end) {
  if (source == nullptr || destination == nullptr) return;
  const CopyRange range = RangeOf(source->GetCount(), start, end);
  for (int32_t i = range.first; i <= range.last; ++i) {
    InterfaceRef<IkivParamsListItemA> item = ItemOf(*source, i);
    if (!item) continue;
    OleVariant value = ValueOf(*item);
    InterfaceRef<IkivParamsListItemA> copy;
    CheckBoundaryResult(destination->AddItem(item->GetName(), value.get(), copy.put()), "IkivParamsListA.AddItem");
    if (!copy) continue;
    copy->SetLowerNameText(item->GetLowerNameText());
    copy->SetDataType(item->GetDataType());
    copy->SetQuality(item->GetQuality());
  }
}

}  // namespace corvane
