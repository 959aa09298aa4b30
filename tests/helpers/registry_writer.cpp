// Test helper: one of two processes writing into the same registry key at
// once. Usage: registry_writer <key> <prefix> <count> <gate file>
// Waits until the gate file exists (so both writers start together), then
// writes the values <prefix>0 .. <prefix><count-1> into the key <key> of
// HKEY_CURRENT_USER, and after each one the value "Last" that both writers
// share. On POSIX the store's folder comes from the environment.
// Exit codes: 0 done, 2 bad arguments, 3 no gate, 4 key not created, 5 a
// write failed.
#include <cstdio>
#include <string>

#include "platform/files.h"
#include "platform/os_error.h"
#include "platform/registry.h"
#include "platform/thread.h"

using namespace corvane::platform;

int main(int argc, char** argv) {
  if (argc != 5) return 2;
  const std::string path = argv[1];
  const std::string prefix = argv[2];
  const int count = std::stoi(argv[3]);
  for (int waited = 0; !fileExists(argv[4]); ++waited) {
    if (waited > 10000) return 3;
    sleepMs(1);
  }
  std::optional<RegistryKey> key = RegistryKey::create(RegistryRoot::CurrentUser, path);
  if (!key) return 4;
  for (int i = 0; i < count; ++i) {
    const std::string name = prefix + std::to_string(i);
    if (!key->writeString(name, "value of " + name) || !key->writeString("Last", name)) {
      std::fprintf(stderr, "registry_writer: writing %s failed: %u\n", name.c_str(),
                   lastErrorCode());
      return 5;
    }
  }
  return 0;
}
