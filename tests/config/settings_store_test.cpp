// The settings store against INI files and the registry: storage choice,
// names, encodings by property kind, bad values, events and roots.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "common/params_list.h"
#include "config/ini_file.h"
#include "config/settings_proxy.h"
#include "config/settings_store.h"
#include "platform/code_page.h"
#include "platform/os_error.h"
#include "platform/registry_write_block.h"
#include "settings_test_support.h"

using namespace corvane;
using namespace corvane::settings_testing;
using platform::OleVariant;
using platform::RegistryAccess;
using platform::RegistryKey;

namespace {

std::string bstrText(const OleVariant& value) {
  if (value.type() != platform::vtBstr) return "<type " + std::to_string(value.type()) + ">";
  return platform::wideToAnsi(value.raw().bstrVal ? value.raw().bstrVal : u"");
}

// A small object tree with a property of every kind the store handles.
class TSub : public TPersistent {
  CV_DECLARE_CLASS_INFO
 public:
  int32_t Depth = 0;
};

class TPanel : public TComponent {
  CV_DECLARE_CLASS_INFO
 public:
  using TComponent::TComponent;
  int64_t Big = 0;
  double Ratio = 0;
  bool Visible = false;
  std::vector<std::string> Lines;
  TComponent* Buddy = nullptr;
  OleVariant Extra;
  TSub Sub;
};

const TClassInfo& TSub::StaticClassInfo() {
  static const TClassInfo info{
      "TSub", &TPersistent::StaticClassInfo(),
      {{"Depth", TPropertyKind::Integer, FieldGetter(&TSub::Depth), FieldSetter(&TSub::Depth), {}}}};
  return info;
}

const TClassInfo& TPanel::StaticClassInfo() {
  static const TClassInfo info{
      "TPanel",
      &TComponent::StaticClassInfo(),
      {
          {"Big", TPropertyKind::Int64, FieldGetter(&TPanel::Big), FieldSetter(&TPanel::Big), {}},
          {"Ratio", TPropertyKind::Float, FieldGetter(&TPanel::Ratio), FieldSetter(&TPanel::Ratio), {}},
          {"Visible", TPropertyKind::Enumeration, FieldGetter(&TPanel::Visible), FieldSetter(&TPanel::Visible),
           BooleanIdentifiers()},
          {"Lines", TPropertyKind::StringList, FieldGetter(&TPanel::Lines), FieldSetter(&TPanel::Lines), {}},
          {"Buddy", TPropertyKind::Component, FieldGetter(&TPanel::Buddy), FieldSetter(&TPanel::Buddy), {}},
          {"Extra", TPropertyKind::Variant, FieldGetter(&TPanel::Extra), FieldSetter(&TPanel::Extra), {}},
          {"Sub", TPropertyKind::Object,
           [](const TPersistent& object) -> TPropertyValue {
             return const_cast<TSub*>(&static_cast<const TPanel&>(object).Sub);
           },
           {}, {}},
      }};
  return info;
}

// Form owns Panel and Other.
struct Tree {
  TComponent form;
  TPanel& panel = TComponent::CreateOwned<TPanel>(form);
  TComponent& other = TComponent::CreateOwned<TComponent>(form);
  Tree() {
    form.SetName("Form");
    panel.SetName("Panel");
    other.SetName("Other");
  }
};

const std::vector<std::string> kTreeItems = {
    "Tag,Tag",           "Panel.Big,Big",     "Panel.Ratio,Ratio", "Panel.Visible,Visible",
    "Panel.Lines,Lines", "Panel.Buddy,Buddy", "Panel.Extra,Extra", "Panel.Sub.Depth,Deep\\Depth",
    "Panel.NoSuch,Nowhere", "Missing.Tag,Nowhere2",
};

class SettingsStore : public SettingsTest {
 public:
  std::string RegistryPathForStores() const { return registryPath(); }
};

// A store at the test's registry path.
struct Store : TWreg {
  explicit Store(const SettingsStore& test, const std::vector<std::string>& items = ProxyCodeObjectItems(),
                 const std::string& ini = "", const std::string& prefix = "") {
    RegistryPath = test.RegistryPathForStores();
    INIFile = ini;
    INIFileSectionPrefix = prefix;
    Components = items;
  }
};

struct ChangedOptions : TProxyCodeObject {
  ChangedOptions() {
    Left = 10;
    Top = 20;
    Height = 999;
    Width = 640;
    edtFile_Text = "C:\\My Scripts\\parse  data.py";
    edtPyDLL_Text = "C:\\Python\\python312.dll";
  }
};

void expectOptions(const TProxyCodeObject& options, int32_t left, int32_t top, int32_t width, const std::string& file,
                   const std::string& runtime) {
  EXPECT_EQ(options.Left, left);
  EXPECT_EQ(options.Top, top);
  EXPECT_EQ(options.Height, TProxyCodeObject::DefaultHeight) << "never stored";
  EXPECT_EQ(options.Width, width);
  EXPECT_EQ(options.edtFile_Text, file);
  EXPECT_EQ(options.edtPyDLL_Text, runtime);
}

}  // namespace

TEST_F(SettingsStore, ModuleItemsInIniSections) {
  struct Case {
    const char* prefix;
    const char* section;
  };
  for (const Case& c : {Case{"", "Common"}, Case{"Cfg{42}", "Cfg{42}.Common"}, Case{"Cfg{42}\\", "Cfg{42}"}}) {
    const std::string ini = file(std::string("layout") + std::to_string(std::strlen(c.prefix)) + ".ini");
    ChangedOptions options;
    ASSERT_TRUE(Store(*this, ProxyCodeObjectItems(), ini, c.prefix).Save(options)) << c.prefix;
    EXPECT_EQ(readText(ini), std::string("[") + c.section +
                                 "]\r\n"
                                 "Left=10\r\n"
                                 "Top=20\r\n"
                                 "Width=640\r\n"
                                 "Script file=C:\\My Scripts\\parse+ data.py\r\n"
                                 "Python DLL=C:\\Python\\python312.dll\r\n");
    TProxyCodeObject loaded;
    EXPECT_TRUE(Store(*this, ProxyCodeObjectItems(), ini, c.prefix).Load(loaded));
    expectOptions(loaded, 10, 20, 640, options.edtFile_Text, options.edtPyDLL_Text);
  }
  EXPECT_FALSE(registryValue(kUser, "Left")) << "the INI file was used, not the registry";
}

TEST_F(SettingsStore, ModuleItemsInTheRegistry) {
  ChangedOptions options;
  Store saver(*this);
  saver.RegistryRoot = rrHKEY_CURRENT_USER;
  ASSERT_TRUE(saver.Save(options));
  EXPECT_EQ(saver.RootInUse(), rrHKEY_CURRENT_USER);
  auto key = RegistryKey::open(kUser, base_, RegistryAccess::Read);
  ASSERT_TRUE(key);
  std::vector<std::string> names = key->valueNames();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Left", "Python DLL", "Script file", "Top", "Width"})) << "no Height";
  EXPECT_EQ(key->readDword("Width"), 640u);
  EXPECT_EQ(key->readString("Script file"), "C:\\My Scripts\\parse+ data.py");

  TProxyCodeObject loaded;
  Store loader(*this);
  loader.RegistryRoot = rrHKEY_CURRENT_USER;
  EXPECT_TRUE(loader.Load(loaded));
  expectOptions(loaded, 10, 20, 640, options.edtFile_Text, options.edtPyDLL_Text);

  // Empty paths are not stored: their values go, and loading keeps what the
  // object had.
  options.edtPyDLL_Text.clear();
  ASSERT_TRUE(saver.Save(options));
  EXPECT_FALSE(registryValue(kUser, "Python DLL"));
  loaded.edtPyDLL_Text = "kept";
  EXPECT_TRUE(loader.Load(loaded));
  EXPECT_EQ(loaded.edtPyDLL_Text, "kept");
}

TEST_F(SettingsStore, TrickyTextsRoundTripInBothStorages) {
  const std::vector<std::string> texts = {" leading", "single spaces", "two  spaces", "trailing ", "100% a+b",
                                          platform::utf8ToAnsi("gr\xC3\xBC\xC3\x9F  dich.py"), "+%+%"};
  for (const std::string& ini : {file("tricky.ini"), std::string()}) {
    for (const std::string& text : texts) {
      TProxyCodeObject options;
      options.edtFile_Text = text;
      Store saver(*this, {"edtFile.Text,Script file"}, ini);
      saver.RegistryRoot = rrHKEY_CURRENT_USER;
      ASSERT_TRUE(saver.Save(options));
      TProxyCodeObject loaded;
      Store loader(*this, {"edtFile.Text,Script file"}, ini);
      loader.RegistryRoot = rrHKEY_CURRENT_USER;
      ASSERT_TRUE(loader.Load(loaded)) << text;
      EXPECT_EQ(loaded.edtFile_Text, text) << (ini.empty() ? "registry" : "INI file");
    }
  }
  EXPECT_EQ(TIniFile(readText(file("tricky.ini"))).Read("Common", "Script file"), "%2B%%%2B%%");
}

TEST_F(SettingsStore, WrongTypedRegistryValuesAreDeletedOnLoad) {
  auto key = userKey();
  ASSERT_TRUE(key);
  key->writeString("Left", "100");                       // a number expected
  key->writeDword("Width", 800);                         // right
  key->writeValue("Top", platform::kRegBinary, "\1", 1);  // a number expected
  key->writeDword("Script file", 42);                    // text: a number reads as its digits
  key->writeValue("Python DLL", platform::kRegBinary, "\0\0\0\0\0\0\xF8\x3F", 8);  // text: a double reads as text

  TProxyCodeObject loaded;
  Store loader(*this);
  loader.RegistryRoot = rrHKEY_CURRENT_USER;
  EXPECT_TRUE(loader.Load(loaded));
  expectOptions(loaded, 314, 184, 800, "42", "1.5");
  EXPECT_FALSE(key->valueExists("Left"));
  EXPECT_FALSE(key->valueExists("Top"));
  EXPECT_TRUE(key->valueExists("Width"));
  EXPECT_TRUE(key->valueExists("Script file"));

  // The next save writes them with the right type.
  EXPECT_TRUE(loader.Save(loaded));
  EXPECT_EQ(key->readDword("Left"), 314u);
  EXPECT_EQ(key->readString("Script file"), "42");
}

TEST_F(SettingsStore, MissingIniFileLoadsFromTheRegistrySavingCreatesIt) {
  ChangedOptions options;
  Store saver(*this);
  saver.RegistryRoot = rrHKEY_CURRENT_USER;
  ASSERT_TRUE(saver.Save(options));

  const std::string ini = file("missing.ini");
  TProxyCodeObject loaded;
  Store loader(*this, ProxyCodeObjectItems(), ini);
  loader.RegistryRoot = rrHKEY_CURRENT_USER;
  EXPECT_TRUE(loader.Load(loaded));
  expectOptions(loaded, 10, 20, 640, options.edtFile_Text, options.edtPyDLL_Text);
  EXPECT_FALSE(std::filesystem::exists(ini)) << "loading does not create the file";

  loaded.Left = 1;
  EXPECT_TRUE(loader.Save(loaded));
  EXPECT_EQ(TIniFile(readText(ini)).Read("Common", "Left"), "1");
  EXPECT_EQ(registryValue(kUser, "Left")->data, (std::vector<uint8_t>{10, 0, 0, 0})) << "the registry is untouched";
}

TEST_F(SettingsStore, HandEditsSurviveASaveAndUnchangedFilesAreNotRewritten) {
  const std::string ini = file("edited.ini");
  writeText(ini,
            "; written by hand\n"
            "[Host]\n"
            "Language=EN\n"
            "\n"
            "[Common]\n"
            "# the dialog\n"
            "Left = 1\n"
            "Unknown=keep me\n"
            "\n"
            "[Zeta]\n"
            "z=1\n");
  ChangedOptions options;
  ASSERT_TRUE(Store(*this, ProxyCodeObjectItems(), ini).Save(options));
  EXPECT_EQ(readText(ini),
            "; written by hand\n"
            "[Host]\n"
            "Language=EN\n"
            "\n"
            "[Common]\n"
            "# the dialog\n"
            "Left = 10\n"
            "Unknown=keep me\n"
            "Top=20\n"
            "Width=640\n"
            "Script file=C:\\My Scripts\\parse+ data.py\n"
            "Python DLL=C:\\Python\\python312.dll\n"
            "\n"
            "[Zeta]\n"
            "z=1\n");

  // Saving the same values again leaves the file alone.
  const auto old = std::filesystem::last_write_time(ini) - std::chrono::hours(24);
  std::filesystem::last_write_time(ini, old);
  EXPECT_TRUE(Store(*this, ProxyCodeObjectItems(), ini).Save(options));
  EXPECT_EQ(std::filesystem::last_write_time(ini), old);
  options.Top = 21;
  EXPECT_TRUE(Store(*this, ProxyCodeObjectItems(), ini).Save(options));
  EXPECT_NE(std::filesystem::last_write_time(ini), old);
}

TEST_F(SettingsStore, AnIniFileThatCannotBeWrittenIsReported) {
  TProxyCodeObject options;
  EXPECT_FALSE(Store(*this, ProxyCodeObjectItems(), file("no such folder/settings.ini")).Save(options));
  EXPECT_FALSE(Store(*this, ProxyCodeObjectItems(), folder_.path()).Save(options)) << "a folder, not a file";
  EXPECT_FALSE(registryValue(kUser, "Left")) << "and the registry is not used instead";
}

TEST_F(SettingsStore, EveryPropertyKindThroughAComponentChain) {
  for (const std::string& ini : {file("kinds.ini"), std::string()}) {
    SCOPED_TRACE(ini.empty() ? "registry" : "INI file");
    Tree saved;
    saved.form.SetTag(-7);
    saved.panel.Big = int64_t{1} << 40;
    saved.panel.Ratio = 0.1;
    saved.panel.Visible = true;
    saved.panel.Lines = {"first  line", "", "third + %"};
    saved.panel.Buddy = &saved.other;
    saved.panel.Extra = OleVariant::fromString(u"variant  text");
    saved.panel.Sub.Depth = 3;
    Store saver(*this, kTreeItems, ini);
    saver.RegistryRoot = rrHKEY_CURRENT_USER;
    ASSERT_TRUE(saver.Save(saved.form));

    Tree loaded;
    Store loader(*this, kTreeItems, ini);
    loader.RegistryRoot = rrHKEY_CURRENT_USER;
    ASSERT_TRUE(loader.Load(loaded.form));
    EXPECT_EQ(loaded.form.Tag(), -7);
    EXPECT_EQ(loaded.panel.Big, int64_t{1} << 40) << "a 64-bit value keeps its high bits";
    EXPECT_EQ(loaded.panel.Ratio, 0.1);
    EXPECT_TRUE(loaded.panel.Visible);
    EXPECT_EQ(loaded.panel.Lines, saved.panel.Lines);
    EXPECT_EQ(loaded.panel.Buddy, &loaded.other);
    EXPECT_EQ(bstrText(loaded.panel.Extra), "variant  text");
    EXPECT_EQ(loaded.panel.Sub.Depth, 3);
  }
  const TIniFile ini(readText(file("kinds.ini")));
  EXPECT_EQ(ini.Read("Common", "Visible"), "True");
  EXPECT_EQ(ini.Read("Common", "Buddy"), "Form.Other");
  EXPECT_EQ(ini.Read("Common", "Lines"), "first+ line%0D%0A%0D%0Athird %2B %%");
  EXPECT_EQ(ini.Read("Deep", "Depth"), "3");
  EXPECT_FALSE(ini.Read("Common", "Nowhere")) << "unresolvable paths store nothing";
  EXPECT_FALSE(ini.Read("Common", "Nowhere2"));
  EXPECT_EQ(registryValue(kUser, "Ratio")->type, platform::kRegBinary);
  EXPECT_EQ(registryValue(kUser, "Depth", "Deep")->type, platform::kRegDword);
  EXPECT_EQ(registryValue(kUser, "Visible")->type, platform::kRegSz);
}

TEST_F(SettingsStore, IniTextsAreReadLeniently) {
  const std::string ini = file("lenient.ini");
  writeText(ini,
            "[Common]\n"
            "Tag=0x1F\n"
            "Big=not a number\n"
            "Ratio=2,25\n"
            "Visible=Maybe\n"
            "Lines=[[Null]]\n"
            "Buddy=[[Null]]\n"
            "[Deep]\n"
            "Depth=-4\n");
  Tree loaded;
  loaded.form.SetTag(1);
  loaded.panel.Big = 5;
  loaded.panel.Visible = true;
  loaded.panel.Lines = {"x"};
  loaded.panel.Buddy = &loaded.other;
  EXPECT_TRUE(Store(*this, kTreeItems, ini).Load(loaded.form));
  EXPECT_EQ(loaded.form.Tag(), 31);
  EXPECT_EQ(loaded.panel.Big, 0) << "unreadable text gives 0";
  EXPECT_EQ(loaded.panel.Ratio, 2.25);
  EXPECT_TRUE(loaded.panel.Visible) << "an unknown identifier changes nothing";
  EXPECT_TRUE(loaded.panel.Lines.empty());
  EXPECT_EQ(loaded.panel.Buddy, nullptr);
  EXPECT_EQ(loaded.panel.Sub.Depth, -4);

  writeText(ini, "[Common]\nRatio=2.5\nBuddy=Nobody\nLines=\n");
  loaded.panel.Buddy = &loaded.other;
  EXPECT_TRUE(Store(*this, kTreeItems, ini).Load(loaded.form));
  EXPECT_EQ(loaded.panel.Ratio, 2.5);
  EXPECT_EQ(loaded.panel.Buddy, &loaded.other) << "an unknown component leaves the reference";
  EXPECT_EQ(loaded.panel.Lines, std::vector<std::string>{}) << "an empty text empties the list";
}

TEST_F(SettingsStore, UnknownEnumerationIdentifierInTheRegistryIsDeleted) {
  auto key = userKey();
  ASSERT_TRUE(key);
  key->writeString("Visible", "Maybe");
  key->writeString("Big", "12");
  key->writeValue("Huge", 11, "\x01\0\0\0\x01\0\0\0", 8);
  Tree loaded;
  loaded.panel.Visible = true;
  Store loader(*this, {"Panel.Visible,Visible", "Panel.Big,Big", "Panel.Big,Huge"});
  loader.RegistryRoot = rrHKEY_CURRENT_USER;
  EXPECT_TRUE(loader.Load(loaded.form));
  EXPECT_TRUE(loaded.panel.Visible);
  EXPECT_EQ(loaded.panel.Big, (int64_t{1} << 32) + 1) << "a 64-bit registry number";
  EXPECT_FALSE(key->valueExists("Visible"));
  EXPECT_FALSE(key->valueExists("Big"));
  EXPECT_TRUE(key->valueExists("Huge"));
}

TEST_F(SettingsStore, VirtualItemsGoThroughTheEvents) {
  const std::string ini = file("virtual.ini");
  const std::vector<std::string> items = {"Left,Left", "Runtime.Version,Version", "Runtime.Count,Count",
                                          "Runtime.Skipped,Skipped"};
  std::vector<std::string> seen;
  auto before = [&](TWreg& sender, const std::string& name, int32_t index, bool& require, bool& isVirtual,
                    std::optional<TPropertyKind>& type) {
    EXPECT_TRUE(sender.Busy());
    seen.push_back(name + "#" + std::to_string(index) + (require ? " real" : "") + (isVirtual ? " virtual" : ""));
    if (name == "Runtime_Version") require = true;
    if (name == "Runtime_Count") {
      require = true;
      type = TPropertyKind::Integer;
    }
    if (name == "Left") require = false;  // a handler may skip a real item
  };

  TProxyCodeObject options;
  options.Left = 1;
  Store saver(*this, items, ini);
  saver.BeforeProcessItem = before;
  saver.GetValue = [](TWreg& sender, const std::string& name, int32_t index, OleVariant& value) {
    EXPECT_EQ(sender.Mode(), TSettingsMode::Save);
    value = name == "Runtime_Count" ? OleVariant::fromI4(-3) : OleVariant::fromString(u" 3.12  (64 bit)");
  };
  EXPECT_TRUE(saver.Save(options));
  EXPECT_FALSE(saver.Busy());
  EXPECT_EQ(seen, (std::vector<std::string>{"Left#0 real", "Runtime_Version#1 virtual", "Runtime_Count#2 virtual",
                                            "Runtime_Skipped#3 virtual"}));
  const TIniFile written(readText(ini));
  EXPECT_FALSE(written.Read("Common", "Left"));
  EXPECT_EQ(written.Read("Common", "Version"), "+3.12+ (64 bit)");
  EXPECT_EQ(written.Read("Common", "Count"), "-3");
  EXPECT_FALSE(written.Read("Common", "Skipped"));

  std::vector<std::string> loadedValues;
  Store loader(*this, items, ini);
  loader.BeforeProcessItem = before;
  loader.SetValue = [&](TWreg&, const std::string& name, int32_t index, const OleVariant& value) {
    loadedValues.push_back(name + "=" +
                           (value.type() == platform::vtI4 ? std::to_string(value.raw().lVal) : bstrText(value)));
  };
  EXPECT_TRUE(loader.Load(options));
  EXPECT_EQ(loadedValues, (std::vector<std::string>{"Runtime_Version= 3.12  (64 bit)", "Runtime_Count=-3"}));
}

TEST_F(SettingsStore, ParameterListsStoreTheirItems) {
  const std::string ini = file("list.ini");
  auto list = TkivParamsList::Create();
  list->AddItem("Port_Name", OleVariant::fromString(u"COM1  fast").raw());
  list->AddItem("Rate", OleVariant::fromI4(9600).raw());
  const std::vector<std::string> items = {"Port.Name,Port", "Rate,Rate", "Absent,Absent"};
  Store saver(*this, items, ini);
  EXPECT_TRUE(saver.Save(*list));
  EXPECT_EQ(readText(ini), "[Common]\r\nPort=COM1+ fast\r\nRate=9600\r\n");

  auto loaded = TkivParamsList::Create();
  EXPECT_TRUE(Store(*this, items, ini).Load(*loaded));
  EXPECT_EQ(bstrText(loaded->ItemValueByName("Port_Name")), "COM1  fast");
  EXPECT_EQ(bstrText(loaded->ItemValueByName("Rate")), "9600");
  EXPECT_EQ(loaded->Count(), 2);
}

TEST_F(SettingsStore, CustomStorageFindsNothingAndWritesNothing) {
  ChangedOptions options;
  Store custom(*this, ProxyCodeObjectItems(), "$CUSTOM$");
  custom.RegistryRoot = rrHKEY_CURRENT_USER;
  EXPECT_TRUE(custom.Save(options)) << "the items were processed";
  TProxyCodeObject loaded;
  EXPECT_FALSE(custom.Load(loaded));
  expectOptions(loaded, 314, 184, 451, "", "");
  EXPECT_FALSE(std::filesystem::exists("$CUSTOM$"));
  EXPECT_FALSE(RegistryKey::open(kUser, base_, RegistryAccess::Read));
  custom.INIFile = "$custom$";  // only the exact text selects it
  EXPECT_TRUE(custom.Save(options));
  EXPECT_TRUE(std::filesystem::exists("$custom$"));
  std::filesystem::remove("$custom$");
}

TEST_F(SettingsStore, LocalMachineWhereWritableElseCurrentUser) {
  std::optional<RegistryKey> machine = RegistryKey::create(kMachine, base_);
  std::optional<platform::RegistryWriteBlock> block;
  if (machine) {
    Store first(*this);
    ChangedOptions machineOptions;
    ASSERT_TRUE(first.Save(machineOptions));
    EXPECT_EQ(first.RootInUse(), rrHKEY_LOCAL_MACHINE);
    EXPECT_FALSE(registryValue(kUser, "Left"));
    machine->writeDword("Left", 1);
    block = platform::RegistryWriteBlock::apply(kMachine, base_);
    ASSERT_TRUE(block) << platform::lastErrorCode();
  } else {
    ASSERT_EQ(platform::lastErrorCode(), platform::kErrorAccessDenied);  // a normal user on Windows
  }
  ChangedOptions options;
  Store saver(*this);
  EXPECT_TRUE(saver.Save(options));
  EXPECT_EQ(saver.RootInUse(), rrHKEY_CURRENT_USER);
  EXPECT_EQ(registryValue(kUser, "Left")->data, (std::vector<uint8_t>{10, 0, 0, 0}));
  if (machine) {
    EXPECT_EQ(machine->readDword("Left"), 1u) << "the machine's value is untouched";
  }

  TProxyCodeObject loaded;
  Store loader(*this);
  EXPECT_TRUE(loader.Load(loaded));
  EXPECT_EQ(loader.RootInUse(), rrHKEY_CURRENT_USER);
  expectOptions(loaded, 10, 20, 640, options.edtFile_Text, options.edtPyDLL_Text);
}

TEST_F(SettingsStore, NoUsableRootTouchesNothing) {
  ChangedOptions options;
  Store none(*this);
  none.RegistryRoot = rrNone;
  EXPECT_FALSE(none.Save(options));
  EXPECT_EQ(none.RootInUse(), rrNone);

  // Both roots refuse writing.
  auto user = userKey();
  ASSERT_TRUE(user);
  std::optional<platform::RegistryWriteBlock> machineBlock;
  if (auto machine = RegistryKey::create(kMachine, base_)) {
    machineBlock = platform::RegistryWriteBlock::apply(kMachine, base_);
    ASSERT_TRUE(machineBlock);
  }
  {
    auto userBlock = platform::RegistryWriteBlock::apply(kUser, base_);
    ASSERT_TRUE(userBlock);
    Store blocked(*this);
    EXPECT_FALSE(blocked.Save(options));
    EXPECT_FALSE(blocked.Load(options));
    EXPECT_EQ(blocked.RootInUse(), rrNone);
  }
  EXPECT_TRUE(user->valueNames().empty());

  // An empty registry path would mean the root key itself.
  Store rootless(*this);
  rootless.RegistryRoot = rrHKEY_CURRENT_USER;
  for (const char* path : {"", "\\", "\\\\"}) {
    rootless.RegistryPath = path;
    EXPECT_FALSE(rootless.Save(options)) << path;
  }
  auto hive = RegistryKey::open(kUser, "", RegistryAccess::Read);
  if (hive) {
    EXPECT_FALSE(hive->valueExists("Script file"));
  }
}

