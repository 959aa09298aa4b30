// POSIX backend: numbers to and from text as OLE's number parser and its
// text conversions treat them in the US-English locale.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "platform/posix/variant_text.h"

namespace corvane::platform::oletext {
namespace {

bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

int hexDigitValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

std::u16string widen(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }

// Digits and exponent bounded so that the arithmetic below cannot overflow;
// values this far out overflow every type anyway.
constexpr int32_t kExponentLimit = 100000;

}  // namespace

HResult parseNumber(std::u16string_view text, ParsedNumber& number) {
  number = ParsedNumber();
  size_t i = 0;
  const size_t n = text.size();
  bool minus = false, plus = false, paren = false, currency = false;

  // Leading blanks, signs, an opening parenthesis and the currency sign, in
  // any order, each at most once.
  for (; i < n; ++i) {
    const char16_t c = text[i];
    if (isBlank(c)) continue;
    if (c == u'-' && !minus) {
      minus = true;
    } else if (c == u'+' && !plus) {
      plus = true;
    } else if (c == u'(' && !paren) {
      paren = true;
    } else if (c == u'$' && !currency) {
      currency = true;
    } else {
      break;
    }
  }

  if (i + 1 < n && text[i] == u'&' && (text[i + 1] == u'H' || text[i + 1] == u'h' || text[i + 1] == u'O' ||
                                      text[i + 1] == u'o')) {
    // Radix forms ignore any sign; only blanks and signs may follow them.
    const unsigned shift = (text[i + 1] == u'H' || text[i + 1] == u'h') ? 4 : 3;
    i += 2;
    size_t digits = 0;
    for (; i < n; ++i) {
      const int value = hexDigitValue(text[i]);
      if (value < 0 || (shift == 3 && value > 7)) break;
      if (number.radixValue >> (64 - shift)) number.radixOverflow = true;
      number.radixValue = (number.radixValue << shift) | static_cast<unsigned>(value);
      ++digits;
    }
    if (digits == 0) return kHrDispTypeMismatch;
    for (; i < n; ++i) {
      if (!isBlank(text[i]) && text[i] != u'+' && text[i] != u'-') return kHrDispTypeMismatch;
    }
    number.radix = true;
    return kHrOk;
  }

  // Mantissa: digits with thousands separators after the first digit, a
  // decimal point, more digits (separators there are skipped as well).
  std::string digits;
  int64_t power = 0;
  size_t mantissaDigits = 0;
  bool point = false;
  for (; i < n; ++i) {
    const char16_t c = text[i];
    if (isDigit(c)) {
      ++mantissaDigits;
      if (!(digits.empty() && c == u'0')) digits.push_back(static_cast<char>(c));
      if (point) --power;
    } else if (c == u',' && mantissaDigits > 0) {
      continue;
    } else if (c == u'.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (mantissaDigits == 0) return kHrDispTypeMismatch;

  if (i < n && (text[i] == u'e' || text[i] == u'E')) {
    ++i;
    bool negativeExponent = false;
    for (; i < n && (text[i] == u'+' || text[i] == u'-'); ++i) negativeExponent = text[i] == u'-';
    int64_t exponent = 0;
    size_t exponentDigits = 0;
    for (; i < n && isDigit(text[i]); ++i, ++exponentDigits) {
      if (exponent < kExponentLimit) exponent = exponent * 10 + (text[i] - u'0');
    }
    if (exponentDigits == 0) return kHrDispTypeMismatch;
    power += negativeExponent ? -exponent : exponent;
  }

  // Trailing blanks, signs (only when none led), the closing parenthesis
  // and currency signs.
  const bool leadingSign = minus || plus;
  bool closed = false;
  for (; i < n; ++i) {
    const char16_t c = text[i];
    if (isBlank(c) || c == u'$') continue;
    if ((c == u'+' || c == u'-') && !leadingSign) {
      if (c == u'-') minus = true;
    } else if (c == u')' && paren && !closed) {
      closed = true;
    } else {
      return kHrDispTypeMismatch;
    }
  }
  if (paren != closed) return kHrDispTypeMismatch;

  while (!digits.empty() && digits.back() == '0') {
    digits.pop_back();
    ++power;
  }
  if (digits.empty()) power = 0;
  if (power > kExponentLimit) power = kExponentLimit;
  if (power < -kExponentLimit) power = -kExponentLimit;
  number.negative = minus || paren;
  number.digits = std::move(digits);
  number.power10 = static_cast<int32_t>(power);
  return kHrOk;
}

namespace {

// The magnitude rounded half to even to a whole number. Like OLE, a number
// below one is rounded by its first significant digit wherever that digit
// stands, so 0.07 becomes 1.
HResult roundedMagnitude(const ParsedNumber& number, uint64_t& magnitude) {
  magnitude = 0;
  const std::string& digits = number.digits;
  if (digits.empty()) return kHrOk;
  const int64_t integerDigits = static_cast<int64_t>(digits.size()) + number.power10;
  if (integerDigits > 20) return kHrDispOverflow;
  for (int64_t k = 0; k < integerDigits; ++k) {
    const unsigned digit = k < static_cast<int64_t>(digits.size()) ? static_cast<unsigned>(digits[k] - '0') : 0u;
    if (magnitude > (std::numeric_limits<uint64_t>::max() - digit) / 10) return kHrDispOverflow;
    magnitude = magnitude * 10 + digit;
  }
  if (integerDigits >= static_cast<int64_t>(digits.size())) return kHrOk;
  const size_t roundingAt = integerDigits > 0 ? static_cast<size_t>(integerDigits) : 0;
  const char roundingDigit = digits[roundingAt];
  const bool moreFollow = roundingAt + 1 < digits.size();  // trailing zeros were stripped
  if (roundingDigit > '5' || (roundingDigit == '5' && (moreFollow || (magnitude & 1)))) {
    if (magnitude == std::numeric_limits<uint64_t>::max()) return kHrDispOverflow;
    ++magnitude;
  }
  return kHrOk;
}

}  // namespace

HResult parsedToSigned(const ParsedNumber& number, int64_t minimum, int64_t maximum, int64_t& value) {
  uint64_t magnitude;
  const HResult hr = roundedMagnitude(number, magnitude);
  if (failed(hr)) return hr;
  if (number.negative && magnitude != 0) {
    if (magnitude > static_cast<uint64_t>(-(minimum + 1)) + 1) return kHrDispOverflow;
    value = static_cast<int64_t>(0 - magnitude);
  } else {
    if (magnitude > static_cast<uint64_t>(maximum)) return kHrDispOverflow;
    value = static_cast<int64_t>(magnitude);
  }
  return kHrOk;
}

HResult parsedToUnsigned(const ParsedNumber& number, uint64_t maximum, uint64_t& value) {
  uint64_t magnitude;
  const HResult hr = roundedMagnitude(number, magnitude);
  if (failed(hr)) return hr;
  if ((number.negative && magnitude != 0) || magnitude > maximum) return kHrDispOverflow;
  value = magnitude;
  return kHrOk;
}

HResult parsedToDouble(const ParsedNumber& number, double& value) {
  if (number.digits.empty()) {
    value = number.negative ? -0.0 : 0.0;
    return kHrOk;
  }
  const std::string text = number.digits + "e" + std::to_string(number.power10);
  double magnitude = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), magnitude);
  if (result.ec == std::errc::result_out_of_range) {
    // Too small rounds to zero; too large does not fit.
    if (static_cast<int64_t>(number.digits.size()) + number.power10 > 0) return kHrDispOverflow;
    magnitude = 0;
  } else if (result.ec != std::errc() || std::isinf(magnitude)) {
    return kHrDispOverflow;
  }
  value = number.negative ? -magnitude : magnitude;
  return kHrOk;
}

// printf's %G with the given precision, except that a value exactly halfway
// between two representations rounds away from zero, as the reference's C
// runtime does.
std::u16string formatDouble(double value, int significantDigits) {
  if (value == 0) return u"0";  // negative zero too
  if (std::isnan(value)) return u"NAN";
  if (std::isinf(value)) return value < 0 ? u"-INF" : u"INF";
  const bool negative = value < 0;
  const double magnitude = std::fabs(value);

  // The digits with enough beyond the kept ones that the first dropped one
  // is exact; a double's nearest ties are far below forty digits out.
  char exact[128];
  auto printed = std::to_chars(exact, exact + sizeof exact, magnitude, std::chars_format::scientific,
                               significantDigits + 40);
  *printed.ptr = '\0';
  std::string mantissa;
  const char* c = exact;
  for (; c != printed.ptr && *c != 'e'; ++c) {
    if (*c != '.') mantissa.push_back(*c);
  }
  int exponent = std::atoi(c + 1);
  const std::string rest = mantissa.substr(static_cast<size_t>(significantDigits));
  mantissa.resize(static_cast<size_t>(significantDigits));
  // Ties and everything above them round up (away from zero).
  if (rest[0] >= '5') {
    int i = significantDigits - 1;
    while (i >= 0 && mantissa[static_cast<size_t>(i)] == '9') mantissa[static_cast<size_t>(i--)] = '0';
    if (i >= 0) {
      ++mantissa[static_cast<size_t>(i)];
    } else {
      mantissa.insert(mantissa.begin(), '1');
      mantissa.pop_back();
      ++exponent;
    }
  }
  while (mantissa.size() > 1 && mantissa.back() == '0') mantissa.pop_back();

  std::string text = negative ? "-" : "";
  if (exponent < -4 || exponent >= significantDigits) {
    text += mantissa[0];
    if (mantissa.size() > 1) text += "." + mantissa.substr(1);
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "E%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
    text += suffix;
  } else if (exponent < 0) {
    text += "0." + std::string(static_cast<size_t>(-exponent - 1), '0') + mantissa;
  } else {
    const size_t point = static_cast<size_t>(exponent) + 1;
    if (mantissa.size() <= point) {
      text += mantissa + std::string(point - mantissa.size(), '0');
    } else {
      text += mantissa.substr(0, point) + "." + mantissa.substr(point);
    }
  }
  return widen(text);
}

std::u16string formatSigned(int64_t value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return widen(std::string_view(buffer, static_cast<size_t>(result.ptr - buffer)));
}

std::u16string formatUnsigned(uint64_t value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return widen(std::string_view(buffer, static_cast<size_t>(result.ptr - buffer)));
}

std::u16string formatCurrency(int64_t scaledBy10000) {
  const bool negative = scaledBy10000 < 0;
  const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(scaledBy10000) : static_cast<uint64_t>(scaledBy10000);
  std::u16string text = negative ? u"-" : u"";
  text += formatUnsigned(magnitude / 10000);
  uint64_t fraction = magnitude % 10000;
  if (fraction != 0) {
    std::u16string digits = formatUnsigned(fraction);
    digits.insert(0, 4 - digits.size(), u'0');
    while (digits.back() == u'0') digits.pop_back();
    text += u'.';
    text += digits;
  }
  return text;
}

}  // namespace corvane::platform::oletext
