#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <vector>

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

// What a long run watches: the count follows a file opened and closed, and
// the resident size follows memory that is touched.
TEST(ProcessUsage, FollowsOpenFilesAndTouchedMemory) {
  cvtest::ScratchFolder folder;
  const int32_t before = openHandleCount();
  // Wine answers the handle count with 0 whatever is open.
  if (!(cvtest::runningUnderWine() && before == 0)) {
    ASSERT_GT(before, 0);
    {
      std::ofstream file(folder / "held.txt");
      ASSERT_TRUE(file.is_open());
      EXPECT_EQ(openHandleCount(), before + 1);
    }
    EXPECT_EQ(openHandleCount(), before);
  }

  const uint64_t resident = residentMemoryBytes();
  ASSERT_GT(resident, 0u);
  constexpr size_t kTouched = 64u << 20;
  std::vector<char> block(kTouched, 1);  // every page written
  EXPECT_GE(residentMemoryBytes(), resident + kTouched / 2);
  EXPECT_EQ(block[kTouched - 1], 1);
}

}  // namespace
