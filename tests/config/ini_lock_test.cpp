// Processes saving into one INI file at the same time: the system-wide lock
// around each read-change-write keeps every value.
#include <gtest/gtest.h>

#include "config/ini_file.h"
#include "platform/process.h"
#include "settings_test_support.h"

using namespace corvane;
using namespace corvane::settings_testing;

TEST_F(SettingsTest, ProcessesSavingIntoOneIniFileLoseNothing) {
  // Enough saves per writer that they overlap (each is slower under Wine).
  const int kCount = cvtest::windowsPlatform() ? 80 : 300;
  const std::string ini = file("shared.ini");
  writeText(ini, "; shared by the writers\n[Common]\nLeft=1\n");
  const std::string gate = file("go");
  const std::string writer = cvtest::helperPath("ini_settings_writer");
  std::vector<std::unique_ptr<platform::ChildProcess>> writers;
  for (const char* section : {"A", "B", "C"}) {
    writers.push_back(std::make_unique<platform::ChildProcess>(
        writer, std::vector<std::string>{ini, section, std::to_string(kCount), gate}));
  }
  writeText(gate, "");
  for (auto& child : writers) EXPECT_EQ(child->wait(60000), 0);

  const TIniFile written(readText(ini));
  EXPECT_EQ(written.Read("Common", "Left"), "1");
  for (const char* section : {"A", "B", "C"}) {
    for (int i = 0; i < kCount; ++i) {
      const std::string name = "Item" + std::to_string(i);
      ASSERT_EQ(written.Read(section, name), std::string(section) + " " + name) << section;
    }
  }
}
