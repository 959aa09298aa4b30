#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <vector>

#include "common/params_list.h"
#include "platform/message_window.h"
#include "platform/thread.h"
#include "plugin/entry_points.h"
#include "plugin/plugin_library.h"
#include "plugin_test_support.h"

using namespace corvane;
using platform::OleVariant;

namespace {

using Instance = test_support::TestInstance;

std::vector<platform::WindowMessage> received;
intptr_t recordMessage(platform::WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  received.push_back({window, message, wParam, lParam});
  return 0;
}

}  // namespace

TEST(ShowOptionsDialog, StatusWithoutInstanceOrHandler) {
  TPluginCallRecord none = test_support::FreshRecord();
  ShowOptionsDialog(&none);
  EXPECT_EQ(none.OutputItem.Type, ditStatus);
  EXPECT_EQ(none.OutputItem.Size, 4);
  EXPECT_EQ(none.OutputItem.Pointer, 2u);
  Instance instance;
  ShowOptionsDialog(&instance.record);
  EXPECT_EQ(instance.record.OutputItem.Pointer, 3u);
}

TEST(ShowOptionsDialog, ChangedSettingsReloadEveryInstanceOfThePath) {
  received.clear();
  platform::WindowHandle hostWindow = platform::createMessageWindow(&recordMessage, nullptr);
  Instance shown, sibling, stranger;
  int shownReloads = 0, strangerReloads = 0;
  shown.plugin().SetModuleRegistryPath("\\Software\\Corvane\\A");
  shown.plugin().SetLoadThreadId(platform::currentThreadId());
  shown.plugin().OnLoadSettingsNow = [&](TkivPlugin&) { ++shownReloads; };
  shown.plugin().OnShowOptionsDialog = [](TkivPlugin& self, TPluginCallRecord*, int32_t& result) {
    EXPECT_TRUE(self.OptionsDialogOpen());
    result = 1;
  };
  sibling.plugin().SetModuleRegistryPath("\\Software\\Corvane\\A");
  sibling.plugin().SetLoadThreadId(platform::currentThreadId() + 1);  // loaded on another thread
  sibling.plugin().SetModuleIndex(77);
  sibling.plugin().SetHostWindow(reinterpret_cast<uintptr_t>(hostWindow));
  sibling.plugin().OnLoadSettingsNow = [](TkivPlugin&) { FAIL() << "not called directly from this thread"; };
  stranger.plugin().SetModuleRegistryPath("\\Software\\Corvane\\B");
  stranger.plugin().SetLoadThreadId(platform::currentThreadId());
  stranger.plugin().OnLoadSettingsNow = [&](TkivPlugin&) { ++strangerReloads; };

  auto params = TkivParamsList::Create();
  params->AddItem("INI-FILE", OleVariant::fromString(u"C:\\settings.ini").raw());
  shown.record.Params = reinterpret_cast<uintptr_t>(params.get());
  shown.record.RoleFlags = 0x22;
  ShowOptionsDialog(&shown.record);

  EXPECT_EQ(shown.record.OutputItem.Pointer, 1u);
  EXPECT_EQ(shownReloads, 1);
  EXPECT_EQ(strangerReloads, 0);
  EXPECT_EQ(shown.plugin().INIFile(), "C:\\settings.ini");
  EXPECT_FALSE(shown.plugin().OptionsDialogOpen());
  platform::pumpMessages();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].message, HostMsgReloadSettings);
  EXPECT_EQ(received[0].wParam, 77u);
  platform::destroyWindow(hostWindow);
}

TEST(ShowOptionsDialog, AFailingHandlerIsLoggedAndAnswersZero) {
  Instance instance;
  instance.plugin().OnShowOptionsDialog = [](TkivPlugin&, TPluginCallRecord*, int32_t& result) {
    result = 1;
    throw std::runtime_error("dialog broke");
  };
  int reloads = 0;
  instance.plugin().SetLoadThreadId(platform::currentThreadId());
  instance.plugin().OnLoadSettingsNow = [&](TkivPlugin&) { ++reloads; };
  ShowOptionsDialog(&instance.record);
  EXPECT_EQ(instance.record.OutputItem.Pointer, 0u);
  EXPECT_EQ(reloads, 0);
  const std::string log = instance.plugin().LogList()->TakeText();
  EXPECT_EQ(log, "\x01" "dialog broke {SHOWOPTIONS}\r\n");
}
