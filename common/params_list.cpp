#include "common/params_list.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "common/exceptions.h"
#include "platform/code_page.h"
#include "platform/guid.h"
#include "platform/shared_memory.h"

namespace corvane {

using platform::OleVariant;
using platform::Variant;

namespace {

constexpr std::string_view kUnit = "Public\\Common\\kivParamLst";

bool isBlank(std::string_view name) {
  return std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) <= 0x20; });
}

Variant nullVariant() {
  Variant value{};
  value.vt = platform::vtNull;
  return value;
}

// Sets the item's name and its lower-case form. ASCII letters map alike in
// every ANSI code page, and a name of ASCII bytes holds no multi-byte
// character, so such names (nearly all) are mapped here, without the code
// page's tables or a temporary string.
void setNames(TkivParamsListItem& item, std::string_view name) {
  bool ascii = true, lowerAlready = true;
  for (const char c : name) {
    if (static_cast<unsigned char>(c) >= 0x80) {
      ascii = false;
      break;
    }
    if (c >= 'A' && c <= 'Z') lowerAlready = false;
  }
  if (!ascii) {
    const std::string lower = platform::ansiLower(name);
    if (lower != name) {
      item.SetName(name);
      item.SetLowerName(std::string_view(lower));
      return;
    }
  } else if (!lowerAlready) {
    char small[64];
    std::string large;
    char* lower = small;
    if (name.size() > sizeof small) {
      large.resize(name.size());
      lower = large.data();
    }
    for (size_t i = 0; i < name.size(); ++i) {
      const char c = name[i];
      lower[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    item.SetName(name);
    item.SetLowerName(std::string_view(lower, name.size()));
    return;
  }
  // Most names are lower case already: both fields then share one text.
  item.SetNameAsLowerName(name);
}

}  // namespace

const TStorageDataType StorageDataTypes[18] = {
    {"string", 8},  {"memo", 8},     {"bytes", 8},    {"blob", 8},     {"boolean", 11}, {"double", 5},
    {"float", 5},   {"smallint", 2}, {"word", 18},    {"integer", 3},  {"date", 7},     {"time", 7},
    {"datetime", 7}, {"dword", 19},  {"byte", 17},    {"shortint", 16}, {"int64", 20},  {"currency", 6},
};

const TkivParamsListClass TkivParamsList::Class = {
    "TkivParamsList",
    nullptr,
    &TkivParamsList::GrowInstance,
    &TkivParamsList::NotifyInstance,
    &TkivParamsList::ClearInstance,
    &TkivParamsList::CreateInstance,
    &TkivParamsList::AddItemCopyInstance,
    &TkivParamsList::AddItemFromInterfaceInstance,
    &TkivParamsList::DestroyInstance,
};

void ParamsListDeleter::operator()(TkivParamsList* list) const {
  if (list != nullptr) list->Destroy();
}

// --- construction and destruction -------------------------------------------

TkivParamsList::TkivParamsList(const TkivParamsListClass* listClass)
    : classRef_(listClass) {
  char id[platform::kGuidTextLength];
  platform::guidToChars(platform::createGuid(), id);
  listId_ = AnsiString(std::string_view(id, sizeof id));
}

TkivParamsList::~TkivParamsList() {
  // The signature goes first, so that anything looking at the list while its
  // items are destroyed sees a list that is no longer alive.
  signature_ = 0;
  classRef_->Clear(this);
  platform::sharedFree(items_);
}

TkivParamsList* CV_STDCALL TkivParamsList::CreateInstance(const TkivParamsListClass* listClass) {
  void* block = platform::sharedAlloc(sizeof(TkivParamsList));
  if (block == nullptr) return nullptr;
  try {
    return new (block) TkivParamsList(listClass);
  } catch (...) {
    platform::sharedFree(block);
    return nullptr;
  }
}

void CV_STDCALL TkivParamsList::DestroyInstance(TkivParamsList* list) {
  if (list == nullptr) return;
  list->~TkivParamsList();
  platform::sharedFree(list);
}

ParamsListPtr TkivParamsList::Create(const TkivParamsListClass* listClass) {
  TkivParamsList* list = listClass->Create(listClass);
  if (list == nullptr) throw std::bad_alloc();
  return ParamsListPtr(list);
}

bool TkivParamsList::HasSignature(const void* object) {
  if (object == nullptr) return false;
  uint32_t word;
  std::memcpy(&word, static_cast<const char*>(object) + offsetof(TkivParamsList, signature_), sizeof word);
  return word == ParamsListSignature;
}

bool TkivParamsList::InheritsFrom(const TkivParamsListClass* listClass) const {
  for (const TkivParamsListClass* c = classRef_; c != nullptr; c = c->Parent) {
    if (c == listClass) return true;
  }
  return false;
}

// --- class-table entries -----------------------------------------------------

bool CV_STDCALL TkivParamsList::GrowInstance(TkivParamsList* list) {
  // Grow by a quarter beyond 64 entries, by 16 beyond 8, else by 4.
  const int32_t delta = list->capacity_ > 64 ? list->capacity_ / 4 : list->capacity_ > 8 ? 16 : 4;
  const int32_t capacity = list->capacity_ + delta;
  void* grown = platform::sharedRealloc(list->items_, sizeof(TkivParamsListItem*) * static_cast<size_t>(capacity));
  if (grown == nullptr) return false;
  list->items_ = static_cast<TkivParamsListItem**>(grown);
  list->capacity_ = capacity;
  return true;
}

void CV_STDCALL TkivParamsList::NotifyInstance(TkivParamsList*, TkivParamsListItem*, ListNotification) {}

void CV_STDCALL TkivParamsList::ClearInstance(TkivParamsList* list) { list->DestroyItems(); }

TkivParamsListItem* CV_STDCALL TkivParamsList::AddItemCopyInstance(TkivParamsList* list,
                                                                   const TkivParamsListItem* source,
                                                                   bool* failed) {
  *failed = false;
  if (source == nullptr) return nullptr;
  try {
    TkivParamsListItem* copy = list->AddItem(source->Name().view(), source->ValueRef());
    if (copy != nullptr) {
      try {
        copy->Assign(*source);
      } catch (...) {
        list->Delete(list->count_ - 1);  // a half-made copy does not stay
        throw;
      }
    }
    return copy;
  } catch (...) {
    *failed = true;
    return nullptr;
  }
}

void TkivParamsList::DestroyItems() {
  // Detach the items first: destroying one can never reach a half-emptied list.
  TkivParamsListItem** items = items_;
  const int32_t count = count_;
  items_ = nullptr;
  count_ = 0;
  capacity_ = 0;
  for (int32_t i = 0; i < count; ++i) {
    classRef_->Notify(this, items[i], ListNotification::Deleted);
    items[i]->Destroy();
  }
  platform::sharedFree(items);
}

// --- items ---------------------------------------------------------------------

void TkivParamsList::CheckAlive() const {
  Assert(signature_ == ParamsListSignature, "Assertion failure", kUnit, __LINE__);
}

namespace {

// A new item of itemClass holding value, named by giveNames.
template <class GiveNames>
TkivParamsListItem* makeItem(const TkivParamsListItemClass* itemClass, GiveNames giveNames, const Variant& value) {
  if (IsPlainStoredType(value.vt)) {
    TkivParamsListItem* item = TkivParamsListItem::Create(itemClass);
    try {
      giveNames(*item);
    } catch (...) {
      item->Destroy();
      throw;
    }
    item->SetPlainValue(value);
    return item;
  }
  // Converted first: a value that cannot be stored leaves nothing made.
  OleVariant stored = ToStoredValue(value);
  TkivParamsListItem* item = TkivParamsListItem::Create(itemClass);
  try {
    giveNames(*item);
    item->SetStoredValue(std::move(stored));
  } catch (...) {
    item->Destroy();
    throw;
  }
  return item;
}

}  // namespace

TkivParamsListItem* TkivParamsList::NewItem(std::string_view name, const Variant& value) const {
  return makeItem(itemClass_, [name](TkivParamsListItem& item) { setNames(item, name); }, value);
}


void TkivParamsList::InsertAt(int32_t index, TkivParamsListItem* item) {
  if (count_ == capacity_ && !classRef_->Grow(this)) {
    item->Destroy();
    throw std::bad_alloc();
  }
  std::memmove(items_ + index + 1, items_ + index, sizeof(TkivParamsListItem*) * static_cast<size_t>(count_ - index));
  items_[index] = item;
  ++count_;
  classRef_->Notify(this, item, ListNotification::Added);
}

TkivParamsListItem* TkivParamsList::AddItem(std::string_view name, const Variant& value) {
  if (isBlank(name)) return nullptr;
  TkivParamsListItem* item = NewItem(name, value);
  InsertAt(count_, item);
  return item;
}

TkivParamsListItem* TkivParamsList::AddItemSharingNames(const TkivParamsListItem& source) {
  if (isBlank(source.Name().view())) return nullptr;
  TkivParamsListItem* item =
      makeItem(itemClass_, [&source](TkivParamsListItem& copy) { copy.ShareNames(source); }, source.ValueRef());
  InsertAt(count_, item);
  return item;
}

TkivParamsListItem* TkivParamsList::InsertItem(int32_t index, std::string_view name, const Variant& value) {
  if (isBlank(name)) return nullptr;
  if (index < 0 || index > count_) throw EListError::IndexOutOfBounds(index);
  TkivParamsListItem* item = NewItem(name, value);
  InsertAt(index, item);
  return item;
}

void TkivParamsList::Delete(int32_t index) {
  Assert(index >= 0, "Assertion failure", kUnit, __LINE__);
  if (index >= count_) return;
  TkivParamsListItem* item = items_[index];
  --count_;
  std::memmove(items_ + index, items_ + index + 1, sizeof(TkivParamsListItem*) * static_cast<size_t>(count_ - index));
  classRef_->Notify(this, item, ListNotification::Deleted);
  item->Destroy();
}

// --- lookups -------------------------------------------------------------------

int32_t TkivParamsList::ItemIndexByName(std::string_view name, int32_t start, int32_t end) const {
  CheckAlive();
  if (count_ == 0) return -1;
  const std::string key = platform::ansiLower(name);
  const int32_t first = std::max(start, 0);
  const int32_t last = (end < 0 || end >= count_) ? count_ - 1 : end;
  for (int32_t i = first; i <= last; ++i) {
    const TkivParamsListItem* item = items_[i];
    if (item->LowerName().view() == key) return i;
    if (end == -2 && item->IsRowDelimiter()) return -1;
  }
  return -1;
}

TkivParamsListItem* TkivParamsList::ItemByName(std::string_view name, int32_t start, int32_t end) const {
  if (count_ == 0) return nullptr;
  return Items(ItemIndexByName(name, start, end));
}

OleVariant TkivParamsList::ItemValueByName(std::string_view name, int32_t start, int32_t end) const {
  const TkivParamsListItem* item = ItemByName(name, start, end);
  return item ? item->Value() : OleVariant();
}

OleVariant TkivParamsList::ItemValueByNameDef(std::string_view name, const Variant& defaultValue, int32_t start,
                                             int32_t end) const {
  const TkivParamsListItem* item = ItemByName(name, start, end);
  return item ? item->Value() : OleVariant::copyOf(defaultValue);
}

TkivParamsListItem* TkivParamsList::SetItem(std::string_view name, const Variant& value, bool create) {
  TkivParamsListItem* item = ItemByName(name);
  // A new item is made with its value, so a value that cannot be stored
  // leaves no empty item behind.
  if (item == nullptr) return create ? AddItem(name, value) : nullptr;
  item->SetValue(value);
  return item;
}

OleVariant TkivParamsList::ParamValue(std::string_view name) const {
  const TkivParamsListItem* item = ItemByName(name);
  Assert(item != nullptr, "Parameter is not defined", kUnit, __LINE__);
  return item->Value();
}

TkivParamsListItem* TkivParamsList::SetParamValue(std::string_view name, const Variant& value) {
  TkivParamsListItem* item = ItemByName(name);
  Assert(item != nullptr, "Parameter is not defined", kUnit, __LINE__);
  item->SetValue(value);
  return item;
}

// --- copies --------------------------------------------------------------------

TkivParamsList::TAppendedItems::~TAppendedItems() {
  if (kept_) return;
  while (list_.count_ > count_) list_.Delete(list_.count_ - 1);
}

TkivParamsListItem* TkivParamsList::AddItemCopy(const TkivParamsListItem* source) {
  bool failed = false;
  TkivParamsListItem* copy = classRef_->AddItemCopy(this, source, &failed);
  if (failed) throw Exception("Unable to copy the item \"" + (source ? source->Name().str() : std::string()) + "\"");
  return copy;
}

bool TkivParamsList::CopyFrom(const TkivParamsList* source) {
  if (source == nullptr) return false;
  return CopyRangeFrom(source, 0, -1);
}

bool TkivParamsList::CopyRangeFrom(const TkivParamsList* source, int32_t start, int32_t end) {
  if (source == nullptr) return false;
  source->CheckAlive();
  // The count is taken once, so copying a list into itself doubles it once.
  const int32_t count = source->count_;
  if (count == 0) return false;
  const int32_t first = std::max(start, 0);
  const int32_t last = (end < 0 || end >= count) ? count - 1 : end;
  TAppendedItems appended(*this);
  for (int32_t i = first; i <= last; ++i) AddItemCopy(source->items_[i]);
  appended.Keep();
  return true;
}

// --- rows ----------------------------------------------------------------------

void TkivParamsList::NewRow() {
  if (count_ > 0 && Last()->IsRowDelimiter()) return;
  TkivParamsListItem* delimiter = AddItem(RowDelimiterName, nullVariant());
  delimiter->SetDataType(RowDelimiterType);
}

bool TkivParamsList::FindRow(int32_t start, int32_t& index, bool& isDelimiter) const {
  const int32_t first = std::max(start, 0);
  if (first > count_ - 1) return false;
  for (int32_t i = first;; ++i) {
    const bool delimiter = items_[i]->IsRowDelimiter();
    if (delimiter || i == count_ - 1) {
      index = i;
      isDelimiter = delimiter;
      return true;
    }
  }
}

void TkivParamsList::AppendRow(const TkivParamsList& source) {
  const bool endsInDelimiter = source.count_ > 0 && source.Last()->IsRowDelimiter();
  TAppendedItems appended(*this);
  CopyFrom(&source);
  if (!endsInDelimiter) NewRow();
  appended.Keep();
}

}  // namespace corvane
