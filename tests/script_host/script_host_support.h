// Driving the product library as a host does, with a real Python runtime:
// a script and its settings file in a scratch folder, LOAD with that file,
// packets and events through the exports, the log drained as lines, and
// everything the plug-in sent to the host recorded.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "../integration/integration_support.h"
#include "platform/dynamic_library.h"
#include "platform/scratch_folder.h"
#include "python/python_test_support.h"

namespace script_host_testing {

using namespace integration;
using corvane::platform::OleVariant;

// One call of DataLogger_SendDataEx.
struct Sent {
  uint32_t HostId;
  int32_t DataSourceId;
  uint32_t ClientId;
  int32_t Kind;
  std::string Bytes;                                     // kinds 129 and 130
  std::vector<std::pair<std::string, std::string>> Event;  // kind 7: name, value as text
};

// What the suite's DataLogger_SendDataEx saw, and what it does besides.
std::vector<Sent>& SentToHost();
extern std::function<void(const Sent&)> OnHostCall;

// The runtime library the tests run with.
inline std::string RuntimeLibrary() {
  const auto& runtime = corvane::testing::TestRuntime();
  if (!runtime) return {};
  std::string folder = runtime->DLLPath;
  if (!folder.empty() && folder.back() != corvane::platform::pathDelimiter()) folder += corvane::platform::pathDelimiter();
  return folder + runtime->DLLName();
}

inline corvane::host::LoadedPlugin& Product() {
  static corvane::host::LoadedPlugin library(productLibraryPath());
  return library;
}

// A log line without its kind marker and title, and its kind (0 error,
// 1 warning, 2 information).
struct LogLine {
  int Kind;
  std::string Text;
  bool operator==(const LogLine&) const = default;
};
std::vector<LogLine> ParseLog(const std::string& drained);
inline std::ostream& operator<<(std::ostream& out, const LogLine& line) {
  return out << "[" << line.Kind << "] " << line.Text;
}

// One instance of the product library running a script.
class ScriptInstance {
 public:
  explicit ScriptInstance(const corvane::platform::testing::ScratchFolder& folder, const std::string& name = "script");
  ~ScriptInstance();

  // Writes the script and the settings (runtime: the test runtime unless given).
  void Configure(const std::string& script, const std::string* runtime = nullptr);
  // LOAD with the settings file and this executable as the host module.
  int32_t Load();
  // Re-reads the settings file (as after the options dialog).
  int32_t ReloadSettings();
  int32_t Unload() { return instance_.Command("UNLOAD"); }

  // The log lines pending now.
  std::vector<LogLine> Log() { return ParseLog(instance_.DrainLog()); }
  // Only the texts, for short comparisons.
  std::vector<std::string> LogTexts();

  // A parse packet of bytes for a client; the delivered values come back
  // in output (name=value texts).
  int32_t Parse(const std::string& bytes, uint32_t clientId = 1, std::vector<std::string>* output = nullptr,
                std::string* parseText = nullptr, uint8_t roles = 0x02);
  // A packet of another role with a data list of name=value texts.
  int32_t Packet(uint8_t roles, const std::vector<std::pair<std::string, OleVariant>>& data,
                 std::vector<std::string>* output = nullptr, corvane::TPluginDataItem* outputItem = nullptr,
                 bool withData = true);
  int32_t Event(const std::string& name, const std::vector<std::pair<std::string, OleVariant>>& params = {},
                OleVariant* answer = nullptr);

  Instance& Host() { return instance_; }
  const std::string& ScriptPath() const { return scriptPath_; }
  const std::string& SettingsPath() const { return settingsPath_; }

 private:
  Instance instance_;
  std::string scriptPath_;
  std::string settingsPath_;
  bool loaded_ = false;
};

// "name=value" texts of a list, row delimiters included.
std::vector<std::string> ListTexts(corvane::TkivParamsList& list);

bool AnyStartsWith(const std::vector<std::string>& texts, const std::string& prefix);

// The texts one per line, for failure messages.
inline std::string Joined(const std::vector<std::string>& texts) {
  std::string joined;
  for (const std::string& text : texts) joined += text + "\n";
  return joined;
}

// The suites' common ground: a real runtime, a scratch folder for scripts
// and settings, and nothing left of an earlier test's host calls.
class ScriptHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CORVANE_REQUIRE_PYTHON();
    SentToHost().clear();
    OnHostCall = nullptr;
  }
  void TearDown() override { OnHostCall = nullptr; }
  // Loads a script and drains what loading logged.
  std::vector<std::string> Start(ScriptInstance& instance, const std::string& script) {
    instance.Configure(script);
    EXPECT_EQ(instance.Load(), 0);
    return instance.LogTexts();
  }
  corvane::platform::testing::ScratchFolder folder_;
};

}  // namespace script_host_testing
