// Where the module's files live: the library's folder, the common
// application data folder and the module's data folder below it.
#include <cstring>

#include "platform/code_page.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "plugin/plugin_module.h"

namespace corvane {
namespace {

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  return text;
}

void addTrailingDelimiter(std::string& path) {
  if (path.empty() || !platform::isPathDelimiter(path.back())) path += platform::pathDelimiter();
}

// Field number (from 1) of a text split at "\"; empty when there are fewer.
std::string_view field(std::string_view text, int number) {
  for (int i = 1; i < number; ++i) {
    const size_t bar = text.find('\\');
    if (bar == std::string_view::npos) return {};
    text.remove_prefix(bar + 1);
  }
  return text.substr(0, text.find('\\'));
}

}  // namespace

std::string MakeFileNameSafe(std::string_view text, char replacement) {
  std::string safe(text);
  for (char& c : safe) {
    if (static_cast<unsigned char>(c) < 0x20 || std::strchr("\\/:*?\"<>|", c) != nullptr) c = replacement;
  }
  const std::string upper = platform::ansiUpper(safe);
  const std::string_view head = std::string_view(upper).substr(0, 3);
  if (head == "COM" || head == "LPT" || upper == "CON" || upper == "AUX" || upper == "PRN" || upper == "NUL") {
    safe.insert(safe.begin(), '_');
  }
  return safe;
}

std::string TkivPlugin::AppDataPath() const {
  const std::string subFolder = MakeFileNameSafe(trimmed(field(registryPath_, 4)), ' ');
  const auto below = [&](std::string folder) {
    addTrailingDelimiter(folder);
    folder += subFolder;
    addTrailingDelimiter(folder);
    return folder;
  };
  if (std::optional<std::string> folder = platform::specialFolder(platform::SpecialFolder::CommonAppData)) {
    if (!folder->empty()) return below(*folder);
  }
  if (auto key = platform::RegistryKey::open(platform::RegistryRoot::LocalMachine,
                                             "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                                             platform::RegistryAccess::Read)) {
    std::optional<std::string> folder = key->readString("Common AppData");
    if (folder && !folder->empty()) return below(*folder);
  }
  if (std::optional<std::string> folder = platform::environmentVariable("CommonProgramFiles")) {
    if (!folder->empty()) return below(*folder);
  }
  std::string path = modulePath_;
  if (!path.empty()) addTrailingDelimiter(path);
  return path;
}

std::string TkivPlugin::ModuleConfigId() const {
  // "{name:id}...": the id; "{id}...": the id; without a "}" there is none.
  const size_t close = iniSectionPrefix_.find('}');
  if (close == std::string::npos) return {};
  std::string_view id = std::string_view(iniSectionPrefix_).substr(0, close);
  const size_t open = id.find('{');
  if (open != std::string_view::npos) id.remove_prefix(open + 1);
  const size_t colon = id.find(':');
  if (colon != std::string_view::npos && colon + 1 < id.size()) id.remove_prefix(colon + 1);
  return std::string(id);
}

std::string TkivPlugin::ModuleDataPath() {
  std::string name;
  std::string configText;
  if (ModuleConfigList().FindId(moduleLoadForConfig_, &configText) >= 0) {
    name = MakeFileNameSafe(configText, '-');
  } else {
    const std::string_view firstLine = std::string_view(description_).substr(0, description_.find_first_of("\r\n"));
    name = MakeFileNameSafe(firstLine, '-');
  }
  if (name.empty()) {
    const std::string_view file = moduleName_;
    name = platform::ansiLower(file.substr(0, file.rfind('.')));
  }
  std::string path = AppDataPath() + ModuleConfigId();
  addTrailingDelimiter(path);
  path += name;
  addTrailingDelimiter(path);
  return path;
}

}  // namespace corvane
