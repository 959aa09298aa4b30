#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/params_list.h"
#include "platform/diagnostics.h"
#include "platform/message_window.h"
#include "plugin/call_result.h"
#include "plugin/plugin_host.h"
#include "plugin/plugin_module.h"
#include "plugin/plugin_values.h"

using namespace corvane;
using platform::OleVariant;

namespace {

// What the fake DataLogger_SendDataEx saw.
struct Sent {
  uint32_t hostId;
  int32_t dataSourceId;
  uint32_t clientId;
  int32_t reserved;
  int32_t kind;
  int32_t count;
  std::string bytes;
  std::vector<std::pair<std::string, std::string>> items;  // kind 7: names and values as text
};
std::vector<Sent> sent;

int32_t CV_STDCALL fakeSendDataEx(uint32_t hostId, int32_t dataSourceId, uint32_t clientId, int32_t reserved,
                                  int32_t kind, void* data, int32_t count) {
  Sent record{hostId, dataSourceId, clientId, reserved, kind, count, {}, {}};
  if (kind == HostSendEvent) {
    auto* list = static_cast<IkivParamsListA*>(data);
    for (int32_t i = 0; i < list->GetCount(); ++i) {
      InterfaceRef<IkivParamsListItemA> item;
      if (platform::failed(list->GetItem(i, item.put()))) return -99;
      OleVariant value;
      item->GetValue(value.get());
      record.items.emplace_back(item->GetName(), TextOf(value.raw()).value_or("?"));
    }
  } else if (kind == HostSendBytes && count == 1) {
    record.bytes = std::to_string(*static_cast<uint32_t*>(data));
  } else {
    record.bytes.assign(static_cast<const char*>(data), static_cast<size_t>(count));
  }
  sent.push_back(record);
  return 77;
}

struct Posted {
  uint32_t message;
  uintptr_t wParam;
  intptr_t lParam;
};
std::vector<Posted> posted;

intptr_t hostWindowProcedure(platform::WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (message == HostMsgLogPending) {
    posted.push_back({message, wParam, lParam});
    return 0;
  }
  return platform::defaultWindowProcedure(window, message, wParam, lParam);
}

}  // namespace

TEST(PluginLog, AddLogEncodesAndNotifiesTheHostWindow) {
  auto module = TkivPlugin::Create(0);
  platform::WindowHandle window = platform::createMessageWindow(&hostWindowProcedure, nullptr);
  posted.clear();

  module->AddLog(lkWarning, "before the window");  // accumulates silently
  EXPECT_EQ(platform::pumpMessages(), 0);

  module->SetHostWindow(reinterpret_cast<uintptr_t>(window));
  module->SetModuleIndex(42);
  module->SetLogTitle("Corvane");
  module->AddLog(lkInformation, "line\r\nbreak");
  module->AddLog(lkError, "flagged", true);
  platform::pumpMessages();
  ASSERT_EQ(posted.size(), 2u);
  EXPECT_EQ(posted[0].message, 0x0711u);
  EXPECT_EQ(posted[0].wParam, 42u);
  EXPECT_EQ(posted[0].lParam, 0);

  EXPECT_EQ(module->LogList()->TakeText(),
            "\x02"
            "before the window\r\n"
            "\x03"
            "Corvane. line  break\r\n"
            "\x81"
            "Corvane. flagged\r\n");

  // A window that is gone makes the notification fail quietly.
  platform::destroyWindow(window);
  module->AddLog(lkError, "after");
  EXPECT_EQ(module->LogList()->Count(), 4);
}

TEST(PluginLog, GuardedCallsTurnEveryFailureIntoACodeAndAReport) {
  auto module = TkivPlugin::Create(0);
  std::vector<std::string> debugOutput;
  platform::setDebugOutputHook([&](std::string_view text) { debugOutput.emplace_back(text); });
  TCallGuard guard{"CMD", module.get()};
  EXPECT_EQ(GuardedCall(guard, [] { return 7; }), 7);
  EXPECT_EQ(GuardedCall(guard, []() -> int32_t { throw 42; }), ResultCode(TCallResult::Failed));
  const int line = __LINE__ + 1;
  EXPECT_EQ(GuardedCall(guard, []() -> int32_t { Assert(false, "Broken", "Unit", 12); return 0; }), -3);
  platform::setDebugOutputHook(nullptr);

  EXPECT_EQ(module->LogList()->TakeText(), "\x01{CMD} unknown exception\r\n\x01{CMD} Broken (Unit, line 12)\r\n");
  ASSERT_EQ(debugOutput.size(), 3u);
  // The assertion also names its place in this code base for the debugger.
  EXPECT_NE(debugOutput[2].find("plugin_host_test.cpp:" + std::to_string(line)), std::string::npos) << debugOutput[2];
}

TEST(PluginLog, ReportExceptionAndCallStack) {
  auto module = TkivPlugin::Create(0);
  std::vector<std::string> debugOutput;
  platform::setDebugOutputHook([&](std::string_view text) { debugOutput.emplace_back(text); });

  ReportException(module.get(), "PROCESS", Exception("boom"));
  ReportException(nullptr, "", Exception("no instance"));
  platform::setDebugOutputHook(nullptr);

  ASSERT_EQ(debugOutput.size(), 2u);
  EXPECT_EQ(debugOutput[0].rfind("{PROCESS} boom: ", 0), 0u) << debugOutput[0];
  EXPECT_EQ(debugOutput[1].rfind("no instance: ", 0), 0u) << debugOutput[1];
  EXPECT_EQ(module->LogList()->TakeText(), "\x01{PROCESS} boom\r\n");

  module->LogList()->Clear();
  LogCallStack(*module);
  const std::string stack = module->LogList()->TakeText();
#if !defined(_WIN32)
  ASSERT_GT(stack.size(), 3u) << "backtrace() gives frames";
#endif
  if (!stack.empty()) {
    EXPECT_EQ(stack[0], '\x01');
    EXPECT_EQ(stack.find_first_of("\r\n"), stack.size() - 2) << "the whole stack is one line";
  }
}

TEST(PluginHostCalls, SendingWithoutAndWithTheHostFunction) {
  auto module = TkivPlugin::Create(0);
  sent.clear();
  EXPECT_EQ(module->SendStringToHost(1, 2, 3, "text"), -1);
  EXPECT_EQ(module->SendByteToHost(1, 2, 3, 9), -1);
  EXPECT_EQ(module->RaiseHostEvent(true, "x", nullptr, 1, 2, 3), -1);
  EXPECT_TRUE(sent.empty());

  module->HostFunctions().SendDataEx = &fakeSendDataEx;
  EXPECT_EQ(module->SendStringToHost(5, 6, 7, "hello"), 77);
  EXPECT_EQ(module->SendStringToHost(5, 6, 7, ""), 0);
  EXPECT_EQ(module->SendByteToHost(0, 6, 7, 0xAB), 77);
  const uint8_t bytes[] = {1, 2, 3};
  EXPECT_EQ(module->SendBytesToHost(0, 6, 7, bytes, 3), 77);
  ASSERT_EQ(sent.size(), 3u) << "an empty text is never sent";
  EXPECT_EQ(sent[0].kind, 0x82);
  EXPECT_EQ(sent[0].hostId, 5u);
  EXPECT_EQ(sent[0].dataSourceId, 6);
  EXPECT_EQ(sent[0].clientId, 7u);
  EXPECT_EQ(sent[0].reserved, 0);
  EXPECT_EQ(sent[0].count, 5);
  EXPECT_EQ(sent[0].bytes, "hello");
  EXPECT_EQ(sent[1].kind, 0x81);
  EXPECT_EQ(sent[1].count, 1);
  EXPECT_EQ(sent[1].bytes, "171") << "one byte travels in a 32-bit slot";
  EXPECT_EQ(sent[2].count, 3);
  EXPECT_EQ(sent[2].bytes, std::string("\x01\x02\x03", 3));
}

TEST(PluginHostCalls, RaiseHostEventBuildsTheEventList) {
  auto module = TkivPlugin::Create(0);
  module->HostFunctions().SendDataEx = &fakeSendDataEx;
  sent.clear();

  ParamsListPtr params = TkivParamsList::Create();
  params->AddItem("Reason", TextValue("manual").raw());
  EXPECT_EQ(module->RaiseHostEvent(true, "reload", params.get(), 9, 0, 0), 77);
  EXPECT_EQ(module->RaiseHostEvent(false, "Quiet", nullptr, 9, 0, 0), 77);
  // The parameters' own EVENT-GLOBAL decides over the argument.
  params->AddItem("EVENT-GLOBAL", OleVariant::fromBool(false).raw());
  module->RaiseHostEvent(true, "x", params.get(), 9, 0, 0);

  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0].kind, 7);
  EXPECT_EQ(sent[0].count, 0);
  using Items = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(sent[0].items, (Items{{"EVENT-GLOBAL", "True"}, {"EVENT-TYPE", "RELOAD"}, {"Reason", "manual"}}));
  EXPECT_EQ(sent[1].items, (Items{{"EVENT-TYPE", "QUIET"}}));
  EXPECT_EQ(sent[2].items, (Items{{"EVENT-TYPE", "X"}, {"Reason", "manual"}, {"EVENT-GLOBAL", "False"}}));
  EXPECT_EQ(params->Count(), 2) << "the caller's list is not changed";
}
