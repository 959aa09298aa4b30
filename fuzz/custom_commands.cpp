// The custom command list read from a module's or host's text. What the list
// writes must read back to the same list.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "plugin/custom_commands.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  corvane::TkivPluginCustomCmdList commands;
  commands.AddFromText(text);
  const std::string written = commands.GetText();

  corvane::TkivPluginCustomCmdList again;
  again.AddFromText(written);
  if (again.Count() != commands.Count() || again.GetText() != written) std::abort();
  return 0;
}
