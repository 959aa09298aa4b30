#include "platform/portable/utf.h"

#include <cstddef>
#include <type_traits>

namespace corvane::platform::utf {

char32_t decodeUtf8(std::string_view text, size_t& pos) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(pos);
  if (lead < 0x80) {
    ++pos;
    return lead;
  }
  size_t extra;
  char32_t cp;
  char32_t minimum;
  if ((lead & 0xE0) == 0xC0) {
    extra = 1, cp = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2, cp = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3, cp = lead & 0x07, minimum = 0x10000;
  } else {
    ++pos;
    return kInvalid;
  }
  if (pos + extra >= text.size()) {
    ++pos;
    return kInvalid;
  }
  for (size_t i = 1; i <= extra; ++i) {
    const unsigned char next = byte(pos + i);
    if ((next & 0xC0) != 0x80) {
      ++pos;
      return kInvalid;
    }
    cp = (cp << 6) | (next & 0x3F);
  }
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++pos;
    return kInvalid;
  }
  pos += extra + 1;
  return cp;
}

size_t utf8Length(char32_t cp) { return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4; }

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

namespace {

// The length of text's leading run of 7-bit characters, which every
// conversion here copies unchanged.
template <class Char>
size_t asciiPrefix(std::basic_string_view<Char> text) {
  size_t length = 0;
  while (length < text.size() && static_cast<std::make_unsigned_t<Char>>(text[length]) < 0x80) ++length;
  return length;
}

}  // namespace

std::u16string utf8ToUtf16(std::string_view text, bool* hadInvalid) {
  const size_t ascii = asciiPrefix(text);
  std::u16string out(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(ascii));
  bool invalid = false;
  if (ascii < text.size()) out.reserve(text.size());
  for (size_t pos = ascii; pos < text.size();) {
    char32_t cp = decodeUtf8(text, pos);
    if (cp == kInvalid) {
      invalid = true;
      cp = kReplacement;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  if (hadInvalid) *hadInvalid = invalid;
  return out;
}

std::string utf16ToUtf8(std::u16string_view text, bool* usedDefault) {
  const size_t ascii = asciiPrefix(text);
  std::string out(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(ascii));
  bool substituted = false;
  if (ascii < text.size()) out.reserve(text.size());
  for (size_t i = ascii; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      out += '?';
      substituted = true;
      continue;
    }
    appendUtf8(out, cp);
  }
  if (usedDefault) *usedDefault = substituted;
  return out;
}

}  // namespace corvane::platform::utf
