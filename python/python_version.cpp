// Version facts of Python runtime libraries.
#include "python/python_version.h"

#include <charconv>

#include "platform/ascii.h"
#include "platform/files.h"
#include "platform/registry.h"

namespace corvane {

namespace {

std::string_view fileNamePart(std::string_view path) {
  for (size_t i = path.size(); i > 0; --i) {
    if (platform::isPathDelimiter(path[i - 1]) || path[i - 1] == ':') return path.substr(i);
  }
  return path;
}

int32_t leadingNumber(std::string_view text, bool& parsed) {
  int32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  parsed = error == std::errc() && end == text.data() + text.size() && !text.empty();
  return parsed ? value : 0;
}

}  // namespace

TPythonLibraryVersion VersionFromLibraryName(std::string_view fileName) {
  TPythonLibraryVersion version;
  std::string name(fileNamePart(fileName));
  for (char& c : name) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  const size_t at = name.find("python");
  if (at == std::string::npos || at + 6 >= name.size()) return version;
  const char majorDigit = name[at + 6];
  if (majorDigit < '2' || majorDigit > '5') return version;
  std::string_view rest = std::string_view(name).substr(at + 7);
  if (rest.empty()) return version;
  if (rest.front() == '.')
    rest.remove_prefix(1);
  else if (rest.front() < '0' || rest.front() > '9')
    return version;
  size_t cut = 0;
  while (cut < rest.size() && rest[cut] != '.' && !(rest[cut] >= 'a' && rest[cut] <= 'z')) ++cut;
  bool parsed = false;
  const int32_t minor = leadingNumber(rest.substr(0, cut), parsed);
  version.Major = majorDigit - '0';
  version.Minor = parsed ? minor : 7;
  version.Text = std::to_string(version.Major) + "." + std::to_string(version.Minor);
  return version;
}

int32_t CompareVersions(std::string_view a, std::string_view b) {
  while (!a.empty() || !b.empty()) {
    const auto take = [](std::string_view& text) {
      const size_t dot = text.find('.');
      std::string_view part = text.substr(0, dot);
      text = dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
      int64_t value = 0;
      std::from_chars(part.data(), part.data() + part.size(), value);
      return value;
    };
    const int64_t x = take(a);
    const int64_t y = take(b);
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

bool UsesSuffixedRegistryKey(std::string_view version) { return CompareVersions(version, "3.4") > 0; }

std::string PythonCoreKey(std::string_view version) {
  return "\\Software\\Python\\PythonCore\\" + std::string(version) + (UsesSuffixedRegistryKey(version) ? "-32" : "");
}

std::string RegisteredInstallFolder(std::string_view registryVersion) {
  // The version is compared as numbers: read digit by digit, "3.10" and
  // later would count as 3.1 and miss their "-32" key.
  const bool newerThan34 = UsesSuffixedRegistryKey(registryVersion);
  const std::string key = PythonCoreKey(registryVersion) + "\\InstallPath";
  if (auto user = platform::RegistryKey::open(platform::RegistryRoot::CurrentUser, key, platform::RegistryAccess::Read))
    return user->readString("").value_or("");
  if (auto machine =
          platform::RegistryKey::open(platform::RegistryRoot::LocalMachine, key, platform::RegistryAccess::Read)) {
    if (newerThan34) return machine->readString("").value_or("");
  }
  return {};
}

}  // namespace corvane
