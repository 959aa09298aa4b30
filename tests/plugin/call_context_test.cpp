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
    EXPECT_NE(record.Params, reinterpret_cast<uintptr_t>(list.get()));
    EXPECT_EQ(record.CallOptions, 0x01) << "a native list is not an interface reference";
    EXPECT_EQ(countThrough(record.Params), 1);
    EXPECT_EQ(TkivParamsListWrap::LiveCount(), wrappersBefore + 1);
  }
  EXPECT_EQ(record.Params, reinterpret_cast<uintptr_t>(list.get()));
  EXPECT_EQ(TkivParamsListWrap::LiveCount(), wrappersBefore);
  EXPECT_EQ(list->Count(), 1) << "the host's list survives the call";
}

TEST(CallContext, InterfaceParamsAreHeldAndFlagged) {
  auto list = TkivParamsList::Create();
  list->AddItem("A", OleVariant::fromI4(1).raw());
  list->AddItem("B", OleVariant::fromI4(2).raw());
  InterfaceRef<IkivParamsListA> hostReference = TkivParamsListWrap::NewInterfaceA(list.get(), true);
  IkivParamsListA* variable = hostReference.get();
  TPluginCallRecord record = freshRecord();
  record.Params = reinterpret_cast<uintptr_t>(&variable);
  {
    CallContext context;
    context.Enter(record);
    EXPECT_EQ(record.CallOptions, 0x41);
    EXPECT_EQ(record.Params, reinterpret_cast<uintptr_t>(&variable));
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
  EXPECT_EQ(record.InputItem.Type, ditListInterface) << "item types stay 9 after the call";
  EXPECT_EQ(output->ItemValueByName("RESULT").raw().lVal, 7) << "writes reach the host's list";
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
