// Shared by the plug-in tests: call records as a host fills them, and an
// instance made through the entry point and freed with the test.
#pragma once

#include <gtest/gtest.h>

#include <cstring>

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

}  // namespace corvane::test_support
