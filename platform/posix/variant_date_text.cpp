// POSIX backend: OLE dates to and from US-English text ("2/29/2024 1:05:07
// PM"; the date alone when there is no time of day, the time alone on day
// 0, 30 December 1899).
#include <cmath>
#include <ctime>
#include <vector>

#include "platform/posix/variant_text.h"

namespace corvane::platform::oletext {
namespace {

// Days since 1899-12-30 of a proleptic Gregorian date, and back.
int64_t daysFromCivil(int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468 + 25569;
}

void civilFromDays(int64_t days, int64_t& year, unsigned& month, unsigned& day) {
  days += 719468 - 25569;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned monthIndex = (5 * dayOfYear + 2) / 153;
  day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  year = static_cast<int64_t>(yearOfEra) + era * 400 + (month <= 2);
}

bool isLeapYear(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

unsigned daysInMonth(int64_t year, unsigned month) {
  static constexpr unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

void append(std::u16string& text, uint64_t value) { text += formatUnsigned(value); }

void appendTwoDigits(std::u16string& text, unsigned value) {
  text += static_cast<char16_t>(u'0' + value / 10);
  text += static_cast<char16_t>(u'0' + value % 10);
}

}  // namespace

HResult formatDate(double date, std::u16string& text) {
  if (!(date >= kMinDate && date < kMaxDateExclusive)) return kHrInvalidArg;
  const double wholeDays = std::trunc(date);
  const double fraction = std::fabs(date - wholeDays);
  int64_t day = static_cast<int64_t>(wholeDays);
  // The time of day to the nearest second; a rounding up to midnight moves
  // on to the next calendar day.
  int64_t seconds = static_cast<int64_t>(std::floor(fraction * 86400.0 + 0.5));
  int64_t calendarDay = day;
  if (seconds >= 86400) {
    seconds -= 86400;
    calendarDay += 1;
  }
  text.clear();
  if (day != 0) {
    int64_t year;
    unsigned month, dayOfMonth;
    civilFromDays(calendarDay, year, month, dayOfMonth);
    append(text, month);
    text += u'/';
    append(text, dayOfMonth);
    text += u'/';
    append(text, static_cast<uint64_t>(year));
  }
  if (fraction != 0 || day == 0) {
    if (!text.empty()) text += u' ';
    const unsigned hour = static_cast<unsigned>(seconds / 3600);
    const unsigned hour12 = hour % 12 == 0 ? 12 : hour % 12;
    append(text, hour12);
    text += u':';
    appendTwoDigits(text, static_cast<unsigned>(seconds / 60 % 60));
    text += u':';
    appendTwoDigits(text, static_cast<unsigned>(seconds % 60));
    text += hour < 12 ? u" AM" : u" PM";
  }
  return kHrOk;
}

namespace {

struct Token {
  enum Kind { Number, Month, AmPm, DateSeparator, TimeSeparator } kind;
  uint32_t value = 0;   // number, month 1..12, or 0 = AM / 1 = PM
  uint32_t digits = 0;  // for numbers
};

constexpr const char* kMonths[12] = {"january", "february", "march",     "april",   "may",      "june",
                                     "july",    "august",   "september", "october", "november", "december"};
constexpr const char* kWeekdays[7] = {"sunday", "monday", "tuesday", "wednesday", "thursday", "friday", "saturday"};

bool sameLetters(std::u16string_view word, std::string_view name) {
  if (word.size() != name.size()) return false;
  for (size_t i = 0; i < word.size(); ++i) {
    char16_t c = word[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (c != static_cast<char16_t>(name[i])) return false;
  }
  return true;
}

// A month (full name or first three letters), a weekday (ignored), AM or PM.
bool classifyWord(std::u16string_view word, std::vector<Token>& tokens) {
  for (unsigned m = 0; m < 12; ++m) {
    const std::string_view name = kMonths[m];
    if (sameLetters(word, name) || sameLetters(word, name.substr(0, 3))) {
      tokens.push_back({Token::Month, m + 1});
      return true;
    }
  }
  for (const char* weekday : kWeekdays) {
    const std::string_view name = weekday;
    if (sameLetters(word, name) || sameLetters(word, name.substr(0, 3))) return true;
  }
  if (sameLetters(word, "am") || sameLetters(word, "pm")) {
    tokens.push_back({Token::AmPm, sameLetters(word, "pm") ? 1u : 0u});
    return true;
  }
  return false;
}

bool tokenize(std::u16string_view text, std::vector<Token>& tokens) {
  size_t i = 0;
  while (i < text.size()) {
    const char16_t c = text[i];
    if (isBlank(c) || c == u',') {
      ++i;
    } else if (c >= u'0' && c <= u'9') {
      Token token{Token::Number};
      for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        if (token.value < 100000) token.value = token.value * 10 + (text[i] - u'0');
        ++token.digits;
      }
      tokens.push_back(token);
    } else if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z')) {
      const size_t start = i;
      while (i < text.size() && ((text[i] >= u'a' && text[i] <= u'z') || (text[i] >= u'A' && text[i] <= u'Z'))) ++i;
      if (!classifyWord(text.substr(start, i - start), tokens)) return false;
    } else if (c == u'/' || c == u'-') {
      tokens.push_back({Token::DateSeparator});
      ++i;
    } else if (c == u':' || c == u'.') {
      tokens.push_back({Token::TimeSeparator});
      ++i;
    } else {
      return false;
    }
  }
  return true;
}

int64_t currentYear() {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  localtime_r(&now, &parts);
  return parts.tm_year + 1900;
}

int64_t expandYear(uint32_t year) {
  if (year < 50) return 2000 + year;
  if (year < 100) return 1900 + year;
  return year;
}

bool validDate(int64_t year, uint32_t month, uint32_t day) {
  return year >= 100 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 && day <= daysInMonth(year, month);
}

}  // namespace

HResult parseDate(std::u16string_view text, double& date) {
  std::vector<Token> tokens;
  if (!tokenize(text, tokens)) return kHrDispTypeMismatch;

  // A time is a number followed by ':' or '.' and further numbers (up to
  // hours, minutes and seconds), or a number followed by AM or PM.
  bool haveTime = false, haveAmPm = false, pm = false;
  uint32_t timeParts[3] = {0, 0, 0};
  std::vector<Token> dateNumbers;
  uint32_t month = 0;
  size_t numbersBeforeMonth = 0;
  for (size_t i = 0; i < tokens.size(); ++i) {
    const Token& token = tokens[i];
    if (token.kind == Token::Number) {
      const bool timeFollows = i + 1 < tokens.size() && tokens[i + 1].kind == Token::TimeSeparator;
      const bool ampmFollows = i + 1 < tokens.size() && tokens[i + 1].kind == Token::AmPm;
      if (timeFollows || ampmFollows) {
        if (haveTime) return kHrDispTypeMismatch;
        haveTime = true;
        size_t parts = 0;
        timeParts[parts++] = token.value;
        while (i + 1 < tokens.size() && tokens[i + 1].kind == Token::TimeSeparator) {
          while (i + 1 < tokens.size() && tokens[i + 1].kind == Token::TimeSeparator) ++i;
          if (i + 1 >= tokens.size() || tokens[i + 1].kind != Token::Number || parts == 3) return kHrDispTypeMismatch;
          timeParts[parts++] = tokens[++i].value;
        }
        if (i + 1 < tokens.size() && tokens[i + 1].kind == Token::AmPm) {
          haveAmPm = true;
          pm = tokens[++i].value == 1;
        }
      } else {
        dateNumbers.push_back(token);
      }
    } else if (token.kind == Token::Month) {
      if (month) return kHrDispTypeMismatch;
      month = token.value;
      numbersBeforeMonth = dateNumbers.size();
    } else if (token.kind == Token::AmPm) {
      return kHrDispTypeMismatch;  // AM or PM without a time
    } else if (token.kind == Token::TimeSeparator) {
      return kHrDispTypeMismatch;
    }
  }

  uint32_t hour = timeParts[0];
  if (haveAmPm && hour <= 12) {
    if (hour == 12) hour = 0;
    if (pm) hour += 12;
  }
  if (hour > 23 || timeParts[1] > 59 || timeParts[2] > 59) return kHrDispTypeMismatch;

  int64_t year = 1899;
  uint32_t dateMonth = 12, day = 30;
  const size_t count = dateNumbers.size();
  if (month) {
    dateMonth = month;
    if (count == 2) {
      // The number that cannot be a day is the year; when both can, a
      // number before the month is the year ("4 Mar 24" is 24 March 2004).
      const auto canBeDay = [](const Token& t) { return t.value <= 31 && t.digits <= 2; };
      bool yearFirst;
      if (!canBeDay(dateNumbers[0])) {
        yearFirst = true;
      } else if (!canBeDay(dateNumbers[1])) {
        yearFirst = false;
      } else {
        yearFirst = numbersBeforeMonth == 1;
      }
      day = dateNumbers[yearFirst ? 1 : 0].value;
      year = expandYear(dateNumbers[yearFirst ? 0 : 1].value);
    } else if (count == 1) {
      // A day of the current year when it is one, else a year.
      year = currentYear();
      day = dateNumbers[0].value;
      if (!validDate(year, dateMonth, day)) {
        year = expandYear(dateNumbers[0].value);
        day = 1;
      }
    } else {
      return kHrDispTypeMismatch;
    }
  } else if (count == 3) {
    // Year first when the first number cannot be a day, or cannot be a month
    // while the last can be a day ("20/4/27" is 27 April 2020).
    const bool lastCanBeDay = dateNumbers[2].value <= 31 && dateNumbers[2].digits <= 2;
    if (dateNumbers[0].value > 31 || dateNumbers[0].digits > 2 || (dateNumbers[0].value > 12 && lastCanBeDay)) {
      year = expandYear(dateNumbers[0].value);
      dateMonth = dateNumbers[1].value;
      day = dateNumbers[2].value;
    } else {
      dateMonth = dateNumbers[0].value;
      day = dateNumbers[1].value;
      year = expandYear(dateNumbers[2].value);
      if (dateMonth > 12 && day <= 12) std::swap(dateMonth, day);
    }
  } else if (count == 2) {
    year = currentYear();
    dateMonth = dateNumbers[0].value;
    day = dateNumbers[1].value;
    if (!validDate(year, dateMonth, day)) {
      year = expandYear(dateNumbers[1].value);
      day = 1;
    }
  } else if (count != 0 || !haveTime) {
    return kHrDispTypeMismatch;
  }
  if (!validDate(year, dateMonth, day)) return kHrDispTypeMismatch;

  const double days = static_cast<double>(daysFromCivil(year, dateMonth, day));
  const double time = (hour * 3600.0 + timeParts[1] * 60.0 + timeParts[2]) / 86400.0;
  date = days < 0 ? days - time : days + time;
  return kHrOk;
}

}  // namespace corvane::platform::oletext
