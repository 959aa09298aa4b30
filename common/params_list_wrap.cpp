// Divisions: value and text conversion at the boundary; failure handling;
// the slot tables; the list wrapper; the item wrapper.
#include "common/params_list_wrap.h"

#include <atomic>
#include <cstddef>
#include <cstring>
#include <exception>
#include <new>
#include <string_view>
#include <type_traits>
#include <typeinfo>

#include "common/exceptions.h"
#include "platform/code_page.h"
#include "platform/diagnostics.h"
#include "platform/interlocked.h"

namespace corvane {

using platform::Guid;
using platform::kHrOk;
using platform::kHrUnexpected;
using platform::OleVariant;
using platform::Variant;

namespace {

// --- value and text conversion at the boundary --------------------------------

// Which interface a call came through: it decides how texts are read.
enum class Side { A, W };

// The value a caller passed, in the form the list's storage rule takes. Texts
// passed by pointer (0x100 and 0x102, with a payload) become OLE strings: in
// the A interfaces 0x100 carries 8-bit text and 0x102 UTF-16, in the W
// interfaces both carry UTF-16. Anything else is used as it was given; a
// null address counts as Empty.
class InputValue {
 public:
  InputValue(const Variant* value, Side side) {
    if (value == nullptr) {
      given_ = converted_.get();
      return;
    }
    const void* payload = value->byref;
    if (payload != nullptr && value->vt == platform::vtString && side == Side::A) {
      converted_ = OleVariant::fromString(platform::ansiToWide(static_cast<const char*>(payload)));
      given_ = converted_.get();
    } else if (payload != nullptr && (value->vt == platform::vtString || value->vt == platform::vtUString)) {
      converted_ = OleVariant::fromString(static_cast<const char16_t*>(payload));
      given_ = converted_.get();
    } else {
      given_ = value;
    }
  }
  InputValue(const InputValue&) = delete;
  InputValue& operator=(const InputValue&) = delete;

  const Variant& get() const { return *given_; }

 private:
  OleVariant converted_;
  const Variant* given_;
};

// Names: 8-bit texts as they are, UTF-16 texts in the ANSI code page.
std::string NameOf(const char* text) { return text != nullptr ? std::string(text) : std::string(); }
std::string NameOf(const char16_t* text) {
  return text != nullptr ? platform::wideToAnsi(text) : std::string();
}

}  // namespace

std::string ItemWrapperLowerNameText(std::string_view name) {
  std::string lowered(name);
  bool ascii = true;
  for (char& c : lowered) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  }
  // 7-bit text reads the same in every code page and in UTF-8.
  if (ascii) return lowered;
  return platform::wideToUtf8(platform::ansiToWide(lowered));
}

namespace {

// The list pointer in a list wrapper object (ours or a host's: both keep it
// at the same offset).
const TkivParamsList* ListInWrapperObject(const void* object, size_t listOffset) {
  if (object == nullptr) return nullptr;
  const TkivParamsList* list;
  std::memcpy(&list, static_cast<const char*>(object) + listOffset, sizeof list);
  return list;
}

// --- failure handling ------------------------------------------------------------

// Runs the body of a method that answers an HResult.
template <class Body>
HResult Guarded(Body&& body) noexcept {
  try {
    body();
    return kHrOk;
  } catch (const std::bad_alloc&) {
    return platform::kHrOutOfMemory;
  } catch (...) {
    return kHrUnexpected;
  }
}

void ReportFailure(const char* method, const char* message) noexcept {
  try {
    platform::outputDebugString(std::string(method) + ": " + message);
  } catch (...) {
  }
}

// Runs the body of a method that cannot report a failure: the failure goes to
// the debugger output and the caller gets the fallback, never an exception.
template <class Result, class Body>
Result Shielded(const char* method, Result fallback, Body&& body) noexcept {
  try {
    return body();
  } catch (const std::exception& e) {
    ReportFailure(method, e.what());
  } catch (...) {
    ReportFailure(method, "unknown failure");
  }
  return fallback;
}

template <class Body>
void Shielded(const char* method, Body&& body) noexcept {
  Shielded(method, 0, [&] {
    body();
    return 0;
  });
}

// Clears an out parameter before the operation; a null one fails the call.
template <class T>
bool ClearOut(T* out) {
  if (out == nullptr) return false;
  std::memset(static_cast<void*>(out), 0, sizeof(T));
  return true;
}

// --- the slot tables -----------------------------------------------------------------

// Typed function pointers in slot order, matching the declarations in
// params_list_interfaces.h: the interface pointer first, stdcall on x86.
struct UnknownSlots {
  HResult(CV_STDCALL* QueryInterface)(void* self, const Guid* iid, void** object);
  uint32_t(CV_STDCALL* AddRef)(void* self);
  uint32_t(CV_STDCALL* Release)(void* self);
};

struct ListCommonSlots {
  UnknownSlots unknown;
  int32_t(CV_STDCALL* GetCount)(void* self);
  uint32_t(CV_STDCALL* GetSignature)(void* self);
  int32_t(CV_STDCALL* GetTag)(void* self);
  void(CV_STDCALL* SetTag)(void* self, int32_t tag);
  void(CV_STDCALL* Clear)(void* self);
  void(CV_STDCALL* Delete)(void* self, int32_t index);
  uint8_t(CV_STDCALL* FindRow)(void* self, int32_t start, int32_t* index, uint8_t* isDelimiter);
  void(CV_STDCALL* NewRow)(void* self);
  void(CV_STDCALL* AppendRow)(void* self, const void* wrapperObject);
};

template <class Char>
struct ListSlots {
  ListCommonSlots common;
  HResult(CV_STDCALL* GetItem)(void* self, int32_t index, void** item);
  HResult(CV_STDCALL* CopyFrom)(void* self, const void* source, uint8_t* copied);
  HResult(CV_STDCALL* CopyRangeFrom)(void* self, const void* source, int32_t start, int32_t end, uint8_t* copied);
  HResult(CV_STDCALL* ItemByName)(void* self, const Char* name, int32_t start, int32_t end, void** item);
  HResult(CV_STDCALL* ItemIndexByName)(void* self, const Char* name, int32_t start, int32_t end, int32_t* index);
  HResult(CV_STDCALL* ItemValueByName)(void* self, const Char* name, int32_t start, int32_t end, Variant* value);
  HResult(CV_STDCALL* ItemValueByNameDef)(void* self, const Char* name, const Variant* defaultValue, int32_t start,
                                          int32_t end, Variant* value);
  HResult(CV_STDCALL* AddItem)(void* self, const Char* name, const Variant* value, void** item);
  HResult(CV_STDCALL* InsertItem)(void* self, int32_t index, const Char* name, const Variant* value, void** item);
  HResult(CV_STDCALL* SetItem)(void* self, const Char* name, const Variant* value, uint8_t create, void** item);
  HResult(CV_STDCALL* AddItemCopy)(void* self, void* source, void** item);
};

struct ItemSlots {
  UnknownSlots unknown;
  void(CV_STDCALL* SetLowerNameText)(void* self, const char* text);
  void(CV_STDCALL* SetDataType)(void* self, uint32_t dataType);
  void(CV_STDCALL* SetQuality)(void* self, uint32_t quality);
  const char*(CV_STDCALL* GetLowerNameText)(void* self);
  uint32_t(CV_STDCALL* GetDataType)(void* self);
  uint8_t(CV_STDCALL* GetQuality)(void* self);
  HResult(CV_STDCALL* SetValue)(void* self, const Variant* value);
  HResult(CV_STDCALL* GetValue)(void* self, Variant* value);
  void(CV_STDCALL* SetName)(void* self, const char* name);
  const char*(CV_STDCALL* GetName)(void* self);
  uint8_t(CV_STDCALL* IsRowDelimiter)(void* self);
  void(CV_STDCALL* SetNameW)(void* self, const char16_t* name);
  const char16_t*(CV_STDCALL* GetNameW)(void* self);
  HResult(CV_STDCALL* SetValueW)(void* self, const Variant* value);
  HResult(CV_STDCALL* GetValueW)(void* self, Variant* value);
};

// What stands in front of a table: the two words the C++ ABI keeps before
// the first slot of a class's virtual table (the offset back to the whole
// object and its run-time type). Hosts read only from the first slot on; the
// prefix lets C++ callers' run-time type checks (a sanitizer's check of every
// virtual call) see our records as objects of classes that implement the
// interfaces.
template <class Object, class Slots>
struct PrefixedTable {
  ptrdiff_t offsetToObject;
  const std::type_info* type;
  Slots slots;
};
template <class Object, class Slots>
constexpr PrefixedTable<Object, Slots> Prefixed(const Slots& slots) {
  return {0, &typeid(Object), slots};
}
// The classes the prefixes name.
struct ListAObject : IkivParamsListA {};
struct ListWObject : IkivParamsListW {};
struct ItemObject : IkivParamsListItemW {};

// Each table is exactly its slots, one pointer each, in order.
static_assert(sizeof(ListSlots<char>) == 23 * sizeof(void*));
static_assert(sizeof(ListSlots<char16_t>) == 23 * sizeof(void*));
static_assert(offsetof(ListSlots<char>, GetItem) == 12 * sizeof(void*));
static_assert(offsetof(ListSlots<char>, AddItemCopy) == 22 * sizeof(void*));
static_assert(offsetof(ListCommonSlots, AppendRow) == 11 * sizeof(void*));
static_assert(sizeof(ItemSlots) == 18 * sizeof(void*));
static_assert(offsetof(ItemSlots, IsRowDelimiter) == 13 * sizeof(void*));

std::atomic<int32_t> liveListWrappers{0};
std::atomic<int32_t> liveItemWrappers{0};

constexpr std::string_view kDestroyedWithReferences =
    "TkivParamsListWrap.Destroy. Reference counter should be zero!";

}  // namespace

// --- the item wrapper's slots -----------------------------------------------------

struct ParamsListItemWrapSlots {
  static TkivParamsListItemWrap* Self(void* self) {
    return reinterpret_cast<TkivParamsListItemWrap*>(static_cast<char*>(self) -
                                                     offsetof(TkivParamsListItemWrap, table_));
  }
  static TkivParamsListItem& ItemOf(void* self) { return *Self(self)->item_; }

  static HResult CV_STDCALL QueryInterface(void* self, const Guid* iid, void** object) {
    if (object == nullptr) return platform::kHrPointer;
    *object = nullptr;
    // One table serves every interface of an item wrapper, so its identity
    // is the pointer itself.
    if (iid == nullptr ||
        (*iid != IkivParamsListItemA::Iid && *iid != IkivParamsListItemW::Iid && *iid != IUnknownBase::Iid)) {
      return platform::kHrNoInterface;
    }
    AddRef(self);
    *object = self;
    return kHrOk;
  }
  static uint32_t CV_STDCALL AddRef(void* self) {
    return static_cast<uint32_t>(platform::interlockedIncrement(Self(self)->refCount_));
  }
  static uint32_t CV_STDCALL Release(void* self) {
    TkivParamsListItemWrap* wrapper = Self(self);
    const int32_t count = platform::interlockedDecrement(wrapper->refCount_);
    if (count == 0) delete wrapper;
    return static_cast<uint32_t>(count);
  }

  static void CV_STDCALL SetLowerNameText(void* self, const char* text) {
    Shielded("TkivParamsListItemWrap.SetLowerNameText", [&] { Self(self)->lowerNameText_ = NameOf(text); });
  }
  static void CV_STDCALL SetDataType(void* self, uint32_t dataType) { ItemOf(self).SetDataType(dataType); }
  static void CV_STDCALL SetQuality(void* self, uint32_t quality) {
    ItemOf(self).SetQuality(static_cast<uint8_t>(quality & 0xFF));
  }
  static const char* CV_STDCALL GetLowerNameText(void* self) {
    const std::string& text = Self(self)->lowerNameText_;
    return text.empty() ? nullptr : text.c_str();
  }
  static uint32_t CV_STDCALL GetDataType(void* self) { return ItemOf(self).DataType(); }
  static uint8_t CV_STDCALL GetQuality(void* self) { return ItemOf(self).Quality(); }

  template <Side S>
  static HResult CV_STDCALL SetValue(void* self, const Variant* value) {
    return Guarded([&] {
      const InputValue input(value, S);
      ItemOf(self).SetValue(input.get());
    });
  }
  static HResult CV_STDCALL GetValue(void* self, Variant* value) {
    if (!ClearOut(value)) return kHrUnexpected;
    return Guarded([&] { *value = ItemOf(self).Value().release(); });
  }

  template <class Char>
  static void CV_STDCALL SetName(void* self, const Char* name) {
    Shielded("TkivParamsListItemWrap.SetName", [&] {
      TkivParamsListItemWrap* wrapper = Self(self);
      wrapper->item_->SetName(NameOf(name));
      wrapper->TakeNames();
    });
  }
  static const char* CV_STDCALL GetName(void* self) {
    const std::string& name = Self(self)->nameA_;
    return name.empty() ? nullptr : name.c_str();
  }
  static const char16_t* CV_STDCALL GetNameW(void* self) {
    const std::u16string& name = Self(self)->nameW_;
    return name.empty() ? nullptr : name.c_str();
  }
  static uint8_t CV_STDCALL IsRowDelimiter(void* self) { return ItemOf(self).IsRowDelimiter() ? 1 : 0; }

  static constexpr ItemSlots kSlots = {
      {&QueryInterface, &AddRef, &Release},
      &SetLowerNameText,
      &SetDataType,
      &SetQuality,
      &GetLowerNameText,
      &GetDataType,
      &GetQuality,
      &SetValue<Side::A>,
      &GetValue,
      &SetName<char>,
      &GetName,
      &IsRowDelimiter,
      &SetName<char16_t>,
      &GetNameW,
      &SetValue<Side::W>,
      &GetValue,
  };
  static constexpr auto kTable = Prefixed<ItemObject>(kSlots);
};

// --- the list wrapper's slots --------------------------------------------------------

struct ParamsListWrapSlots {
  template <Side S>
  static TkivParamsListWrap* Self(void* self) {
    constexpr size_t offset =
        S == Side::A ? offsetof(TkivParamsListWrap, tableA_) : offsetof(TkivParamsListWrap, tableW_);
    return reinterpret_cast<TkivParamsListWrap*>(static_cast<char*>(self) - offset);
  }
  // The list of a live wrapper; raises once Destroy has let it go.
  template <Side S>
  static TkivParamsList& ListOf(void* self) {
    TkivParamsList* list = Self<S>(self)->list_;
    if (list == nullptr) throw Exception("The parameter list of this wrapper is gone");
    return *list;
  }
  static const TkivParamsList* ListInObject(const void* object) {
    return ListInWrapperObject(object, offsetof(TkivParamsListWrap, list_));
  }
  // A new item wrapper with one reference for the receiver, or null.
  static void* WrapItem(TkivParamsListItem* item) {
    return TkivParamsListItemWrap::NewInterface(item).release();
  }

  template <Side S>
  static HResult CV_STDCALL QueryInterface(void* self, const Guid* iid, void** object) {
    if (object == nullptr) return platform::kHrPointer;
    *object = nullptr;
    if (iid == nullptr) return platform::kHrNoInterface;
    TkivParamsListWrap* wrapper = Self<S>(self);
    if (*iid == IkivParamsListA::Iid || *iid == IUnknownBase::Iid) {  // the 8-bit interface is the identity
      *object = wrapper->InterfaceA();
    } else if (*iid == IkivParamsListW::Iid) {
      *object = wrapper->InterfaceW();
    } else {
      return platform::kHrNoInterface;
    }
    platform::interlockedIncrement(wrapper->refCount_);
    return kHrOk;
  }
  template <Side S>
  static uint32_t CV_STDCALL AddRef(void* self) {
    return static_cast<uint32_t>(platform::interlockedIncrement(Self<S>(self)->refCount_));
  }
  template <Side S>
  static uint32_t CV_STDCALL Release(void* self) {
    TkivParamsListWrap* wrapper = Self<S>(self);
    const int32_t count = platform::interlockedDecrement(wrapper->refCount_);
    if (count == 0) wrapper->FreeRecord();
    return static_cast<uint32_t>(count);
  }

  template <Side S>
  static int32_t CV_STDCALL GetCount(void* self) {
    const TkivParamsList* list = Self<S>(self)->list_;
    return list != nullptr ? list->Count() : 0;
  }
  template <Side S>
  static uint32_t CV_STDCALL GetSignature(void* self) {
    const TkivParamsList* list = Self<S>(self)->list_;
    return list != nullptr ? list->Signature() : 0;
  }
  template <Side S>
  static int32_t CV_STDCALL GetTag(void* self) {
    const TkivParamsList* list = Self<S>(self)->list_;
    return list != nullptr ? list->Tag() : 0;
  }
  template <Side S>
  static void CV_STDCALL SetTag(void* self, int32_t tag) {
    Shielded("TkivParamsListWrap.SetTag", [&] { ListOf<S>(self).SetTag(tag); });
  }
  template <Side S>
  static void CV_STDCALL Clear(void* self) {
    Shielded("TkivParamsListWrap.Clear", [&] { ListOf<S>(self).Clear(); });
  }
  template <Side S>
  static void CV_STDCALL Delete(void* self, int32_t index) {
    Shielded("TkivParamsListWrap.Delete", [&] { ListOf<S>(self).Delete(index); });
  }
  template <Side S>
  static uint8_t CV_STDCALL FindRow(void* self, int32_t start, int32_t* index, uint8_t* isDelimiter) {
    return Shielded("TkivParamsListWrap.FindRow", uint8_t{0}, [&]() -> uint8_t {
      int32_t found = 0;
      bool delimiter = false;
      if (!ListOf<S>(self).FindRow(start, found, delimiter)) return 0;
      if (index != nullptr) *index = found;
      if (isDelimiter != nullptr) *isDelimiter = delimiter ? 1 : 0;
      return 1;
    });
  }
  template <Side S>
  static void CV_STDCALL NewRow(void* self) {
    Shielded("TkivParamsListWrap.NewRow", [&] { ListOf<S>(self).NewRow(); });
  }
  template <Side S>
  static void CV_STDCALL AppendRow(void* self, const void* wrapperObject) {
    Shielded("TkivParamsListWrap.AppendRow", [&] {
      const TkivParamsList* source = ListInObject(wrapperObject);
      if (!TkivParamsList::HasSignature(source)) throw Exception("The source is not a live list wrapper");
      ListOf<S>(self).AppendRow(*source);
    });
  }

  template <Side S>
  static HResult CV_STDCALL GetItem(void* self, int32_t index, void** item) {
    if (!ClearOut(item)) return kHrUnexpected;
    return Guarded([&] { *item = WrapItem(ListOf<S>(self).Items(index)); });
  }
  // The source of CopyFrom / CopyRangeFrom: a list object through A, a list
  // wrapper object through W.
  template <Side S>
  static const TkivParamsList* SourceList(const void* source) {
    return S == Side::A ? static_cast<const TkivParamsList*>(source) : ListInObject(source);
  }
  template <Side S>
  static HResult CV_STDCALL CopyFrom(void* self, const void* source, uint8_t* copied) {
    if (copied == nullptr) return kHrUnexpected;
    return Guarded([&] { *copied = ListOf<S>(self).CopyFrom(SourceList<S>(source)) ? 1 : 0; });
  }
  template <Side S>
  static HResult CV_STDCALL CopyRangeFrom(void* self, const void* source, int32_t start, int32_t end,
                                          uint8_t* copied) {
    if (copied == nullptr) return kHrUnexpected;
    return Guarded([&] { *copied = ListOf<S>(self).CopyRangeFrom(SourceList<S>(source), start, end) ? 1 : 0; });
  }
  template <Side S, class Char>
  static HResult CV_STDCALL ItemByName(void* self, const Char* name, int32_t start, int32_t end, void** item) {
    if (!ClearOut(item)) return kHrUnexpected;
    return Guarded([&] { *item = WrapItem(ListOf<S>(self).ItemByName(NameOf(name), start, end)); });
  }
  template <Side S, class Char>
  static HResult CV_STDCALL ItemIndexByName(void* self, const Char* name, int32_t start, int32_t end,
                                            int32_t* index) {
    if (index == nullptr) return kHrUnexpected;
    return Guarded([&] { *index = ListOf<S>(self).ItemIndexByName(NameOf(name), start, end); });
  }
  template <Side S, class Char>
  static HResult CV_STDCALL ItemValueByName(void* self, const Char* name, int32_t start, int32_t end,
                                            Variant* value) {
    if (!ClearOut(value)) return kHrUnexpected;
    return Guarded([&] { *value = ListOf<S>(self).ItemValueByName(NameOf(name), start, end).release(); });
  }
  // The default is read as values are, so that a text default becomes an
  // OLE string like a stored text.
  template <Side S, class Char>
  static HResult CV_STDCALL ItemValueByNameDef(void* self, const Char* name, const Variant* defaultValue,
                                               int32_t start, int32_t end, Variant* value) {
    if (!ClearOut(value)) return kHrUnexpected;
    return Guarded([&] {
      const InputValue fallback(defaultValue, S);
      *value = ListOf<S>(self).ItemValueByNameDef(NameOf(name), fallback.get(), start, end).release();
    });
  }
  template <Side S, class Char>
  static HResult CV_STDCALL AddItem(void* self, const Char* name, const Variant* value, void** item) {
    if (!ClearOut(item)) return kHrUnexpected;
    return Guarded([&] {
      const InputValue input(value, S);
      *item = WrapItem(ListOf<S>(self).AddItem(NameOf(name), input.get()));
    });
  }
  template <Side S, class Char>
  static HResult CV_STDCALL InsertItem(void* self, int32_t index, const Char* name, const Variant* value,
                                       void** item) {
    if (!ClearOut(item)) return kHrUnexpected;
    return Guarded([&] {
      const InputValue input(value, S);
      *item = WrapItem(ListOf<S>(self).InsertItem(index, NameOf(name), input.get()));
    });
  }
  template <Side S, class Char>
  static HResult CV_STDCALL SetItem(void* self, const Char* name, const Variant* value, uint8_t create,
                                    void** item) {
    if (!ClearOut(item)) return kHrUnexpected;
    return Guarded([&] {
      const InputValue input(value, S);
      *item = WrapItem(ListOf<S>(self).SetItem(NameOf(name), input.get(), create != 0));
    });
  }
  // Only the name and the value of the given item are read: through A its
  // slots 12 and 10, through W its slots 15 and 17.
  template <Side S>
  static HResult CV_STDCALL AddItemCopy(void* self, void* source, void** item) {
    if (!ClearOut(item)) return kHrUnexpected;
    if (source == nullptr) return kHrOk;
    return Guarded([&] {
      TkivParamsList& list = ListOf<S>(self);
      OleVariant value;
      std::string name;
      if constexpr (S == Side::A) {
        auto* given = static_cast<IkivParamsListItemA*>(source);
        name = NameOf(given->GetName());
        CheckBoundaryResult(given->GetValue(value.get()), "IkivParamsListItemA.GetValue");
      } else {
        auto* given = static_cast<IkivParamsListItemW*>(source);
        name = NameOf(given->GetNameW());
        CheckBoundaryResult(given->GetValueW(value.get()), "IkivParamsListItemW.GetValueW");
      }
      *item = WrapItem(list.AddItem(name, value.raw()));
    });
  }

  template <Side S>
  static constexpr ListCommonSlots kCommon = {
      {&QueryInterface<S>, &AddRef<S>, &Release<S>},
      &GetCount<S>,
      &GetSignature<S>,
      &GetTag<S>,
      &SetTag<S>,
      &Clear<S>,
      &Delete<S>,
      &FindRow<S>,
      &NewRow<S>,
      &AppendRow<S>,
  };

  template <Side S, class Char>
  static constexpr ListSlots<Char> kSlots = {
      kCommon<S>,
      &GetItem<S>,
      &CopyFrom<S>,
      &CopyRangeFrom<S>,
      &ItemByName<S, Char>,
      &ItemIndexByName<S, Char>,
      &ItemValueByName<S, Char>,
      &ItemValueByNameDef<S, Char>,
      &AddItem<S, Char>,
      &InsertItem<S, Char>,
      &SetItem<S, Char>,
      &AddItemCopy<S>,
  };

  static constexpr auto kTableA = Prefixed<ListAObject>(kSlots<Side::A, char>);
  static constexpr auto kTableW = Prefixed<ListWObject>(kSlots<Side::W, char16_t>);
};

// The offsets hosts rely on. On 64-bit targets every field is 8 bytes wide.
struct ParamsListWrapLayout {
  static_assert(std::is_standard_layout_v<TkivParamsListWrap>);
  static_assert(std::is_standard_layout_v<TkivParamsListItemWrap>);
#if defined(__i386__) || defined(_M_IX86)
  static_assert(offsetof(TkivParamsListWrap, classRef_) == 0);
  static_assert(offsetof(TkivParamsListWrap, selfRef_) == 4);
  static_assert(offsetof(TkivParamsListWrap, handedOut_) == 8);
  static_assert(offsetof(TkivParamsListWrap, notOwned_) == 12);
  static_assert(offsetof(TkivParamsListWrap, list_) == 16);
  static_assert(offsetof(TkivParamsListWrap, refCount_) == 20);
  static_assert(offsetof(TkivParamsListWrap, tableW_) == 24);
  static_assert(offsetof(TkivParamsListWrap, tableA_) == 28);
  static_assert(sizeof(TkivParamsListWrap) == 32);
#else
  static_assert(offsetof(TkivParamsListWrap, classRef_) == 0);
  static_assert(offsetof(TkivParamsListWrap, selfRef_) == 8);
  static_assert(offsetof(TkivParamsListWrap, handedOut_) == 16);
  static_assert(offsetof(TkivParamsListWrap, notOwned_) == 24);
  static_assert(offsetof(TkivParamsListWrap, list_) == 32);
  static_assert(offsetof(TkivParamsListWrap, refCount_) == 40);
  static_assert(offsetof(TkivParamsListWrap, tableW_) == 48);
  static_assert(offsetof(TkivParamsListWrap, tableA_) == 56);
  static_assert(sizeof(TkivParamsListWrap) == 64);
#endif
};

// --- the list wrapper ----------------------------------------------------------------

const TkivParamsListWrapClass TkivParamsListWrap::Class = {"TkivParamsListWrap"};

TkivParamsListWrap::TkivParamsListWrap(TkivParamsList* list, bool notOwned)
    : tableW_(&ParamsListWrapSlots::kTableW.slots), tableA_(&ParamsListWrapSlots::kTableA.slots) {
  if (list != nullptr) {
    list_ = list;
    notOwned_ = notOwned ? 1 : 0;
  } else {
    list_ = TkivParamsList::Create().release();
  }
  liveListWrappers.fetch_add(1);
}

TkivParamsList* TkivParamsListWrap::ListBehind(const void* interfacePointer) {
  if (interfacePointer == nullptr) return nullptr;
  // Every interface object begins with the address of its table, so the
  // first word identifies the wrappers of this library whatever the object.
  const void* table;
  std::memcpy(&table, interfacePointer, sizeof table);
  size_t offset;
  if (table == &ParamsListWrapSlots::kTableA.slots) {
    offset = offsetof(TkivParamsListWrap, tableA_);
  } else if (table == &ParamsListWrapSlots::kTableW.slots) {
    offset = offsetof(TkivParamsListWrap, tableW_);
  } else {
    return nullptr;
  }
  return reinterpret_cast<const TkivParamsListWrap*>(static_cast<const char*>(interfacePointer) - offset)->list_;
}

TkivParamsListWrap* TkivParamsListWrap::Create() { return new TkivParamsListWrap(nullptr, false); }

TkivParamsListWrap* TkivParamsListWrap::Create(TkivParamsList* list, bool notOwned) {
  return new TkivParamsListWrap(list, notOwned);
}

InterfaceRef<IkivParamsListA> TkivParamsListWrap::NewInterfaceA(TkivParamsList* list, bool notOwned) {
  return InterfaceRef<IkivParamsListA>::Borrow(Create(list, notOwned)->InterfaceA());
}

InterfaceRef<IkivParamsListW> TkivParamsListWrap::NewInterfaceW(TkivParamsList* list, bool notOwned) {
  return InterfaceRef<IkivParamsListW>::Borrow(Create(list, notOwned)->InterfaceW());
}

IkivParamsListA* TkivParamsListWrap::GetInterface() {
  if (handedOut_ == nullptr) {
    platform::interlockedIncrement(refCount_);
    selfRef_ = InterfaceA();
    handedOut_ = selfRef_;
  }
  return handedOut_;
}

int32_t TkivParamsListWrap::RefCount() const { return platform::interlockedRead(refCount_); }

int32_t TkivParamsListWrap::LiveCount() { return liveListWrappers.load(); }

void TkivParamsListWrap::LetGoOfList() noexcept {
  TkivParamsList* list = std::exchange(list_, nullptr);
  if (list != nullptr && notOwned_ == 0) list->Destroy();
}

void TkivParamsListWrap::FreeRecord() noexcept {
  LetGoOfList();
  liveListWrappers.fetch_sub(1);
  delete this;
}

void TkivParamsListWrap::Destroy() noexcept {
  LetGoOfList();
  const bool interfaceTaken = handedOut_ != nullptr;
  int32_t remaining;
  if (selfRef_ != nullptr) {
    selfRef_ = nullptr;
    remaining = platform::interlockedDecrement(refCount_);
  } else {
    remaining = platform::interlockedRead(refCount_);
  }
  if (remaining <= 0) {
    FreeRecord();
    return;
  }
  // Someone still holds a reference: the record now belongs to the last
  // Release, and this object must not be touched any more.
  if (interfaceTaken) {
    try {
      platform::messageBox(0, kDestroyedWithReferences, "", platform::kMbIconError);
    } catch (...) {
    }
  }
}

// --- the item wrapper ----------------------------------------------------------------

const TkivParamsListWrapClass TkivParamsListItemWrap::Class = {"TkivParamsListItemWrap"};

TkivParamsListItemWrap::TkivParamsListItemWrap(TkivParamsListItem* item)
    : item_(item), table_(&ParamsListItemWrapSlots::kTable.slots) {
  TakeNames();
  liveItemWrappers.fetch_add(1);
}

TkivParamsListItemWrap::~TkivParamsListItemWrap() { liveItemWrappers.fetch_sub(1); }

void TkivParamsListItemWrap::TakeNames() {
  std::string nameA = item_->Name().str();
  std::u16string nameW = platform::ansiToWide(nameA);
  std::string lower = ItemWrapperLowerNameText(nameA);
  nameA_.swap(nameA);
  nameW_.swap(nameW);
  lowerNameText_.swap(lower);
}

InterfaceRef<IkivParamsListItemW> TkivParamsListItemWrap::NewInterface(TkivParamsListItem* item) {
  if (item == nullptr) return {};
  auto* wrapper = new TkivParamsListItemWrap(item);
  return InterfaceRef<IkivParamsListItemW>::Borrow(reinterpret_cast<IkivParamsListItemW*>(&wrapper->table_));
}

int32_t TkivParamsListItemWrap::LiveCount() { return liveItemWrappers.load(); }

}  // namespace corvane
