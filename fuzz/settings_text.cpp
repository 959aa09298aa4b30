// Settings item lines and the escaping of stored texts: input is
//   item line 0x1F INI section prefix 0x1F value.
// The escaped form must be printable ASCII without leading spaces or runs of
// spaces and unescape to the value (any UTF-8 value, the 8-bit text of this
// platform); stored through the INI editor under the item's section and
// name, it must come back unchanged.
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "config/ini_file.h"
#include "config/settings_text.h"
#include "fuzz/fields.h"
#include "platform/code_page.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto fields = corvane::fuzz::SplitFields(data, size, 3);
  const std::string_view line = fields[0], prefix = fields[1], value = fields[2];

  (void)corvane::UnescapeSettingsText(value);  // stored text as a file or key may hold it
  const std::string escaped = corvane::EscapeSettingsText(value);
  for (size_t i = 0; i < escaped.size(); ++i) {
    const auto byte = static_cast<unsigned char>(escaped[i]);
    if (byte < 0x20 || byte > 0x7F) std::abort();
    if (byte == ' ' && (i == 0 || escaped[i - 1] == ' ')) std::abort();
  }
  const bool valid = corvane::platform::ansiToUtf8(value) == value;
  if (valid && corvane::UnescapeSettingsText(escaped) != value) std::abort();

  const std::optional<corvane::TSettingsItem> item = corvane::ParseSettingsItem(line);
  if (!item) return 0;
  if (item->PropertyPath.empty()) std::abort();
  (void)corvane::SettingsRegistryKey("Software\\Corvane\\", *item);
  const std::string section = corvane::SettingsIniSection(prefix, *item);

  corvane::TIniFile file;
  try {
    file.Write(section, item->ValueName, escaped);
  } catch (const std::invalid_argument&) {
    return 0;  // a name the file cannot hold is refused, not stored wrongly
  }
  const std::optional<std::string> stored = corvane::TIniFile(file.Text()).Read(section, item->ValueName);
  if (stored != escaped) std::abort();
  if (valid && corvane::UnescapeSettingsText(*stored) != value) std::abort();
  return 0;
}
