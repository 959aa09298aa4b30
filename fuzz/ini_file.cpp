// The INI editor on a file of any content: input is
//   section 0x1F key 0x1F value 0x1F file text.
// Reading must not fail, and the text must come back as it was. An accepted
// write must read back, from the text the editor writes, as the value
// written, and every other key the file had must read as before; a delete
// must remove only that key.
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "config/ini_file.h"
#include "fuzz/fields.h"
#include "platform/ascii.h"

namespace {

using Key = std::pair<std::string, std::string>;

// Candidate section and key names of a text, for looking them up before and
// after an edit. This need not agree with the editor's own reading: it only
// chooses what to ask.
std::vector<Key> candidateKeys(std::string_view text) {
  std::vector<Key> keys;
  std::string section;
  size_t start = 0;
  while (start <= text.size() && keys.size() < 64) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    if (!line.empty() && line.front() == '[') {
      const size_t close = line.rfind(']');
      if (close != std::string_view::npos) section = std::string(line.substr(1, close - 1));
    } else if (const size_t equals = line.find('='); equals != std::string_view::npos) {
      keys.emplace_back(section, std::string(line.substr(0, equals)));
    }
  }
  return keys;
}

bool sameKey(const Key& a, std::string_view section, std::string_view key) {
  auto trim = [](std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
  };
  return corvane::platform::sameTextAscii(trim(a.first), trim(section)) &&
         corvane::platform::sameTextAscii(trim(a.second), trim(key));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto fields = corvane::fuzz::SplitFields(data, size, 4);
  const std::string_view section = fields[0], key = fields[1], value = fields[2], text = fields[3];

  corvane::TIniFile file(text);
  const std::vector<Key> keys = candidateKeys(text);
  std::vector<std::optional<std::string>> before;
  for (const Key& k : keys) before.push_back(file.Read(k.first, k.second));
  if (file.Modified() || file.Text() != text) std::abort();

  corvane::TIniFile edited(text);
  bool written = false;
  try {
    edited.Write(section, key, value);
    written = true;
  } catch (const std::invalid_argument&) {
  }
  const corvane::TIniFile reread(edited.Text());
  if (written) {
    // Values are read without the blanks that follow the "=".
    std::string_view expected = value;
    while (!expected.empty() && (expected.front() == ' ' || expected.front() == '\t')) expected.remove_prefix(1);
    if (reread.Read(section, key) != std::optional<std::string>(expected)) std::abort();
  }
  for (size_t i = 0; i < keys.size(); ++i) {
    if (written && sameKey(keys[i], section, key)) continue;
    if (reread.Read(keys[i].first, keys[i].second) != before[i]) std::abort();
  }

  corvane::TIniFile deleted(text);
  const bool existed = deleted.Read(section, key).has_value();
  if (deleted.Delete(section, key) != existed) std::abort();
  const corvane::TIniFile afterDelete(deleted.Text());
  for (size_t i = 0; i < keys.size(); ++i) {
    if (sameKey(keys[i], section, key)) continue;
    if (afterDelete.Read(keys[i].first, keys[i].second) != before[i]) std::abort();
  }
  return 0;
}
