#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/params_list_wrap.h"
#include "platform/code_page.h"
#include "platform/diagnostics.h"
#include "platform/files.h"
#include "platform/message_window.h"
#include "plugin/plugin_host.h"
#include "plugin/plugin_module.h"
#include "plugin/plugin_values.h"

using namespace corvane;
using platform::OleVariant;

namespace {

std::string textOf(const OleVariant& value) { return TextOf(value.raw()).value_or("<unconvertible>"); }

bool set(TkivPlugin& module, std::string_view name, const OleVariant& value) {
  return module.SetModuleParameter(name, value.raw());
}

std::unique_ptr<TkivPlugin> newModule() { return TkivPlugin::Create(0); }

}  // namespace

TEST(PluginModule, CreationDefaults) {
  int created = 0;
  struct TProbePlugin : TkivPlugin {
    TProbePlugin(uintptr_t handle, const TPluginCreation* creation, int* counter) : TkivPlugin(handle, creation) {
      OnCreate = [counter](TkivPlugin& sender) {
        ++*counter;
        sender.SetLogTitle("Probe");  // the creation handler may set properties
      };
    }
  };
  auto probe = std::make_unique<TProbePlugin>(0x1234, nullptr, &created);
  EXPECT_EQ(created, 0) << "OnCreate waits until construction is complete";

  auto module = newModule();
  EXPECT_EQ(module->ModuleDllHandle(), 0u);
  EXPECT_EQ(module->ModuleLoadCount(), 0);
  EXPECT_EQ(module->ModuleVersion(), 4.0f);
  EXPECT_EQ(module->InfoFlag(), 1);
  EXPECT_EQ(module->ModuleRegistryRoot1(), 2);
  EXPECT_EQ(module->ModuleRegistryRoot2(), 1);
  EXPECT_EQ(module->LogTitle(), "");
  EXPECT_EQ(module->MsgNoData(), "No data for processing");
  EXPECT_EQ(module->MsgWriteComplete(), "Data have been processed successfully");
  EXPECT_EQ(module->MsgWriteCompleteError(), "Data have been processed with errors");
  EXPECT_EQ(module->CurrentLanguage(), "EN");
  EXPECT_FALSE(module->IsTemporaryLoad());
  EXPECT_EQ(module->LogList()->MaxLines(), 51200);
  EXPECT_EQ(module->PluginHandle(), reinterpret_cast<uintptr_t>(module.get()));
  EXPECT_EQ(module->ClassName(), "TkivPlugin");
  EXPECT_EQ(std::get<std::string>(module->GetPropertyValue("msgnodata")), "No data for processing");

  // The library's own file: here the test program it is linked into.
  ASSERT_FALSE(module->ModulePath().empty());
  EXPECT_EQ(module->ModulePath().back(), platform::pathDelimiter());
  EXPECT_EQ(module->ModulePath() + module->ModuleName(), platform::executablePath());
}

TEST(PluginModule, OnCreateFiresOnceFromCreate) {
  static int created = 0;
  struct TProbePlugin : TkivPlugin {
    TProbePlugin(uintptr_t handle, const TPluginCreation* creation) : TkivPlugin(handle, creation) {
      OnCreate = [](TkivPlugin& sender) {
        ++created;
        sender.SetModuleVersion(5.0f);
      };
    }
  };
  created = 0;
  auto module = TkivPlugin::Create<TProbePlugin>(0);
  EXPECT_EQ(created, 1);
  EXPECT_EQ(module->ModuleVersion(), 5.0f);
}

TEST(PluginModule, TemporaryLoadFromTheCreationRecord) {
  TPluginCreation noParams;
  EXPECT_TRUE(TkivPlugin::Create(0, &noParams)->IsTemporaryLoad());

  ParamsListPtr list = TkivParamsList::Create();
  list->AddItem("OTHER", OleVariant::fromI4(1).raw());
  InterfaceRef<IkivParamsListA> params = TkivParamsListWrap::NewInterfaceA(list.get(), true);
  TPluginCreation withParams{params.get()};
  EXPECT_FALSE(TkivPlugin::Create(0, &withParams)->IsTemporaryLoad());
  list->AddItem("TEMPORARY-LOAD", TextValue("True").raw());
  EXPECT_TRUE(TkivPlugin::Create(0, &withParams)->IsTemporaryLoad());
}

TEST(PluginModule, LoadCountNeverDropsBelowZero) {
  auto module = newModule();
  EXPECT_EQ(module->DecrementLoadCount(), 0);
  EXPECT_EQ(module->IncrementLoadCount(), 1);
  EXPECT_EQ(module->IncrementLoadCount(), 2);
  EXPECT_EQ(module->DecrementLoadCount(), 1);
  EXPECT_EQ(module->DecrementLoadCount(), 0);
  EXPECT_EQ(module->DecrementLoadCount(), 0);
  EXPECT_EQ(module->GetModuleParameter("ModuleLoadCount").raw().lVal, 0);
}

TEST(PluginModuleProperties, TextsTypesAndReadOnlyNames) {
  auto module = newModule();
  EXPECT_TRUE(set(*module, "logtitle", TextValue("Corvane")));
  EXPECT_EQ(module->LogTitle(), "Corvane");
  EXPECT_TRUE(set(*module, "DESCRIPTION", TextValue("Script module")));
  EXPECT_EQ(textOf(module->GetModuleParameter("Description")), "Script module");
  EXPECT_TRUE(set(*module, "EventsSupported", OleVariant::fromBool(true)));
  EXPECT_EQ(module->EventsSupported(), "True");
  EXPECT_TRUE(set(*module, "EventsSupported", TextValue("GetOsType")));
  EXPECT_EQ(textOf(module->GetModuleParameter("eventssupported")), "GetOsType");

  EXPECT_TRUE(set(*module, "ModuleType", OleVariant::fromI4(0x127)));
  EXPECT_EQ(module->ModuleType(), 0x27) << "bits outside 0..7 are ignored";
  const OleVariant type = module->GetModuleParameter("ModuleType");
  EXPECT_EQ(type.type(), platform::vtUI4);
  EXPECT_EQ(type.raw().ulVal, 0x27u);
  EXPECT_TRUE(set(*module, "ModuleType", OleVariant()));
  EXPECT_EQ(module->ModuleType(), 0);
  module->SetModuleType(3);
  EXPECT_FALSE(set(*module, "ModuleType", TextValue("many")));
  EXPECT_FALSE(set(*module, "ModuleType", OleVariant::null()));
  EXPECT_EQ(module->ModuleType(), 3);

  EXPECT_EQ(module->GetModuleParameter("ModuleRegistryRoot1").type(), platform::vtUI1);
  EXPECT_EQ(module->GetModuleParameter("ModuleRegistryRoot1").raw().bVal, 2);
  EXPECT_EQ(module->GetModuleParameter("TerminateNow").type(), platform::vtBool);
  EXPECT_EQ(module->GetModuleParameter("INIFile").type(), platform::vtBstr);

  for (const char* readOnly : {"ModuleEnabled", "ModulePath", "ModuleLoadCount", "INIFile", "ParserItemsCount",
                               "TerminateNow", "TESTTRANSL", "ParserItemName000"}) {
    EXPECT_FALSE(set(*module, readOnly, TextValue("1"))) << readOnly;
  }
  EXPECT_FALSE(set(*module, "NoSuchName", TextValue("1")));
  EXPECT_TRUE(module->GetModuleParameter("NoSuchName").isEmpty());

  module->SetRoleEnabled(mrParser, true);
  module->SetRoleEnabled(mrFilter, true);
  EXPECT_EQ(module->GetModuleParameter("ModuleEnabled").raw().ulVal, 0x22u);

  EXPECT_TRUE(set(*module, "OWNER-FORM", OleVariant::fromI4(0x4321)));
  EXPECT_EQ(module->GetModuleParameter("owner-form").raw().ulVal, 0x4321u);
  EXPECT_TRUE(module->GetModuleParameter("SUBSCRIBE-FOR-DATA").isEmpty()) << "write-only";
  EXPECT_TRUE(set(*module, "SUBSCRIBE-FOR-DATA", TextValue("True")));
  EXPECT_EQ(module->SubscribeForData(), 1);
  EXPECT_FALSE(module->GetModuleParameter("TESTTRANSL").raw().boolVal) << "the test runs without /TESTTRANSL";
}

TEST(PluginModuleProperties, CommandsTranslatorNamesAndParserItems) {
  auto module = newModule();
  EXPECT_TRUE(set(*module, "CustomCommands", TextValue("RESET|Reset||1|0\r\n")));
  EXPECT_EQ(module->CustomCommands().Count(), 1);
  EXPECT_EQ(textOf(module->GetModuleParameter("customcommands")), "RESET|Reset||1|0\r\n");

  EXPECT_TRUE(set(*module, "TranslatorComponentProperties", TextValue("Items; caption|Lines")));
  const std::string names = textOf(module->GetModuleParameter("TranslatorComponentProperties"));
  EXPECT_EQ(names.find("MsgNoData\r\n") != std::string::npos, true);
  EXPECT_EQ(names.substr(names.size() - 14), "Items\r\nLines\r\n") << "Caption is there already";

  EXPECT_TRUE(set(*module, "ParserItems", TextValue("Temperature|temp|float\r\nCount|n|Integer|pcs\r\nRaw|raw")));
  EXPECT_EQ(module->GetModuleParameter("ParserItemsCount").raw().lVal, 3);
  EXPECT_EQ(textOf(module->GetModuleParameter("ParserItemName001")), "n");
  EXPECT_EQ(textOf(module->GetModuleParameter("ParserItemDesc000")), "Temperature");
  const OleVariant type = module->GetModuleParameter("ParserItemType002");
  EXPECT_EQ(type.type(), platform::vtI1);
  EXPECT_EQ(type.raw().cVal, 17);
  EXPECT_EQ(module->GetModuleParameter("ParserItemType000").raw().cVal, 5);
  EXPECT_TRUE(module->GetModuleParameter("ParserItemName005").isEmpty());
  EXPECT_TRUE(module->GetModuleParameter("ParserItemName003").isEmpty());
  EXPECT_TRUE(module->GetModuleParameter("parseritemname001").isEmpty()) << "the prefix is case-sensitive";
  EXPECT_TRUE(module->GetModuleParameter("ParserItemNameabc").isEmpty());
  EXPECT_TRUE(module->GetModuleParameter("ParserItemName").isEmpty());
  EXPECT_EQ(textOf(module->GetModuleParameter("ParserItems")),
            "Temperature|temp|Float|\r\nCount|n|Integer|pcs\r\nRaw|raw||\r\n");
}

TEST(PluginModuleProperties, CustomValues) {
  auto module = newModule();
  EXPECT_TRUE(set(*module, "Custom:alpha", OleVariant::fromI4(1)));
  EXPECT_TRUE(set(*module, "Custom_beta", TextValue("two")));
  EXPECT_TRUE(set(*module, "Customx", OleVariant::fromI4(3)));
  for (int i = 0; i < 5; ++i) set(*module, "Custom v" + std::to_string(i), OleVariant::fromI4(10 + i));
  EXPECT_EQ(module->GetModuleParameter("Custom:COUNT").raw().lVal, 8);
  EXPECT_EQ(module->GetModuleParameter("Custom 7").raw().lVal, 14) << "the eighth value";
  EXPECT_EQ(module->GetModuleParameter("Customx").raw().lVal, 3);
  EXPECT_EQ(module->GetModuleParameter("Custom ALPHA").raw().lVal, 1) << "value names ignore case";
  EXPECT_EQ(textOf(module->GetModuleParameter("Custom:1")), "two");
  EXPECT_TRUE(module->GetModuleParameter("Custom 8").isEmpty());
  EXPECT_TRUE(module->GetModuleParameter("Custom:missing").isEmpty());
  EXPECT_TRUE(module->GetModuleParameter("custom:alpha").isEmpty()) << "\"Custom\" is case-sensitive";

  // An index replaces an existing value; beyond the end nothing happens.
  EXPECT_TRUE(set(*module, "Custom 0", OleVariant::fromI4(100)));
  EXPECT_EQ(module->GetModuleParameter("Custom:alpha").raw().lVal, 100);
  set(*module, "Custom 42", OleVariant::fromI4(1));
  EXPECT_EQ(module->GetModuleParameter("Custom:COUNT").raw().lVal, 8);
  // A three-digit key is a name, not an index.
  set(*module, "Custom 100", OleVariant::fromI4(5));
  EXPECT_EQ(module->GetModuleParameter("Custom:COUNT").raw().lVal, 9);

  EXPECT_FALSE(set(*module, "Custom", OleVariant::fromI4(1))) << "an empty key is no custom name";
  EXPECT_FALSE(set(*module, "Custom:", OleVariant::fromI4(1)));
  EXPECT_TRUE(set(*module, "Custom_COUNT", OleVariant()));
  EXPECT_EQ(module->GetModuleParameter("Custom:COUNT").raw().lVal, 0);
}

TEST(PluginModulePaths, AppDataAndModuleDataFolders) {
  // POSIX takes the common application data folder from this variable;
  // Windows has its own.
  const std::string override = platform::tempDirectory() + "cv-appdata";
  const std::optional<std::string> saved = platform::environmentVariable("CORVANE_COMMON_APPDATA");
  platform::setEnvironmentVariable("CORVANE_COMMON_APPDATA", &override);
  std::string root = platform::specialFolder(platform::SpecialFolder::CommonAppData).value_or("?");
  if (platform::isPathDelimiter(root.back())) root.pop_back();
  const char d = platform::pathDelimiter();

  auto module = newModule();
  module->SetModuleRegistryPath("\\Software\\Maker\\ Corvane:Test \\Options");
  EXPECT_EQ(module->AppDataPath(), root + d + "Corvane Test" + d);

  // No description, no configuration entry: the library's name, lower case.
  std::string stem = platform::ansiLower(module->ModuleName());
  stem = stem.substr(0, stem.rfind('.'));
  EXPECT_EQ(module->ModuleDataPath(), root + d + "Corvane Test" + d + stem + d);

  module->SetDescription("LPT1 logger\r\nsecond line");
  module->SetINISectionPrefix("{cfg:12}.Plugins");
  EXPECT_EQ(module->ModuleConfigId(), "12");
  EXPECT_EQ(module->ModuleDataPath(), root + d + "Corvane Test" + d + "12" + d + "_LPT1 logger" + d);

  {
    StringListWriteLock lock(module->ModuleConfigList());
    lock.List().AddObject("Plant/Line 1", 7);
  }
  module->SetModuleLoadForConfig(7);
  EXPECT_EQ(module->ModuleDataPath(), root + d + "Corvane Test" + d + "12" + d + "Plant-Line 1" + d);
  EXPECT_EQ(textOf(module->GetModuleParameter("ModuleDataPath")), module->ModuleDataPath());

  platform::setEnvironmentVariable("CORVANE_COMMON_APPDATA", saved ? &*saved : nullptr);
}

TEST(PluginModulePaths, ConfigIdAndSafeNames) {
  auto module = newModule();
  for (const auto& [prefix, id] : std::vector<std::pair<std::string, std::string>>{
           {"{cfg:12}.Plugins", "12"}, {"{7}x", "7"}, {"{cfg:}", "cfg:"}, {"a:b}", "b"}, {"Plugins", ""}}) {
    module->SetINISectionPrefix(prefix);
    EXPECT_EQ(module->ModuleConfigId(), id) << prefix;
  }
  EXPECT_EQ(MakeFileNameSafe("a<b>c:d*e?f\"g|h/i\\j\tk", '-'), "a-b-c-d-e-f-g-h-i-j-k");
  EXPECT_EQ(MakeFileNameSafe("con", '-'), "_con");
  EXPECT_EQ(MakeFileNameSafe("Com port", '-'), "_Com port");
  EXPECT_EQ(MakeFileNameSafe("console", '-'), "console");
  EXPECT_EQ(MakeFileNameSafe("", '-'), "");
}

TEST(PluginModule, DataSourceIdFromName) {
  // The complement of the standard CRC-32, computed bit by bit here.
  const auto expected = [](std::string_view text) {
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char c : text) {
      crc ^= c;
      for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ ((crc & 1) ? 0xEDB88320u : 0);
    }
    return static_cast<int32_t>(crc & 0x7FFFFFFFu);
  };
  EXPECT_EQ(TkivPlugin::DataSourceIdFromName("COM3"), 3);
  EXPECT_EQ(TkivPlugin::DataSourceIdFromName("COM12"), 12);
  EXPECT_EQ(TkivPlugin::DataSourceIdFromName("COMx"), 0);
  EXPECT_EQ(TkivPlugin::DataSourceIdFromName("com3"), expected("com3"));
  EXPECT_EQ(TkivPlugin::DataSourceIdFromName("abc"), 0x4ADBBE3D);
  EXPECT_EQ(TkivPlugin::DataSourceIdFromName("ABC"), 0x4ADBBE3D);
  EXPECT_EQ(TkivPlugin::DataSourceIdFromName("Data Source 1"), expected("data source 1"));
}
