// POSIX backend: the 8-bit "ANSI" code page is UTF-8. Case mapping follows
// the Unicode tables of the C library's C.UTF-8 locale, keeping a character
// whose other case has a different UTF-8 length unchanged, so byte lengths
// never change (names are compared byte for byte after lower-casing).
#include "platform/code_page.h"

#include <locale.h>
#include <wctype.h>

#include "platform/portable/utf.h"

namespace corvane::platform {
namespace {

constexpr uint32_t kCodePageUtf8 = 65001;

locale_t caseLocale() {
  static const locale_t locale = [] {
    locale_t made = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    return made;
  }();
  return locale;
}

template <class Map>
std::string mapCase(std::string_view text, Map map) {
  std::string out;
  out.reserve(text.size());
  for (size_t pos = 0; pos < text.size();) {
    // ASCII, most of every name, maps the same in C.UTF-8 without the
    // locale's tables.
    if (static_cast<unsigned char>(text[pos]) < 0x80) {
      out += static_cast<char>(map(static_cast<char32_t>(text[pos])));
      ++pos;
      continue;
    }
    const size_t start = pos;
    const char32_t cp = utf::decodeUtf8(text, pos);
    if (cp == utf::kInvalid) {
      out += text[start];
      continue;
    }
    const char32_t mapped = map(cp);
    if (mapped != cp && utf::utf8Length(mapped) == pos - start) {
      utf::appendUtf8(out, mapped);
    } else {
      out.append(text.substr(start, pos - start));
    }
  }
  return out;
}

}  // namespace

uint32_t ansiCodePage() { return kCodePageUtf8; }

std::u16string ansiToWide(std::string_view text) { return utf::utf8ToUtf16(text); }

std::string wideToAnsi(std::u16string_view text, bool* usedDefault) {
  return utf::utf16ToUtf8(text, usedDefault);
}

std::u16string utf8ToWide(std::string_view text) { return utf::utf8ToUtf16(text); }

std::string wideToUtf8(std::u16string_view text) { return utf::utf16ToUtf8(text); }

std::string ansiToUtf8(std::string_view text) { return std::string(text); }

bool utf8ToAnsiStrict(std::string_view text, std::string& out) {
  bool invalid = false;
  utf::utf8ToUtf16(text, &invalid);
  if (invalid) return false;
  out.assign(text);
  return true;
}

std::string utf8ToAnsi(std::string_view text) { return std::string(text); }

std::string wideToFontCodePage(uint32_t, std::u16string_view text, bool* usedDefault) {
  return utf::utf16ToUtf8(text, usedDefault);
}

std::u16string fontCodePageToWide(uint32_t, std::string_view text) { return utf::utf8ToUtf16(text); }

std::string ansiLower(std::string_view text) {
  locale_t locale = caseLocale();
  return mapCase(text, [locale](char32_t cp) -> char32_t {
    if (cp < 0x80 || !locale) return cp >= 'A' && cp <= 'Z' ? cp + 32 : cp;
    return static_cast<char32_t>(::towlower_l(static_cast<wint_t>(cp), locale));
  });
}

std::string ansiUpper(std::string_view text) {
  locale_t locale = caseLocale();
  return mapCase(text, [locale](char32_t cp) -> char32_t {
    if (cp < 0x80 || !locale) return cp >= 'a' && cp <= 'z' ? cp - 32 : cp;
    return static_cast<char32_t>(::towupper_l(static_cast<wint_t>(cp), locale));
  });
}

}  // namespace corvane::platform
