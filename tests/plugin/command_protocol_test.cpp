// Commands through ExecutePluginCommand, as a host sends them: a parameter
// list holding "COMMAND" and the command's values, answered through the
// result code and the list's "RESULT".
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>

#include "common/params_list.h"
#include "platform/code_page.h"
#include "plugin/entry_points.h"
#include "plugin/plugin_library.h"
#include "plugin_test_support.h"

using namespace corvane;
using platform::OleVariant;

namespace {

using test_support::Text;

struct Instance : test_support::CommandInstance {
  std::string Result() const {
    const OleVariant value = params->ItemValueByName("RESULT");
    return value.type() == platform::vtBstr ? platform::wideToAnsi(value.raw().bstrVal ? value.raw().bstrVal : u"")
                                            : std::string("<type ") + std::to_string(value.type()) + ">";
  }
};

}  // namespace

TEST(CommandProtocol, RecordAndCommandChecks) {
  Instance instance;
  instance.record.RecordSize = CallRecordSize - 1;
  EXPECT_EQ(instance.Send("ITEMS"), -1);
  instance.record.RecordSize = CallRecordSize;
  instance.params->Clear();
  EXPECT_EQ(ExecutePluginCommand(&instance.record), -1) << "no COMMAND";
  EXPECT_EQ(instance.Send(""), -1) << "an empty COMMAND";
  EXPECT_EQ(instance.Send("NO-SUCH-COMMAND"), -2) << "unknown, and no OnCommand handler";
  EXPECT_EQ(instance.record.Params, reinterpret_cast<uintptr_t>(instance.params.get())) << "record restored";
}

TEST(CommandProtocol, LoadAndUnloadNest) {
  Instance instance;
  int loads = 0, unloads = 0;
  instance.plugin().OnLoad = [&](TkivPlugin&, TPluginCallRecord*, int32_t&) { ++loads; };
  instance.plugin().OnUnload = [&](TkivPlugin&, TPluginCallRecord*, int32_t&) { ++unloads; };
  EXPECT_EQ(instance.Send("UNLOAD"), 0);
  EXPECT_EQ(instance.plugin().ModuleLoadCount(), 0) << "an UNLOAD without a LOAD only stays at 0";
  EXPECT_EQ(unloads, 0);

  instance.record.HostId = 42;
  EXPECT_EQ(instance.Send("LOAD", {{"REGISTRY-PATH", Text("\\Software\\X")}, {"INI-FILE", Text("a.ini")}}), 0);
  EXPECT_EQ(instance.Send("LOAD", {{"REGISTRY-PATH", Text("\\Other")}}), 0);
  EXPECT_EQ(loads, 1);
  EXPECT_EQ(instance.plugin().ModuleLoadCount(), 2);
  EXPECT_EQ(instance.plugin().ModuleRegistryPath(), "\\Software\\X") << "the second LOAD only counts";
  EXPECT_EQ(instance.plugin().ModuleIndex(), 42u);
  EXPECT_EQ(instance.Send("UNLOAD"), 0);
  EXPECT_FALSE(instance.plugin().TerminateNow());
  EXPECT_EQ(unloads, 0);

  int saves = 0;
  instance.plugin().OnSaveSettingsNow = [&](TkivPlugin&) { ++saves; };
  EXPECT_EQ(instance.Send("UNLOAD"), 0);
  EXPECT_TRUE(instance.plugin().TerminateNow());
  EXPECT_EQ(unloads, 1);
  EXPECT_EQ(saves, 1) << "an UNLOAD without the LOAD's INI file saves into the new place";
  EXPECT_EQ(instance.plugin().INIFile(), "");
}

TEST(CommandProtocol, SetStateEnablesTheCalledRoles) {
  Instance instance;
  uint8_t seen = 0;
  instance.plugin().OnSetState = [&](TkivPlugin&, uint8_t roles) { seen = roles; };
  instance.record.RoleFlags = 0x22;
  EXPECT_EQ(instance.Send("SET-STATE"), -1) << "without RESULT";
  EXPECT_EQ(instance.Send("SET-STATE", {{"RESULT", OleVariant::fromI4(1)},
                                        {"DATA-SOURCES-IN-CFG", Text("x;bad\r\n7; Port A ;more\r\n-1;skip")}}),
            0);
  EXPECT_EQ(seen, 0x22);
  EXPECT_EQ(instance.plugin().ModuleEnabled(), 0x22) << "parser and filter only";
  ASSERT_EQ(instance.plugin().DataSources().size(), 1u);
  EXPECT_EQ(instance.plugin().DataSources()[0].Id, 7);
  EXPECT_EQ(instance.plugin().DataSources()[0].Name, "Port A");
  EXPECT_EQ(instance.plugin().DataSources()[0].Line, "7; Port A ;more");
  EXPECT_EQ(instance.Send("SET-STATE", {{"RESULT", OleVariant::fromI4(2)}}), 0);
  EXPECT_EQ(instance.plugin().ModuleEnabled(), 0);
}

TEST(CommandProtocol, ItemsParametersAndEvents) {
  Instance instance;
  EXPECT_EQ(instance.Send("SET-ITEMS"), -1);
  EXPECT_EQ(instance.Send("SET-ITEMS", {{"ITEMS", OleVariant::fromI4(3)}}), -1) << "ITEMS must be text";
  EXPECT_EQ(instance.Send("SET-ITEMS", {{"ITEMS", Text("Temperature|temp|float|\r\n")}}), 0);
  EXPECT_EQ(instance.Send("ITEMS"), -1) << "needs a RESULT value to answer in";
  EXPECT_EQ(instance.Send("ITEMS", {{"RESULT", OleVariant::null()}}), 0);
  EXPECT_EQ(instance.Result(), "Temperature|temp|Float|\r\n");

  EXPECT_EQ(instance.Send("GET-MODULE-PARAMETER"), -2);
  EXPECT_EQ(instance.Send("GET-MODULE-PARAMETER", {{"PARAM", Text("ModulePath")}}), 0);
  EXPECT_EQ(instance.Result(), instance.plugin().ModulePath());
  EXPECT_EQ(instance.Send("SET-MODULE-PARAMETER", {{"PARAM", Text("LogTitle")}, {"VALUE", Text("T")}}), 0);
  EXPECT_EQ(instance.plugin().LogTitle(), "T");
  EXPECT_EQ(instance.params->ItemValueByName("RESULT").raw().boolVal, platform::kVariantTrue);

  EXPECT_EQ(instance.Send("EVENT"), -1);
  EXPECT_EQ(instance.Send("EVENT", {{"EVENT-TYPE", Text("Tick")}}), 0) << "no handler";
  instance.plugin().OnEvent = [](TkivPlugin&, const std::string& type, TPluginCallRecord*, int32_t& result) {
    if (type == "Boom") throw std::runtime_error("event failed");
    if (type == "Odd") throw 42;  // not even a std::exception
    result = 5;
  };
  EXPECT_EQ(instance.Send("EVENT", {{"EVENT-TYPE", Text("Tick")}}), 5);
  EXPECT_EQ(instance.Send("EVENT", {{"EVENT-TYPE", Text("Boom")}}), -3);
  EXPECT_NE(instance.plugin().LogList()->TakeText().find("{EVENT} event failed"), std::string::npos);
  EXPECT_EQ(instance.Send("EVENT", {{"EVENT-TYPE", Text("Odd")}}), -3);
  EXPECT_NE(instance.plugin().LogList()->TakeText().find("{EVENT} unknown exception"), std::string::npos);
}

TEST(CommandProtocol, SettingsCommandsKeepTheIniFile) {
  Instance instance;
  int saves = 0, loads = 0;
  instance.plugin().SetINIFile("own.ini");
  std::string savedInto;
  instance.plugin().OnSaveSettingsNow = [&](TkivPlugin& self) {
    ++saves;
    savedInto = self.INIFile();
  };
  instance.plugin().OnLoadSettingsNow = [&](TkivPlugin&) { ++loads; };
  EXPECT_EQ(instance.Send("SAVE-SETTINGS-NOW", {{"INI-FILE", Text("x.ini")}, {"NO-SAVE", OleVariant::fromI4(1)}}), -2);
  EXPECT_EQ(saves, 0);
  EXPECT_EQ(instance.Send("SAVE-SETTINGS-NOW", {{"INI-FILE", Text("x.ini")}}), -2);
  EXPECT_EQ(savedInto, "x.ini");
  EXPECT_EQ(instance.plugin().INIFile(), "own.ini");
  EXPECT_EQ(instance.Send("LOAD-SETTINGS-NOW", {{"INI-FILE", Text("import.ini")}}), -2);
  EXPECT_EQ(loads, 1);
  EXPECT_EQ(savedInto, "own.ini") << "loaded settings are saved into the instance's own place";
  EXPECT_EQ(instance.plugin().INIFile(), "own.ini");
}

TEST(CommandProtocol, NestedCommandsAreRefused) {
  Instance instance;
  int32_t nested = 0;
  instance.plugin().OnCommand = [&](TkivPlugin&, const std::string& command, TPluginCallRecord*, int32_t& result) {
    if (command == "OUTER") {
      TPluginCallRecord inner = instance.record;
      auto innerParams = TkivParamsList::Create();
      innerParams->AddItem("COMMAND", Text("INNER").raw());
      inner.Params = reinterpret_cast<uintptr_t>(innerParams.get());
      nested = ExecutePluginCommand(&inner);
    }
    result = 0;
  };
  EXPECT_EQ(instance.Send("OUTER"), 0) << "the outer command is undisturbed";
  EXPECT_EQ(nested, -3);
  EXPECT_NE(instance.plugin().LogList()->TakeText().find("Nested plugin commands are not allowed"), std::string::npos);
  EXPECT_EQ(instance.Send("OUTER"), 0) << "counter and lock are balanced";
}
