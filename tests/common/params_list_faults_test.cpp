// Lists and their interfaces when the shared memory manager or the OLE string
// allocator refuses: every allocation of an operation is refused in turn,
// and each time the failure is reported and the list keeps exactly what it
// held (AddressSanitizer's leak check covers what a refused run made).
#include <gtest/gtest.h>

#include <string>

#include "common/params_list.h"
#include "common/params_list_wrap.h"
#include "platform/code_page.h"
#include "support/allocation_fault_sweep.h"

using namespace corvane;
using platform::Allocator;
using platform::OleVariant;
using test_support::ForEachRefusal;
using test_support::RefusalRun;

namespace {

// Names and values, in order, as one text.
std::string Describe(const TkivParamsList& list) {
  std::string text;
  for (int32_t i = 0; i < list.Count(); ++i) {
    const TkivParamsListItem& item = *list.Items(i);
    text += std::string(item.Name().view()) + "/" + std::string(item.LowerName().view()) + "=";
    const platform::Variant& value = item.ValueRef();
    if (value.vt == platform::vtBstr) {
      text += platform::wideToUtf8(std::u16string_view(value.bstrVal ? value.bstrVal : u"",
                                                       platform::sysStringLen(value.bstrVal)));
    } else if (value.vt == platform::vtI4) {
      text += std::to_string(value.lVal);
    }
    text += ";";
  }
  return text;
}

ParamsListPtr Held() {
  ParamsListPtr list = TkivParamsList::Create();
  list->AddItem("Kept", OleVariant::fromString(u"before").raw());
  list->AddItem("Count", OleVariant::fromI4(7).raw());
  return list;
}

const std::string kHeld = "Kept/kept=before;Count/count=7;";

// Refuses each allocation of `operation` on a list holding kHeld, under both
// allocators: a refused run must report it and leave kHeld; the full run must
// leave `expected`.
template <class Operation>
void ExpectAllOrNothing(const std::string& expected, Operation operation) {
  uint32_t allocations = 0;
  for (Allocator allocator : {Allocator::SharedMemory, Allocator::OleStrings}) {
    SCOPED_TRACE(allocator == Allocator::SharedMemory ? "shared memory" : "OLE strings");
    const uint32_t made = ForEachRefusal(
        allocator, [] { return Held(); }, [&](ParamsListPtr& list) { operation(*list); },
        [&](ParamsListPtr& list, const RefusalRun& run) {
          if (run.WasRefused) {  // NOLINT(bugprone-branch-clone)
            EXPECT_TRUE(run.Threw) << "allocation " << run.Refused << " was refused without a word";
            EXPECT_EQ(Describe(*list), kHeld) << "allocation " << run.Refused << " refused";
          } else {
            EXPECT_FALSE(run.Threw) << run.What;
            EXPECT_EQ(Describe(*list), expected);
          }
        });
    allocations += made;
  }
  EXPECT_GT(allocations, 0u) << "the operation allocates nothing to refuse";
}

}  // namespace

TEST(ParamsListFaults, AddingAndInsertingItemsIsAllOrNothing) {
  ExpectAllOrNothing(kHeld + "Added/added=a text;",
                     [](TkivParamsList& list) { list.AddItem("Added", OleVariant::fromString(u"a text").raw()); });
  ExpectAllOrNothing("First/first=1;" + kHeld,
                     [](TkivParamsList& list) { list.InsertItem(0, "First", OleVariant::fromI4(1).raw()); });
  ExpectAllOrNothing(kHeld + "New/new=made;",
                     [](TkivParamsList& list) { list.SetItem("New", OleVariant::fromString(u"made").raw(), true); });
}

TEST(ParamsListFaults, ARefusedValueKeepsTheItemsOldValue) {
  ExpectAllOrNothing("Kept/kept=after;Count/count=7;",
                     [](TkivParamsList& list) { list.SetItem("Kept", OleVariant::fromString(u"after").raw(), false); });
}

TEST(ParamsListFaults, ACopyThatRunsOutOfMemoryTakesBackWhatItCopied) {
  ParamsListPtr source = TkivParamsList::Create();
  std::string copied;
  for (int i = 0; i < 6; ++i) {
    const std::string name = "Item" + std::to_string(i);
    source->AddItem(name, OleVariant::fromString(u"value " + std::u16string(1, u'0' + i)).raw());
    copied += name + "/item" + std::to_string(i) + "=value " + std::to_string(i) + ";";
  }
  // Enough items that the list's array has to grow on the way.
  ExpectAllOrNothing(kHeld + copied, [&](TkivParamsList& list) {
    if (!list.CopyFrom(source.get())) throw std::bad_alloc();
  });
}

TEST(ParamsListFaults, InterfacesAnswerOutOfMemoryAndKeepTheList) {
  for (Allocator allocator : {Allocator::SharedMemory, Allocator::OleStrings}) {
    ForEachRefusal(
        allocator, [] { return Held(); },
        [](ParamsListPtr& list) {
          InterfaceRef<IkivParamsListW> wide = TkivParamsListWrap::NewInterfaceW(list.get(), true);
          const OleVariant value = OleVariant::fromI4(42);
          InterfaceRef<IkivParamsListItemW> item;
          const platform::HResult hr = wide->AddItem(u"Answer", value.get(), item.put());
          if (hr == platform::kHrOutOfMemory) throw std::bad_alloc();
          if (platform::failed(hr)) throw std::runtime_error("AddItem answered " + std::to_string(hr));
        },
        [](ParamsListPtr& list, const RefusalRun& run) {
          if (run.WasRefused) {
            EXPECT_EQ(run.What, std::bad_alloc().what()) << "allocation " << run.Refused;
            EXPECT_EQ(Describe(*list), kHeld);
          } else {
            EXPECT_EQ(Describe(*list), kHeld + "Answer/answer=42;");
          }
        });
  }
}

TEST(ParamsListFaults, AValueThatCannotBeHandedOutLeavesTheOutParameterEmpty) {
  ParamsListPtr list = Held();
  InterfaceRef<IkivParamsListW> wide = TkivParamsListWrap::NewInterfaceW(list.get(), true);
  InterfaceRef<IkivParamsListItemW> item;
  ASSERT_EQ(wide->GetItem(0, item.put()), platform::kHrOk);
  platform::Variant value{};
  platform::HResult hr;
  uint32_t refused;
  {
    platform::AllocationFaults faults(Allocator::OleStrings, 0, 1);
    hr = item->GetValueW(&value);
    refused = platform::refusedAllocations(Allocator::OleStrings);
  }
  if (refused == 0) {
    // Windows' own VariantCopy makes the copy's string, past the refusals.
    platform::variantClear(&value);
    GTEST_SKIP() << "the system copies values with an allocator of its own";
  }
  EXPECT_EQ(hr, platform::kHrOutOfMemory);
  EXPECT_EQ(value.vt, platform::vtEmpty);
  ASSERT_EQ(item->GetValueW(&value), platform::kHrOk);
  EXPECT_EQ(std::u16string(value.bstrVal), u"before");
  platform::variantClear(&value);
}
