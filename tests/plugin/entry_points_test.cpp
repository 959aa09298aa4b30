// The entry points' own rules, driven through their C++ functions with
// records laid out as a host lays them out.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "common/params_list.h"
#include "platform/code_page.h"
#include "plugin/entry_points.h"
#include "plugin/plugin_library.h"
#include "plugin_test_support.h"

using namespace corvane;
using platform::OleVariant;

namespace {

using Instance = test_support::TestInstance;

}  // namespace

TEST(EntryPoints, CreateAndFree) {
  const int32_t before = PluginLibrary::Current()->Instances().Count();
  TPluginCallRecord record = test_support::FreshRecord();
  ASSERT_EQ(CreatePluginInstance(&record), 0);
  EXPECT_NE(record.InstanceHandle, 0u);
  EXPECT_EQ(PluginLibrary::Current()->Instances().Count(), before + 1);
  EXPECT_TRUE(PluginLibrary::Current()->Instances().Find(record.InstanceHandle).get()->IsTemporaryLoad())
      << "created without a parameter list";

  TPluginCallRecord again = record;
  EXPECT_EQ(CreatePluginInstance(&again), -1) << "a record that already names an instance";
  EXPECT_EQ(PluginLibrary::Current()->Instances().Count(), before + 1);

  const uintptr_t handle = record.InstanceHandle;
  EXPECT_EQ(FreePluginInstance(&record), 0);
  EXPECT_EQ(record.InstanceHandle, handle) << "the record keeps the old handle";
  EXPECT_EQ(FreePluginInstance(&record), -1) << "a freed handle is not used again";
  record.InstanceHandle = 0;
  EXPECT_EQ(FreePluginInstance(&record), -1);
  EXPECT_EQ(PluginLibrary::Current()->Instances().Count(), before);
}

TEST(EntryPoints, CreationReadsTemporaryLoadFromTheParameters) {
  auto params = TkivParamsList::Create();
  params->AddItem("TEMPORARY-LOAD", OleVariant::fromBool(false).raw());
  Instance instance;  // without parameters
  TPluginCallRecord record = test_support::FreshRecord();
  record.Params = reinterpret_cast<uintptr_t>(params.get());
  ASSERT_EQ(CreatePluginInstance(&record), 0);
  EXPECT_EQ(record.Params, reinterpret_cast<uintptr_t>(params.get())) << "the record is restored";
  EXPECT_FALSE(PluginLibrary::Current()->Instances().Find(record.InstanceHandle)->IsTemporaryLoad());
  EXPECT_EQ(FreePluginInstance(&record), 0);
}

TEST(EntryPoints, LibraryReleaseRunsCallbacksOnce) {
  Instance alive;
  std::vector<int> order;
  PluginLibrary::Current()->AddReleaseCallback([&] { order.push_back(1); });
  PluginLibrary::Current()->AddReleaseCallback([] { throw std::runtime_error("ignored"); });
  PluginLibrary::Current()->AddReleaseCallback([&] { order.push_back(3); });
  TPluginCallRecord release = test_support::FreshRecord();
  release.InputItem.Type = ditLibraryRelease;
  release.InputItem.Pointer = LibraryReleaseRequest;
  EXPECT_EQ(FreePluginInstance(&release), 0) << "also while instances exist";
  EXPECT_EQ(order, (std::vector<int>{1, 3}));
  EXPECT_EQ(FreePluginInstance(&release), 0);
  EXPECT_EQ(order.size(), 2u) << "the list is discarded after one run";
}

TEST(EntryPoints, ModuleInformation) {
  Instance instance;
  instance.plugin().SetDescription("Corvane " + platform::wideToAnsi(u"\u00E9"));
  instance.plugin().SetModuleType(39);
  instance.plugin().SetModuleOptions(0x0F);
  instance.plugin().SetModuleVersion(5.0f);
  const std::string description = "Corvane \xC3\xA9";  // UTF-8

  uint32_t needed = 99;
  EXPECT_EQ(GetModuleInfo(&instance.record, nullptr, &needed), 0);
  EXPECT_EQ(needed, sizeof(ModuleInfoRecord) + description.size()) << "no custom commands: text B is empty";

  alignas(8) char small[sizeof(ModuleInfoRecord) - 1] = {};
  *reinterpret_cast<uint32_t*>(small) = sizeof small;
  std::memset(small + 4, 0x55, sizeof small - 4);
  EXPECT_EQ(GetModuleInfo(&instance.record, small, &needed), 0);
  EXPECT_EQ(static_cast<unsigned char>(small[4]), 0x55) << "a buffer below the header size is not written";

  alignas(8) char headerOnly[sizeof(ModuleInfoRecord) + 2] = {};
  *reinterpret_cast<uint32_t*>(headerOnly) = sizeof headerOnly;
  EXPECT_EQ(GetModuleInfo(&instance.record, headerOnly, &needed), 0);
  const auto* header = reinterpret_cast<const ModuleInfoRecord*>(headerOnly);
  EXPECT_EQ(header->Flags, 39u | (7u << 16)) << "header filled even when the texts do not fit";
  EXPECT_EQ(header->DescriptionLength, 0u);

  std::vector<char> buffer(256);
  *reinterpret_cast<uint32_t*>(buffer.data()) = static_cast<uint32_t>(buffer.size());
  ASSERT_EQ(GetModuleInfo(&instance.record, buffer.data(), &needed), 1);
  const auto* info = reinterpret_cast<const ModuleInfoRecord*>(buffer.data());
  EXPECT_EQ(info->BufferSize, buffer.size());
  EXPECT_EQ(info->InterfaceVersion, 4u);
  EXPECT_EQ(info->ModuleVersion, 5.0f);
  EXPECT_EQ(info->InfoFlag, 1);
  ASSERT_EQ(info->DescriptionLength, description.size());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(info->DescriptionAddress), info->DescriptionLength), description);
  EXPECT_EQ(info->DescriptionAddress, reinterpret_cast<uintptr_t>(buffer.data()) + sizeof(ModuleInfoRecord));
  EXPECT_EQ(info->CommandsLength, 0u);
  EXPECT_EQ(info->CommandsAddress, 0u);

  instance.plugin().CustomCommands().Add("RESET", "Reset", "", true, false);
  ASSERT_EQ(GetModuleInfo(&instance.record, buffer.data(), &needed), 1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(info->CommandsAddress), info->CommandsLength), "RESET|Reset||1|0\r\n");
  EXPECT_EQ(info->CommandsAddress, info->DescriptionAddress + info->DescriptionLength);

  TPluginCallRecord unknown = test_support::FreshRecord();
  unknown.InstanceHandle = reinterpret_cast<uintptr_t>(&unknown);  // readable, but no instance
  EXPECT_EQ(GetModuleInfo(&unknown, buffer.data(), &needed), 0);
  EXPECT_EQ(needed, 0u);
}

TEST(EntryPoints, LogDrain) {
  Instance instance;
  instance.plugin().AddLog(lkWarning, "first");
  instance.plugin().AddLog(lkWarning, "first");
  const std::string expected = "\x02" "first x2\r\n";
  char buffer[64];
  TPluginCallRecord& record = instance.record;
  record.InputItem.Pointer = reinterpret_cast<uintptr_t>(buffer);
  record.InputItem.Size = 4;
  EXPECT_EQ(GetLogEx(&record), 0);
  EXPECT_EQ(record.OutputItem.Type, ditStatus);
  EXPECT_EQ(record.OutputItem.Pointer, expected.size()) << "the needed size";
  record.InputItem.Size = sizeof buffer;
  ASSERT_EQ(GetLogEx(&record), static_cast<int32_t>(expected.size()));
  EXPECT_EQ(std::string(buffer, expected.size()), expected);
  EXPECT_EQ(GetLogEx(&record), 0);
  EXPECT_EQ(record.OutputItem.Pointer, 0u);

  instance.plugin().AddLog(lkError, "dropped");
  record.InputItem.Size = 0;
  EXPECT_EQ(GetLogEx(&record), 0);
  EXPECT_EQ(record.OutputItem.Pointer, std::string("\x01" "dropped\r\n").size());
  record.InputItem.Size = sizeof buffer;
  EXPECT_EQ(GetLogEx(&record), 0) << "a capacity of 0 discarded the lines";

  TPluginCallRecord none = test_support::FreshRecord();
  EXPECT_EQ(GetLogEx(&none), 0);
  EXPECT_EQ(none.OutputItem.Type, ditStatus);
}

TEST(EntryPoints, FreeWaitsForCallsInProgress) {
  TPluginCallRecord record = test_support::FreshRecord();
  ASSERT_EQ(CreatePluginInstance(&record), 0);
  PluginPin pin = PluginLibrary::Current()->Instances().Find(record.InstanceHandle);
  std::atomic<bool> freed{false};
  std::thread freer([&] {
    EXPECT_EQ(FreePluginInstance(&record), 0);
    freed = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(freed) << "the instance is still in use";
  pin->AddLog(lkInformation, "still usable");
  EXPECT_FALSE(PluginLibrary::Current()->Instances().Find(record.InstanceHandle)) << "but no longer found";
  pin = PluginPin();
  freer.join();
  EXPECT_TRUE(freed);
}

TEST(EntryPoints, FreeFromInsideACallOnTheSameInstance) {
  TPluginCallRecord record = test_support::FreshRecord();
  ASSERT_EQ(CreatePluginInstance(&record), 0);
  {
    PluginPin pin = PluginLibrary::Current()->Instances().Find(record.InstanceHandle);
    EXPECT_EQ(FreePluginInstance(&record), 0) << "does not wait for its own caller";
    pin->AddLog(lkInformation, "the call goes on");
  }
  EXPECT_FALSE(PluginLibrary::Current()->Instances().Find(record.InstanceHandle));
}

TEST(EntryPoints, AFailingConstructorDoesNotReachTheHost) {
  PluginLibrary& library = *PluginLibrary::Current();
  library.SetPluginClass([](uintptr_t, const TPluginCreation*) -> std::unique_ptr<TkivPlugin> {
    throw std::runtime_error("no memory for the module");
  });
  TPluginCallRecord record = test_support::FreshRecord();
  const int32_t before = library.Instances().Count();
  EXPECT_EQ(CreatePluginInstance(&record), -3);
  EXPECT_EQ(record.InstanceHandle, 0u);
  EXPECT_EQ(library.Instances().Count(), before);
  library.SetPluginClass(nullptr);
  EXPECT_EQ(CreatePluginInstance(&record), 0) << "the framework class again";
  EXPECT_EQ(FreePluginInstance(&record), 0);
}
