// Language files: plain 8-bit text, one entry per block of lines.
//
//   Charset=windows-1251          directives, only in the first 19 lines
//   //saveuntr
//
//   EN:>No data for processing    a block: the source language's line and
//   RU:>...                       the target language's line
//                                 (an empty line ends the block)
//   [Languages]
//   Default=RU
//   $RU=Russian
//
// They are the user's files: nothing in them fails the module. A line that
// cannot be used is skipped and reported through the warning callback with
// the file's name and the line's number.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/languages_list.h"

namespace corvane {

// Files larger than this are not read.
inline constexpr size_t MaxLanguageFileSize = 8u * 1024u * 1024u;

enum class TLngEncoding : uint8_t { Ansi, Utf8, Utf16 };
enum class TLngBiDiMode : uint8_t { LeftToRight, RightToLeft, RightToLeftNoAlign, RightToLeftReadingOnly };

// What the directives of the files read so far chose.
struct TLanguageFileOptions {
  TLngEncoding Encoding = TLngEncoding::Ansi;
  bool BiDiModeSet = false;
  TLngBiDiMode BiDiMode = TLngBiDiMode::LeftToRight;
  bool LocaleSet = false;
  uint32_t Locale = 0;
  bool CharsetSet = false;
  uint8_t FontCharset = 1;  // DEFAULT_CHARSET
  uint32_t CodePage = 0;    // 0: the process's ANSI code page
  // "//filenew", "//filerewrite", "//fileappend"
  std::string FileMode;
  // "//saveuntr", "//saveuntrobj", "//saveunused", "//saveall"
  std::vector<std::string> SaveModes;
};

// (file, line number or 0 for the whole file, what is wrong)
using TLngWarning = std::function<void(const std::string& file, int line, const std::string& problem)>;

// The font character set and code page of a "Charset=" name; false for a
// name not in the table.
bool CharsetByName(std::string_view name, uint8_t& fontCharset, uint32_t& codePage);

// The file's content as lines (LF or CR LF), each trimmed of spaces, with a
// UTF-8 byte order mark dropped and UTF-16 text (with its mark) turned into
// UTF-8. utf8 tells whether the lines are UTF-8 because of that.
std::vector<std::string> SplitLanguageFile(std::string_view content, bool* utf8 = nullptr);

// Reads one file's directives and entries: the directives into options, the
// blocks with both a source and a target line into table. Returns false when
// the file could not be read (warned about).
bool ReadLanguageFile(const std::string& path, const std::string& sourceLanguage, const std::string& targetLanguage,
                      TWtranslLanguagesList& table, TLanguageFileOptions& options, const TLngWarning& warn);

// The "[Languages]" section of a file's lines: "Default" and the "$code"
// keys (one "code,name" line each, in file order).
struct TLanguagesSection {
  std::string Default;
  std::vector<std::string> Languages;
};
TLanguagesSection ReadLanguagesSection(const std::vector<std::string>& lines);

}  // namespace corvane
