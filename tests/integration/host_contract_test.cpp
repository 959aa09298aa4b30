// The host's side of the contract: host functions the plug-in finds in the
// host's module (by "HANDLE" or by "APPLICATION-NAME"), and the log
// notification posted to the host's window.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "integration_support.h"
#include "platform/abi.h"
#include "platform/dynamic_library.h"
#include "platform/message_window.h"
#include "platform/thread.h"

using namespace corvane;
using namespace integration;

namespace {

struct Sent {
  uint32_t hostId;
  int32_t dataSourceId;
  uint32_t clientId;
  int32_t kind;
  std::string bytes;
};
std::vector<Sent> sent;

}  // namespace

// Exported from the suite's executable, as a host exports it.
extern "C" CV_EXPORT int32_t CV_STDCALL DataLogger_SendDataEx(uint32_t hostId, int32_t dataSourceId,
                                                              uint32_t clientId, int32_t, int32_t kind, void* data,
                                                              int32_t count) {
  sent.push_back({hostId, dataSourceId, clientId, kind, std::string(static_cast<const char*>(data), count)});
  return 42;
}

namespace {

int32_t sendThroughTheModule(Instance& instance, const std::string& text) {
  OleVariant answer;
  EXPECT_EQ(instance.Command("SEND", {{"TEXT", Text(text)}}, &answer), 0);
  return answer.raw().lVal;
}

TEST(HostContract, HostFunctionsAreFoundByHandleOrByName) {
  const auto self = reinterpret_cast<uintptr_t>(platform::moduleHandleByName(""));
  ASSERT_NE(self, 0u);
  sent.clear();

  Instance byHandle(TestModule());
  byHandle.Record().HostId = 11;
  byHandle.Record().DataSourceId = 5;
  byHandle.Record().ClientId = 6;
  EXPECT_EQ(sendThroughTheModule(byHandle, "before"), -1) << "no host functions before LOAD";
  ASSERT_EQ(byHandle.Command("LOAD", {{"HANDLE", OleVariant::fromI8(static_cast<int64_t>(self))}}), 0);
  EXPECT_EQ(byHandle.Parameter("ParentApp"), std::to_string(self));
  EXPECT_EQ(sendThroughTheModule(byHandle, "hello"), 42);

  // Without a handle, the application's file name finds its module.
  const std::string executable = platform::moduleFileName(nullptr);
  const std::string fileName = executable.substr(executable.find_last_of("/\\") + 1);
  Instance byName(TestModule());
  byName.Record().HostId = 12;
  ASSERT_EQ(byName.Command("LOAD", {{"APPLICATION-NAME", Text(fileName)}}), 0);
  EXPECT_EQ(byName.Parameter("ApplicationFullName"), fileName);
  EXPECT_EQ(sendThroughTheModule(byName, "named"), 42);

  // The last UNLOAD forgets the host's module; its resolved functions stay.
  EXPECT_EQ(byHandle.Command("UNLOAD"), 0);
  EXPECT_EQ(byHandle.Parameter("ParentApp"), "0");
  EXPECT_EQ(sendThroughTheModule(byHandle, "after"), 42);

  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0].hostId, 11u);
  EXPECT_EQ(sent[0].dataSourceId, 5);
  EXPECT_EQ(sent[0].clientId, 6u);
  EXPECT_EQ(sent[0].bytes, "hello");
  EXPECT_EQ(sent[1].hostId, 12u);
  EXPECT_EQ(sent[1].bytes, "named");
}

// Message 1809: log lines are pending.
constexpr uint32_t kLogPending = 1809;

struct Notifications {
  std::vector<uintptr_t> logPending;  // wParam of each message 1809
};

intptr_t hostWindow(platform::WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (message == kLogPending) {
    static_cast<Notifications*>(platform::windowUserData(window))->logPending.push_back(wParam);
    return 0;
  }
  return platform::defaultWindowProcedure(window, message, wParam, lParam);
}

TEST(HostContract, NewLogLinesAreAnnouncedToTheHostWindow) {
  Notifications notifications;
  platform::WindowHandle window = platform::createMessageWindow(&hostWindow, &notifications);
  ASSERT_NE(window, nullptr);
  {
    Instance instance(TestModule());
    instance.Record().HostId = 21;
    const auto handle = static_cast<int64_t>(reinterpret_cast<uintptr_t>(window));
    ASSERT_EQ(instance.Command("LOAD", {{"MSG-PROC-HANDLE", OleVariant::fromI8(handle)}}), 0);
    HostList params(ListForm::Interface);
    instance.Record().Params = params.Params();
    instance.Record().RoleFlags = 0x04;
    EXPECT_EQ(instance.Plugin().ProcessData(&instance.Record()), 0);  // "No data for processing"
    const uint64_t start = platform::tickCount64();
    while (notifications.logPending.empty() && platform::tickCount64() - start < 5000) {
      platform::pumpMessages();
      platform::waitMessage(20);
    }
    ASSERT_FALSE(notifications.logPending.empty());
    EXPECT_EQ(notifications.logPending.front(), 21u) << "the host's identifier of the instance";
    EXPECT_EQ(instance.DrainLog(), "\x02No data for processing\r\n");
  }
  platform::destroyWindow(window);
}

}  // namespace
