// The product library's dialog resources as a host receives them through
// GetOptionsDialog, and the module form that carries its settings items.
#include <gtest/gtest.h>

#include <algorithm>

#include "common/code_resource.h"
#include "common/form_stream.h"
#include "common/str_data.h"
#include "integration_support.h"
#include "platform/resources.h"

using namespace corvane;
using namespace integration;

namespace {

host::LoadedPlugin& Product() {
  static host::LoadedPlugin library(productLibraryPath());
  return library;
}

struct Delivered {
  std::string form, extra, code;
};

Delivered AskForDialog(Instance& instance) {
  std::vector<char> buffer(1 << 16);
  TPluginCallRecord& record = instance.Record();
  record.InputItem = {0, static_cast<int32_t>(buffer.size()), ditMemoryBlock, reinterpret_cast<uintptr_t>(buffer.data())};
  instance.Plugin().GetOptionsDialog(&record);
  record.InputItem = {};
  EXPECT_EQ(record.OutputItem.Type, ditHostBuffer);
  OptionsDialogBlock block;
  std::memcpy(&block, buffer.data(), sizeof block);
  return {std::string(buffer.data() + block.FormOffset, block.FormLength),
          std::string(buffer.data() + block.ExtraOffset, block.ExtraLength),
          std::string(buffer.data() + block.CodeOffset, block.CodeLength)};
}

const std::vector<std::string> kItems = {"Left,Left",     "Top,Top", "Width,Width", ";---short---",
                                         "edtFile.Text,Script file", "edtPyDLL.Text,Python DLL", " "};

std::vector<std::string> childNames(const TFormObject& object) {
  std::vector<std::string> names;
  for (const TFormObject& child : object.Children) names.push_back(child.Name);
  return names;
}

}  // namespace

TEST(OptionsDialog, FormParsesBackAsTheDialog) {
  Instance instance(Product());
  const Delivered dialog = AskForDialog(instance);
  EXPECT_EQ(dialog.extra, "");
  ASSERT_EQ(dialog.form.substr(0, 4), "TPF0");
  const TFormObject form = ReadFormStream(dialog.form);
  EXPECT_EQ(form.ClassName, "TfrmOption");
  EXPECT_EQ(form.Name, "frmOption");
  const std::pair<const char*, int32_t> geometry[] = {{"Left", 314}, {"Top", 184}, {"Width", 451}, {"Height", 215}};
  for (const auto& [name, value] : geometry) {
    ASSERT_NE(form.Find(name), nullptr) << name;
    EXPECT_EQ(form.Find(name)->Value.Integer, value) << name;
    EXPECT_EQ(form.Find(name)->Value.Type, TFormValueType::Int16) << "the smallest type that holds " << value;
  }
  EXPECT_EQ(form.Find("HelpContext")->Value.Type, TFormValueType::Int8);
  EXPECT_EQ(form.Find("Font.Height")->Value.Integer, -11);
  EXPECT_EQ(form.Find("BorderIcons")->Value.Elements, (std::vector<std::string>{"biSystemMenu", "biHelp"}));
  EXPECT_EQ(form.Find("Font.Style")->Value.Type, TFormValueType::Set);
  EXPECT_TRUE(form.Find("Font.Style")->Value.Elements.empty());
  EXPECT_EQ(form.Find("HorzScrollBar.Visible")->Value.Type, TFormValueType::False);
  EXPECT_EQ(form.Find("KeyPreview")->Value.Type, TFormValueType::True);
  EXPECT_EQ(form.Find("ActiveControl")->Value.Describe(), "__pBot");
  EXPECT_EQ(form.Find("OnShow")->Value.Describe(), "FormResize");
  EXPECT_EQ(form.Properties.back().Name, "TextHeight");

  EXPECT_EQ(childNames(form),
            (std::vector<std::string>{"lblExample0", "lblExample1", "__pBot", "edtFile", "pan1", "edtPyDLL"}));
  EXPECT_EQ(childNames(*form.FindObject("__pBot")), (std::vector<std::string>{"FilterPy", "FilterAll", "FilterLib"}));
  EXPECT_EQ(childNames(*form.FindObject("pan1")), (std::vector<std::string>{"lblEdit", "lblBrowse"}));
  const TFormObject& edtFile = *form.FindObject("edtFile");
  EXPECT_EQ(edtFile.ClassName, "TJvFilenameEdit");
  EXPECT_EQ(edtFile.Properties.front().Name, "Tag");
  EXPECT_EQ(edtFile.Find("Tag")->Value.Integer, 9999);
  EXPECT_EQ(form.FindObject("edtPyDLL")->Find("Filter")->Value.Text, "*.dll|*.dll");
  EXPECT_EQ(form.FindObject("lblExample1")->Find("Caption")->Value.Text,
            "Specify the full path to your python3x.dll (32 bit). Python must be installed.");
  const TFormObject& lblEdit = *form.FindObject("lblEdit");
  EXPECT_EQ(lblEdit.Find("Font.Style")->Value.Elements, std::vector<std::string>{"fsUnderline"});
  EXPECT_EQ(lblEdit.Find("OnClick")->Value.Describe(), "lblEditClick");
  EXPECT_EQ(form.FindObject("FilterLib")->Find("Visible")->Value.Type, TFormValueType::False);
}

TEST(OptionsDialog, CodeResourceHasItsThreeParts) {
  Instance instance(Product());
  const Delivered dialog = AskForDialog(instance);
  ASSERT_GE(dialog.code.size(), 2u);
  EXPECT_EQ(static_cast<unsigned char>(dialog.code[0]), 0x1Fu);
  EXPECT_EQ(static_cast<unsigned char>(dialog.code[1]), 0x8Bu);
  const TCodeResource code = ReadCodeResource(dialog.code);
  const std::string separator = "\r\n\r\n<=======>\r\n\r\n";
  std::string items;
  for (const std::string& item : kItems) items += item + "\r\n";
  EXPECT_EQ(code.Text, code.Code + separator + "TFRMOPTION" + separator + items);
  EXPECT_EQ(code.FormName, "TFRMOPTION");
  EXPECT_EQ(code.Items, kItems);

  const std::string& xml = code.Code;
  EXPECT_EQ(xml.rfind("<?xml version=\"1.0\"", 0), 0u);
  EXPECT_EQ(xml.find_first_of("\r\n"), std::string::npos) << "one line";
  for (const char* expected :
       {"'GET-PY-PATH'", "'GetOsType'", "<name text=\"FormCreate\"", "<name text=\"lblBrowseClick\"",
        "<name text=\"lblEditClick\"", "<name text=\"FormResize\"", "<node text=\"InitPluginConfigForm\"",
        "<node text=\"SetDialogFilter\"", "<node text=\"GoLink\"", "<node text=\"osoShellExecOnly\"", "<exceptstmt"}) {
    EXPECT_NE(xml.find(expected), std::string::npos) << expected;
  }
  EXPECT_LT(xml.find("FormCreate"), xml.find("lblBrowseClick"));
  EXPECT_LT(xml.find("lblEditClick"), xml.find("FormResize"));
  EXPECT_NE(xml.find("<program><var pos="), std::string::npos) << "program and types carry no position";
  EXPECT_NE(xml.find("<compoundstmt pos="), std::string::npos);
  EXPECT_EQ(xml.substr(xml.size() - 18), "<types/></program>") << "an empty main block and types close it";
}

TEST(OptionsDialog, ModuleFormCarriesTheSettingsItems) {
  const void* anchor = reinterpret_cast<const void*>(Product().GetOptionsDialog);
  EXPECT_EQ(platform::findModuleResource(anchor, "FORM_NAME").value_or(""), "TFRMOPTION");
  const std::optional<std::string_view> resource = platform::findModuleResource(anchor, "TAPLUGIN");
  ASSERT_TRUE(resource);
  const TFormObject form = ReadFormStream(*resource);
  EXPECT_EQ(form.ClassName, "TaPlugin");
  ASSERT_EQ(form.Children.size(), 1u);
  const TFormObject& holder = form.Children[0];
  EXPECT_EQ(holder.ClassName, "TkivStrHolder");
  EXPECT_EQ(holder.Name, "Properties");
  EXPECT_EQ(holder.Find("Tag")->Value.Integer, 9999);
  EXPECT_EQ(holder.Find("Capacity")->Value.Integer, 8);
  EXPECT_EQ(holder.Find("InternalVer")->Value.Integer, 2);
  const TFormValue& data = holder.Find("StrData")->Value;
  ASSERT_EQ(data.Type, TFormValueType::List);
  ASSERT_EQ(data.Items.size(), kItems.size() + 1);
  EXPECT_EQ(data.Items[0].Text, "") << "an empty key";
  EXPECT_EQ(data.Items[1].Text, "4c6566742c4c656674");
  std::vector<std::string> lines;
  for (size_t i = 1; i < data.Items.size(); ++i) lines.push_back(DecodeStrDataLine(data.Items[i].Text, "").value_or("?"));
  EXPECT_EQ(lines, kItems);
}
