#include <gtest/gtest.h>

#include <string>

#include "common/exceptions.h"
#include "common/params_list.h"
#include "platform/code_page.h"

using namespace corvane;
using platform::OleVariant;

namespace {

std::string names(const TkivParamsList& list) {
  std::string out;
  for (int32_t i = 0; i < list.Count(); ++i) {
    if (i) out += ",";
    out += list.Items(i)->Name().str();
  }
  return out;
}

OleVariant i4(int32_t v) { return OleVariant::fromI4(v); }

}  // namespace

TEST(ParamsList, NewListIsAliveAndEmpty) {
  auto list = TkivParamsList::Create();
  EXPECT_EQ(list->Signature(), ParamsListSignature);
  EXPECT_TRUE(TkivParamsList::HasSignature(list.get()));
  EXPECT_EQ(list->Count(), 0);
  EXPECT_EQ(list->Tag(), 0);
  EXPECT_EQ(list->ItemClass(), &TkivParamsListItem::Class);
  ASSERT_EQ(list->ListId().size(), 38);
  EXPECT_EQ(list->ListId().view().front(), '{');
  EXPECT_NE(list->ListId(), TkivParamsList::Create()->ListId());
  EXPECT_EQ(list->Items(0), nullptr);
  EXPECT_EQ(list->Items(-1), nullptr);
}

TEST(ParamsList, AddItemKeepsNameAndRefusesBlankNames) {
  auto list = TkivParamsList::Create();
  EXPECT_EQ(list->AddItem("", i4(1).raw()), nullptr);
  EXPECT_EQ(list->AddItem(" \t\r\n", i4(1).raw()), nullptr);
  EXPECT_EQ(list->Count(), 0);
  TkivParamsListItem* item = list->AddItem("  Mixed Name ", i4(7).raw());
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->Name(), "  Mixed Name ");
  EXPECT_EQ(item->LowerName(), "  mixed name ");
  EXPECT_EQ(item->DataType(), 0u);
  EXPECT_EQ(item->Quality(), 2);
  EXPECT_EQ(item->ValueRef().vt, platform::vtI4);
  EXPECT_EQ(item->ValueRef().lVal, 7);
}

TEST(ParamsList, LowerNamesOfEveryLength) {
  auto list = TkivParamsList::Create();
  TkivParamsListItem* lower = list->AddItem("already_lower9", i4(1).raw());
  EXPECT_EQ(lower->LowerName(), "already_lower9");
  EXPECT_EQ(lower->LowerName().data(), lower->Name().data()) << "both fields share one text";
  EXPECT_EQ(lower->Name().RefCount(), 2);

  const std::string longName = "Long_" + std::string(100, 'X') + "_@[`{Z";
  TkivParamsListItem* item = list->AddItem(longName, i4(2).raw());
  EXPECT_EQ(item->Name(), longName);
  EXPECT_EQ(item->LowerName(), "long_" + std::string(100, 'x') + "_@[`{z") << "only A-Z change";
  EXPECT_EQ(item->Name().RefCount(), 1);

  const std::string accented = platform::wideToAnsi(u"TÉst");
  TkivParamsListItem* other = list->AddItem(accented, i4(3).raw());
  EXPECT_EQ(other->LowerName(), platform::ansiLower(accented));
  EXPECT_EQ(list->ItemByName(platform::wideToAnsi(u"téST")), other);

  // A text both fields share outlives the item while someone else holds it.
  AnsiString kept = lower->Name();
  list->Delete(0);
  EXPECT_EQ(kept, "already_lower9");
  EXPECT_EQ(kept.RefCount(), 1);
}

TEST(ParamsList, LookupIgnoresCaseButNotBlanks) {
  auto list = TkivParamsList::Create();
  list->AddItem("Alpha", i4(1).raw());
  list->AddItem("beta ", i4(2).raw());
  list->AddItem(platform::wideToAnsi(u"\u00C4rger"), i4(3).raw());  // non-ASCII first letter
  EXPECT_EQ(list->ItemIndexByName("ALPHA"), 0);
  EXPECT_EQ(list->ItemIndexByName("beta"), -1);
  EXPECT_EQ(list->ItemIndexByName("BETA "), 1);
  EXPECT_EQ(list->ItemIndexByName(platform::wideToAnsi(u"\u00E4RGER")), 2);
  EXPECT_EQ(list->ItemByName("missing"), nullptr);
  EXPECT_TRUE(list->ItemValueByName("missing").isEmpty());
  EXPECT_EQ(list->ItemValueByNameDef("missing", i4(42).raw()).raw().lVal, 42);
  EXPECT_EQ(list->ItemValueByNameDef("alpha", i4(42).raw()).raw().lVal, 1);
}

TEST(ParamsList, DuplicateNamesAnswerFirstAtOrAfterStart) {
  auto list = TkivParamsList::Create();
  list->AddItem("x", i4(0).raw());
  list->AddItem("y", i4(1).raw());
  list->AddItem("X", i4(2).raw());
  EXPECT_EQ(list->ItemIndexByName("x"), 0);
  EXPECT_EQ(list->ItemIndexByName("x", 1), 2);
  EXPECT_EQ(list->ItemIndexByName("x", -5), 0);
  EXPECT_EQ(list->ItemIndexByName("x", 1, 1), -1);
  EXPECT_EQ(list->ItemIndexByName("x", 0, 99), 0);
  EXPECT_EQ(list->ItemIndexByName("x", 3), -1);
}

TEST(ParamsList, RowLimitedSearchStopsAtDelimiter) {
  auto list = TkivParamsList::Create();
  list->AddItem("a", i4(0).raw());
  list->NewRow();
  list->AddItem("b", i4(1).raw());
  list->NewRow();
  EXPECT_EQ(list->ItemIndexByName("b", 0, -2), -1);
  EXPECT_EQ(list->ItemIndexByName("b", 2, -2), 2);
  EXPECT_EQ(list->ItemIndexByName("b", 0, -1), 2);
  // The delimiter's own name is compared before the search stops.
  EXPECT_EQ(list->ItemIndexByName("$new_row$", 0, -2), 1);
}

TEST(ParamsList, RowsAndDelimiters) {
  auto list = TkivParamsList::Create();
  int32_t index = 77;
  bool isDelimiter = true;
  EXPECT_FALSE(list->FindRow(0, index, isDelimiter));
  EXPECT_EQ(index, 77);
  list->NewRow();
  list->NewRow();
  ASSERT_EQ(list->Count(), 1);
  const TkivParamsListItem* delimiter = list->Items(0);
  EXPECT_EQ(delimiter->Name(), "$NEW_ROW$");
  EXPECT_EQ(delimiter->LowerName(), "$new_row$");
  EXPECT_EQ(delimiter->DataType(), RowDelimiterType);
  EXPECT_EQ(delimiter->Quality(), 2);
  EXPECT_EQ(delimiter->ValueRef().vt, platform::vtNull);
  EXPECT_TRUE(delimiter->IsRowDelimiter());

  list->AddItem("a", i4(1).raw());
  list->AddItem("b", i4(2).raw());
  EXPECT_TRUE(list->FindRow(0, index, isDelimiter));
  EXPECT_EQ(index, 0);
  EXPECT_TRUE(isDelimiter);
  EXPECT_TRUE(list->FindRow(1, index, isDelimiter));
  EXPECT_EQ(index, 2);
  EXPECT_FALSE(isDelimiter);
  EXPECT_FALSE(list->FindRow(3, index, isDelimiter));
  EXPECT_TRUE(list->FindRow(-4, index, isDelimiter));
  EXPECT_EQ(index, 0);
}

TEST(ParamsList, AppendRowTerminatesOnce) {
  auto row = TkivParamsList::Create();
  row->AddItem("v", i4(1).raw());
  auto list = TkivParamsList::Create();
  list->AppendRow(*row);
  list->AppendRow(*row);
  EXPECT_EQ(names(*list), "v,$NEW_ROW$,v,$NEW_ROW$");
  row->NewRow();
  list->AppendRow(*row);
  EXPECT_EQ(names(*list), "v,$NEW_ROW$,v,$NEW_ROW$,v,$NEW_ROW$");
  auto empty = TkivParamsList::Create();
  list->AppendRow(*empty);  // the last item is a delimiter already: nothing
  EXPECT_EQ(list->Count(), 6);
}

TEST(ParamsList, InsertAndDelete) {
  auto list = TkivParamsList::Create();
  list->AddItem("a", i4(0).raw());
  list->AddItem("c", i4(0).raw());
  list->InsertItem(1, "b", i4(0).raw());
  list->InsertItem(0, "start", i4(0).raw());
  list->InsertItem(4, "end", i4(0).raw());
  EXPECT_EQ(names(*list), "start,a,b,c,end");
  try {
    list->InsertItem(6, "bad", i4(0).raw());
    FAIL() << "no list error";
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "List index out of bounds (6)");
  }
  EXPECT_THROW(list->InsertItem(-1, "bad", i4(0).raw()), EListError);
  EXPECT_EQ(list->InsertItem(9, " ", i4(0).raw()), nullptr);  // blank name wins over the index
  EXPECT_EQ(list->Count(), 5);

  list->Delete(5);  // == Count: nothing
  list->Delete(0);
  list->Delete(3);
  EXPECT_EQ(names(*list), "a,b,c");
  try {
    list->Delete(-1);
    FAIL() << "no assertion";
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(e.Text(), "Assertion failure");
    EXPECT_NE(std::string(e.what()).find("Public\\Common\\kivParamLst"), std::string::npos);
  }
}

TEST(ParamsList, ManyItemsGrowTheArray) {
  auto list = TkivParamsList::Create();
  for (int i = 0; i < 1000; ++i) list->AddItem("n" + std::to_string(i), i4(i).raw());
  EXPECT_EQ(list->Count(), 1000);
  EXPECT_GE(list->Capacity(), 1000);
  EXPECT_EQ(list->ItemValueByName("N999").raw().lVal, 999);
  list->Clear();
  EXPECT_EQ(list->Count(), 0);
  EXPECT_EQ(list->ItemIndexByName("n1"), -1);
}

TEST(ParamsList, SetItemFindsOrCreates) {
  auto list = TkivParamsList::Create();
  EXPECT_EQ(list->SetItem("new", i4(5).raw(), false), nullptr);
  EXPECT_EQ(list->Count(), 0);
  TkivParamsListItem* made = list->SetItem("New", i4(5).raw(), true);
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->ValueRef().lVal, 5);
  EXPECT_EQ(made->Quality(), 2);
  made->SetDataType(9);
  made->SetQuality(1);
  EXPECT_EQ(list->SetItem("NEW", OleVariant::fromString(u"text").raw(), true), made);
  EXPECT_EQ(list->Count(), 1);
  EXPECT_EQ(made->ValueRef().vt, platform::vtBstr);
  EXPECT_EQ(made->DataType(), 9u);  // attributes of an existing item stay
  EXPECT_EQ(made->Quality(), 1);
  EXPECT_EQ(list->SetItem("  ", i4(1).raw(), true), nullptr);
}

TEST(ParamsList, ParamValueRequiresTheParameter) {
  auto list = TkivParamsList::Create();
  list->AddItem("p", i4(3).raw());
  EXPECT_EQ(list->ParamValue("P").raw().lVal, 3);
  list->SetParamValue("p", i4(4).raw());
  EXPECT_EQ(list->ParamValue("p").raw().lVal, 4);
  try {
    list->ParamValue("q");
    FAIL();
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(e.Text(), "Parameter is not defined");
  }
  EXPECT_THROW(list->SetParamValue("q", i4(1).raw()), EAssertionFailed);
}

TEST(ParamsList, CopiesCarryAttributesAndValues) {
  auto source = TkivParamsList::Create();
  TkivParamsListItem* a = source->AddItem("A", OleVariant::fromString(u"one").raw());
  a->SetDataType(8);
  a->SetQuality(0);
  a->SetLowerName("custom");
  source->AddItem("B", i4(2).raw());
  source->NewRow();

  auto target = TkivParamsList::Create();
  EXPECT_FALSE(target->CopyFrom(nullptr));
  EXPECT_TRUE(target->CopyFrom(source.get()));
  ASSERT_EQ(target->Count(), 3);
  const TkivParamsListItem* copy = target->Items(0);
  EXPECT_NE(copy, a);
  EXPECT_EQ(copy->LowerName(), "custom");
  EXPECT_EQ(copy->DataType(), 8u);
  EXPECT_EQ(copy->Quality(), 0);
  ASSERT_EQ(copy->ValueRef().vt, platform::vtBstr);
  EXPECT_NE(copy->ValueRef().bstrVal, a->ValueRef().bstrVal) << "values are deep copies";
  EXPECT_TRUE(target->Items(2)->IsRowDelimiter());

  auto empty = TkivParamsList::Create();
  EXPECT_FALSE(target->CopyFrom(empty.get()));
  EXPECT_TRUE(target->CopyRangeFrom(source.get(), 2, 1));  // start > end: nothing, still true
  EXPECT_EQ(target->Count(), 3);
  EXPECT_TRUE(target->CopyRangeFrom(source.get(), 1, 1));
  EXPECT_EQ(names(*target), "A,B,$NEW_ROW$,B");
  EXPECT_TRUE(target->CopyRangeFrom(source.get(), -3, 99));
  EXPECT_EQ(target->Count(), 7);

  EXPECT_TRUE(target->CopyFrom(target.get()));  // into itself: doubles once
  EXPECT_EQ(target->Count(), 14);
  EXPECT_EQ(names(*target), "A,B,$NEW_ROW$,B,A,B,$NEW_ROW$,A,B,$NEW_ROW$,B,A,B,$NEW_ROW$");

  EXPECT_EQ(target->AddItemCopy(nullptr), nullptr);
}

TEST(ParamsList, ValuesFollowTheStorageRule) {
  auto list = TkivParamsList::Create();
  AnsiString text(platform::wideToAnsi(u"h\u00E9llo"));
  platform::Variant ansi{};
  ansi.vt = platform::vtString;
  ansi.byref = const_cast<char*>(text.data());
  TkivParamsListItem* item = list->AddItem("s", ansi);
  ASSERT_EQ(item->ValueRef().vt, platform::vtBstr);
  EXPECT_EQ(platform::OleString::adopt(platform::sysAllocString(item->ValueRef().bstrVal)).view(), u"h\u00E9llo");
  EXPECT_EQ(text.RefCount(), 1) << "the 8-bit source string is not kept";

  platform::Variant byteValue{};
  byteValue.vt = platform::vtUI1;
  byteValue.bVal = 200;
  EXPECT_EQ(list->AddItem("b", byteValue)->ValueRef().vt, platform::vtUI1);
  platform::Variant smallValue{};
  smallValue.vt = platform::vtI2;
  smallValue.iVal = -3;
  EXPECT_EQ(list->AddItem("i2", smallValue)->ValueRef().vt, platform::vtI2);
  EXPECT_EQ(list->AddItem("i8", OleVariant::fromI8(1LL << 40).raw())->ValueRef().llVal, 1LL << 40);

  int32_t referenced = 99;
  platform::Variant byRef{};
  byRef.vt = platform::vtI4 | platform::vtByRef;
  byRef.byref = &referenced;
  TkivParamsListItem* deref = list->AddItem("r", byRef);
  referenced = 0;
  EXPECT_EQ(deref->ValueRef().vt, platform::vtI4);
  EXPECT_EQ(deref->ValueRef().lVal, 99) << "a reference is stored as the value it pointed at";

  const char16_t wide[] = u"wide";
  platform::Variant wideValue{};
  wideValue.vt = platform::vtUString;
  wideValue.byref = const_cast<char16_t*>(wide);
  EXPECT_EQ(list->AddItem("w", wideValue)->ValueRef().vt, platform::vtBstr);

  EXPECT_EQ(list->AddItem("d", OleVariant::fromDate(45351.5).raw())->ValueRef().vt, platform::vtDate);
  EXPECT_EQ(list->AddItem("n", OleVariant::null().raw())->ValueRef().vt, platform::vtNull);
}

TEST(ParamsList, RenamingKeepsTheOldLookupName) {
  auto list = TkivParamsList::Create();
  TkivParamsListItem* item = list->AddItem("Old", i4(1).raw());
  item->SetName("New");
  EXPECT_EQ(list->ItemByName("old"), item);
  EXPECT_EQ(list->ItemByName("new"), nullptr);
  TkivParamsListItem* other = list->AddItem("x", i4(2).raw());
  other->Assign(*item);
  EXPECT_EQ(other->Name(), "New");
  EXPECT_EQ(other->ValueRef().lVal, 2) << "Assign leaves the value";
}

TEST(ParamsList, StorageDataTypeTable) {
  EXPECT_EQ(StorageDataTypes[0].Name, "string");
  EXPECT_EQ(StorageDataTypes[4].Code, platform::vtBool);
  EXPECT_EQ(StorageDataTypes[16].Name, "int64");
  EXPECT_EQ(StorageDataTypes[17].Code, platform::vtCy);
}
