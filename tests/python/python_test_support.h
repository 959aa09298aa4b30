// Test helpers: the Python runtime the tests run with, and an engine set up
// the way the plug-in sets it up, with its output collected.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/scratch_folder.h"
#include "python/python_engine.h"
#include "python/python_runtime.h"

namespace corvane::testing {

// The installed runtime found through the system's library folders (POSIX).
// Windows test machines (Wine) have none.
inline const std::optional<TPythonVersion>& TestRuntime() {
  static const std::optional<TPythonVersion> runtime = []() -> std::optional<TPythonVersion> {
    if (platform::testing::windowsPlatform()) return std::nullopt;
    platform::testing::ScratchFolder emptyRegistry;
    platform::testing::ScopedEnvironment registry("CORVANE_REGISTRY_DIR", emptyRegistry.path());
    std::vector<TPythonVersion> found = GetRegisteredPythonVersions();
    if (found.empty()) return std::nullopt;
    return found.front();
  }();
  return runtime;
}

// Skips where no runtime is expected; fails where one must be.
#define CORVANE_REQUIRE_PYTHON()                                                  \
  do {                                                                            \
    if (!::corvane::testing::TestRuntime()) {                                     \
      if (::corvane::platform::testing::windowsPlatform())                        \
        GTEST_SKIP() << "no Python runtime on this machine";                      \
      FAIL() << "no Python runtime found in the system's library folders";        \
    }                                                                             \
  } while (false)

class TestEngine {
 public:
  explicit TestEngine(std::vector<std::string> script = {}) {
    TestRuntime()->AssignTo(engine);
    engine.InitScript = std::move(script);
    io.OnSendData = [this](TPythonInputOutput&, std::string_view text) { output.emplace_back(text); };
    engine.SetIO(&io);
  }

  // Everything printed so far, one entry per line.
  std::vector<std::string> output;
  TPythonInputOutput io;  // delivers at once
  TkivPythonEngine engine;

  // Runs a function of the script with text arguments.
  py::THostVariant Call(const char* name, std::vector<std::string> arguments = {}) {
    py::Object function = engine.FindFunction(name);
    if (!function) throw Exception(std::string("no function ") + name);
    std::vector<py::Object> objects;
    std::vector<py::Handle> handles;
    for (const std::string& argument : arguments) {
      objects.push_back(engine.TextToPython(argument));
      handles.push_back(objects.back());
    }
    return engine.CallFunction(function, handles);
  }
  // The text of a str result.
  std::string CallText(const char* name, std::vector<std::string> arguments = {}) {
    py::THostVariant result = Call(name, std::move(arguments));
    if (result.type() != platform::vtBstr) return "<type " + std::to_string(result.type()) + ">";
    const platform::Bstr text = result.raw().bstrVal;
    std::u16string wide = text ? std::u16string(text, platform::sysStringLen(text)) : std::u16string();
    return std::string(wide.begin(), wide.end());
  }
  bool Printed(std::string_view fragment) const {
    for (const std::string& line : output) {
      if (line.find(fragment) != std::string::npos) return true;
    }
    return false;
  }
};

}  // namespace corvane::testing
