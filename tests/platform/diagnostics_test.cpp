#include <gtest/gtest.h>

#include <fstream>
#include <mutex>
#include <set>
#include <thread>

#include "platform/diagnostics.h"
#include "scratch_folder.h"

using namespace corvane::platform;
namespace cvtest = corvane::platform::testing;

namespace {

std::string readText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

// Leaves no hook behind, even when a test fails half-way.
struct HookReset {
  ~HookReset() {
    setDebugOutputHook(nullptr);
    setMessageBoxHook(nullptr);
  }
};

TEST(Diagnostics, DebugOutputGoesToTheNamedFileOrNowhere) {
  if (cvtest::windowsPlatform()) GTEST_SKIP() << "Windows sends debugger output to the debugger";
  cvtest::ScratchFolder folder;
  const std::string path = folder / "debug.txt";
  {
    cvtest::ScopedEnvironment target("CORVANE_DEBUG_OUTPUT", path);
    outputDebugString("{PROCESS} first: ");
    outputDebugString("second");
  }
  EXPECT_EQ(readText(path), "{PROCESS} first: \nsecond\n");
  cvtest::ScopedEnvironment unset("CORVANE_DEBUG_OUTPUT", std::nullopt);
  outputDebugString("dropped");
  EXPECT_EQ(readText(path), "{PROCESS} first: \nsecond\n");

  cvtest::ScopedEnvironment toStderr("CORVANE_DEBUG_OUTPUT", "-");
  ::testing::internal::CaptureStderr();
  outputDebugString("to the console");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "to the console\n");
}

TEST(Diagnostics, HooksReplaceTheOutputUntilCleared) {
  HookReset reset;
  cvtest::ScratchFolder folder;
  cvtest::ScopedEnvironment target("CORVANE_DEBUG_OUTPUT", folder / "debug.txt");
  std::vector<std::string> debug;
  std::vector<std::string> boxes;
  setDebugOutputHook([&](std::string_view text) { debug.emplace_back(text); });
  setMessageBoxHook([&](std::string_view text, std::string_view caption, uint32_t flags) {
    boxes.push_back(std::string(caption) + "|" + std::string(text) + "|" + std::to_string(flags));
    return 7;
  });
  outputDebugString("hooked");
  EXPECT_EQ(messageBox(0, "Could not open Dll", "Error", kMbIconError | kMbTaskModal), 7);
  EXPECT_EQ(debug, std::vector<std::string>{"hooked"});
  EXPECT_EQ(boxes, std::vector<std::string>{"Error|Could not open Dll|8208"});
  EXPECT_EQ(readText(folder / "debug.txt"), "");

  setDebugOutputHook(nullptr);
  setMessageBoxHook(nullptr);
  outputDebugString("unhooked");
  EXPECT_EQ(debug.size(), 1u);
  // On Windows the output went to the debugger, and a message box would be
  // a real one.
  if (cvtest::windowsPlatform()) return;
  EXPECT_EQ(readText(folder / "debug.txt"), "unhooked\n");
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(messageBox(0, "text", "Caption", kMbOk), kIdOk);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Caption: text\n");
  EXPECT_EQ(boxes.size(), 1u);
}

TEST(Diagnostics, ConcurrentLinesStayWholeWhileHooksChange) {
  if (cvtest::windowsPlatform()) GTEST_SKIP() << "Windows sends debugger output to the debugger";
  HookReset reset;
  cvtest::ScratchFolder folder;
  cvtest::ScopedEnvironment target("CORVANE_DEBUG_OUTPUT", folder / "debug.txt");
  std::mutex mutex;
  size_t hooked = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 200; ++i)
        outputDebugString("thread " + std::to_string(t) + " line " + std::to_string(i) +
                          std::string(100, '.'));
    });
  }
  for (int i = 0; i < 100; ++i) {
    setDebugOutputHook([&](std::string_view) {
      std::lock_guard lock(mutex);
      ++hooked;
    });
    setDebugOutputHook(nullptr);
  }
  for (auto& thread : threads) thread.join();

  std::ifstream file(folder / "debug.txt");
  std::set<std::string> lines;
  for (std::string line; std::getline(file, line);) {
    EXPECT_EQ(line.substr(line.size() - 100), std::string(100, '.'));
    lines.insert(line);
  }
  EXPECT_EQ(lines.size() + hooked, 800u);
}

}  // namespace
