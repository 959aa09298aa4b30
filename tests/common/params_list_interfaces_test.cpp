// The boundary interfaces as a host sees them: called through the tables
// (by raw slot index at least once, to pin down the binary layout), with the
// host's conventions for texts, values, out parameters and reference counts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "common/params_list_wrap.h"
#include "platform/code_page.h"
#include "platform/diagnostics.h"

using namespace corvane;
using platform::HResult;
using platform::kHrNoInterface;
using platform::kHrOk;
using platform::kHrUnexpected;
using platform::OleVariant;
using platform::Variant;

namespace {

// The function at a slot of an interface's table.
template <class Fn>
Fn Slot(const void* iface, int index) {
  return reinterpret_cast<Fn>((*reinterpret_cast<void* const* const*>(iface))[index]);
}

// A pointer-sized field of a wrapper object, read as a host reads it.
const void* FieldAt(const void* object, size_t pointerIndex) {
  const void* field;
  std::memcpy(&field, static_cast<const char*>(object) + pointerIndex * sizeof(void*), sizeof field);
  return field;
}

Variant TextVariant(uint16_t type, const void* text) {
  Variant v{};
  v.vt = type;
  v.byref = const_cast<void*>(text);
  return v;
}

std::u16string BstrText(const Variant& v) {
  return v.bstrVal ? std::u16string(v.bstrVal, platform::sysStringLen(v.bstrVal)) : std::u16string();
}

// Garbage for out parameters, to see which ones a call clears.
void* const kJunk = reinterpret_cast<void*>(uintptr_t{0x5A5A5A5A});

struct MessageBoxCatcher {
  std::vector<std::string> texts;
  std::vector<std::string> captions;
  std::vector<uint32_t> flags;
  MessageBoxCatcher() {
    platform::setMessageBoxHook([this](std::string_view text, std::string_view caption, uint32_t f) {
      texts.emplace_back(text);
      captions.emplace_back(caption);
      flags.push_back(f);
      return platform::kIdOk;
    });
  }
  ~MessageBoxCatcher() { platform::setMessageBoxHook({}); }
};

struct DebugOutputCatcher {
  std::vector<std::string> lines;
  DebugOutputCatcher() {
    platform::setDebugOutputHook([this](std::string_view text) { lines.emplace_back(text); });
  }
  ~DebugOutputCatcher() { platform::setDebugOutputHook({}); }
};

// A list class whose destruction is counted, to see who frees the list.
int listsDestroyed = 0;
void CV_STDCALL DestroyCounted(TkivParamsList* list) {
  ++listsDestroyed;
  TkivParamsList::Class.Destroy(list);
}
const TkivParamsListClass kCountedList = {
    "TCountedList", &TkivParamsList::Class, TkivParamsList::Class.Grow, TkivParamsList::Class.Notify,
    TkivParamsList::Class.Clear, TkivParamsList::Class.Create, TkivParamsList::Class.AddItemCopy,
    TkivParamsList::Class.AddItemFromInterface, &DestroyCounted};

// Adds an item through the interface and drops the item reference it answers.
void Add(IkivParamsListA* list, const char* name, int32_t value) {
  InterfaceRef<IkivParamsListItemA> item;
  ASSERT_EQ(list->AddItem(name, OleVariant::fromI4(value).get(), item.put()), kHrOk);
  ASSERT_TRUE(item);
}

// A fresh copy of an item's value (out parameters are overwritten, not cleared).
OleVariant ValueOf(IkivParamsListItemA* item) {
  OleVariant value;
  EXPECT_EQ(item->GetValue(value.get()), kHrOk);
  return value;
}

}  // namespace

TEST(ParamsListInterfaces, SlotsArgumentsAndObjectLayoutAreTheBinaryOnes) {
  using GetCountFn = int32_t(CV_STDCALL*)(void*);
  using SetTagFn = void(CV_STDCALL*)(void*, int32_t);
  using AddItemAFn = HResult(CV_STDCALL*)(void*, const char*, const Variant*, void**);
  using AddItemWFn = HResult(CV_STDCALL*)(void*, const char16_t*, const Variant*, void**);
  using InsertItemFn = HResult(CV_STDCALL*)(void*, int32_t, const char*, const Variant*, void**);
  using IndexByNameFn = HResult(CV_STDCALL*)(void*, const char*, int32_t, int32_t, int32_t*);
  using GetItemFn = HResult(CV_STDCALL*)(void*, int32_t, void**);
  using GetNameFn = const char*(CV_STDCALL*)(void*);
  using SetQualityFn = void(CV_STDCALL*)(void*, uint32_t);
  using GetQualityFn = uint8_t(CV_STDCALL*)(void*);
  using CountFn = uint32_t(CV_STDCALL*)(void*);

  auto list = TkivParamsList::Create();
  ParamsListWrapPtr wrapper(TkivParamsListWrap::Create(list.get(), true));
  void* a = wrapper->GetInterface();
  void* w = wrapper->InterfaceW();
  const void* object = wrapper->ObjectAddress();

  // Field order of the object: class, self reference, handed-out pointer,
  // NotOwned, list (byte offset 16 on 32-bit targets), count, W table, A table.
  EXPECT_EQ(FieldAt(object, 1), a);
  EXPECT_EQ(FieldAt(object, 2), a);
  EXPECT_EQ(static_cast<const uint8_t*>(object)[3 * sizeof(void*)], 1);
  EXPECT_EQ(FieldAt(object, 4), list.get());
  EXPECT_EQ(w, static_cast<const char*>(object) + 6 * sizeof(void*));
  EXPECT_EQ(a, static_cast<const char*>(object) + 7 * sizeof(void*));
  if (sizeof(void*) == 4) {
    const TkivParamsList* atSixteen;
    std::memcpy(&atSixteen, static_cast<const char*>(object) + 16, sizeof atSixteen);
    EXPECT_EQ(atSixteen, list.get());
  }

  const OleVariant seven = OleVariant::fromI4(7);
  void* item = kJunk;
  ASSERT_EQ(Slot<AddItemAFn>(a, 19)(a, "First", seven.get(), &item), kHrOk);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(Slot<CountFn>(item, 2)(item), 0u) << "slot 2 releases the only reference";
  ASSERT_EQ(Slot<AddItemWFn>(w, 19)(w, u"Third", seven.get(), &item), kHrOk);
  Slot<CountFn>(item, 2)(item);
  ASSERT_EQ(Slot<InsertItemFn>(a, 20)(a, 1, "Second", seven.get(), &item), kHrOk);
  Slot<SetQualityFn>(item, 5)(item, 0x101);
  Slot<CountFn>(item, 2)(item);

  EXPECT_EQ(Slot<GetCountFn>(a, 3)(a), 3);
  EXPECT_EQ(Slot<GetCountFn>(w, 3)(w), 3);
  EXPECT_EQ(static_cast<uint32_t>(Slot<GetCountFn>(a, 4)(a)), ParamsListSignature);
  Slot<SetTagFn>(w, 6)(w, -12);
  EXPECT_EQ(Slot<GetCountFn>(a, 5)(a), -12);
  EXPECT_EQ(list->Tag(), -12);

  int32_t index = -99;
  ASSERT_EQ(Slot<IndexByNameFn>(a, 16)(a, "THIRD", 0, -1, &index), kHrOk);
  EXPECT_EQ(index, 2);
  ASSERT_EQ(Slot<IndexByNameFn>(a, 16)(a, "third", 0, 1, &index), kHrOk);
  EXPECT_EQ(index, -1);
  ASSERT_EQ(Slot<GetItemFn>(a, 12)(a, 1, &item), kHrOk);
  EXPECT_STREQ(Slot<GetNameFn>(item, 12)(item), "Second");
  EXPECT_EQ(Slot<GetQualityFn>(item, 8)(item), 1) << "slot 5 keeps the low 8 bits";
  EXPECT_EQ(Slot<CountFn>(item, 1)(item), 2u);
  Slot<CountFn>(item, 2)(item);
  Slot<CountFn>(item, 2)(item);

  // The typed declarations reach the same slots.
  EXPECT_EQ(wrapper->GetInterface()->GetCount(), 3);
  EXPECT_EQ(wrapper->InterfaceW()->GetTag(), -12);
}

TEST(ParamsListInterfaces, QueryInterfaceAnswersTheListedIidsAndOneIdentity) {
  const platform::Guid unknownIid = {0, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
  const platform::Guid otherIid = {0x12345678, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
  InterfaceRef<IkivParamsListA> a = TkivParamsListWrap::NewInterfaceA(nullptr, true);
  ASSERT_TRUE(a);
  void* out = kJunk;
  ASSERT_EQ(a->QueryInterface(IkivParamsListW::Iid, &out), kHrOk);
  auto w = InterfaceRef<IkivParamsListW>::Adopt(static_cast<IkivParamsListW*>(out));
  EXPECT_NE(static_cast<void*>(w.get()), static_cast<void*>(a.get())) << "two tables, two pointers";
  ASSERT_EQ(w->QueryInterface(IkivParamsListA::Iid, &out), kHrOk);
  EXPECT_EQ(out, a.get());
  EXPECT_EQ(a->Release(), 2u);
  // IUnknown is the object's identity: the same pointer through either table.
  for (IUnknownBase* through : {static_cast<IUnknownBase*>(a.get()), static_cast<IUnknownBase*>(w.get())}) {
    out = kJunk;
    ASSERT_EQ(through->QueryInterface(unknownIid, &out), kHrOk);
    EXPECT_EQ(out, a.get());
    EXPECT_EQ(a->Release(), 2u);
  }
  for (const platform::Guid& iid : {otherIid, IkivParamsListItemA::Iid, IkivParamsListItemW::Iid}) {
    out = kJunk;
    EXPECT_EQ(a->QueryInterface(iid, &out), kHrNoInterface);
    EXPECT_EQ(out, nullptr);
    out = kJunk;
    EXPECT_EQ(w->QueryInterface(iid, &out), kHrNoInterface);
    EXPECT_EQ(out, nullptr);
  }
  EXPECT_EQ(a->AddRef(), 3u);
  EXPECT_EQ(a->Release(), 2u);

  ASSERT_EQ(a->AddItem("x", OleVariant::fromI4(1).get(), nullptr), kHrUnexpected) << "no place for the result";
  InterfaceRef<IkivParamsListItemW> item;
  ASSERT_EQ(w->GetItem(0, item.put()), kHrOk);
  EXPECT_EQ(item.get(), nullptr) << "the failed AddItem added nothing";
  ASSERT_EQ(w->AddItem(u"x", OleVariant::fromI4(1).get(), item.put()), kHrOk);
  ASSERT_EQ(item->QueryInterface(IkivParamsListItemA::Iid, &out), kHrOk);
  EXPECT_EQ(out, item.get()) << "one table serves both item interfaces";
  static_cast<IkivParamsListItemA*>(out)->Release();
  ASSERT_EQ(item->QueryInterface(IkivParamsListItemW::Iid, &out), kHrOk);
  EXPECT_EQ(item->Release(), 1u);
  out = kJunk;
  ASSERT_EQ(item->QueryInterface(unknownIid, &out), kHrOk);
  EXPECT_EQ(out, item.get());
  EXPECT_EQ(item->Release(), 1u);
  for (const platform::Guid& iid : {otherIid, IkivParamsListA::Iid, IkivParamsListW::Iid}) {
    out = kJunk;
    EXPECT_EQ(item->QueryInterface(iid, &out), kHrNoInterface);
    EXPECT_EQ(out, nullptr);
  }
}

TEST(ParamsListInterfaces, HandedOutWrappersDieWithTheirLastReference) {
  listsDestroyed = 0;
  const int32_t listWrappers = TkivParamsListWrap::LiveCount();
  const int32_t itemWrappers = TkivParamsListItemWrap::LiveCount();
  {
    InterfaceRef<IkivParamsListA> owning = TkivParamsListWrap::NewInterfaceA(
        TkivParamsList::Create(&kCountedList).release(), false);
    auto borrowed = TkivParamsList::Create(&kCountedList);
    InterfaceRef<IkivParamsListW> notOwning = TkivParamsListWrap::NewInterfaceW(borrowed.get(), true);
    EXPECT_EQ(TkivParamsListWrap::LiveCount(), listWrappers + 2);

    InterfaceRef<IkivParamsListItemA> first, again;
    ASSERT_EQ(owning->AddItem("a", OleVariant::fromI4(1).get(), first.put()), kHrOk);
    ASSERT_EQ(owning->GetItem(0, again.put()), kHrOk);
    EXPECT_NE(first.get(), again.get()) << "every item handed out gets a wrapper of its own";
    EXPECT_EQ(TkivParamsListItemWrap::LiveCount(), itemWrappers + 2);
    first.reset();
    again.reset();
    EXPECT_EQ(TkivParamsListItemWrap::LiveCount(), itemWrappers);
    EXPECT_EQ(owning->GetCount(), 1) << "releasing item wrappers leaves the items";

    notOwning.reset();
    EXPECT_EQ(listsDestroyed, 0) << "a list that is not owned survives its wrapper";
    EXPECT_EQ(borrowed->Signature(), ParamsListSignature);
    owning.reset();
    EXPECT_EQ(listsDestroyed, 1);
    EXPECT_EQ(TkivParamsListWrap::LiveCount(), listWrappers);
  }
  EXPECT_EQ(listsDestroyed, 2);
}

TEST(ParamsListInterfaces, ReferencesCountCorrectlyFromManyThreads) {
  const int32_t before = TkivParamsListWrap::LiveCount();
  IkivParamsListA* a = TkivParamsListWrap::NewInterfaceA(nullptr, true).release();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([a] {
      for (int i = 0; i < 20000; ++i) {
        a->AddRef();
        a->Release();
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(TkivParamsListWrap::LiveCount(), before + 1);
  EXPECT_EQ(a->Release(), 0u);
  EXPECT_EQ(TkivParamsListWrap::LiveCount(), before);
}

TEST(ParamsListInterfaces, KeptWrappersDieOnlyByDestroy) {
  listsDestroyed = 0;
  const int32_t before = TkivParamsListWrap::LiveCount();
  MessageBoxCatcher boxes;
  {
    TkivParamsListWrap* wrapper = TkivParamsListWrap::Create(TkivParamsList::Create(&kCountedList).release(), false);
    IkivParamsListA* a = wrapper->GetInterface();
    EXPECT_EQ(wrapper->GetInterface(), a);
    EXPECT_EQ(wrapper->RefCount(), 1) << "only the first GetInterface takes a reference";
    a->AddRef();
    a->Release();
    EXPECT_EQ(wrapper->RefCount(), 1) << "outside releases never reach 0";
    wrapper->Destroy();
    EXPECT_EQ(listsDestroyed, 1);
    EXPECT_EQ(TkivParamsListWrap::LiveCount(), before);
    EXPECT_TRUE(boxes.texts.empty());
  }
  {
    TkivParamsListWrap* wrapper = TkivParamsListWrap::Create(TkivParamsList::Create(&kCountedList).release(), false);
    Add(wrapper->GetInterface(), "kept", 5);
    InterfaceRef<IkivParamsListW> held = InterfaceRef<IkivParamsListA>::Borrow(wrapper->GetInterface())
                                             .Query<IkivParamsListW>();
    ASSERT_TRUE(held);
    wrapper->Destroy();
    ASSERT_EQ(boxes.texts.size(), 1u);
    EXPECT_EQ(boxes.texts[0], "TkivParamsListWrap.Destroy. Reference counter should be zero!");
    EXPECT_EQ(boxes.captions[0], "");
    EXPECT_EQ(boxes.flags[0], platform::kMbIconError);
    EXPECT_EQ(listsDestroyed, 2) << "destruction completes: the list is gone";
    EXPECT_EQ(TkivParamsListWrap::LiveCount(), before + 1) << "the record waits for the last reference";

    // Calls that arrive late fail cleanly.
    EXPECT_EQ(held->GetCount(), 0);
    EXPECT_EQ(held->GetSignature(), 0u);
    Variant value;
    std::memset(&value, 0x5A, sizeof value);
    EXPECT_EQ(held->ItemValueByName(u"kept", 0, -1, &value), kHrUnexpected);
    EXPECT_EQ(value.vt, platform::vtEmpty);
    held->NewRow();
    held.reset();
    EXPECT_EQ(TkivParamsListWrap::LiveCount(), before);
  }
  {
    // A wrapper nobody took an interface from goes at once, silently.
    TkivParamsListWrap* wrapper = TkivParamsListWrap::Create();
    ASSERT_NE(wrapper->List(), nullptr);
    EXPECT_FALSE(wrapper->NotOwned());
    wrapper->Destroy();
    EXPECT_EQ(TkivParamsListWrap::LiveCount(), before);
    EXPECT_EQ(boxes.texts.size(), 1u);
  }
}

TEST(ParamsListInterfaces, OutOfRangeAndBlankNamesAnswerNothingSuccessfully) {
  InterfaceRef<IkivParamsListA> a = TkivParamsListWrap::NewInterfaceA(nullptr, true);
  InterfaceRef<IkivParamsListW> w = a.Query<IkivParamsListW>();
  Add(a.get(), "only", 1);
  for (int32_t index : {-1, 1, 1000}) {
    void* out = kJunk;
    EXPECT_EQ(a->GetItem(index, reinterpret_cast<IkivParamsListItemA**>(&out)), kHrOk);
    EXPECT_EQ(out, nullptr);
    out = kJunk;
    EXPECT_EQ(w->GetItem(index, reinterpret_cast<IkivParamsListItemW**>(&out)), kHrOk);
    EXPECT_EQ(out, nullptr);
  }
  const OleVariant value = OleVariant::fromI4(2);
  for (const char* blank : {"", " ", "\t \r\n", static_cast<const char*>(nullptr)}) {
    void* out = kJunk;
    EXPECT_EQ(a->AddItem(blank, value.get(), reinterpret_cast<IkivParamsListItemA**>(&out)), kHrOk);
    EXPECT_EQ(out, nullptr);
  }
  for (const char16_t* blank : {u"", u"  ", static_cast<const char16_t*>(nullptr)}) {
    void* out = kJunk;
    EXPECT_EQ(w->AddItem(blank, value.get(), reinterpret_cast<IkivParamsListItemW**>(&out)), kHrOk);
    EXPECT_EQ(out, nullptr);
  }
  EXPECT_EQ(a->GetCount(), 1);

  InterfaceRef<IkivParamsListItemA> item;
  EXPECT_EQ(a->ItemByName("missing", 0, -1, item.put()), kHrOk);
  EXPECT_FALSE(item);
  EXPECT_EQ(a->SetItem("missing", value.get(), 0, item.put()), kHrOk);
  EXPECT_FALSE(item) << "not created without the create flag";
  EXPECT_EQ(a->SetItem("missing", value.get(), 2, item.put()), kHrOk);
  ASSERT_TRUE(item) << "any non-zero byte creates";
  EXPECT_EQ(a->GetCount(), 2);
}

TEST(ParamsListInterfaces, FailuresBecomeUnexpectedWithOutsClearedOrUntouched) {
  // A copy of a live list's record with the signature wiped stands for a
  // host list whose destruction has begun.
  auto live = TkivParamsList::Create();
  live->AddItem("x", OleVariant::fromI4(1).raw());
  alignas(8) unsigned char dead[sizeof(TkivParamsList)];
  std::memcpy(dead, static_cast<const void*>(live.get()), sizeof dead);
  size_t signatureAt = 0;
  for (size_t at = 0; at + 4 <= sizeof dead; at += 4) {
    uint32_t word;
    std::memcpy(&word, dead + at, 4);
    if (word == ParamsListSignature) signatureAt = at;
  }
  ASSERT_NE(signatureAt, 0u);
  std::memset(dead + signatureAt, 0, 4);

  ParamsListWrapPtr wrapper(TkivParamsListWrap::Create(reinterpret_cast<TkivParamsList*>(dead), true));
  IkivParamsListA* a = wrapper->GetInterface();
  IkivParamsListW* w = wrapper->InterfaceW();
  EXPECT_EQ(a->GetSignature(), 0u);

  Variant value;
  std::memset(&value, 0x5A, sizeof value);
  EXPECT_EQ(a->ItemValueByName("x", 0, -1, &value), kHrUnexpected);
  EXPECT_EQ(value.vt, platform::vtEmpty);
  EXPECT_EQ(value.llVal, 0);
  std::memset(&value, 0x5A, sizeof value);
  EXPECT_EQ(w->ItemValueByNameDef(u"x", OleVariant::fromI4(3).get(), 0, -1, &value), kHrUnexpected);
  EXPECT_EQ(value.vt, platform::vtEmpty);
  int32_t index = 77;
  EXPECT_EQ(a->ItemIndexByName("x", 0, -1, &index), kHrUnexpected);
  EXPECT_EQ(index, 77);
  void* item = kJunk;
  EXPECT_EQ(a->ItemByName("x", 0, -1, reinterpret_cast<IkivParamsListItemA**>(&item)), kHrUnexpected);
  EXPECT_EQ(item, nullptr);

  // The dead list as a source.
  InterfaceRef<IkivParamsListA> target = TkivParamsListWrap::NewInterfaceA(nullptr, true);
  uint8_t copied = 7;
  EXPECT_EQ(target->CopyFrom(dead, &copied), kHrUnexpected);
  EXPECT_EQ(copied, 7);
  EXPECT_EQ(target.Query<IkivParamsListW>()->CopyRangeFrom(wrapper->ObjectAddress(), 0, -1, &copied), kHrUnexpected);
  EXPECT_EQ(copied, 7);
  item = kJunk;
  EXPECT_EQ(target->InsertItem(5, "x", OleVariant::fromI4(1).get(), reinterpret_cast<IkivParamsListItemA**>(&item)),
            kHrUnexpected);
  EXPECT_EQ(item, nullptr);
  EXPECT_EQ(target->GetCount(), 0);
}

TEST(ParamsListInterfaces, MethodsWithoutResultCodeNeverThrowAtTheirCaller) {
  DebugOutputCatcher output;
  InterfaceRef<IkivParamsListA> a = TkivParamsListWrap::NewInterfaceA(nullptr, true);
  Add(a.get(), "x", 1);
  a->Delete(-1);
  EXPECT_EQ(a->GetCount(), 1);
  a->Delete(1);
  EXPECT_EQ(a->GetCount(), 1);
  a->AppendRow(nullptr);
  EXPECT_EQ(a->GetCount(), 1);
  ASSERT_EQ(output.lines.size(), 2u) << "the swallowed failures are reported";
  EXPECT_EQ(output.lines[0].rfind("TkivParamsListWrap.Delete: ", 0), 0u) << output.lines[0];
  EXPECT_EQ(output.lines[1].rfind("TkivParamsListWrap.AppendRow: ", 0), 0u) << output.lines[1];
  a->Delete(0);
  EXPECT_EQ(a->GetCount(), 0);
}

TEST(ParamsListInterfaces, RowsAndCopiesTakeListObjectsAndWrapperObjects) {
  auto source = TkivParamsList::Create();
  source->AddItem("s1", OleVariant::fromI4(1).raw());
  source->AddItem("s2", OleVariant::fromI4(2).raw());
  source->AddItem("s3", OleVariant::fromI4(3).raw());
  ParamsListWrapPtr sourceWrapper(TkivParamsListWrap::Create(source.get(), true));

  auto target = TkivParamsList::Create();
  InterfaceRef<IkivParamsListA> a = TkivParamsListWrap::NewInterfaceA(target.get(), true);
  InterfaceRef<IkivParamsListW> w = a.Query<IkivParamsListW>();
  uint8_t copied = 0;
  ASSERT_EQ(a->CopyFrom(source.get(), &copied), kHrOk);
  EXPECT_EQ(copied, 1);
  ASSERT_EQ(w->CopyRangeFrom(sourceWrapper->ObjectAddress(), 1, 1, &copied), kHrOk);
  EXPECT_EQ(copied, 1);
  ASSERT_EQ(a->CopyRangeFrom(source.get(), 2, 1, &copied), kHrOk);
  EXPECT_EQ(copied, 1) << "an empty range still answers true";
  ASSERT_EQ(w->CopyFrom(nullptr, &copied), kHrOk);
  EXPECT_EQ(copied, 0);
  w->AppendRow(sourceWrapper->ObjectAddress());
  a->NewRow();
  std::string names;
  for (int32_t i = 0; i < target->Count(); ++i) names += target->Items(i)->Name().str() + ",";
  EXPECT_EQ(names, "s1,s2,s3,s2,s1,s2,s3,$NEW_ROW$,");

  int32_t index = -1;
  uint8_t isDelimiter = 9;
  EXPECT_EQ(a->FindRow(1, &index, &isDelimiter), 1);
  EXPECT_EQ(index, 7);
  EXPECT_EQ(isDelimiter, 1);
  index = -5;
  EXPECT_EQ(w->FindRow(8, &index, &isDelimiter), 0);
  EXPECT_EQ(index, -5) << "outs are written only when a row is found";

  InterfaceRef<IkivParamsListItemA> delimiter;
  ASSERT_EQ(a->GetItem(7, delimiter.put()), kHrOk);
  EXPECT_EQ(delimiter->IsRowDelimiter(), 1);
  EXPECT_EQ(delimiter->GetDataType(), RowDelimiterType);
  a->Clear();
  EXPECT_EQ(target->Count(), 0);
}

TEST(ParamsListInterfaces, TextValuesArriveAsOleStringsByTheSidesRules) {
  InterfaceRef<IkivParamsListA> a = TkivParamsListWrap::NewInterfaceA(nullptr, true);
  InterfaceRef<IkivParamsListW> w = a.Query<IkivParamsListW>();
  const std::u16string text = u"Gr\u00FC\u00DFe \u20AC";
  const std::string ansi = platform::wideToAnsi(text);
  struct Case {
    bool viaW;
    uint16_t type;
    const void* payload;
  };
  const Case cases[] = {
      {false, platform::vtString, ansi.c_str()},
      {false, platform::vtUString, text.c_str()},
      {true, platform::vtString, text.c_str()},
      {true, platform::vtUString, text.c_str()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.viaW ? "W " : "A ") << std::hex << c.type);
    const Variant given = TextVariant(c.type, c.payload);
    InterfaceRef<IkivParamsListItemA> item;
    if (c.viaW) {
      InterfaceRef<IkivParamsListItemW> itemW;
      ASSERT_EQ(w->AddItem(u"t", &given, itemW.put()), kHrOk);
      item = itemW.Query<IkivParamsListItemA>();
    } else {
      ASSERT_EQ(a->AddItem("t", &given, item.put()), kHrOk);
    }
    const OleVariant stored = ValueOf(item.get());
    EXPECT_EQ(stored.type(), platform::vtBstr);
    EXPECT_EQ(BstrText(stored.raw()), text);
  }

  // Item slots 9 and 16 follow the same rules; other values keep their type.
  InterfaceRef<IkivParamsListItemW> item;
  ASSERT_EQ(w->SetItem(u"v", OleVariant::fromI4(0).get(), 1, item.put()), kHrOk);
  const Variant wide = TextVariant(platform::vtString, text.c_str());
  ASSERT_EQ(item->SetValueW(&wide), kHrOk);
  OleVariant stored;
  ASSERT_EQ(item->GetValueW(stored.get()), kHrOk);
  EXPECT_EQ(BstrText(stored.raw()), text);
  const Variant narrow = TextVariant(platform::vtString, ansi.c_str());
  ASSERT_EQ(item->SetValue(&narrow), kHrOk);
  EXPECT_EQ(BstrText(ValueOf(item.get()).raw()), text);
  ASSERT_EQ(item->SetValue(OleVariant::fromUI1(200).get()), kHrOk);
  stored = ValueOf(item.get());
  EXPECT_EQ(stored.type(), platform::vtUI1);
  EXPECT_EQ(stored.raw().bVal, 200);
  const Variant noText = TextVariant(platform::vtString, nullptr);
  ASSERT_EQ(item->SetValue(&noText), kHrOk);
  stored = ValueOf(item.get());
  EXPECT_EQ(stored.type(), platform::vtBstr);
  EXPECT_EQ(BstrText(stored.raw()), u"");

  // The value handed out is the receiver's own copy.
  Variant copy{};
  ASSERT_EQ(a->ItemValueByName("T", 0, -1, &copy), kHrOk);
  EXPECT_EQ(BstrText(copy), text);
  platform::variantClear(&copy);
  ASSERT_EQ(a->ItemValueByName("t", 0, -1, &copy), kHrOk);
  EXPECT_EQ(BstrText(copy), text);
  platform::variantClear(&copy);

  // A text default is read like a value; a found item wins over it.
  const Variant fallback = TextVariant(platform::vtString, ansi.c_str());
  ASSERT_EQ(a->ItemValueByNameDef("absent", &fallback, 0, -1, &copy), kHrOk);
  EXPECT_EQ(copy.vt, platform::vtBstr);
  EXPECT_EQ(BstrText(copy), text);
  platform::variantClear(&copy);
  ASSERT_EQ(a->ItemValueByNameDef("v", &fallback, 0, -1, &copy), kHrOk);
  EXPECT_EQ(copy.vt, platform::vtBstr);
  EXPECT_EQ(BstrText(copy), u"");
  platform::variantClear(&copy);
}

TEST(ParamsListInterfaces, NamesCrossInEitherEncoding) {
  auto list = TkivParamsList::Create();
  InterfaceRef<IkivParamsListW> w = TkivParamsListWrap::NewInterfaceW(list.get(), true);
  InterfaceRef<IkivParamsListA> a = w.Query<IkivParamsListA>();
  const std::u16string name = u"\u00C4rger Gr\u00F6\u00DFe";
  InterfaceRef<IkivParamsListItemW> item;
  ASSERT_EQ(w->AddItem(name.c_str(), OleVariant::fromI4(1).get(), item.put()), kHrOk);
  EXPECT_EQ(list->Items(0)->Name(), platform::wideToAnsi(name));
  EXPECT_EQ(item->GetNameW(), name);
  EXPECT_EQ(std::string(item->GetName()), platform::wideToAnsi(name));

  int32_t index = -1;
  const std::string lowerAnsi = platform::wideToAnsi(u"\u00E4RGER GR\u00D6\u00DFE");
  ASSERT_EQ(a->ItemIndexByName(lowerAnsi.c_str(), 0, -1, &index), kHrOk);
  EXPECT_EQ(index, 0) << "lookups through A ignore case under the locale's rules";
  index = -1;
  ASSERT_EQ(w->ItemIndexByName(u"\u00E4rger gr\u00F6\u00DFe", 0, -1, &index), kHrOk);
  EXPECT_EQ(index, 0);

  // The lower-case name text: only A to Z lowered, handed out as UTF-8.
  EXPECT_EQ(std::string(item->GetLowerNameText()), platform::wideToUtf8(u"\u00C4rger gr\u00F6\u00DFe"));
  item->SetLowerNameText("custom");
  EXPECT_STREQ(item->GetLowerNameText(), "custom");
  EXPECT_EQ(list->Items(0)->LowerName(), platform::ansiLower(platform::wideToAnsi(name)))
      << "the item's own lower-case name is not touched";
  item->SetLowerNameText(nullptr);
  EXPECT_EQ(item->GetLowerNameText(), nullptr);

  // Setting the name renews every copy but keeps the item findable by the old one.
  item->SetNameW(u"\u00DCber NAME");
  EXPECT_EQ(std::u16string(item->GetNameW()), u"\u00DCber NAME");
  EXPECT_EQ(std::string(item->GetName()), platform::wideToAnsi(u"\u00DCber NAME"));
  EXPECT_EQ(std::string(item->GetLowerNameText()), platform::wideToUtf8(u"\u00DCber name"));
  ASSERT_EQ(a->ItemIndexByName(platform::wideToAnsi(name).c_str(), 0, -1, &index), kHrOk);
  EXPECT_EQ(index, 0);
  item->SetName(nullptr);
  EXPECT_EQ(item->GetName(), nullptr);
  EXPECT_EQ(item->GetNameW(), nullptr);
  EXPECT_EQ(item->GetLowerNameText(), nullptr);
  EXPECT_TRUE(list->Items(0)->Name().empty());

  item->SetDataType(RowDelimiterType);
  EXPECT_EQ(item->IsRowDelimiter(), 1);
  EXPECT_TRUE(list->Items(0)->IsRowDelimiter());
}

TEST(ParamsListInterfaces, AddItemCopyReadsOnlyNameAndValue) {
  auto other = TkivParamsList::Create();
  TkivParamsListItem* original = other->AddItem("Orig", OleVariant::fromI2(-3).raw());
  original->SetDataType(17);
  original->SetQuality(0);
  InterfaceRef<IkivParamsListItemW> source = TkivParamsListItemWrap::NewInterface(original);

  auto list = TkivParamsList::Create();
  InterfaceRef<IkivParamsListA> a = TkivParamsListWrap::NewInterfaceA(list.get(), true);
  InterfaceRef<IkivParamsListW> w = a.Query<IkivParamsListW>();
  InterfaceRef<IkivParamsListItemA> copyA;
  ASSERT_EQ(a->AddItemCopy(source.get(), copyA.put()), kHrOk);
  InterfaceRef<IkivParamsListItemW> copyW;
  ASSERT_EQ(w->AddItemCopy(source.get(), copyW.put()), kHrOk);
  ASSERT_TRUE(copyA);
  ASSERT_TRUE(copyW);
  ASSERT_EQ(list->Count(), 2);
  for (int32_t i = 0; i < 2; ++i) {
    const TkivParamsListItem* copy = list->Items(i);
    EXPECT_EQ(copy->Name(), "Orig");
    EXPECT_EQ(copy->LowerName(), "orig");
    EXPECT_EQ(copy->ValueRef().vt, platform::vtI2);
    EXPECT_EQ(copy->ValueRef().iVal, -3);
    EXPECT_EQ(copy->DataType(), 0u);
    EXPECT_EQ(copy->Quality(), 2);
  }
  void* out = kJunk;
  EXPECT_EQ(a->AddItemCopy(nullptr, reinterpret_cast<IkivParamsListItemA**>(&out)), kHrOk);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(list->Count(), 2);
}
