// The options dialog block, with the dialog resources this test program
// carries (FORM_NAME naming TESTFORM, FORM_DATA, OTHER and OTHER_CODE).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "plugin/entry_points.h"
#include "plugin/plugin_library.h"
#include "plugin_test_support.h"

using namespace corvane;

namespace {

struct Instance : test_support::TestInstance {
  std::vector<char> buffer;
  void Ask(size_t capacity, const std::string& formName = "") {
    buffer.assign(capacity, '\0');
    std::memcpy(buffer.data(), formName.data(), std::min(formName.size(), capacity));
    record.InputItem.Type = ditMemoryBlock;
    record.InputItem.Pointer = reinterpret_cast<uintptr_t>(buffer.data());
    record.InputItem.Size = static_cast<int32_t>(capacity);
    GetOptionsDialog(&record);
  }
  std::string Part(size_t word) const {
    uint32_t offset, length;
    std::memcpy(&offset, buffer.data() + word * 8, 4);
    std::memcpy(&length, buffer.data() + word * 8 + 4, 4);
    return std::string(buffer.data() + offset, length);
  }
};

const std::string kForm = "object frmTest: TForm end";
const std::string kCode = "program code";

}  // namespace

TEST(GetOptionsDialog, DefaultFormFromTheModulesResources) {
  Instance instance;
  const size_t exact = sizeof(OptionsDialogBlock) + kForm.size() + kCode.size();
  instance.Ask(exact);
  ASSERT_EQ(instance.record.OutputItem.Type, ditHostBuffer);
  EXPECT_EQ(instance.record.OutputItem.Size, 0);
  EXPECT_EQ(instance.record.OutputItem.Pointer, exact);
  EXPECT_EQ(instance.Part(0), kForm);
  EXPECT_EQ(instance.Part(1), "");
  EXPECT_EQ(instance.Part(2), kCode);
  uint32_t formOffset;
  std::memcpy(&formOffset, instance.buffer.data(), 4);
  EXPECT_EQ(formOffset, 24u);

  instance.Ask(exact - 1);
  EXPECT_EQ(instance.record.OutputItem.Type, ditStatus);
  EXPECT_EQ(instance.record.OutputItem.Pointer, 3u);
  EXPECT_EQ(instance.record.OutputItem.Size, static_cast<int32_t>(exact)) << "the size needed";
}

TEST(GetOptionsDialog, NamedFormAndItsCode) {
  Instance instance;
  instance.plugin().OnGetOptionsDialog = [](TkivPlugin&, TPluginCallRecord*, std::string&, std::string&) {
    FAIL() << "a form name given by the host bypasses the handler";
  };
  instance.Ask(256, "other");
  ASSERT_EQ(instance.record.OutputItem.Type, ditHostBuffer);
  EXPECT_EQ(instance.Part(0), "other form");
  EXPECT_EQ(instance.Part(2), "other code");
  instance.Ask(256, "missing");
  EXPECT_EQ(instance.record.OutputItem.Pointer, 2u) << "nothing to deliver";
}

TEST(GetOptionsDialog, HandlerChoosesFormAndExtraText) {
  Instance instance;
  instance.plugin().OnGetOptionsDialog = [](TkivPlugin&, TPluginCallRecord*, std::string& name, std::string& extra) {
    name = "Other";
    extra = "extra text";
  };
  instance.Ask(256);
  ASSERT_EQ(instance.record.OutputItem.Type, ditHostBuffer);
  EXPECT_EQ(instance.Part(0), "other form");
  EXPECT_EQ(instance.Part(1), "extra text");
  EXPECT_EQ(instance.Part(2), "other code");

  instance.plugin().OnGetOptionsDialog = [](TkivPlugin&, TPluginCallRecord*, std::string&, std::string&) {};
  instance.Ask(256);
  EXPECT_EQ(instance.record.OutputItem.Type, ditStatus);
  EXPECT_EQ(instance.record.OutputItem.Pointer, 2u);
}

TEST(GetOptionsDialog, WithoutInstance) {
  TPluginCallRecord none = test_support::FreshRecord();
  GetOptionsDialog(&none);
  EXPECT_EQ(none.OutputItem.Type, ditStatus);
  EXPECT_EQ(none.OutputItem.Pointer, 1u);
}
