// Shared by the plug-in tests: call records as a host fills them, and an
// instance made through the entry point and freed with the test.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>

#include "common/params_list.h"
#include "platform/code_page.h"
#include "platform/ole_variant.h"
#include "plugin/call_record.h"
#include "plugin/entry_points.h"
#include "plugin/plugin_library.h"

namespace corvane::test_support {

inline TPluginCallRecord FreshRecord() {
  TPluginCallRecord record;
  std::memset(&record, 0, sizeof record);
  record.RecordSize = CallRecordSize;
  return record;
}

struct TestInstance {
  TPluginCallRecord record = FreshRecord();
  TestInstance() { EXPECT_EQ(CreatePluginInstance(&record), 0); }
  ~TestInstance() {
    if (record.InstanceHandle != 0) FreePluginInstance(&record);
  }
  TestInstance(const TestInstance&) = delete;
  TestInstance& operator=(const TestInstance&) = delete;

  PluginPin pin() { return PluginLibrary::Current()->Instances().Find(record.InstanceHandle); }
  TkivPlugin& plugin() { return *pin(); }
};

inline platform::OleVariant Text(const std::string& value) {
  return platform::OleVariant::fromString(platform::ansiToWide(value));
}

// An instance that takes commands in a native list of its own.
struct CommandInstance : TestInstance {
  ParamsListPtr params = TkivParamsList::Create();

  // Sends the command with the given values (name, value pairs).
  int32_t Send(const std::string& command,
               std::initializer_list<std::pair<const char*, platform::OleVariant>> values = {}) {
    params->Clear();
    params->AddItem("COMMAND", Text(command).raw());
    for (const auto& [name, value] : values) params->AddItem(name, value.raw());
    record.Params = reinterpret_cast<uintptr_t>(params.get());
    return ExecutePluginCommand(&record);
  }
};

}  // namespace corvane::test_support
