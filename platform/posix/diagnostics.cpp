// POSIX backend: debugger output and message boxes for unattended runs. The
// hooks in front of them are in portable/diagnostics_hooks.cpp.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/diagnostics.h"
#include "platform/files.h"
#include "platform/portable/diagnostics_hooks.h"

namespace corvane::platform::backend {
namespace {

// One write per line, so lines of concurrent writers (O_APPEND, also from
// other processes) never interleave.
void writeLine(int fd, std::string_view text) {
  std::string line(text);
  line += '\n';
  std::string_view rest = line;
  while (!rest.empty()) {
    const ssize_t count = ::write(fd, rest.data(), rest.size());
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return;
    rest.remove_prefix(static_cast<size_t>(count));
  }
}

}  // namespace

void outputDebugString(std::string_view text) {
  const std::optional<std::string> target = environmentVariable("CORVANE_DEBUG_OUTPUT");
  if (!target || target->empty()) return;
  if (*target == "-") {
    writeLine(STDERR_FILENO, text);
    return;
  }
  const int fd = ::open(target->c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd < 0) return;  // debugger output never fails its caller
  writeLine(fd, text);
  ::close(fd);
}

int32_t messageBox(uintptr_t, std::string_view text, std::string_view caption, uint32_t) {
  std::string line(caption);
  line += ": ";
  line += text;
  writeLine(STDERR_FILENO, line);
  return kIdOk;
}

}  // namespace corvane::platform::backend
