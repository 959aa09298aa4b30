#include "config/settings_text.h"

#include "platform/code_page.h"

namespace corvane {
namespace {

bool blank(char c) { return static_cast<unsigned char>(c) <= 0x20; }

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::optional<TSettingsItem> ParseSettingsItem(std::string_view line) {
  line = trimmed(line);
  if (line.empty() || line.front() == ';') return std::nullopt;
  size_t split = line.find(',');
  if (split == std::string_view::npos) split = line.find(';');
  const std::string_view path = trimmed(line.substr(0, split));
  std::string_view name = split == std::string_view::npos ? std::string_view() : trimmed(line.substr(split + 1));
  if (const size_t comment = name.find(';'); comment != std::string_view::npos) name = name.substr(0, comment);
  if (path.empty() || name.empty()) return std::nullopt;

  std::string storage;
  for (const char c : name) {
    if (c == '\\' && !storage.empty() && storage.back() == '\\') continue;
    storage += c;
  }
  if (!storage.empty() && storage.front() == '\\') storage.erase(0, 1);

  TSettingsItem item;
  item.PropertyPath = std::string(path);
  if (const size_t last = storage.rfind('\\'); last != std::string::npos) {
    item.SubPath = storage.substr(0, last);
    item.ValueName = storage.substr(last + 1);
  } else {
    item.ValueName = std::move(storage);
  }
  return item;
}

std::string SettingsRegistryKey(std::string_view registryPath, const TSettingsItem& item) {
  while (!registryPath.empty() && registryPath.back() == '\\') registryPath.remove_suffix(1);
  std::string key(registryPath);
  if (!item.SubPath.empty()) key += "\\" + item.SubPath;
  return key;
}

std::string SettingsIniSection(std::string_view prefix, const TSettingsItem& item) {
  std::string section = item.SubPath;
  if (!prefix.empty() && (prefix.back() == '/' || prefix.back() == '\\')) {
    prefix.remove_suffix(1);
  } else if (section.empty()) {
    section = "Common";
  }
  if (!prefix.empty()) section = section.empty() ? std::string(prefix) : std::string(prefix) + "." + section;
  for (char& c : section) {
    if (c == '\\') c = '.';
  }
  return section;
}

std::string EscapeSettingsText(std::string_view text) {
  static const char digits[] = "0123456789ABCDEF";
  const std::string utf8 = platform::ansiToUtf8(text);
  std::string out;
  out.reserve(utf8.size());
  bool onlySpacesSoFar = true;
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto byte = static_cast<unsigned char>(utf8[i]);
    if (byte == ' ') {
      const bool nextIsSpace = i + 1 < utf8.size() && utf8[i + 1] == ' ';
      out += onlySpacesSoFar || nextIsSpace ? '+' : ' ';
      continue;
    }
    onlySpacesSoFar = false;
    if (byte == '%') {
      out += "%%";
    } else if (byte >= 0x20 && byte <= 0x7F && byte != '+') {
      out += static_cast<char>(byte);
    } else {
      out += '%';
      out += digits[byte >> 4];
      out += digits[byte & 0x0F];
    }
  }
  return out;
}

std::string UnescapeSettingsText(std::string_view stored) {
  std::string bytes;
  bytes.reserve(stored.size());
  bool raw = false;
  for (size_t i = 0; i < stored.size(); ++i) {
    const char c = stored[i];
    if (static_cast<unsigned char>(c) >= 0x80) raw = true;
    if (c == '+') {
      bytes += ' ';
    } else if (c == '%' && i + 1 < stored.size() && stored[i + 1] == '%') {
      bytes += '%';
      ++i;
    } else if (c == '%' && i + 2 < stored.size() && hexValue(stored[i + 1]) >= 0 && hexValue(stored[i + 2]) >= 0) {
      bytes += static_cast<char>(hexValue(stored[i + 1]) * 16 + hexValue(stored[i + 2]));
      i += 2;
    } else {
      bytes += c;
    }
  }
  // Bytes from 0x80 in the stored text itself mark a value written without
  // escaping: it may be ANSI already and must not be decoded as UTF-8.
  if (raw) return bytes;
  std::string decoded;
  if (platform::utf8ToAnsiStrict(bytes, decoded) && !decoded.empty()) return decoded;
  return bytes;
}

}  // namespace corvane
