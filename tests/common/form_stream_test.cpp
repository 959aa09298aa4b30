// Form streams: the byte form written and read back, broken streams
// refused, string holders filled from a stream.
#include <gtest/gtest.h>

#include "common/form_loader.h"
#include "common/form_stream.h"
#include "common/str_data.h"
#include "common/str_holder.h"

using namespace corvane;

namespace {

TFormObject sampleForm() {
  TFormObject root{"TfrmTest", "frmTest", {}, {}};
  root.Properties = {{"Left", TFormValue::Int(127)},
                     {"Top", TFormValue::Int(128)},
                     {"Width", TFormValue::Int(-129)},
                     {"Big", TFormValue::Int(40000)},
                     {"Font.Name", TFormValue::Str("MS Sans Serif")},
                     {"Color", TFormValue::Identifier("clBtnFace")},
                     {"Scaled", TFormValue::Boolean(false)},
                     {"BorderIcons", TFormValue::SetOf({"biSystemMenu", "biHelp"})},
                     {"Font.Style", TFormValue::SetOf({})},
                     {"Long", TFormValue::Str(std::string(300, 'x'))}};
  TFormObject child{"TLabel", "lblOne", {{"Caption", TFormValue::Str("It's")}}, {}};
  child.Children.push_back({"TLabel", "lblInner", {}, {}});
  root.Children.push_back(child);
  return root;
}

}  // namespace

TEST(FormStream, WritesTheCompactFormAndReadsItBack) {
  const std::string stream = WriteFormStream(sampleForm());
  const std::string start = std::string("TPF0\x08TfrmTest\x07" "frmTest\x04Left\x02\x7F\x03Top\x03\x80\x00", 32);
  EXPECT_EQ(stream.substr(0, start.size()), start);
  const TFormObject back = ReadFormStream(stream);
  EXPECT_EQ(back.Find("Left")->Value.Type, TFormValueType::Int8);
  EXPECT_EQ(back.Find("Top")->Value.Type, TFormValueType::Int16);
  EXPECT_EQ(back.Find("Width")->Value.Type, TFormValueType::Int16);
  EXPECT_EQ(back.Find("Width")->Value.Integer, -129);
  EXPECT_EQ(back.Find("Big")->Value.Type, TFormValueType::Int32);
  EXPECT_EQ(back.Find("Long")->Value.Type, TFormValueType::LString);
  EXPECT_EQ(back.Find("Long")->Value.Text.size(), 300u);
  EXPECT_EQ(WriteFormStream(back), stream) << "nothing is lost on the way";
  EXPECT_EQ(DescribeForm(back).substr(0, 65), "object frmTest: TfrmTest\n  Left = 127\n  Top = 128\n  Width = -129\n");
  EXPECT_NE(DescribeForm(back).find("    Caption = 'It''s'\n    object lblInner: TLabel\n    end\n  end\nend\n"),
            std::string::npos);
  EXPECT_NE(DescribeForm(back).find("BorderIcons = [biSystemMenu, biHelp]\n  Font.Style = []\n"), std::string::npos);
}

TEST(FormStream, BrokenStreamsAreRefused) {
  const std::string stream = WriteFormStream(sampleForm());
  EXPECT_THROW(ReadFormStream("TPF1" + stream.substr(4)), EFormStreamError);
  for (size_t cut : {size_t{4}, size_t{10}, stream.size() / 2, stream.size() - 1}) {
    EXPECT_THROW(ReadFormStream(stream.substr(0, cut)), EFormStreamError) << cut;
  }
  EXPECT_THROW(ReadFormStream(stream + "x"), EFormStreamError);
  std::string unknownType = WriteFormStream({"TA", "a", {{"P", TFormValue::Int(1)}}, {}});
  unknownType[4 + 3 + 2 + 2] = 0x42;
  EXPECT_THROW(ReadFormStream(unknownType), EFormStreamError);
}

TEST(FormStream, StringHolderTakesItsEncodedLines) {
  EXPECT_EQ(EncodeStrDataLine("Left,Left", ""), "4c6566742c4c656674");
  EXPECT_EQ(EncodeStrDataLine("AB", "\x01\x02"), "4040");
  EXPECT_EQ(DecodeStrDataLine("4040", "\x01\x02"), "AB");
  EXPECT_EQ(DecodeStrDataLine("414", ""), std::nullopt);
  EXPECT_EQ(DecodeStrDataLine("4g", ""), std::nullopt);

  TComponent module;
  auto& holder = TComponent::CreateOwned<TkivStrHolder>(module);
  holder.SetName("Properties");
  TFormObject form{"TModule", "module", {}, {}};
  const std::string key = "k";
  form.Children.push_back({"TkivStrHolder",
                           "Properties",
                           {{"Tag", TFormValue::Int(9999)},
                            {"Capacity", TFormValue::Int(8)},
                            {"InternalVer", TFormValue::Int(2)},
                            {"StrData", TFormValue::ListOf({TFormValue::Str(key),
                                                            TFormValue::Str(EncodeStrDataLine("Top,Top", key)),
                                                            TFormValue::Str(EncodeStrDataLine(" ", key))})}},
                           {}});
  LoadComponentFromForm(module, ReadFormStream(WriteFormStream(form)));
  EXPECT_EQ(holder.Tag(), 9999);
  EXPECT_EQ(holder.Capacity, 8);
  EXPECT_EQ(holder.InternalVer, 2);
  EXPECT_EQ(holder.Strings, (std::vector<std::string>{"Top,Top", " "}));

  // What does not fit the module is a fault of the build.
  TFormObject stranger{"TModule", "module", {}, {{"TLabel", "lblMissing", {}, {}}}};
  EXPECT_THROW(LoadComponentFromForm(module, stranger), EPropertyError);
  TFormObject wrongValue{"TModule", "module", {}, {{"TkivStrHolder", "Properties", {{"Capacity", TFormValue::Str("8")}}, {}}}};
  EXPECT_THROW(LoadComponentFromForm(module, wrongValue), EPropertyError);
}
