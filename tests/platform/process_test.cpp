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
  ChildProcess child(program, {output, "42", "two words", "", "\"quoted\""});
  bool timedOut = true;
  EXPECT_EQ(child.wait(30000, &timedOut), 42);
  EXPECT_FALSE(timedOut);
  EXPECT_EQ(child.wait(0), 42);  // asking again gives the same answer
  EXPECT_EQ(lines(output), (std::vector<std::string>{program, output, "42", "two words", "",
                                                     "\"quoted\"", "inherited value"}));
}

TEST(ChildProcess, WaitTimesOutAndTerminateEndsTheChild) {
  ChildProcess child(cvtest::helperPath("process_probe"), {"--sleep", "60000"});
  EXPECT_GT(child.processId(), 0);
  bool timedOut = false;
  EXPECT_EQ(child.wait(20, &timedOut), -1);
  EXPECT_TRUE(timedOut);
  child.terminate();
  EXPECT_EQ(child.wait(30000, &timedOut), 128 + 9);  // ended by SIGKILL
  EXPECT_FALSE(timedOut);
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
  EXPECT_EQ(folder.back(), '/');
  EXPECT_EQ(folder, executablePath().substr(0, folder.size()));
  EXPECT_EQ(executablePath().find('/', folder.size()), std::string::npos);
  EXPECT_STREQ(executableSuffix(), "");
}

}  // namespace
