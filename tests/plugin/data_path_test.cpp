// Data packets through ProcessData: the framework's checks and messages
// around the module's handler.
#include <gtest/gtest.h>

#include <cstring>
#include <chrono>
#include <future>
#include <thread>
#include <stdexcept>
#include <string>

#include "common/params_list.h"
#include "common/params_list_wrap.h"
#include "platform/message_window.h"
#include "plugin/entry_points.h"
#include "plugin/plugin_library.h"
#include "plugin_test_support.h"

using namespace corvane;
using platform::OleVariant;

namespace {

struct Instance : test_support::TestInstance {
  ParamsListPtr params = TkivParamsList::Create();
  Instance() { record.Params = reinterpret_cast<uintptr_t>(params.get()); }
  std::string Log() { return plugin().LogList()->TakeText(); }
};

}  // namespace

TEST(DataPath, BadCallsAreRefused) {
  Instance instance;
  TPluginCallRecord record = instance.record;
  record.RecordSize = CallRecordSize - 1;
  EXPECT_EQ(ProcessData(&record), -1);
  record = instance.record;
  record.Params = 0;
  EXPECT_EQ(ProcessData(&record), -1);
  record = instance.record;
  record.InstanceHandle = reinterpret_cast<uintptr_t>(&record);
  EXPECT_EQ(ProcessData(&record), -1);
}

TEST(DataPath, ExportWithoutDataSaysSo) {
  Instance instance;
  bool called = false;
  instance.plugin().OnProcessData = [&](TkivPlugin&, TPluginCallRecord*, int32_t&) { called = true; };
  instance.record.RoleFlags = 0x04;
  EXPECT_EQ(ProcessData(&instance.record), 0);
  EXPECT_FALSE(called);
  EXPECT_EQ(instance.Log(), "\x02No data for processing\r\n");
}

TEST(DataPath, FilterWithoutHandlerPassesThePacketThrough) {
  Instance instance;
  char packet[] = "raw bytes";
  instance.record.RoleFlags = 0x20;
  instance.record.InputItem = {3, static_cast<int32_t>(sizeof packet), ditMemoryBlock,
                               reinterpret_cast<uintptr_t>(packet)};
  EXPECT_EQ(ProcessData(&instance.record), 0);
  EXPECT_EQ(std::memcmp(&instance.record.OutputItem, &instance.record.InputItem, sizeof(TPluginDataItem)), 0);

  // A native input list reaches the host as its own list on both items, not
  // as the call's slot.
  auto list = TkivParamsList::Create();
  list->AddItem("v", OleVariant::fromI4(1).raw());
  const TPluginDataItem native{2, 0, ditParamsList, reinterpret_cast<uintptr_t>(list.get())};
  instance.record.InputItem = native;
  instance.record.OutputItem = {};
  EXPECT_EQ(ProcessData(&instance.record), 0);
  EXPECT_EQ(std::memcmp(&instance.record.InputItem, &native, sizeof native), 0);
  EXPECT_EQ(std::memcmp(&instance.record.OutputItem, &native, sizeof native), 0);

  // An interface reference of the host passes through as it came.
  InterfaceRef<IkivParamsListW> reference =
      TkivParamsListWrap::NewInterfaceA(list.get(), true).Query<IkivParamsListW>();
  const TPluginDataItem held{0, 0, ditListInterface, reinterpret_cast<uintptr_t>(reference.address())};
  instance.record.InputItem = held;
  instance.record.OutputItem = {};
  EXPECT_EQ(ProcessData(&instance.record), 0);
  EXPECT_EQ(std::memcmp(&instance.record.OutputItem, &held, sizeof held), 0);
}

TEST(DataPath, CompletionMessagesOfWritingRoles) {
  Instance instance;
  char packet[] = "x";
  instance.record.InputItem = {0, 1, ditMemoryBlock, reinterpret_cast<uintptr_t>(packet)};
  int32_t answer = 0;
  instance.plugin().OnProcessData = [&](TkivPlugin&, TPluginCallRecord*, int32_t& result) {
    if (answer == 99) throw std::runtime_error("disk full");
    result = answer;
  };
  instance.record.RoleFlags = 0x04;
  answer = 1;
  EXPECT_EQ(ProcessData(&instance.record), 1);
  answer = -5;
  EXPECT_EQ(ProcessData(&instance.record), -5);
  instance.record.RoleFlags = 0x08;
  answer = 99;
  EXPECT_EQ(ProcessData(&instance.record), -3);
  EXPECT_EQ(instance.Log(),
            "\x03" "Data have been processed successfully\r\n"
            "\x02" "Data have been processed with errors\r\n"
            "\x02" "Data have been processed with errors: disk full\r\n");
  EXPECT_FALSE(instance.plugin().Busy());
}

TEST(DataPath, EmptyInputListCountsAsNoData) {
  Instance instance;
  auto input = TkivParamsList::Create();
  uintptr_t seen = 1;
  instance.plugin().OnProcessData = [&](TkivPlugin&, TPluginCallRecord* record, int32_t& result) {
    seen = record->InputItem.Pointer;
    result = 7;
  };
  instance.record.RoleFlags = 0x02;
  instance.record.InputItem = {0, 0, ditParamsList, reinterpret_cast<uintptr_t>(input.get())};
  EXPECT_EQ(ProcessData(&instance.record), 0) << "a positive answer without data becomes 0";
  EXPECT_EQ(seen, 0u);

  input->AddItem("v", OleVariant::fromI4(1).raw());
  instance.record.InputItem = {0, 0, ditParamsList, reinterpret_cast<uintptr_t>(input.get())};
  EXPECT_EQ(ProcessData(&instance.record), 7);
  EXPECT_NE(seen, 0u);
  EXPECT_EQ(instance.record.InputItem.Type, ditParamsList) << "the host gets its own list back";
  EXPECT_EQ(instance.record.InputItem.Pointer, reinterpret_cast<uintptr_t>(input.get()));
}

TEST(DataPath, UnloadedInstanceTakesNoPackets) {
  Instance instance;
  instance.plugin().SetTerminateNow(true);
  instance.record.RoleFlags = 0x02;
  EXPECT_EQ(ProcessData(&instance.record), -1);
}

// Calls on one instance run side by side; the instance stays busy until the
// last of them has left.
TEST(DataPath, BusyUntilTheLastCallLeaves) {
  Instance instance;
  std::promise<void> inside;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  instance.plugin().OnProcessData = [&](TkivPlugin&, TPluginCallRecord* record, int32_t& result) {
    if (record->ClientId == 1) {
      inside.set_value();
      released.wait();
    }
    result = 0;
  };
  instance.record.RoleFlags = 0x02;
  TPluginCallRecord slow = instance.record;
  slow.ClientId = 1;
  std::thread first([&] { EXPECT_EQ(ProcessData(&slow), 0); });
  inside.get_future().wait();
  EXPECT_EQ(ProcessData(&instance.record), 0);
  EXPECT_TRUE(instance.plugin().Busy()) << "the first call is still inside";
  release.set_value();
  first.join();
  EXPECT_FALSE(instance.plugin().Busy());
}

// A packet that meets an instance that is unloading while a call is still
// inside waits for that call, serving its thread's messages meanwhile, and
// is then refused.
TEST(DataPath, PacketsWaitForTheLastCallOfAnUnloadingInstance) {
  Instance instance;
  std::promise<void> inside;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  instance.plugin().OnProcessData = [&](TkivPlugin&, TPluginCallRecord* record, int32_t& result) {
    inside.set_value();
    released.wait();
    result = 0;
  };
  instance.record.RoleFlags = 0x02;
  TPluginCallRecord slow = instance.record;
  std::thread first([&] { EXPECT_EQ(ProcessData(&slow), 0); });
  inside.get_future().wait();
  instance.plugin().SetTerminateNow(true);

  // The waiting thread's window gets a message that releases the first call.
  struct Releaser {
    static intptr_t procedure(platform::WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
      if (message == 0x8001) static_cast<std::promise<void>*>(platform::windowUserData(window))->set_value();
      return platform::defaultWindowProcedure(window, message, wParam, lParam);
    }
  };
  platform::WindowHandle window = platform::createMessageWindow(&Releaser::procedure, &release);
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(platform::postMessage(window, 0x8001, 0, 0));
  EXPECT_EQ(ProcessData(&instance.record), -1);
  EXPECT_EQ(released.wait_for(std::chrono::seconds(0)), std::future_status::ready)
      << "the wait served the message that ended the first call";
  first.join();
  platform::destroyWindow(window);
}
