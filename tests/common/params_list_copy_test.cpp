// Copies through the boundary interfaces, against lists of a host's own
// making (implemented here from the interface declarations alone, as a host
// in another language would) and against our own wrappers.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/exceptions.h"
#include "common/params_list_copy.h"
#include "common/params_list_wrap.h"
#include "platform/code_page.h"

using namespace corvane;
using platform::HResult;
using platform::kHrNotImpl;
using platform::kHrOk;
using platform::kHrUnexpected;
using platform::OleVariant;
using platform::Variant;

namespace {

// A host's item: keeps what it is told and counts its references.
class HostItem final : public IkivParamsListItemA {
 public:
  HostItem(std::string name, std::string lowerText, OleVariant value, uint32_t dataType, uint8_t quality)
      : name(std::move(name)), lowerText(std::move(lowerText)), value(std::move(value)), dataType(dataType),
        quality(quality) {}

  std::string name;
  std::string lowerText;
  OleVariant value;
  uint32_t dataType;
  uint8_t quality;
  int32_t refs = 0;
  bool failGetValue = false;

  HResult CV_STDCALL QueryInterface(const platform::Guid& iid, void** object) override {
    *object = nullptr;
    if (iid != IkivParamsListItemA::Iid) return platform::kHrNoInterface;
    AddRef();
    *object = this;
    return kHrOk;
  }
  uint32_t CV_STDCALL AddRef() override { return static_cast<uint32_t>(++refs); }
  uint32_t CV_STDCALL Release() override { return static_cast<uint32_t>(--refs); }
  void CV_STDCALL SetLowerNameText(const char* text) override { lowerText = text ? text : ""; }
  void CV_STDCALL SetDataType(uint32_t code) override { dataType = code; }
  void CV_STDCALL SetQuality(uint32_t q) override { quality = static_cast<uint8_t>(q); }
  const char* CV_STDCALL GetLowerNameText() override { return lowerText.empty() ? nullptr : lowerText.c_str(); }
  uint32_t CV_STDCALL GetDataType() override { return dataType; }
  uint8_t CV_STDCALL GetQuality() override { return quality; }
  HResult CV_STDCALL SetValue(const Variant* v) override {
    value = OleVariant::copyOf(*v);
    return kHrOk;
  }
  HResult CV_STDCALL GetValue(Variant* out) override {
    *out = Variant{};
    if (failGetValue) return kHrUnexpected;
    return platform::variantCopy(out, value.get());
  }
  void CV_STDCALL SetName(const char* text) override { name = text ? text : ""; }
  const char* CV_STDCALL GetName() override { return name.empty() ? nullptr : name.c_str(); }
  uint8_t CV_STDCALL IsRowDelimiter() override { return dataType == RowDelimiterType; }
};

// A host's list: items by index, AddItem appends; nothing else is needed.
class HostList final : public IkivParamsListA {
 public:
  std::vector<std::unique_ptr<HostItem>> items;
  bool failAddItem = false;
  // When set, the items are this list's: a foreign object in front of it.
  IkivParamsListA* forwardTo = nullptr;

  HostItem& Append(std::string name, std::string lowerText, OleVariant value, uint32_t dataType = 0,
                   uint8_t quality = 2) {
    items.push_back(std::make_unique<HostItem>(std::move(name), std::move(lowerText), std::move(value), dataType,
                                               quality));
    return *items.back();
  }
  int32_t References() const {
    int32_t total = 0;
    for (const auto& item : items) total += item->refs;
    return total;
  }

  HResult CV_STDCALL QueryInterface(const platform::Guid&, void** object) override {
    *object = nullptr;
    return platform::kHrNoInterface;
  }
  uint32_t CV_STDCALL AddRef() override { return 1; }
  uint32_t CV_STDCALL Release() override { return 1; }
  int32_t CV_STDCALL GetCount() override {
    return forwardTo ? forwardTo->GetCount() : static_cast<int32_t>(items.size());
  }
  uint32_t CV_STDCALL GetSignature() override { return 0; }
  int32_t CV_STDCALL GetTag() override { return 0; }
  void CV_STDCALL SetTag(int32_t) override {}
  void CV_STDCALL Clear() override {}
  void CV_STDCALL Delete(int32_t) override {}
  uint8_t CV_STDCALL FindRow(int32_t, int32_t*, uint8_t*) override { return 0; }
  void CV_STDCALL NewRow() override {}
  void CV_STDCALL AppendRow(const void*) override {}
  HResult CV_STDCALL GetItem(int32_t index, IkivParamsListItemA** item) override {
    if (forwardTo) return forwardTo->GetItem(index, item);
    *item = nullptr;
    if (index < 0 || index >= GetCount()) return kHrOk;
    items[static_cast<size_t>(index)]->AddRef();
    *item = items[static_cast<size_t>(index)].get();
    return kHrOk;
  }
  HResult CV_STDCALL CopyFrom(const void*, uint8_t*) override { return kHrNotImpl; }
  HResult CV_STDCALL CopyRangeFrom(const void*, int32_t, int32_t, uint8_t*) override { return kHrNotImpl; }
  HResult CV_STDCALL ItemByName(const char*, int32_t, int32_t, IkivParamsListItemA**) override { return kHrNotImpl; }
  HResult CV_STDCALL ItemIndexByName(const char*, int32_t, int32_t, int32_t*) override { return kHrNotImpl; }
  HResult CV_STDCALL ItemValueByName(const char*, int32_t, int32_t, Variant*) override { return kHrNotImpl; }
  HResult CV_STDCALL ItemValueByNameDef(const char*, const Variant*, int32_t, int32_t, Variant*) override {
    return kHrNotImpl;
  }
  HResult CV_STDCALL AddItem(const char* name, const Variant* value, IkivParamsListItemA** item) override {
    if (forwardTo) return forwardTo->AddItem(name, value, item);
    *item = nullptr;
    if (failAddItem) return kHrUnexpected;
    HostItem& added = Append(name ? name : "", "", OleVariant::copyOf(*value));
    added.AddRef();
    *item = &added;
    return kHrOk;
  }
  HResult CV_STDCALL InsertItem(int32_t, const char*, const Variant*, IkivParamsListItemA**) override {
    return kHrNotImpl;
  }
  HResult CV_STDCALL SetItem(const char*, const Variant*, uint8_t, IkivParamsListItemA**) override {
    return kHrNotImpl;
  }
  HResult CV_STDCALL AddItemCopy(IkivParamsListItemA*, IkivParamsListItemA**) override { return kHrNotImpl; }
};

std::string Ansi(const char16_t* text) { return platform::wideToAnsi(text); }
std::string Utf8(const char16_t* text) { return platform::wideToUtf8(text); }

std::u16string BstrText(const Variant& v) {
  return v.bstrVal ? std::u16string(v.bstrVal, platform::sysStringLen(v.bstrVal)) : std::u16string();
}

// Everything a copy must carry, as one comparable line per item.
std::string Describe(const TkivParamsListItem& item) {
  const Variant& v = item.ValueRef();
  std::string value = std::to_string(v.vt) + ":";
  if (v.vt == platform::vtBstr) {
    value += platform::wideToUtf8(BstrText(v));
  } else if (v.vt != platform::vtEmpty && v.vt != platform::vtNull) {
    value += std::to_string(v.llVal);
  }
  return item.Name().str() + "|" + item.LowerName().str() + "|" + std::to_string(item.DataType()) + "|" +
         std::to_string(item.Quality()) + "|" + value;
}
std::vector<std::string> Describe(const TkivParamsList& list) {
  std::vector<std::string> lines;
  for (int32_t i = 0; i < list.Count(); ++i) lines.push_back(Describe(*list.Items(i)));
  return lines;
}

int refusals = 0;
TkivParamsListItem* CV_STDCALL RefuseItem(TkivParamsList*, IkivParamsListItemA*, bool* failed) {
  ++refusals;
  *failed = true;
  return nullptr;
}
const TkivParamsListClass kRefusingList = {
    "TRefusingList", &TkivParamsList::Class, TkivParamsList::Class.Grow, TkivParamsList::Class.Notify,
    TkivParamsList::Class.Clear, TkivParamsList::Class.Create, TkivParamsList::Class.AddItemCopy,
    &RefuseItem, TkivParamsList::Class.Destroy};

}  // namespace

TEST(ParamsListCopy, CopyFromInterfaceTakesTheSourcesAttributes) {
  HostList host;
  host.Append("Temp", Utf8(u"gr\u00F6\u00DFe"), OleVariant::fromI4(5), 3, 0);
  host.Append(" \t", "blank", OleVariant::fromI4(6));
  host.Append(Ansi(u"\u00C4rger"), Utf8(u"\u00C4rger"), OleVariant::fromString(u"text"), 8, 1);

  auto list = TkivParamsList::Create();
  EXPECT_FALSE(list->CopyFromInterface(nullptr));
  ASSERT_TRUE(list->CopyFromInterface(&host));
  ASSERT_EQ(list->Count(), 2) << "blank names are skipped as AddItem skips them";
  const TkivParamsListItem* first = list->Items(0);
  EXPECT_EQ(first->Name(), "Temp");
  EXPECT_EQ(first->LowerName(), Ansi(u"gr\u00F6\u00DFe")) << "the lower-case name arrives as UTF-8";
  EXPECT_EQ(first->DataType(), 3u);
  EXPECT_EQ(first->Quality(), 0);
  EXPECT_EQ(first->ValueRef().lVal, 5);
  const TkivParamsListItem* second = list->Items(1);
  EXPECT_EQ(second->LowerName(), Ansi(u"\u00E4rger"))
      << "capitals the source left in its lower-case name are lowered, so the item stays findable";
  EXPECT_EQ(list->ItemIndexByName(Ansi(u"\u00C4RGER")), 1);
  EXPECT_EQ(BstrText(second->ValueRef()), u"text");
  EXPECT_EQ(host.References(), 0) << "every item reference taken is given back";

  ASSERT_TRUE(list->CopyFromInterface(&host, 1, 1));
  EXPECT_EQ(list->Count(), 2);
  ASSERT_TRUE(list->CopyFromInterface(&host, 2, 99)) << "an end beyond the source stops at its last item";
  ASSERT_TRUE(list->CopyFromInterface(&host, 5, -1));
  EXPECT_EQ(list->Count(), 3);
  EXPECT_EQ(list->Items(2)->Name(), Ansi(u"\u00C4rger"));

  host.items[2]->failGetValue = true;
  EXPECT_THROW(list->CopyFromInterface(&host), Exception);
  EXPECT_EQ(list->Count(), 3) << "a copy that fails takes back the items it had copied";
  EXPECT_EQ(host.References(), 0);
}

TEST(ParamsListCopy, AddItemFromInterfaceKeepsBlankNamesAndGoesThroughTheClass) {
  HostList host;
  HostItem& blank = host.Append("  ", "  ", OleVariant::null(), RowDelimiterType, 2);
  auto list = TkivParamsList::Create();
  EXPECT_EQ(list->AddItemFromInterface(nullptr), nullptr);
  TkivParamsListItem* added = list->AddItemFromInterface(&blank);
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(list->Count(), 1);
  EXPECT_EQ(added->Name(), "  ");
  EXPECT_TRUE(added->IsRowDelimiter());
  EXPECT_EQ(added->ValueRef().vt, platform::vtNull);

  blank.failGetValue = true;
  EXPECT_THROW(list->AddItemFromInterface(&blank), Exception);
  EXPECT_EQ(list->Count(), 1);
  EXPECT_EQ(host.References(), 0);

  // A list class may replace how such items are made; its failure is raised
  // by the caller.
  refusals = 0;
  auto derived = TkivParamsList::Create(&kRefusingList);
  blank.failGetValue = false;
  EXPECT_THROW(derived->AddItemFromInterface(&blank), Exception);
  EXPECT_EQ(refusals, 1);
}

TEST(ParamsListCopy, ANativeListAndItsInterfaceGiveTheSameItems) {
  auto native = TkivParamsList::Create();
  native->AddItem("Alpha", OleVariant::fromI2(-2).raw());
  native->AddItem(Ansi(u"\u00D6L Druck"), OleVariant::fromString(u"\u00FCber").raw())->SetQuality(0);
  native->AddItem("alpha", OleVariant::fromR8(1.5).raw())->SetDataType(5);
  native->NewRow();
  native->AddItem("Bytes", OleVariant::fromUI1(250).raw())->SetQuality(1);

  auto direct = TkivParamsList::Create();
  ASSERT_TRUE(direct->CopyFrom(native.get()));
  auto throughInterface = TkivParamsList::Create();
  InterfaceRef<IkivParamsListA> a = TkivParamsListWrap::NewInterfaceA(native.get(), true);
  ASSERT_TRUE(throughInterface->CopyFromInterface(a.get()));
  EXPECT_EQ(Describe(*throughInterface), Describe(*direct));
  EXPECT_EQ(Describe(*direct), Describe(*native));

  // Reading item by item through either interface.
  InterfaceRef<IkivParamsListW> w = a.Query<IkivParamsListW>();
  ASSERT_EQ(a->GetCount(), native->Count());
  for (int32_t i = 0; i < native->Count(); ++i) {
    InterfaceRef<IkivParamsListItemA> itemA;
    InterfaceRef<IkivParamsListItemW> itemW;
    ASSERT_EQ(a->GetItem(i, itemA.put()), kHrOk);
    ASSERT_EQ(w->GetItem(i, itemW.put()), kHrOk);
    EXPECT_EQ(std::string(itemA->GetName()), native->Items(i)->Name().str());
    EXPECT_EQ(platform::wideToAnsi(itemW->GetNameW()), native->Items(i)->Name().str());
    EXPECT_EQ(itemA->GetDataType(), native->Items(i)->DataType());
    EXPECT_EQ(itemW->GetQuality(), native->Items(i)->Quality());
  }
}

TEST(ParamsListCopy, CopyToInterfaceHandsOverEveryAttribute) {
  auto native = TkivParamsList::Create();
  native->AddItem("One", OleVariant::fromI4(1).raw())->SetDataType(3);
  native->AddItem(Ansi(u"Zw\u00D6lf"), OleVariant::fromString(u"12").raw())->SetQuality(0);
  native->AddItem("Three", OleVariant::fromI4(3).raw());
  InterfaceRef<IkivParamsListA> source = TkivParamsListWrap::NewInterfaceA(native.get(), true);

  HostList host;
  CopyToInterface(nullptr, &host);
  CopyToInterface(source.get(), nullptr);
  EXPECT_TRUE(host.items.empty());
  CopyToInterface(source.get(), &host, 1, -1);
  ASSERT_EQ(host.items.size(), 2u);
  EXPECT_EQ(host.items[0]->name, Ansi(u"Zw\u00D6lf"));
  EXPECT_EQ(host.items[0]->lowerText, Utf8(u"zw\u00D6lf")) << "the wrapper's text: A to Z lowered, UTF-8";
  EXPECT_EQ(host.items[0]->quality, 0);
  EXPECT_EQ(host.items[0]->dataType, 0u);
  EXPECT_EQ(BstrText(host.items[0]->value.raw()), u"12");
  EXPECT_EQ(host.items[1]->name, "Three");
  EXPECT_EQ(host.items[1]->lowerText, "three");
  EXPECT_EQ(host.References(), 0);

  // Between two of our own lists.
  auto target = TkivParamsList::Create();
  InterfaceRef<IkivParamsListA> destination = TkivParamsListWrap::NewInterfaceA(target.get(), true);
  CopyToInterface(source.get(), destination.get(), 0, 0);
  CopyToInterface(source.get(), destination.get(), 0, 99);
  ASSERT_EQ(target->Count(), 4);
  EXPECT_EQ(target->Items(0)->DataType(), 3u);
  EXPECT_EQ(target->Items(2)->Quality(), 0);
  EXPECT_EQ(target->Items(2)->LowerName(), platform::ansiLower(Ansi(u"Zw\u00D6lf")));

  host.failAddItem = true;
  EXPECT_THROW(CopyToInterface(source.get(), &host), Exception);
  EXPECT_EQ(host.items.size(), 2u);
}

TEST(ParamsListCopy, CopyingANativeListHandsOverWhatItsWrapperWould) {
  auto native = TkivParamsList::Create();
  native->AddItem("One", OleVariant::fromI4(1).raw())->SetDataType(3);
  native->AddItem(Ansi(u"Zw\u00D6lf"), OleVariant::fromString(u"12").raw())->SetQuality(0);
  native->AddItem("", OleVariant::fromR8(2.5).raw());
  native->AddItem("Own lower", OleVariant().raw())->SetLowerName("OWN");
  native->NewRow();
  InterfaceRef<IkivParamsListA> wrapper = TkivParamsListWrap::NewInterfaceA(native.get(), true);

  const auto describe = [](const HostList& list) {
    std::vector<std::string> lines;
    for (const auto& item : list.items) {
      const Variant& v = item->value.raw();
      lines.push_back(item->name + "|" + item->lowerText + "|" + std::to_string(item->dataType) + "|" +
                      std::to_string(item->quality) + "|" + std::to_string(v.vt) + ":" +
                      (v.vt == platform::vtBstr ? platform::wideToUtf8(BstrText(v)) : std::to_string(v.llVal)));
    }
    return lines;
  };
  HostList throughWrapper, direct;
  CopyToInterface(wrapper.get(), &throughWrapper);
  CopyToInterface(*native, &direct);
  ASSERT_EQ(direct.items.size(), static_cast<size_t>(native->Count()));
  EXPECT_EQ(describe(direct), describe(throughWrapper));
  EXPECT_EQ(direct.References(), 0);

  direct.failAddItem = true;
  EXPECT_THROW(CopyToInterface(*native, &direct), Exception);
  CopyToInterface(*native, nullptr);

  // Into a list of ours: directly through its wrapper, and item by item
  // through the same kind of wrapper behind a foreign object.
  auto intoOwn = TkivParamsList::Create();
  InterfaceRef<IkivParamsListA> own = TkivParamsListWrap::NewInterfaceA(intoOwn.get(), true);
  CopyToInterface(*native, own.get());
  auto intoForeign = TkivParamsList::Create();
  InterfaceRef<IkivParamsListA> behind = TkivParamsListWrap::NewInterfaceA(intoForeign.get(), true);
  HostList foreign;
  foreign.forwardTo = behind.get();
  CopyToInterface(*native, &foreign);
  ASSERT_EQ(intoOwn->Count(), native->Count());
  EXPECT_EQ(Describe(*intoOwn), Describe(*intoForeign));
  EXPECT_EQ(TkivParamsListItemWrap::LiveCount(), 0);
}

TEST(ParamsListCopy, CopyingAsThroughAWrapperMatchesTheWrapper) {
  auto native = TkivParamsList::Create();
  native->AddItem("One", OleVariant::fromI4(1).raw())->SetDataType(3);
  native->AddItem(Ansi(u"\u00D6L Druck"), OleVariant::fromString(u"\u00FCber").raw())->SetQuality(0);
  native->AddItem("Own lower", OleVariant().raw())->SetLowerName("OWN");
  native->NewRow();
  native->AddItem("Bytes", OleVariant::fromUI1(250).raw())->SetQuality(1);

  // Item by item through the wrapper's interface, behind a foreign object
  // that the copy cannot see through.
  InterfaceRef<IkivParamsListA> a = TkivParamsListWrap::NewInterfaceA(native.get(), true);
  HostList foreign;
  foreign.forwardTo = a.get();
  auto throughInterface = TkivParamsList::Create();
  ASSERT_TRUE(throughInterface->CopyFromInterface(&foreign));
  ASSERT_EQ(throughInterface->Count(), native->Count());

  auto direct = TkivParamsList::Create();
  direct->CopyAsThroughWrapper(*native);
  EXPECT_EQ(Describe(*direct), Describe(*throughInterface));
  EXPECT_EQ(direct->Items(2)->LowerName().str(), "own lower") << "the wrapper's text of the name, not the item's own";
  auto seenThrough = TkivParamsList::Create();
  ASSERT_TRUE(seenThrough->CopyFromInterface(a.get()));
  EXPECT_EQ(Describe(*seenThrough), Describe(*throughInterface)) << "our own wrapper is read directly";
  auto range = TkivParamsList::Create();
  ASSERT_TRUE(range->CopyFromInterface(a.get(), 1, 2));
  ASSERT_EQ(range->Count(), 2);
  EXPECT_EQ(Describe(*range->Items(0)), Describe(*throughInterface->Items(1)));

  EXPECT_EQ(TkivParamsListWrap::ListBehind(a.get()), native.get());
  EXPECT_EQ(TkivParamsListWrap::ListBehind(a.Query<IkivParamsListW>().get()), native.get());
  EXPECT_EQ(TkivParamsListWrap::ListBehind(&foreign), nullptr);

  // Into itself: the count is taken once.
  native->CopyAsThroughWrapper(*native);
  EXPECT_EQ(native->Count(), 2 * throughInterface->Count());
}
