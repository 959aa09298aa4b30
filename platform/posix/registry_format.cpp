// POSIX backend: the registry store's tree and its text form.
//
// One file holds one root. It is line based and meant to be readable:
//
//   corvane-registry 1
//
//   [Software\Corvane]
//   @="default value"
//   "Script file"=sz:"/home/user/script.py"
//   "Path"=expand:"%25HOME%25/bin"
//   "Left"=dword:0000002A
//   "Position"=binary:000000000000F03F
//   "Other"=hex(7):41004200
//
// A section line names a key by its full path; every key has one, so keys
// without values survive. Names and texts are written between quotes with
// control characters, "%" and the quote itself (and in key paths also "\",
// "[" and "]") as "%" and two hexadecimal digits; other bytes, UTF-8
// included, are written as they are. REG_SZ and REG_EXPAND_SZ data is written
// as text when it is exactly one zero-terminated text, REG_DWORD data as eight
// hexadecimal digits when it has four bytes; everything else is written as
// raw bytes with its type code, so any value survives a round trip.
#include <algorithm>
#include <charconv>

#include "platform/posix/registry_store.h"

namespace corvane::platform::registry_store {

// ---- Tree -------------------------------------------------------------------

namespace {

char foldCase(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool namesEqual(std::string_view a, std::string_view b) { return compareNames(a, b) == 0; }

int compareNames(std::string_view a, std::string_view b) {
  const size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i) {
    const auto ca = static_cast<unsigned char>(foldCase(a[i]));
    const auto cb = static_cast<unsigned char>(foldCase(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

namespace {

auto lowerBound(const std::vector<std::unique_ptr<Key>>& keys, std::string_view name) {
  return std::lower_bound(keys.begin(), keys.end(), name,
                          [](const std::unique_ptr<Key>& key, std::string_view wanted) {
                            return compareNames(key->name, wanted) < 0;
                          });
}

}  // namespace

Key* Key::findSubKey(std::string_view subKey) const {
  const auto found = lowerBound(subKeys, subKey);
  if (found == subKeys.end() || !namesEqual((*found)->name, subKey)) return nullptr;
  return found->get();
}

Key& Key::subKeyOrNew(std::string_view subKey, bool& created) {
  const auto found = lowerBound(subKeys, subKey);
  if (found != subKeys.end() && namesEqual((*found)->name, subKey)) return **found;
  auto key = std::make_unique<Key>();
  key->name = subKey;
  created = true;
  return **subKeys.insert(found, std::move(key));
}

bool Key::removeSubKey(std::string_view subKey) {
  const auto found = lowerBound(subKeys, subKey);
  if (found == subKeys.end() || !namesEqual((*found)->name, subKey)) return false;
  subKeys.erase(found);
  return true;
}

const Value* Key::findValue(std::string_view valueName) const {
  for (const Value& value : values) {
    if (namesEqual(value.name, valueName)) return &value;
  }
  return nullptr;
}

bool Key::setValue(std::string_view valueName, uint32_t type, std::vector<uint8_t> data) {
  for (Value& value : values) {
    if (!namesEqual(value.name, valueName)) continue;
    if (value.type == type && value.data == data) return false;
    value.type = type;
    value.data = std::move(data);
    return true;
  }
  values.push_back(Value{std::string(valueName), type, std::move(data)});
  return true;
}

bool Key::removeValue(std::string_view valueName) {
  const auto found = std::find_if(values.begin(), values.end(), [&](const Value& value) {
    return namesEqual(value.name, valueName);
  });
  if (found == values.end()) return false;
  values.erase(found);
  return true;
}

bool splitPath(std::string_view path, KeyPath& parts) {
  parts.clear();
  while (!path.empty()) {
    const size_t end = path.find('\\');
    const std::string_view part = path.substr(0, end);
    if (part.size() > kMaxKeyNameLength) return false;
    if (!part.empty()) parts.emplace_back(part);
    if (end == std::string_view::npos) break;
    path.remove_prefix(end + 1);
  }
  return true;
}

const Key* findKey(const Key& root, const KeyPath& path) {
  const Key* key = &root;
  for (const std::string& part : path) {
    key = key->findSubKey(part);
    if (key == nullptr) return nullptr;
  }
  return key;
}

Key* findKey(Key& root, const KeyPath& path) {
  return const_cast<Key*>(findKey(static_cast<const Key&>(root), path));
}

// ---- Text form --------------------------------------------------------------

namespace {

constexpr std::string_view kHeader = "corvane-registry 1";
constexpr char kHexDigits[] = "0123456789ABCDEF";

enum class Quoting { Text, KeyName };

bool needsEscape(unsigned char c, Quoting quoting) {
  if (c < 0x20 || c == 0x7F || c == '%' || c == '"') return true;
  return quoting == Quoting::KeyName && (c == '\\' || c == '[' || c == ']');
}

void appendEscaped(std::string& out, std::string_view text, Quoting quoting) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (needsEscape(byte, quoting)) {
      out += '%';
      out += kHexDigits[byte >> 4];
      out += kHexDigits[byte & 0x0F];
    } else {
      out += c;
    }
  }
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool unescape(std::string_view text, std::string& out) {
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return false;
    const int high = hexValue(text[i + 1]);
    const int low = hexValue(text[i + 2]);
    if (high < 0 || low < 0) return false;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return true;
}

bool parseHexBytes(std::string_view text, std::vector<uint8_t>& out) {
  if (text.size() % 2 != 0) return false;
  out.clear();
  out.reserve(text.size() / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    const int high = hexValue(text[i]);
    const int low = hexValue(text[i + 1]);
    if (high < 0 || low < 0) return false;
    out.push_back(static_cast<uint8_t>(high * 16 + low));
  }
  return true;
}

void appendHexBytes(std::string& out, const std::vector<uint8_t>& data) {
  for (const uint8_t byte : data) {
    out += kHexDigits[byte >> 4];
    out += kHexDigits[byte & 0x0F];
  }
}

// A quoted text: the whole of text must be "...", with no quote inside.
bool parseQuoted(std::string_view text, std::string& out) {
  if (text.size() < 2 || text.front() != '"' || text.back() != '"') return false;
  text = text.substr(1, text.size() - 2);
  if (text.find('"') != std::string_view::npos) return false;
  return unescape(text, out);
}

bool isPlainText(const Value& value) {
  if (value.type != kRegSz && value.type != kRegExpandSz) return false;
  if (value.data.empty() || value.data.back() != 0) return false;
  return std::find(value.data.begin(), value.data.end() - 1, uint8_t{0}) == value.data.end() - 1;
}

void appendValue(std::string& out, const Value& value) {
  if (value.name.empty()) {
    out += '@';
  } else {
    out += '"';
    appendEscaped(out, value.name, Quoting::Text);
    out += '"';
  }
  out += '=';
  if (isPlainText(value)) {
    out += value.type == kRegSz ? "sz:\"" : "expand:\"";
    appendEscaped(out, std::string_view(reinterpret_cast<const char*>(value.data.data()),
                                        value.data.size() - 1),
                  Quoting::Text);
    out += '"';
  } else if (value.type == kRegDword && value.data.size() == 4) {
    const uint32_t number = uint32_t{value.data[0]} | uint32_t{value.data[1]} << 8 |
                            uint32_t{value.data[2]} << 16 | uint32_t{value.data[3]} << 24;
    out += "dword:";
    for (int shift = 28; shift >= 0; shift -= 4) out += kHexDigits[(number >> shift) & 0x0F];
  } else if (value.type == kRegBinary) {
    out += "binary:";
    appendHexBytes(out, value.data);
  } else {
    out += "hex(" + std::to_string(value.type) + "):";
    appendHexBytes(out, value.data);
  }
  out += '\n';
}

void appendKey(std::string& out, const Key& key, std::string& path) {
  const size_t pathLength = path.size();
  if (!path.empty()) path += '\\';
  appendEscaped(path, key.name, Quoting::KeyName);
  out += "\n[" + path + "]\n";
  for (const Value& value : key.values) appendValue(out, value);
  for (const auto& subKey : key.subKeys) appendKey(out, *subKey, path);
  path.resize(pathLength);
}

// "[A\B]": the key, created with the keys above it; nullptr when malformed.
Key* parseSection(std::string_view line, Key& root) {
  if (line.size() < 2 || line.back() != ']') return nullptr;
  std::string_view path = line.substr(1, line.size() - 2);
  if (path.empty()) return &root;
  KeyPath names;
  while (true) {
    const size_t end = path.find('\\');
    const std::string_view part = path.substr(0, end);
    std::string name;
    if (part.empty() || part.find_first_of("[]\"") != std::string_view::npos) return nullptr;
    if (!unescape(part, name) || name.empty() || name.size() > kMaxKeyNameLength ||
        name.find('\\') != std::string::npos)
      return nullptr;
    names.push_back(std::move(name));
    if (end == std::string_view::npos) break;
    path.remove_prefix(end + 1);
  }
  Key* key = &root;
  bool created = false;
  for (const std::string& name : names) key = &key->subKeyOrNew(name, created);
  return key;
}

bool parseType(std::string_view kind, uint32_t& type) {
  if (kind == "sz") type = kRegSz;
  else if (kind == "expand") type = kRegExpandSz;
  else if (kind == "dword") type = kRegDword;
  else if (kind == "binary") type = kRegBinary;
  else if (kind.size() > 5 && kind.substr(0, 4) == "hex(" && kind.back() == ')') {
    const std::string_view digits = kind.substr(4, kind.size() - 5);
    const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), type);
    return result.ec == std::errc() && result.ptr == digits.data() + digits.size();
  } else {
    return false;
  }
  return true;
}

bool parseValue(std::string_view line, Key& key) {
  std::string name;
  size_t rest = 0;
  if (line.front() == '@') {
    rest = 1;
  } else {
    const size_t close = line.find('"', 1);
    if (close == std::string_view::npos || !parseQuoted(line.substr(0, close + 1), name))
      return false;
    if (name.size() > kMaxValueNameLength) return false;
    rest = close + 1;
  }
  if (rest >= line.size() || line[rest] != '=') return false;
  const std::string_view typed = line.substr(rest + 1);
  const size_t colon = typed.find(':');
  if (colon == std::string_view::npos) return false;
  const std::string_view kind = typed.substr(0, colon);
  const std::string_view payload = typed.substr(colon + 1);

  uint32_t type = kRegNone;
  std::vector<uint8_t> data;
  if (!parseType(kind, type)) return false;
  if (kind == "sz" || kind == "expand") {
    std::string text;
    if (!parseQuoted(payload, text)) return false;
    data.assign(text.begin(), text.end());
    data.push_back(0);
  } else if (kind == "dword") {
    if (payload.size() != 8 || !parseHexBytes(payload, data)) return false;
    std::reverse(data.begin(), data.end());  // written most significant digit first
  } else if (!parseHexBytes(payload, data)) {
    return false;
  }
  key.setValue(name, type, std::move(data));
  return true;
}

}  // namespace

std::unique_ptr<Key> parse(std::string_view text, size_t& badLines) {
  auto root = std::make_unique<Key>();
  badLines = 0;
  bool headerSeen = false;
  Key* current = nullptr;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
      line.remove_suffix(1);
    if (line.empty() || line.front() == '#' || line.front() == ';') continue;

    if (!headerSeen && line == kHeader) {
      headerSeen = true;
      continue;
    }
    bool understood = false;
    if (line.front() == '[') {
      current = parseSection(line, *root);
      understood = current != nullptr;
    } else if ((line.front() == '"' || line.front() == '@') && current != nullptr) {
      understood = parseValue(line, *current);
    }
    if (!understood) ++badLines;
  }
  // A file with content but no header is not one of ours or lost its start.
  if (!headerSeen && (badLines > 0 || !root->subKeys.empty() || !root->values.empty()))
    ++badLines;
  return root;
}

std::string serialize(const Key& root) {
  std::string out(kHeader);
  out += '\n';
  if (!root.values.empty()) {
    out += "\n[]\n";
    for (const Value& value : root.values) appendValue(out, value);
  }
  std::string path;
  for (const auto& subKey : root.subKeys) appendKey(out, *subKey, path);
  return out;
}

}  // namespace corvane::platform::registry_store
