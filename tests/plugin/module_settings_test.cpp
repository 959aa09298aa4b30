// The instance's configuration with a module that binds the settings events
// the way the concrete module does: its load step makes the configuration
// and loads it, its unload step frees it. The settings commands and the
// dialog's reload through the exports are in the integration suite.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "common/params_list.h"
#include "config/settings_test_support.h"
#include "platform/code_page.h"
#include "platform/thread.h"
#include "plugin/data_source_cfg.h"
#include "plugin/entry_points.h"
#include "plugin/plugin_library.h"
#include "plugin_test_support.h"

using namespace corvane;
using namespace corvane::settings_testing;
using platform::OleVariant;

namespace {

using test_support::Text;

class TSettingsModule : public TkivPlugin {
 public:
  TSettingsModule(uintptr_t moduleDllHandle, const TPluginCreation* creation) : TkivPlugin(moduleDllHandle, creation) {
    OnCreate = [](TkivPlugin& self) {
      BindSettingsEvents(self);
      self.OnLoad = [](TkivPlugin& module, TPluginCallRecord*, int32_t&) { TDataSourceCfg::Create(module).LoadSettings(); };
      self.OnUnload = [](TkivPlugin& module, TPluginCallRecord*, int32_t&) { delete FindDataSourceCfg(module); };
    };
  }
};

struct Instance : test_support::CommandInstance {
  TDataSourceCfg* cfg() { return FindDataSourceCfg(plugin()); }
};

class ModuleSettings : public SettingsTest {
 protected:
  void SetUp() override {
    saved_ = PluginLibrary::Current()->PluginClass();
    PluginLibrary::Current()->SetPluginClass([](uintptr_t handle, const TPluginCreation* creation) {
      return std::unique_ptr<TkivPlugin>(TkivPlugin::Create<TSettingsModule>(handle, creation));
    });
  }
  void TearDown() override {
    PluginLibrary::Current()->SetPluginClass(saved_);
    SettingsTest::TearDown();
  }

  // LOAD as a host sends it, with the test's registry path.
  int32_t Load(Instance& instance, std::initializer_list<std::pair<const char*, OleVariant>> more = {}) {
    instance.params->Clear();
    instance.params->AddItem("COMMAND", Text("LOAD").raw());
    instance.params->AddItem("REGISTRY-PATH", Text(registryPath()).raw());
    for (const auto& [name, value] : more) instance.params->AddItem(name, value.raw());
    instance.record.Params = reinterpret_cast<uintptr_t>(instance.params.get());
    return ExecutePluginCommand(&instance.record);
  }

  // Options as the dialog would have saved them.
  void StoreOptions(TkivPlugin& plugin, int32_t left, const std::string& script, const std::string* ini = nullptr) {
    TProxyCodeObject options;
    options.Left = left;
    options.edtFile_Text = script;
    ASSERT_TRUE(RunSettings(plugin, TSettingsOperation::Save, ProxyCodeObjectItems(), ini, options));
  }

  TPluginClass saved_;
};

}  // namespace

TEST_F(ModuleSettings, ADirectReloadWaitsForACommandOnAnotherThread) {
  Instance shown, sibling;
  ASSERT_EQ(Load(shown), 0);
  ASSERT_EQ(Load(sibling), 0);
  shown.plugin().OnShowOptionsDialog = [](TkivPlugin&, TPluginCallRecord*, int32_t& result) { result = 1; };
  StoreOptions(shown.plugin(), 100, "new.py");

  std::atomic<bool> locked{false}, released{false};
  bool releasedBeforeReload = false;
  sibling.cfg()->OnApply = [&](TDataSourceCfg&) { releasedBeforeReload = released.load(); };
  TkivPlugin& busy = sibling.plugin();
  std::thread command([&] {
    std::lock_guard lock(busy.CommandLock());  // a command in progress
    locked = true;
    platform::sleepMs(100);
    released = true;
  });
  while (!locked) platform::sleepMs(1);
  shown.record.Params = 0;
  ShowOptionsDialog(&shown.record);
  command.join();
  EXPECT_TRUE(releasedBeforeReload);
  EXPECT_EQ(sibling.cfg()->Left, 100);
}

TEST_F(ModuleSettings, TheInstanceIsSettingsBusyWhileTheStoreRuns) {
  Instance instance;
  instance.plugin().SetModuleRegistryPath(registryPath());
  StoreOptions(instance.plugin(), 1, "x.py");

  // A root whose property reports the flag as the store sets it.
  struct Probe : TProxyCodeCustomObject {
    TkivPlugin* plugin = nullptr;
    bool busyWhileSet = false;
    const TClassInfo& ClassInfo() const override {
      static const TClassInfo info{
          "Probe", &TProxyCodeCustomObject::StaticClassInfo(),
          {{"Left", TPropertyKind::Integer, [](const TPersistent&) -> TPropertyValue { return int32_t{0}; },
            [](TPersistent& object, const TPropertyValue&) {
              auto& probe = static_cast<Probe&>(object);
              probe.busyWhileSet = probe.plugin->SettingsBusy();
            },
            {}}}};
      return info;
    }
  } probe;
  probe.plugin = &instance.plugin();
  EXPECT_TRUE(RunSettings(instance.plugin(), TSettingsOperation::Load, {"Left,Left"}, nullptr, probe));
  EXPECT_TRUE(probe.busyWhileSet);
  EXPECT_FALSE(instance.plugin().SettingsBusy());
}

TEST(ModuleConfigList, LooksUpTheFirstTextOfAnId) {
  test_support::TestInstance instance;
  TModuleConfigList& configs = instance.plugin().ModuleConfigList();
  {
    StringListWriteLock lock(configs);
    lock.List().AddObject("zero", 0);
    lock.List().AddObject("first", 7);
    lock.List().AddObject("second", 7);
    lock.List().AddObject("high", static_cast<intptr_t>(0xFFFFFFF0u));
  }
  std::string found = "unchanged";
  EXPECT_EQ(configs.FindId(7, &found), 1);
  EXPECT_EQ(found, "first");
  EXPECT_EQ(configs.FindId(0xFFFFFFF0u, &found), 3);
  EXPECT_EQ(found, "high");
  found = "unchanged";
  EXPECT_EQ(configs.FindId(0, &found), -1) << "id 0 is no configuration, even with an entry of 0";
  EXPECT_EQ(configs.FindId(8, &found), -1);
  EXPECT_EQ(found, "unchanged");
}
