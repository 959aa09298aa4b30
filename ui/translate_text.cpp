#include "ui/translate_text.h"

#include "platform/code_page.h"

namespace corvane {
namespace {

std::string_view trimControl(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  return text;
}

int hexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return -1;
}

}  // namespace

TTextKeys TextKeysOf(std::string_view text) {
  static const char digits[] = "0123456789ABCDEF";
  TTextKeys keys;
  keys.Trimmed = std::string(trimControl(text));
  for (char c : keys.Trimmed) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 32) {
      keys.HasControl = true;
      keys.Escaped += '%';
      keys.Escaped += digits[byte >> 4];
      keys.Escaped += digits[byte & 15];
    } else {
      keys.Escaped += c;
    }
  }
  keys.WithoutMarker = keys.Escaped;
  for (size_t i = 0; i < keys.WithoutMarker.size(); ++i) {
    if (keys.WithoutMarker[i] != '&') continue;
    if (i + 1 < keys.WithoutMarker.size() && keys.WithoutMarker[i + 1] == '&') {
      ++i;  // a literal ampersand
      continue;
    }
    keys.WithoutMarker.erase(i, 1);
    keys.HasMarker = true;
    break;
  }
  return keys;
}

std::u16string DecodePercentEscapes(std::u16string_view text) {
  std::u16string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'%' && i + 2 < text.size()) {
      const int high = hexValue(text[i + 1]);
      const int low = hexValue(text[i + 2]);
      if (high >= 0 && low >= 0) {
        out += static_cast<char16_t>(high * 16 + low);
        i += 2;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

std::u16string RemoveAccelerators(std::u16string_view text) {
  std::u16string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'&') {
      if (i + 1 < text.size() && text[i + 1] == u'&') {
        out += u"&&";
        ++i;
      }
      continue;
    }
    out += text[i];
  }
  return out;
}

std::optional<std::u16string> LookUpText(const TWtranslLanguagesList& table, std::string_view text) {
  const TTextKeys keys = TextKeysOf(text);
  if (keys.Trimmed.empty()) return std::nullopt;
  const std::u16string* hit = table.FindExact(keys.Trimmed);
  if (hit == nullptr) hit = table.FindExact(keys.Escaped);
  bool throughSecondKey = false;
  if (hit == nullptr && keys.HasMarker) {
    hit = table.FindExact(keys.WithoutMarker);
    throughSecondKey = hit != nullptr;
  }
  if (hit == nullptr) hit = table.FindLower(platform::ansiLower(keys.Trimmed));
  if (hit == nullptr) return std::nullopt;
  std::u16string translation = *hit;
  if (keys.HasControl) translation = DecodePercentEscapes(translation);
  if (!keys.HasMarker && !throughSecondKey) translation = RemoveAccelerators(translation);
  return translation;
}

}  // namespace corvane
