// Test helper: one of several processes saving settings into the same INI
// file at once. Usage: ini_settings_writer <ini file> <section> <count> <gate file>
// Waits until the gate file exists (so the writers start together), then
// saves the values Item0 .. Item<count-1> one at a time, each by its own
// store operation, into <section> of the file. On POSIX the lock folder
// comes from the environment.
// Exit codes: 0 done, 2 bad arguments, 3 no gate, 5 a save failed.
#include <cstdio>
#include <string>

#include "common/params_list.h"
#include "config/settings_store.h"
#include "platform/code_page.h"
#include "platform/files.h"
#include "platform/thread.h"

using namespace corvane;

int main(int argc, char** argv) {
  if (argc != 5) return 2;
  const std::string ini = argv[1];
  const std::string section = argv[2];
  const int count = std::stoi(argv[3]);
  for (int waited = 0; !platform::fileExists(argv[4]); ++waited) {
    if (waited > 10000) return 3;
    platform::sleepMs(1);
  }
  for (int i = 0; i < count; ++i) {
    const std::string name = "Item" + std::to_string(i);
    auto values = TkivParamsList::Create();
    values->AddItem("Value", platform::OleVariant::fromString(platform::ansiToWide(section + " " + name)).raw());
    TWreg store;
    store.INIFile = ini;
    store.Components = {"Value," + section + "\\" + name};
    if (!store.Save(*values)) {
      std::fprintf(stderr, "ini_settings_writer: saving %s failed\n", name.c_str());
      return 5;
    }
  }
  return 0;
}
