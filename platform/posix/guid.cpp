// POSIX backend: version-4 GUIDs from the kernel's random source.
#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/guid.h"
#include "platform/os_error.h"
#include "platform/posix/errno_mapping.h"

namespace corvane::platform {
namespace {

// Kernels without getrandom still have /dev/urandom.
bool readUrandom(unsigned char* buffer, size_t size) {
  const int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < size) {
    const ssize_t count = ::read(fd, buffer + done, size - done);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;
    done += static_cast<size_t>(count);
  }
  ::close(fd);
  return done == size;
}

void randomBytes(unsigned char* buffer, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t count = ::getrandom(buffer + done, size - done, 0);
    if (count >= 0) {
      done += static_cast<size_t>(count);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno == ENOSYS && readUrandom(buffer + done, size - done)) return;
    const uint32_t code = windowsCodeFromErrno(errno);
    throw OsError("getrandom", "", code);
  }
}

}  // namespace

Guid createGuid() {
  // Random bytes are fetched from the system in batches: every parameter
  // list makes a GUID, and one system call each would dominate.
  thread_local unsigned char pool[sizeof(Guid) * 256];
  thread_local size_t used = sizeof pool;
  if (used == sizeof pool) {
    randomBytes(pool, sizeof pool);
    used = 0;
  }
  unsigned char bytes[sizeof(Guid)];
  std::memcpy(bytes, pool + used, sizeof bytes);
  used += sizeof bytes;
  Guid guid{};
  std::memcpy(&guid, bytes, sizeof guid);
  guid.data3 = static_cast<uint16_t>((guid.data3 & 0x0FFF) | 0x4000);  // version 4
  guid.data4[0] = static_cast<uint8_t>((guid.data4[0] & 0x3F) | 0x80);  // RFC 4122 variant
  return guid;
}

}  // namespace corvane::platform
