// TkivParamsList: an ordered list of named values (TkivParamsListItem) with
// virtual rows separated by delimiter items. Lists cross the boundary between
// the plug-in and its host as objects of one shared layout, recognised by the
// signature word, so every operation here works on the fields directly and
// reaches module-specific code only through the list's and items' class
// references: a host list grown by the plug-in gets items of the host's item
// class, which the host later frees with its own code.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "common/ansi_string.h"
#include "common/params_list_item.h"
#include "platform/abi.h"
#include "platform/ole_variant.h"

namespace corvane {

class TkivParamsList;
struct IkivParamsListA;
struct IkivParamsListItemA;

inline constexpr uint32_t ParamsListSignature = 0x0FDE2E4B;

// Notification actions of the list's Notify entry.
enum class ListNotification : int32_t { Added = 0, Extracted = 1, Deleted = 2 };

// The class reference of a list: name, parent, and the operations a derived
// list class may replace, in this order. Entries never throw: they report
// failure by their result and the caller raises.
struct TkivParamsListClass {
  const char* ClassName;
  const TkivParamsListClass* Parent;
  bool (CV_STDCALL* Grow)(TkivParamsList* list);  // makes room for at least one more item
  void (CV_STDCALL* Notify)(TkivParamsList* list, TkivParamsListItem* item, ListNotification action);
  void (CV_STDCALL* Clear)(TkivParamsList* list);  // destroys every item, empties the list
  TkivParamsList* (CV_STDCALL* Create)(const TkivParamsListClass* listClass);  // nullptr on failure
  // Appends a copy of source; nullptr for a blank name, or (with failed set) on failure.
  TkivParamsListItem* (CV_STDCALL* AddItemCopy)(TkivParamsList* list, const TkivParamsListItem* source,
                                                bool* failed);
  // Appends an item read through the item interface; nullptr for a null
  // source, or (with failed set) on failure.
  TkivParamsListItem* (CV_STDCALL* AddItemFromInterface)(TkivParamsList* list, IkivParamsListItemA* source,
                                                         bool* failed);
  void (CV_STDCALL* Destroy)(TkivParamsList* list);
};

// Destroys a list through its own class.
struct ParamsListDeleter {
  void operator()(TkivParamsList* list) const;
};
using ParamsListPtr = std::unique_ptr<TkivParamsList, ParamsListDeleter>;

// One entry of the published table of storage data types.
struct TStorageDataType {
  std::string_view Name;
  uint16_t Code;
};
extern const TStorageDataType StorageDataTypes[18];

class TkivParamsList {
 public:
  static const TkivParamsListClass Class;

  // A new, empty list of the given class. Throws std::bad_alloc.
  static ParamsListPtr Create(const TkivParamsListClass* listClass = &Class);
  // True when the object at this address carries the live-list signature.
  static bool HasSignature(const void* object);
  void Destroy() { classRef_->Destroy(this); }

  const TkivParamsListClass* ClassRef() const { return classRef_; }
  bool InheritsFrom(const TkivParamsListClass* listClass) const;
  uint32_t Signature() const { return signature_; }
  const AnsiString& ListId() const { return listId_; }
  int32_t Tag() const { return tag_; }
  void SetTag(int32_t tag) { tag_ = tag; }
  const TkivParamsListItemClass* ItemClass() const { return itemClass_; }
  void SetItemClass(const TkivParamsListItemClass* itemClass) { itemClass_ = itemClass; }

  int32_t Count() const { return count_; }
  int32_t Capacity() const { return capacity_; }
  // nullptr when index < 0 or index >= Count.
  TkivParamsListItem* Items(int32_t index) const { return index >= 0 && index < count_ ? items_[index] : nullptr; }
  TkivParamsListItem* Last() const { return count_ > 0 ? items_[count_ - 1] : nullptr; }

  // Appends (inserts) a new item with this exact name, its lower-case form,
  // the value by the storage rule, DataType 0 and Quality 2. nullptr and no
  // change when the name is empty or made of characters up to 0x20 only.
  TkivParamsListItem* AddItem(std::string_view name, const platform::Variant& value);
  // index 0..Count; otherwise EListError "List index out of bounds (%d)".
  TkivParamsListItem* InsertItem(int32_t index, std::string_view name, const platform::Variant& value);
  // index >= Count does nothing; index < 0 is an assertion failure.
  void Delete(int32_t index);
  void Clear() { classRef_->Clear(this); }

  // end = -1 searches to the last item; end = -2 searches the row that
  // begins at start only.
  TkivParamsListItem* ItemByName(std::string_view name, int32_t start = 0, int32_t end = -1) const;
  int32_t ItemIndexByName(std::string_view name, int32_t start = 0, int32_t end = -1) const;
  platform::OleVariant ItemValueByName(std::string_view name, int32_t start = 0, int32_t end = -1) const;
  platform::OleVariant ItemValueByNameDef(std::string_view name, const platform::Variant& defaultValue,
                                          int32_t start = 0, int32_t end = -1) const;
  TkivParamsListItem* SetItem(std::string_view name, const platform::Variant& value, bool create);

  TkivParamsListItem* AddItemCopy(const TkivParamsListItem* source);
  // A copy that cannot be completed raises and takes back what it appended.
  bool CopyFrom(const TkivParamsList* source);
  bool CopyRangeFrom(const TkivParamsList* source, int32_t start, int32_t end);
  // The two operations that read through an interface live in
  // params_list_copy.cpp.
  // Appends an item made from the name, value, lower-case name text, data
  // type and quality read through the interface (blank names included);
  // nullptr for a null source. Failures of the source raise.
  TkivParamsListItem* AddItemFromInterface(IkivParamsListItemA* source);
  // Appends items start..end (end < 0 or beyond the source: to its last
  // item) read through the interface, as AddItem does (blank names are
  // skipped), with their lower-case name, data type and quality. false only
  // for a null source. A failing call on the source, or an allocation
  // refused, raises and takes back what the copy had appended.
  bool CopyFromInterface(IkivParamsListA* source, int32_t start = 0, int32_t end = -1);
  // Appends what CopyFromInterface would append from a wrapper of source,
  // read directly: the lower-case names follow the wrapper's text of each
  // name, not the source items' own. CopyFromInterface takes this way when
  // the source is a wrapper of this library. Raises for a source that is no
  // live list.
  void CopyAsThroughWrapper(const TkivParamsList& source, int32_t start = 0, int32_t end = -1);

  void NewRow();
  bool FindRow(int32_t start, int32_t& index, bool& isDelimiter) const;
  void AppendRow(const TkivParamsList& source);

  // Assertion failure "Parameter is not defined" when the name is absent.
  platform::OleVariant ParamValue(std::string_view name) const;
  TkivParamsListItem* SetParamValue(std::string_view name, const platform::Variant& value);

 protected:
  explicit TkivParamsList(const TkivParamsListClass* listClass);
  ~TkivParamsList();
  TkivParamsList(const TkivParamsList&) = delete;
  TkivParamsList& operator=(const TkivParamsList&) = delete;

  // The class-table entries of this class, for derived classes to reuse.
  static bool CV_STDCALL GrowInstance(TkivParamsList* list);
  static void CV_STDCALL NotifyInstance(TkivParamsList* list, TkivParamsListItem* item, ListNotification action);
  static void CV_STDCALL ClearInstance(TkivParamsList* list);
  static TkivParamsList* CV_STDCALL CreateInstance(const TkivParamsListClass* listClass);
  static TkivParamsListItem* CV_STDCALL AddItemCopyInstance(TkivParamsList* list,
                                                           const TkivParamsListItem* source, bool* failed);
  static TkivParamsListItem* CV_STDCALL AddItemFromInterfaceInstance(TkivParamsList* list,
                                                                    IkivParamsListItemA* source, bool* failed);
  static void CV_STDCALL DestroyInstance(TkivParamsList* list);

  // Destroys every item and empties the list (what Clear does for this class).
  void DestroyItems();

 private:
  friend struct ParamsListLayout;

  // Takes back the items appended after it was made unless kept: a copy that
  // fails half-way leaves the list as it was.
  class TAppendedItems {
   public:
    explicit TAppendedItems(TkivParamsList& list) : list_(list), count_(list.count_) {}
    TAppendedItems(const TAppendedItems&) = delete;
    TAppendedItems& operator=(const TAppendedItems&) = delete;
    ~TAppendedItems();
    void Keep() { kept_ = true; }

   private:
    TkivParamsList& list_;
    const int32_t count_;
    bool kept_ = false;
  };

  void CheckAlive() const;
  TkivParamsListItem* NewItem(std::string_view name, const platform::Variant& value) const;
  // AddItem of source's name and value, the names sharing source's texts;
  // only for a source whose lower-case name is the one AddItem would make.
  TkivParamsListItem* AddItemSharingNames(const TkivParamsListItem& source);
  void InsertAt(int32_t index, TkivParamsListItem* item);

  const TkivParamsListClass* classRef_;
  TkivParamsListItem** items_ = nullptr;
  int32_t count_ = 0;
  int32_t capacity_ = 0;
  uint32_t signature_ = ParamsListSignature;
  AnsiString listId_;
  int32_t tag_ = 0;
  const TkivParamsListItemClass* itemClass_ = &TkivParamsListItem::Class;
};

}  // namespace corvane
