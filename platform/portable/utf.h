// UTF-8 / UTF-16 transcoding shared by the backends (the POSIX "ANSI" code
// page is UTF-8; the Win32 backend uses it for the module information texts).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace corvane::platform::utf {

inline constexpr char32_t kReplacement = 0xFFFD;

// Decodes one UTF-8 sequence at text[pos]; on success advances pos and
// returns the code point, on an invalid or truncated sequence returns
// kInvalid and advances pos by one byte.
inline constexpr char32_t kInvalid = 0xFFFFFFFF;
char32_t decodeUtf8(std::string_view text, size_t& pos);
void appendUtf8(std::string& out, char32_t codePoint);
size_t utf8Length(char32_t codePoint);

// Invalid input becomes U+FFFD (UTF-8 -> UTF-16) or "?" (lone surrogates
// -> UTF-8; usedDefault tells).
std::u16string utf8ToUtf16(std::string_view text, bool* hadInvalid = nullptr);
std::string utf16ToUtf8(std::u16string_view text, bool* usedDefault = nullptr);

}  // namespace corvane::platform::utf
