// Test helper: shows what a child process received.
// Usage: process_probe <output file> <exit code> [arguments...]
//   writes its arguments (as processArguments() reports them, one per line)
//   and then the value of CORVANE_PROBE to the file, and exits with the code.
// Usage: process_probe --sleep <milliseconds>
//   sleeps, then exits with 0.
#include <fstream>
#include <string>

#include "platform/files.h"
#include "platform/thread.h"

using namespace corvane::platform;

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--sleep") {
    sleepMs(static_cast<uint32_t>(std::stoul(argv[2])));
    return 0;
  }
  if (argc < 3) return 2;
  std::ofstream out(argv[1]);
  for (const std::string& argument : processArguments()) out << argument << '\n';
  out << environmentVariable("CORVANE_PROBE").value_or("<unset>") << '\n';
  return std::stoi(argv[2]);
}
