// The framework library through its exports: the entry points' contracts,
// with parameter lists as native objects and as interface references.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "integration_support.h"

using namespace corvane;
using namespace integration;

namespace {

class FrameworkLibraryTest : public ::testing::TestWithParam<ListForm> {
 protected:
  host::LoadedPlugin& lib = FrameworkLibrary();
};

INSTANTIATE_TEST_SUITE_P(Lists, FrameworkLibraryTest, ::testing::Values(ListForm::Native, ListForm::Interface),
                         [](const auto& info) { return std::string(ListFormName(info.param)); });

TEST(FrameworkLibrary, CreateAndFreeGuardTheirHandles) {
  host::LoadedPlugin& lib = FrameworkLibrary();
  TPluginCallRecord record = FreshRecord();
  ASSERT_EQ(lib.CreatePluginInstance(&record), 0);
  ASSERT_NE(uintptr_t(record.InstanceHandle), 0u);
  TPluginCallRecord twice = record;
  EXPECT_EQ(lib.CreatePluginInstance(&twice), -1) << "a record that already names an instance";
  EXPECT_EQ(uintptr_t(twice.InstanceHandle), uintptr_t(record.InstanceHandle));

  // The release request answers 0 while instances live, and leaves them.
  TPluginCallRecord release = FreshRecord();
  release.InputItem = {0, 0, ditLibraryRelease, 0xFF01};
  EXPECT_EQ(lib.FreePluginInstance(&release), 0);

  TPluginCallRecord unknown = FreshRecord();
  unknown.InstanceHandle = record.InstanceHandle ^ 0x10;
  EXPECT_EQ(lib.FreePluginInstance(&unknown), -1);
  EXPECT_EQ(lib.FreePluginInstance(&record), 0);
  EXPECT_EQ(uintptr_t(record.InstanceHandle), uintptr_t(twice.InstanceHandle)) << "left as it was";
  EXPECT_EQ(lib.FreePluginInstance(&record), -1) << "the freed handle is refused, not used";
  EXPECT_EQ(lib.ExecutePluginCommand(&record), -1);
  EXPECT_EQ(lib.ProcessData(&record), -1);
}

TEST(FrameworkLibrary, ModuleInformationInEveryBufferSize) {
  Instance instance(FrameworkLibrary());
  ASSERT_TRUE(instance.SetParameter("Description", Text("Framework")));
  ASSERT_TRUE(instance.SetParameter("CustomCommands", Text("Run|RUN|Runs it|1|0\r\n")));
  const std::string commands = instance.Parameter("CustomCommands");
  const uint32_t needed = static_cast<uint32_t>(sizeof(ModuleInfoRecord) + 9 + commands.size());

  uint32_t size = 1;
  EXPECT_EQ(instance.Plugin().GetModuleInfo(&instance.Record(), nullptr, &size), 0);
  EXPECT_EQ(size, needed);

  std::vector<unsigned char> buffer(needed + 16, 0xEE);
  auto* header = reinterpret_cast<ModuleInfoRecord*>(buffer.data());
  header->BufferSize = sizeof(ModuleInfoRecord) - 1;
  EXPECT_EQ(instance.Plugin().GetModuleInfo(&instance.Record(), buffer.data(), &size), 0);
  EXPECT_EQ(buffer[sizeof(ModuleInfoRecord) - 2], 0xEE) << "a buffer below the header stays untouched";

  header->BufferSize = needed - 1;
  EXPECT_EQ(instance.Plugin().GetModuleInfo(&instance.Record(), buffer.data(), &size), 0);
  EXPECT_EQ(uint32_t(header->DescriptionLength), 0u) << "the header is filled, the texts are not";
  EXPECT_EQ(header->InterfaceVersion, 4u);
  EXPECT_EQ(header->InfoFlag, 1);

  header->BufferSize = needed;
  ASSERT_EQ(instance.Plugin().GetModuleInfo(&instance.Record(), buffer.data(), &size), 1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(header->DescriptionAddress), header->DescriptionLength),
            "Framework");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(header->CommandsAddress), header->CommandsLength), commands);
  EXPECT_EQ(header->BufferSize, needed) << "the caller's size is kept";
}

TEST(FrameworkLibrary, ModuleInformationWithoutCommandsHasNoSecondText) {
  Instance instance(FrameworkLibrary());
  std::vector<unsigned char> buffer(256);
  auto* header = reinterpret_cast<ModuleInfoRecord*>(buffer.data());
  header->BufferSize = static_cast<uint32_t>(buffer.size());
  uint32_t size = 0;
  ASSERT_EQ(instance.Plugin().GetModuleInfo(&instance.Record(), buffer.data(), &size), 1);
  EXPECT_EQ(uint32_t(header->CommandsLength), 0u);
  EXPECT_EQ(uintptr_t(header->CommandsAddress), 0u);
  EXPECT_EQ(uintptr_t(header->DescriptionAddress), 0u) << "the framework module has no description";
}

TEST(FrameworkLibrary, CommandRecordsAreChecked) {
  Instance instance(FrameworkLibrary());
  HostList params(ListForm::Interface);
  params.Add("COMMAND", Text("LOAD"));
  TPluginCallRecord record = instance.Record();
  record.Params = params.Params();
  record.RecordSize = CallRecordSize - 1;
  EXPECT_EQ(instance.Plugin().ExecutePluginCommand(&record), -1);
  EXPECT_EQ(instance.Plugin().ProcessData(&record), -1);
  record.RecordSize = CallRecordSize;
  record.Params = 0;
  EXPECT_EQ(instance.Plugin().ExecutePluginCommand(&record), -1);
  HostList empty(ListForm::Interface);
  record.Params = empty.Params();
  EXPECT_EQ(instance.Plugin().ExecutePluginCommand(&record), -1) << "no COMMAND";
  EXPECT_EQ(instance.Command("NO-SUCH-COMMAND"), -2);
  EXPECT_EQ(instance.Parameter("ModuleLoadCount"), "0") << "nothing ran";
}

TEST_P(FrameworkLibraryTest, CommandsReadAndAnswerThroughEitherListForm) {
  Instance instance(lib, GetParam());
  EXPECT_TRUE(instance.SetParameter("Description", Text("Test module")));
  EXPECT_EQ(instance.Parameter("Description"), "Test module");
  EXPECT_EQ(instance.Record().CallOptions, 0) << "restored after the call";

  // Load counting: only the first LOAD and the last UNLOAD act.
  EXPECT_EQ(instance.Command("UNLOAD"), 0);
  EXPECT_EQ(instance.Parameter("ModuleLoadCount"), "0");
  EXPECT_EQ(instance.Command("LOAD"), 0);
  EXPECT_EQ(instance.Command("LOAD"), 0);
  EXPECT_EQ(instance.Command("UNLOAD"), 0);
  EXPECT_EQ(instance.Parameter("ModuleLoadCount"), "1");
  EXPECT_EQ(instance.Parameter("TerminateNow"), "0");
  EXPECT_EQ(instance.Command("UNLOAD"), 0);
  EXPECT_EQ(instance.Parameter("TerminateNow"), "-1");

  // The library's own folder, with a trailing delimiter, and its version.
  const std::string path = instance.Parameter("ModulePath");
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.back(), platform::pathDelimiter());
  EXPECT_TRUE(platform::fileExists(path + instance.Parameter("ModuleName")));
  const std::string up = std::string(1, platform::pathDelimiter()) + "..";
  EXPECT_EQ(path.find(up), std::string::npos) << "loaded through a path with \"..\", answered without: " << path;
  EXPECT_EQ(instance.Parameter("DisplayFullVersion"), CORVANE_PROJECT_VERSION);
}

TEST_P(FrameworkLibraryTest, RoleStatesAndCustomValues) {
  Instance instance(lib, GetParam());
  TPluginCallRecord& record = instance.Record();
  record.RoleFlags = 0x22;
  EXPECT_EQ(instance.Command("SET-STATE", {{"RESULT", OleVariant::fromI4(1)}}), 0);
  EXPECT_EQ(instance.Parameter("ModuleEnabled"), "34");
  EXPECT_EQ(instance.Command("SET-STATE", {{"RESULT", OleVariant::fromI4(2)}}), 0);
  EXPECT_EQ(instance.Parameter("ModuleEnabled"), "0");
  record.RoleFlags = 0;

  EXPECT_TRUE(instance.SetParameter("Custom:alpha", Text("one")));
  EXPECT_TRUE(instance.SetParameter("Custom_beta", Text("two")));
  EXPECT_EQ(instance.Parameter("Custom:COUNT"), "2");
  EXPECT_EQ(instance.Parameter("Custom 1"), "two");
  EXPECT_EQ(instance.Parameter("Customalpha"), "one");
  EXPECT_EQ(instance.Parameter("Custom 7"), "");
  EXPECT_TRUE(instance.SetParameter("Custom_COUNT", OleVariant::fromI4(0)));
  EXPECT_EQ(instance.Parameter("Custom:COUNT"), "0");
  EXPECT_FALSE(instance.SetParameter("ModulePath", Text("elsewhere"))) << "read-only";
}

TEST_P(FrameworkLibraryTest, PacketsWithoutAHandler) {
  Instance instance(lib, GetParam());
  HostList params(GetParam());
  TPluginCallRecord& record = instance.Record();
  record.Params = params.Params();

  // A filter packet passes through byte for byte.
  char packet[] = "packet";
  record.RoleFlags = 0x20;
  record.InputItem = {1, static_cast<int32_t>(sizeof packet), ditMemoryBlock, reinterpret_cast<uintptr_t>(packet)};
  EXPECT_EQ(lib.ProcessData(&record), 0);
  EXPECT_EQ(std::memcmp(&record.OutputItem, &record.InputItem, sizeof(TPluginDataItem)), 0);

  // An export packet without data: a warning, the handler never asked.
  record.RoleFlags = 0x04;
  record.InputItem = {};
  for (int i = 0; i < 3; ++i) EXPECT_EQ(lib.ProcessData(&record), 0);
  // An input list without values counts as no data too.
  HostList emptyInput(GetParam());
  record.InputItem = emptyInput.Item();
  EXPECT_EQ(lib.ProcessData(&record), 0);
  EXPECT_EQ(uintptr_t(record.InputItem.Pointer), 0u) << "the list's slot is not left behind";
  EXPECT_EQ(record.CallOptions, 0);
  record.Params = 0;
  EXPECT_EQ(lib.ProcessData(&record), -1);
  EXPECT_EQ(instance.DrainLog(), "\x02No data for processing x4\r\n");
}

// Identical lines collapse with a count; a drain into a buffer too small
// keeps them; a drain of capacity 0 discards them.
TEST(FrameworkLibrary, LogDrains) {
  Instance instance(FrameworkLibrary());
  HostList params(ListForm::Interface);
  TPluginCallRecord& record = instance.Record();
  record.Params = params.Params();
  record.RoleFlags = 0x04;
  for (int i = 0; i < 3; ++i) instance.Plugin().ProcessData(&record);
  ASSERT_TRUE(instance.SetParameter("LogTitle", Text("Title")));
  record.Params = params.Params();  // commands leave the record without a list
  instance.Plugin().ProcessData(&record);

  EXPECT_EQ(instance.DrainLog(8), "");
  const int32_t pending = instance.LastLogLength();
  const std::string expected = "\x02No data for processing x3\r\n\x02Title. No data for processing\r\n";
  EXPECT_EQ(pending, static_cast<int32_t>(expected.size()));
  EXPECT_EQ(instance.DrainLog(), expected) << "delivered once, the count suffix included";
  EXPECT_EQ(instance.DrainLog(), "");

  instance.Plugin().ProcessData(&record);
  EXPECT_EQ(instance.DrainLog(0), "");
  EXPECT_GT(instance.LastLogLength(), 0);
  EXPECT_EQ(instance.DrainLog(), "") << "a drain of capacity 0 discards the lines";
}

TEST(FrameworkLibrary, OptionsDialogsWithoutHandlerOrForm) {
  Instance instance(FrameworkLibrary());
  TPluginCallRecord record = instance.Record();
  std::vector<char> buffer(256);
  record.InputItem = {0, static_cast<int32_t>(buffer.size()), 0, reinterpret_cast<uintptr_t>(buffer.data())};
  instance.Plugin().GetOptionsDialog(&record);
  EXPECT_EQ(record.OutputItem.Type, ditStatus);
  EXPECT_EQ(uintptr_t(record.OutputItem.Pointer), 2u) << "the framework library has no form";

  HostList params(ListForm::Interface);
  record.Params = params.Params();
  instance.Plugin().ShowOptionsDialog(&record);
  EXPECT_EQ(uintptr_t(record.OutputItem.Pointer), 3u) << "no handler";
  record.InstanceHandle = 0;
  instance.Plugin().ShowOptionsDialog(&record);
  EXPECT_EQ(uintptr_t(record.OutputItem.Pointer), 2u) << "no instance";
  instance.Plugin().GetOptionsDialog(&record);
  EXPECT_EQ(uintptr_t(record.OutputItem.Pointer), 1u) << "no instance";
}

}  // namespace
