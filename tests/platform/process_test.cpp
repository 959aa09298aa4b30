#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "platform/files.h"
#include "platform/os_error.h"
#include "platform/process.h"
#include "scratch_folder.h"

using namespace corvane::platform;
namespace cvtest = corvane::platform::testing;

namespace {

std::vector<std::string> lines(const std::string& path) {
  std::ifstream file(path);
  std::vector<std::string> result;
  for (std::string line; std::getline(file, line);) result.push_back(line);
  return result;
}

TEST(ChildProcess, PassesArgumentsEnvironmentAndExitCode) {
  cvtest::ScratchFolder folder;
  cvtest::ScopedEnvironment probe("CORVANE_PROBE", "inherited value");
  const std::string program = cvtest::helperPath("process_probe");
  const std::string output = folder / "out.txt";
  // Arguments that a command line must quote and escape arrive unchanged.
  const std::vector<std::string> arguments = {
      output, "42", "two words", "", "\"quoted\"", "a\\\"b", "trailing\\", "tab\there", "back\\slash"};
  ChildProcess child(program, arguments);
  bool timedOut = true;
  EXPECT_EQ(child.wait(30000, &timedOut), 42);
  EXPECT_FALSE(timedOut);
  EXPECT_EQ(child.wait(0), 42);  // asking again gives the same answer
  std::vector<std::string> expected = {program};
  expected.insert(expected.end(), arguments.begin(), arguments.end());
  expected.push_back("inherited value");
  EXPECT_EQ(lines(output), expected);
}

TEST(ChildProcess, WaitTimesOutAndTerminateEndsTheChild) {
  ChildProcess child(cvtest::helperPath("process_probe"), {"--sleep", "60000"});
  EXPECT_GT(child.processId(), 0);
  bool timedOut = false;
  EXPECT_EQ(child.wait(20, &timedOut), -1);
  EXPECT_TRUE(timedOut);
  child.terminate();
  // 128 + SIGKILL, the code Windows children ended this way answer too.
  EXPECT_EQ(child.wait(30000, &timedOut), 128 + 9);
  EXPECT_FALSE(timedOut);
  child.terminate();  // an ended child stays ended
  EXPECT_EQ(child.wait(0), 128 + 9);
}

TEST(ChildProcess, MissingProgramThrows) {
  cvtest::ScratchFolder folder;
  try {
    ChildProcess child(folder / "no-such-program", {});
    ADD_FAILURE() << "a missing program was started";
  } catch (const OsError& error) {
    EXPECT_EQ(error.code(), kErrorFileNotFound);
    EXPECT_EQ(error.subject(), folder / "no-such-program");
  }
}

TEST(ChildProcess, ExecutableDirectoryHoldsTheSuite) {
  const std::string folder = executableDirectory();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), pathDelimiter());
  const std::string path = executablePath();
  EXPECT_EQ(folder, path.substr(0, folder.size()));
  EXPECT_EQ(path.find(pathDelimiter(), folder.size()), std::string::npos);
  EXPECT_STREQ(executableSuffix(), cvtest::windowsPlatform() ? ".exe" : "");
  EXPECT_TRUE(path.ends_with(executableSuffix()));
}

}  // namespace
