#include <gtest/gtest.h>

#include <cstring>

#include "common/params_list.h"
#include "common/params_list_wrap.h"
#include "plugin/call_context.h"

using namespace corvane;
using platform::OleVariant;

namespace {

TPluginCallRecord freshRecord() {
  TPluginCallRecord record;
  std::memset(&record, 0, sizeof record);
  record.RecordSize = CallRecordSize;
  record.CallOptions = 0x01;
  return record;
}

int32_t countThrough(uintptr_t paramsAddress) {
  IkivParamsListA* list = *reinterpret_cast<IkivParamsListA* const*>(paramsAddress);
  return list->GetCount();
}

}  // namespace

TEST(CallContext, NativeParamsAreWrappedAndRestored) {
  auto list = TkivParamsList::Create();
  list->AddItem("COMMAND", OleVariant::fromString(u"LOAD").raw());
  TPluginCallRecord record = freshRecord();
  record.Params = reinterpret_cast<uintptr_t>(list.get());
  const int32_t wrappersBefore = TkivParamsListWrap::LiveCount();
  {
    CallContext context;
    context.Enter(record);
    EXPECT_NE(uintptr_t(record.Params), reinterpret_cast<uintptr_t>(list.get()));
    EXPECT_EQ(record.CallOptions, 0x01) << "a native list is not an interface reference";
    EXPECT_EQ(countThrough(record.Params), 1);
    EXPECT_EQ(TkivParamsListWrap::LiveCount(), wrappersBefore + 1);
  }
  EXPECT_EQ(uintptr_t(record.Params), reinterpret_cast<uintptr_t>(list.get()));
  EXPECT_EQ(TkivParamsListWrap::LiveCount(), wrappersBefore);
  EXPECT_EQ(list->Count(), 1) << "the host's list survives the call";
}

TEST(CallContext, InterfaceParamsAreHeldAndFlagged) {
  auto list = TkivParamsList::Create();
  list->AddItem("A", OleVariant::fromI4(1).raw());
  list->AddItem("B", OleVariant::fromI4(2).raw());
  InterfaceRef<IkivParamsListA> hostReference = TkivParamsListWrap::NewInterfaceA(list.get(), true);
  // A host's variable sits inside a larger object; the library reads past
  // it to tell it from a list object.
  struct {
    IkivParamsListA* variable;
    char rest[32];
  } host{hostReference.get(), {}};
  IkivParamsListA*& variable = host.variable;
  TPluginCallRecord record = freshRecord();
  record.Params = reinterpret_cast<uintptr_t>(&variable);
  {
    CallContext context;
    context.Enter(record);
    EXPECT_EQ(record.CallOptions, 0x41);
    EXPECT_EQ(uintptr_t(record.Params), reinterpret_cast<uintptr_t>(&variable));
    EXPECT_EQ(countThrough(record.Params), 2) << "the same items as through the native object";
    variable->AddRef();
    EXPECT_EQ(variable->Release(), 2u) << "the context holds one reference during the call";
  }
  EXPECT_EQ(record.CallOptions, 0x01);
  variable->AddRef();
  EXPECT_EQ(variable->Release(), 1u);
}

TEST(CallContext, ListItemsBecomeInterfaceReferences) {
  auto input = TkivParamsList::Create();
  input->AddItem("x", OleVariant::fromI4(5).raw());
  auto output = TkivParamsList::Create();
  TPluginCallRecord record = freshRecord();
  record.InputItem.Type = ditParamsList;
  record.InputItem.Pointer = reinterpret_cast<uintptr_t>(input.get());
  record.OutputItem.Type = ditWrappedParamsList;
  record.OutputItem.Pointer = reinterpret_cast<uintptr_t>(output.get());
  {
    CallContext context;
    context.Enter(record);
    ASSERT_EQ(record.InputItem.Type, ditListInterface);
    ASSERT_EQ(record.OutputItem.Type, ditListInterface);
    EXPECT_EQ(record.InputItem.Pointer, context.InputSlot());
    IkivParamsListW* in = *reinterpret_cast<IkivParamsListW* const*>(record.InputItem.Pointer);
    EXPECT_EQ(in->GetCount(), 1);
    IkivParamsListW* out = *reinterpret_cast<IkivParamsListW* const*>(record.OutputItem.Pointer);
    InterfaceRef<IkivParamsListItemW> added;
    OleVariant value = OleVariant::fromI4(7);
    ASSERT_EQ(out->AddItem(u"result", value.get(), added.put()), platform::kHrOk);
  }
  EXPECT_EQ(output->ItemValueByName("RESULT").raw().lVal, 7) << "writes reach the host's list";
}

bool sameItem(const TPluginDataItem& a, const TPluginDataItem& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The slots go with the context: an item still addressing one after the call
// would leave the host a dangling pointer instead of its own list.
TEST(CallContext, ItemsAddressingASlotGetTheHostsFormBack) {
  auto input = TkivParamsList::Create();
  auto output = TkivParamsList::Create();
  TPluginCallRecord record = freshRecord();
  record.InputItem = {3, 17, ditParamsList, reinterpret_cast<uintptr_t>(input.get())};
  record.OutputItem = {0, 5, ditWrappedParamsList, reinterpret_cast<uintptr_t>(output.get())};
  const TPluginCallRecord host = record;
  {
    CallContext context;
    context.Enter(record);
    record.OutputItem.Count = 2;  // the call's answer
  }
  EXPECT_TRUE(sameItem(record.InputItem, host.InputItem));
  EXPECT_EQ(record.OutputItem.Type, ditWrappedParamsList);
  EXPECT_EQ(record.OutputItem.Size, 5);
  EXPECT_EQ(record.OutputItem.Pointer, reinterpret_cast<uintptr_t>(output.get()));
  EXPECT_EQ(record.OutputItem.Count, 2u) << "the count the call set stays";

  // A pass-through copies the input's slot into the output item.
  record = host;
  {
    CallContext context;
    context.Enter(record);
    record.OutputItem = record.InputItem;
  }
  EXPECT_TRUE(sameItem(record.OutputItem, host.InputItem));
  EXPECT_TRUE(sameItem(record.InputItem, host.InputItem));

  // A list item without a list gets its own for the call, and no list after.
  record = freshRecord();
  record.OutputItem = {0, 0, ditParamsList, 0};
  {
    CallContext context;
    context.Enter(record);
    ASSERT_NE(record.OutputItem.Pointer, 0u);
  }
  EXPECT_EQ(record.OutputItem.Type, ditParamsList);
  EXPECT_EQ(record.OutputItem.Pointer, 0u);
}

TEST(CallContext, ItemsTheCallReplacedAreLeftAlone) {
  auto input = TkivParamsList::Create();
  auto output = TkivParamsList::Create();
  InterfaceRef<IkivParamsListA> hostReference = TkivParamsListWrap::NewInterfaceA(output.get(), true);
  InterfaceRef<IkivParamsListW> hostOutput = hostReference.Query<IkivParamsListW>();
  char block[2] = {1, 2};
  TPluginCallRecord record = freshRecord();
  record.InputItem = {0, 0, ditParamsList, reinterpret_cast<uintptr_t>(input.get())};
  record.OutputItem = {0, 0, ditListInterface, reinterpret_cast<uintptr_t>(hostOutput.address())};
  const TPluginCallRecord host = record;
  const TPluginDataItem replacedInput{0, 2, ditMemoryBlock, reinterpret_cast<uintptr_t>(block)};
  const TPluginDataItem status{0, 4, ditStatus, 3};
  {
    CallContext context;
    context.Enter(record);
    EXPECT_TRUE(sameItem(record.OutputItem, host.OutputItem)) << "an interface item is held, not wrapped";
    record.InputItem = replacedInput;
  }
  EXPECT_TRUE(sameItem(record.InputItem, replacedInput));
  EXPECT_TRUE(sameItem(record.OutputItem, host.OutputItem));

  record = host;
  {
    CallContext context;
    context.Enter(record);
    record.OutputItem = status;
  }
  EXPECT_TRUE(sameItem(record.OutputItem, status));
  EXPECT_TRUE(sameItem(record.InputItem, host.InputItem));
}

TEST(CallContext, OnlyListItemsAreTouched) {
  TPluginCallRecord record = freshRecord();
  char block[4] = {1, 2, 3, 4};
  record.InputItem.Type = ditMemoryBlock;
  record.InputItem.Size = 4;
  record.InputItem.Pointer = reinterpret_cast<uintptr_t>(block);
  record.OutputItem.Type = ditParamsList;  // a list item without a list: gets one of its own
  const TPluginCallRecord before = record;
  {
    CallContext context;
    context.Enter(record);
    EXPECT_EQ(std::memcmp(&record.InputItem, &before.InputItem, sizeof record.InputItem), 0);
    ASSERT_EQ(record.OutputItem.Type, ditListInterface);
    IkivParamsListW* out = *reinterpret_cast<IkivParamsListW* const*>(record.OutputItem.Pointer);
    EXPECT_EQ(out->GetCount(), 0);
    EXPECT_EQ(out->GetSignature(), ParamsListSignature);
  }
  EXPECT_EQ(record.Params, 0u);
}
