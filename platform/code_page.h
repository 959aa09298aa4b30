// Conversions between the process's 8-bit "ANSI" code page, UTF-8 and UTF-16.
// On Windows the ANSI code page is the system's; on POSIX it is UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/abi.h"

namespace corvane::platform {

CV_PLATFORM_API uint32_t ansiCodePage();

// Characters without a mapping become the code page's default character;
// usedDefault (when given) tells whether that happened.
CV_PLATFORM_API std::u16string ansiToWide(std::string_view text);
CV_PLATFORM_API std::string wideToAnsi(std::u16string_view text, bool* usedDefault = nullptr);
CV_PLATFORM_API std::u16string utf8ToWide(std::string_view text);
CV_PLATFORM_API std::string wideToUtf8(std::u16string_view text);
CV_PLATFORM_API std::string ansiToUtf8(std::string_view text);
// Fails (returns false) on invalid UTF-8 instead of substituting.
CV_PLATFORM_API bool utf8ToAnsiStrict(std::string_view text, std::string& out);
CV_PLATFORM_API std::string utf8ToAnsi(std::string_view text);
// 8-bit text in the given Windows code page (1250..1258, 874, 932, 936, 949,
// 950, 1361) as UTF-16; false when the code page is not available here.
CV_PLATFORM_API bool codePageToWide(uint32_t codePage, std::string_view text, std::u16string& out);

// The 8-bit text of a window whose font has the character set of the given
// Windows code page, which is how the system reads that text when it draws
// it. On Windows that is text in the code page (the ANSI code page when it
// is 0 or not installed); on POSIX, which draws no font character sets, it
// is UTF-8 like all 8-bit text. fontCodePageToWide reads such text back.
CV_PLATFORM_API std::string wideToFontCodePage(uint32_t codePage, std::u16string_view text,
                                               bool* usedDefault = nullptr);
CV_PLATFORM_API std::u16string fontCodePageToWide(uint32_t codePage, std::string_view text);

// The locale's lower- and upper-case forms of 8-bit text, byte length kept
// (CharLowerBuff / CharUpperBuff rules: a character whose other case would
// need a different number of bytes stays as it is).
CV_PLATFORM_API std::string ansiLower(std::string_view text);
CV_PLATFORM_API std::string ansiUpper(std::string_view text);

}  // namespace corvane::platform
