// The instance's configuration through the settings commands and the
// options dialog, with a module that binds the settings events the way the
// concrete module does: its load step makes the configuration and loads it,
// its unload step frees it.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "common/params_list.h"
#include "config/ini_file.h"
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

OleVariant text(const std::string& value) { return OleVariant::fromString(platform::ansiToWide(value)); }

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

struct Instance : test_support::TestInstance {
  ParamsListPtr params = TkivParamsList::Create();

  int32_t Send(const std::string& command, std::initializer_list<std::pair<const char*, OleVariant>> values = {}) {
    params->Clear();
    params->AddItem("COMMAND", text(command).raw());
    for (const auto& [name, value] : values) params->AddItem(name, value.raw());
    record.Params = reinterpret_cast<uintptr_t>(params.get());
    return ExecutePluginCommand(&record);
  }
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
    instance.params->AddItem("COMMAND", text("LOAD").raw());
    instance.params->AddItem("REGISTRY-PATH", text(registryPath()).raw());
    for (const auto& [name, value] : more) instance.params->AddItem(name, value.raw());
    instance.record.Params = reinterpret_cast<uintptr_t>(instance.params.get());
    return ExecutePluginCommand(&instance.record);
  }

  // What a fresh load from the instance's own storage (or another file) finds.
  void LoadStored(TkivPlugin& plugin, TProxyCodeObject& into, const std::string* ini = nullptr) {
    RunSettings(plugin, TSettingsOperation::Load, ProxyCodeObjectItems(), ini, into);
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

TEST_F(ModuleSettings, AFreshInstanceStartsWithTheDefaults) {
  Instance instance;
  EXPECT_EQ(instance.Send("SAVE-SETTINGS-NOW", {{"INI-FILE", text(file("early.ini"))}}), -2);
  EXPECT_FALSE(std::filesystem::exists(file("early.ini"))) << "no configuration before the load step";
  ASSERT_EQ(Load(instance), 0);
  TDataSourceCfg* cfg = instance.cfg();
  ASSERT_NE(cfg, nullptr);
  EXPECT_EQ(cfg->Left, 314);
  EXPECT_EQ(cfg->Top, 184);
  EXPECT_EQ(cfg->Width, 451);
  EXPECT_EQ(cfg->Height, 215);
  EXPECT_EQ(cfg->edtFile_Text, "");
  EXPECT_EQ(cfg->edtPyDLL_Text, "");
  EXPECT_FALSE(instance.plugin().SettingsBusy());
  EXPECT_EQ(instance.Send("UNLOAD"), 0);
  EXPECT_EQ(instance.cfg(), nullptr);
}

TEST_F(ModuleSettings, LoadReadsTheInstancesStorage) {
  Instance instance;
  instance.plugin().SetModuleRegistryPath(registryPath());
  StoreOptions(instance.plugin(), 42, "C:\\Scripts\\main  one.py");
  ASSERT_EQ(Load(instance), 0);
  EXPECT_EQ(instance.cfg()->Left, 42);
  EXPECT_EQ(instance.cfg()->edtFile_Text, "C:\\Scripts\\main  one.py");
  EXPECT_EQ(instance.cfg()->Width, 451) << "missing in the storage: the default";
}

TEST_F(ModuleSettings, SaveSettingsNowWritesTheGivenFile) {
  Instance instance;
  ASSERT_EQ(Load(instance, {{"INI-SECTION-PREFIX", text("Host{7}")}}), 0);
  instance.cfg()->Left = 12;
  instance.cfg()->edtPyDLL_Text = "C:\\Python 3\\python3.dll";
  const std::string exported = file("exported.ini");

  EXPECT_EQ(instance.Send("SAVE-SETTINGS-NOW", {{"INI-FILE", text(exported)}, {"NO-SAVE", OleVariant::fromI4(1)}}), -2);
  EXPECT_FALSE(std::filesystem::exists(exported));

  EXPECT_EQ(instance.Send("SAVE-SETTINGS-NOW", {{"INI-FILE", text(exported)}}), -2);
  EXPECT_EQ(readText(exported),
            "[Host{7}.Common]\r\n"
            "Left=12\r\n"
            "Top=184\r\n"
            "Width=451\r\n"
            "Python DLL=C:\\Python 3\\python3.dll\r\n");
  EXPECT_EQ(instance.plugin().INIFile(), "") << "the instance's own file is unchanged";

  // Without a file it goes to the instance's own storage, the registry.
  EXPECT_EQ(instance.Send("SAVE-SETTINGS-NOW"), -2);
  TProxyCodeObject stored;
  LoadStored(instance.plugin(), stored);
  EXPECT_EQ(stored.Left, 12);
  EXPECT_EQ(stored.edtPyDLL_Text, "C:\\Python 3\\python3.dll");
}

TEST_F(ModuleSettings, LoadSettingsNowImportsAFileIntoTheOwnStorage) {
  Instance instance;
  ASSERT_EQ(Load(instance), 0);
  const std::string imported = file("import.ini");
  writeText(imported, "[Common]\nLeft=77\nScript file=D:\\x+y.py\n");

  EXPECT_EQ(instance.Send("LOAD-SETTINGS-NOW", {{"INI-FILE", text(imported)}}), -2);
  EXPECT_EQ(instance.cfg()->Left, 77);
  EXPECT_EQ(instance.cfg()->edtFile_Text, "D:\\x y.py");
  EXPECT_EQ(instance.plugin().INIFile(), "");
  TProxyCodeObject stored;
  LoadStored(instance.plugin(), stored);
  EXPECT_EQ(stored.Left, 77) << "saved into the instance's own storage";
  EXPECT_EQ(stored.edtFile_Text, "D:\\x y.py");
  EXPECT_EQ(readText(imported), "[Common]\nLeft=77\nScript file=D:\\x+y.py\n") << "the imported file is untouched";

  // NO-SAVE loads without saving.
  writeText(imported, "[Common]\nLeft=78\n");
  EXPECT_EQ(instance.Send("LOAD-SETTINGS-NOW", {{"INI-FILE", text(imported)}, {"NO-SAVE", OleVariant::fromI4(1)}}), -2);
  EXPECT_EQ(instance.cfg()->Left, 78);
  LoadStored(instance.plugin(), stored);
  EXPECT_EQ(stored.Left, 77);
}

TEST_F(ModuleSettings, LoadSettingsNowFromAMissingFileReadsTheRegistry) {
  Instance instance;
  const std::string own = file("own.ini");
  ASSERT_EQ(Load(instance, {{"INI-FILE", text(own)}}), 0);
  const std::string registry;  // no INI file: the registry
  StoreOptions(instance.plugin(), 55, "from the registry.py", &registry);
  EXPECT_EQ(instance.cfg()->Left, 314);

  EXPECT_EQ(instance.Send("LOAD-SETTINGS-NOW", {{"INI-FILE", text(file("missing.ini"))}}), -2);
  EXPECT_EQ(instance.cfg()->Left, 55);
  EXPECT_FALSE(std::filesystem::exists(file("missing.ini")));
  EXPECT_EQ(instance.plugin().INIFile(), own);
  const TIniFile written(readText(own));
  EXPECT_EQ(written.Read("Common", "Left"), "55") << "saved into the instance's own file";
  EXPECT_EQ(written.Read("Common", "Script file"), "from the registry.py");
}

TEST_F(ModuleSettings, UnloadWithAnotherIniFileSavesThereFirst) {
  Instance instance;
  const std::string own = file("own.ini");
  ASSERT_EQ(Load(instance, {{"INI-FILE", text(own)}}), 0);
  instance.cfg()->Top = 9;
  const std::string next = file("next.ini");
  EXPECT_EQ(instance.Send("UNLOAD", {{"INI-FILE", text(next)}}), 0);
  EXPECT_EQ(instance.cfg(), nullptr);
  EXPECT_EQ(TIniFile(readText(next)).Read("Common", "Top"), "9");
  EXPECT_FALSE(std::filesystem::exists(own));

  // The same file again: nothing is saved.
  ASSERT_EQ(Load(instance, {{"INI-FILE", text(next)}}), 0);
  instance.cfg()->Top = 10;
  EXPECT_EQ(instance.Send("UNLOAD", {{"INI-FILE", text(next)}}), 0);
  EXPECT_EQ(TIniFile(readText(next)).Read("Common", "Top"), "9");

  // No file after a load with one: the registry.
  ASSERT_EQ(Load(instance, {{"INI-FILE", text(next)}}), 0);
  instance.cfg()->Top = 11;
  EXPECT_EQ(instance.Send("UNLOAD"), 0);
  EXPECT_EQ(instance.plugin().INIFile(), "");
  TProxyCodeObject stored;
  LoadStored(instance.plugin(), stored);
  EXPECT_EQ(stored.Top, 11);
}

TEST_F(ModuleSettings, ConfirmingTheDialogReloadsEveryInstanceOfThePath) {
  Instance shown, sibling, stranger;
  ASSERT_EQ(Load(shown), 0);
  ASSERT_EQ(Load(sibling), 0);
  stranger.params->Clear();
  ASSERT_EQ(stranger.Send("LOAD", {{"REGISTRY-PATH", text(registryPath() + "\\Other")}}), 0);
  shown.plugin().OnShowOptionsDialog = [](TkivPlugin&, TPluginCallRecord*, int32_t& result) { result = 1; };

  // What the host's dialog saved.
  StoreOptions(shown.plugin(), 100, "new.py");
  StoreOptions(stranger.plugin(), 200, "stranger.py");
  shown.record.Params = 0;
  ShowOptionsDialog(&shown.record);
  EXPECT_EQ(shown.record.OutputItem.Pointer, 1u);
  EXPECT_EQ(shown.cfg()->Left, 100);
  EXPECT_EQ(sibling.cfg()->Left, 100);
  EXPECT_EQ(sibling.cfg()->edtFile_Text, "new.py");
  EXPECT_EQ(stranger.cfg()->Left, 314) << "another registry path";

  // A dialog that was cancelled changes nothing.
  StoreOptions(shown.plugin(), 101, "newer.py");
  shown.plugin().OnShowOptionsDialog = [](TkivPlugin&, TPluginCallRecord*, int32_t& result) { result = 0; };
  ShowOptionsDialog(&shown.record);
  EXPECT_EQ(sibling.cfg()->Left, 100);
}

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
