// The plug-in library loaded the way a host loads it: by path at run time,
// entry points resolved by their plain names and called with stdcall
// records, parameter lists passed as native objects and as interfaces.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/params_list.h"
#include "common/params_list_wrap.h"
#include "platform/code_page.h"
#include "platform/dynamic_library.h"
#include "platform/files.h"
#include "platform/process.h"
#include "plugin/call_record.h"

using namespace corvane;
using platform::OleVariant;

namespace {

using RecordCall = int32_t(CV_STDCALL*)(TPluginCallRecord*);
using RecordProcedure = void(CV_STDCALL*)(TPluginCallRecord*);
using ModuleInfoCall = uint8_t(CV_STDCALL*)(TPluginCallRecord*, void*, uint32_t*);

std::string libraryPath() {
  const bool windows = platform::pathDelimiter() == '\\';
  std::string dir = platform::executableDirectory();
  return dir + ".." + platform::pathDelimiter() + "plugin" + platform::pathDelimiter() + (windows ? "corvane.dll" : "corvane.so");
}

struct Library {
  platform::DynamicLibrary library{libraryPath()};
  template <class F>
  F entry(const char* name) {
    auto* symbol = library.symbol(name);
    EXPECT_NE(symbol, nullptr) << name;
    return reinterpret_cast<F>(symbol);
  }
  RecordCall create = entry<RecordCall>("CreatePluginInstance");
  RecordCall free = entry<RecordCall>("FreePluginInstance");
  ModuleInfoCall moduleInfo = entry<ModuleInfoCall>("GetModuleInfo");
  RecordCall getLog = entry<RecordCall>("GetLogEx");
  RecordProcedure getOptions = entry<RecordProcedure>("GetOptionsDialog");
  RecordProcedure showOptions = entry<RecordProcedure>("ShowOptionsDialog");
  RecordCall command = entry<RecordCall>("ExecutePluginCommand");
  RecordCall process = entry<RecordCall>("ProcessData");
};

TPluginCallRecord freshRecord() {
  TPluginCallRecord record;
  std::memset(&record, 0, sizeof record);
  record.RecordSize = CallRecordSize;
  return record;
}

OleVariant text(const char* value) { return OleVariant::fromString(platform::ansiToWide(value)); }

std::string drainLog(Library& lib, TPluginCallRecord& record) {
  std::vector<char> buffer(4096);
  record.InputItem.Pointer = reinterpret_cast<uintptr_t>(buffer.data());
  record.InputItem.Size = static_cast<int32_t>(buffer.size());
  const int32_t copied = lib.getLog(&record);
  return std::string(buffer.data(), static_cast<size_t>(copied > 0 ? copied : 0));
}

}  // namespace

TEST(PluginLibrary, LifeOfAnInstanceThroughTheExports) {
  Library lib;
  ASSERT_TRUE(lib.library.loaded());
  TPluginCallRecord record = freshRecord();
  ASSERT_EQ(lib.create(&record), 0);
  ASSERT_NE(record.InstanceHandle, 0u);
  TPluginCallRecord twice = record;
  EXPECT_EQ(lib.create(&twice), -1);

  uint32_t size = 0;
  EXPECT_EQ(lib.moduleInfo(&record, nullptr, &size), 0);
  EXPECT_EQ(size, sizeof(ModuleInfoRecord)) << "the framework module has no description yet";

  // Commands with the list as a native object, then as an interface.
  auto params = TkivParamsList::Create();
  params->AddItem("COMMAND", text("SET-MODULE-PARAMETER").raw());
  params->AddItem("PARAM", text("Description").raw());
  params->AddItem("VALUE", text("Test module").raw());
  record.Params = reinterpret_cast<uintptr_t>(params.get());
  EXPECT_EQ(lib.command(&record), 0);
  EXPECT_EQ(params->ItemValueByName("RESULT").raw().boolVal, platform::kVariantTrue);

  auto query = TkivParamsList::Create();
  query->AddItem("COMMAND", text("GET-MODULE-PARAMETER").raw());
  query->AddItem("PARAM", text("Description").raw());
  InterfaceRef<IkivParamsListA> reference = TkivParamsListWrap::NewInterfaceA(query.get(), true);
  IkivParamsListA* variable = reference.get();
  record.Params = reinterpret_cast<uintptr_t>(&variable);
  EXPECT_EQ(lib.command(&record), 0);
  EXPECT_EQ(record.CallOptions, 0) << "restored after the call";
  const OleVariant answer = query->ItemValueByName("RESULT");
  ASSERT_EQ(answer.type(), platform::vtBstr);
  EXPECT_EQ(std::u16string(answer.raw().bstrVal), u"Test module");

  std::vector<char> info(256);
  *reinterpret_cast<uint32_t*>(info.data()) = static_cast<uint32_t>(info.size());
  ASSERT_EQ(lib.moduleInfo(&record, info.data(), &size), 1);
  const auto* header = reinterpret_cast<const ModuleInfoRecord*>(info.data());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(header->DescriptionAddress), header->DescriptionLength),
            "Test module");

  // A filter packet without a handler passes through byte for byte.
  char packet[] = "packet";
  record.Params = reinterpret_cast<uintptr_t>(params.get());
  record.RoleFlags = 0x20;
  record.InputItem = {1, static_cast<int32_t>(sizeof packet), ditMemoryBlock, reinterpret_cast<uintptr_t>(packet)};
  EXPECT_EQ(lib.process(&record), 0);
  EXPECT_EQ(std::memcmp(&record.OutputItem, &record.InputItem, sizeof(TPluginDataItem)), 0);

  // An export packet without data leaves a warning in the log.
  record.RoleFlags = 0x04;
  record.InputItem = {};
  EXPECT_EQ(lib.process(&record), 0);
  EXPECT_EQ(drainLog(lib, record), "\x02No data for processing\r\n");

  EXPECT_EQ(lib.free(&record), 0);
  EXPECT_EQ(lib.free(&record), -1) << "the freed handle is refused, not used";
  EXPECT_EQ(lib.command(&record), -1);
}
