// POSIX backend: the text forms of variant values for the one locale this
// backend has, US English: numbers with "." and ",", currency with four
// decimals at most, dates as M/D/YYYY and times as h:mm:ss AM/PM.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/ole_variant.h"

namespace corvane::platform::oletext {

// A number read from text, before it is fitted into a variant type.
struct ParsedNumber {
  bool radix = false;       // "&H" (hexadecimal) or "&O" (octal) form
  uint64_t radixValue = 0;  // the value of a radix form
  bool radixOverflow = false;
  bool negative = false;
  std::string digits;  // significant decimal digits, no leading zeros
  int32_t power10 = 0;  // value = digits x 10^power10
};

// Reads a number the way OLE's number parser does with its standard flags:
// blanks, signs before or after, parentheses, currency sign, thousands
// separators, decimal point, exponent, "&H" and "&O" forms. Failure is
// DISP_E_TYPEMISMATCH.
HResult parseNumber(std::u16string_view text, ParsedNumber& number);

// The parsed number fitted into a signed or unsigned 64-bit integer range
// [minimum, maximum], rounded half to even; DISP_E_OVERFLOW outside it.
HResult parsedToSigned(const ParsedNumber& number, int64_t minimum, int64_t maximum, int64_t& value);
HResult parsedToUnsigned(const ParsedNumber& number, uint64_t maximum, uint64_t& value);
// The parsed number as the nearest double; DISP_E_OVERFLOW when infinite.
HResult parsedToDouble(const ParsedNumber& number, double& value);

std::u16string formatDouble(double value, int significantDigits);
std::u16string formatSigned(int64_t value);
std::u16string formatUnsigned(uint64_t value);
std::u16string formatCurrency(int64_t scaledBy10000);

// OLE dates: days since 1899-12-30, the fraction the time of day (for days
// before that date the fraction still counts forwards from midnight).
inline constexpr double kMinDate = -657434.0;        // 1 January 100
inline constexpr double kMaxDateExclusive = 2958466.0;  // 1 January 10000

// DATE -> text; E_INVALIDARG outside the range above.
HResult formatDate(double date, std::u16string& text);
// Text -> DATE; DISP_E_TYPEMISMATCH for text that is no date or time.
HResult parseDate(std::u16string_view text, double& date);

// Blanks the number and date readers skip.
inline bool isBlank(char16_t c) { return c == u' ' || c == u'\t' || c == 0x00A0 || c == 0x3000; }

}  // namespace corvane::platform::oletext
