// A module that keeps its options in the settings store, driven through the
// exports: the settings commands write and read INI files and the registry,
// and a confirmed options dialog makes every instance of the registry path
// reload.
#include <gtest/gtest.h>

#include <filesystem>

#include "config/ini_file.h"
#include "config/settings_test_support.h"
#include "integration_support.h"

using namespace corvane;
using namespace integration;
using corvane::settings_testing::readText;
using corvane::settings_testing::writeText;

namespace {

corvane::host::LoadedPlugin& SettingsModule() {
  static corvane::host::LoadedPlugin library(corvane::platform::executableDirectory() +
                                             (windows() ? "corvane_settings_module.dll" : "corvane_settings_module.so"));
  return library;
}

class SettingsModuleTest : public corvane::settings_testing::SettingsTest {
 protected:
  int32_t Load(Instance& instance) {
    return instance.Command("LOAD", {{"REGISTRY-PATH", Text(registryPath())}});
  }
  // The instance's current options, as a SAVE-SETTINGS-NOW into a new file shows them.
  TIniFile Exported(Instance& instance, const std::string& name) {
    const std::string path = file(name);
    EXPECT_EQ(instance.Command("SAVE-SETTINGS-NOW", {{"INI-FILE", Text(path)}}), -2);
    return TIniFile(readText(path));
  }
};

}  // namespace

TEST_F(SettingsModuleTest, SettingsCommandsThroughTheExports) {
  Instance instance(SettingsModule());
  EXPECT_EQ(instance.Command("SAVE-SETTINGS-NOW", {{"INI-FILE", Text(file("early.ini"))}}), -2);
  EXPECT_FALSE(std::filesystem::exists(file("early.ini"))) << "no configuration before the load step";
  ASSERT_EQ(Load(instance), 0);
  TIniFile exported = Exported(instance, "defaults.ini");
  EXPECT_EQ(exported.Text(), "[Common]\r\nLeft=314\r\nTop=184\r\nWidth=451\r\n") << "empty paths are not stored";
  EXPECT_EQ(instance.Command("SAVE-SETTINGS-NOW", {{"INI-FILE", Text(file("not.ini"))}, {"NO-SAVE", OleVariant::fromI4(1)}}),
            -2);
  EXPECT_FALSE(std::filesystem::exists(file("not.ini")));

  const std::string imported = file("import.ini");
  writeText(imported, "[Common]\r\nLeft=5\r\nScript file=C:\\My+ Scripts\\%C3%A9.py\r\n");
  EXPECT_EQ(instance.Command("LOAD-SETTINGS-NOW", {{"INI-FILE", Text(imported)}}), -2);
  EXPECT_EQ(instance.Parameter("INIFile"), "") << "the instance's own storage is still the registry";
  exported = Exported(instance, "imported.ini");
  EXPECT_EQ(exported.Read("Common", "Left"), "5");
  EXPECT_EQ(exported.Read("Common", "Script file"), "C:\\My+ Scripts\\%C3%A9.py");

  // The import was saved into the registry: a new instance of the path loads it.
  Instance second(SettingsModule());
  ASSERT_EQ(Load(second), 0);
  EXPECT_EQ(Exported(second, "second.ini").Read("Common", "Left"), "5");

  // An import without saving, and one from a missing file, which reads the
  // registry and saves what it found into the instance's own storage.
  writeText(imported, "[Common]\r\nLeft=6\r\n");
  EXPECT_EQ(second.Command("LOAD-SETTINGS-NOW", {{"INI-FILE", Text(imported)}, {"NO-SAVE", OleVariant::fromI4(1)}}),
            -2);
  EXPECT_EQ(Exported(second, "unsaved.ini").Read("Common", "Left"), "6");
  EXPECT_EQ(second.Command("LOAD-SETTINGS-NOW", {{"INI-FILE", Text(file("missing.ini"))}}), -2);
  EXPECT_EQ(Exported(second, "restored.ini").Read("Common", "Left"), "5") << "from the registry, which NO-SAVE left";
  EXPECT_FALSE(std::filesystem::exists(file("missing.ini")));

  // Unloading with another INI file saves there first.
  const std::string last = file("last.ini");
  EXPECT_EQ(instance.Command("UNLOAD", {{"INI-FILE", Text(last)}}), 0);
  EXPECT_EQ(TIniFile(readText(last)).Read("Common", "Left"), "5");
  EXPECT_EQ(second.Command("UNLOAD"), 0);
}

TEST_F(SettingsModuleTest, AConfirmedDialogReloadsEveryInstanceOfThePath) {
  Instance shown(SettingsModule()), sibling(SettingsModule());
  ASSERT_EQ(Load(shown), 0);
  ASSERT_EQ(Load(sibling), 0);
  EXPECT_EQ(Exported(sibling, "before.ini").Read("Common", "Width"), "451");

  // What the host's dialog stored for the path.
  const std::string dialog = file("dialog.ini");
  writeText(dialog, "[Common]\nWidth=800\n");
  EXPECT_EQ(shown.Command("LOAD-SETTINGS-NOW", {{"INI-FILE", Text(dialog)}}), -2);
  EXPECT_EQ(Exported(sibling, "unchanged.ini").Read("Common", "Width"), "451") << "not yet reloaded";

  TPluginCallRecord& record = shown.Record();
  record.Params = 0;
  shown.Plugin().ShowOptionsDialog(&record);
  EXPECT_EQ(record.OutputItem.Pointer, 1u);
  EXPECT_EQ(Exported(sibling, "after.ini").Read("Common", "Width"), "800");
  EXPECT_EQ(shown.Command("UNLOAD"), 0);
  EXPECT_EQ(sibling.Command("UNLOAD"), 0);
}
