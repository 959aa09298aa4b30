// Test helper: takes a named lock from a second process.
// Usage:
//   named_lock_holder try <name>
//     exits 0 when it got the lock at once, 3 when another holder has it.
//   named_lock_holder append <name> <file> <count> <tag> <gate file>
//     waits for the gate file, then <count> times: acquires the lock and
//     appends "<tag> begin" and, a moment later, "<tag> end" to the file as
//     two separate writes, so a second holder that got in between would show.
// Exit code 2 for bad arguments, 3 for no gate or a busy lock.
#include <fstream>
#include <string>

#include "platform/files.h"
#include "platform/named_lock.h"
#include "platform/os_error.h"
#include "platform/thread.h"

using namespace corvane::platform;

namespace {

void appendLine(const std::string& path, const std::string& line) {
  std::ofstream file(path, std::ios::app);
  file << line << '\n';
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const std::string mode = argv[1];
  NamedLock lock(argv[2]);
  if (mode == "try") return lock.tryAcquire() ? 0 : 3;
  if (mode != "append" || argc != 7) return 2;
  const std::string file = argv[3];
  const int count = std::stoi(argv[4]);
  const std::string tag = argv[5];
  for (int waited = 0; !fileExists(argv[6]); ++waited) {
    if (waited > 10000) return 3;
    sleepMs(1);
  }
  for (int i = 0; i < count; ++i) {
    lock.acquire(4000);
    appendLine(file, tag + " begin");
    sleepMs(1);  // widens the window a second holder would have to get in
    appendLine(file, tag + " end");
    lock.release();
  }
  return 0;
}
