#include "ui/language_file.h"

#include <charconv>
#include <filesystem>

#include "platform/ascii.h"
#include "platform/code_page.h"
#include "platform/files.h"
#include "platform/locale.h"

namespace corvane {
namespace {

// Directives are looked for only this far.
constexpr size_t kDirectiveLines = 19;

struct TCharsetName {
  const char* Name;
  uint8_t FontCharset;
  uint32_t CodePage;
};

constexpr TCharsetName kCharsets[] = {
    {"windows-1250", 238, 1250}, {"windows-1251", 204, 1251}, {"windows-1252", 0, 1252},
    {"windows-1253", 161, 1253}, {"windows-1254", 162, 1254}, {"windows-1255", 177, 1255},
    {"windows-1256", 178, 1256}, {"windows-1257", 186, 1257}, {"windows-1258", 163, 1258},
    {"windows-874", 222, 874},   {"shift-jis", 128, 932},     {"hangeul", 129, 949},
    {"johab", 130, 1361},        {"gb2312", 134, 936},        {"chinesebig5", 136, 950},
};

std::string lowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\r')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

bool isWord(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return false;
  }
  return true;
}

bool isLanguageCode(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
    if (!ok) return false;
  }
  return true;
}

// The text after "<code>:>" when the line is that language's line.
bool languageLine(std::string_view line, const std::string& code, std::string_view& text) {
  if (code.empty() || line.size() < code.size() + 2) return false;
  if (!platform::sameTextAscii(line.substr(0, code.size()), code) || line.substr(code.size(), 2) != ":>") return false;
  text = line.substr(code.size() + 2);
  return true;
}

std::optional<uint32_t> parseLocale(std::string_view value) {
  int base = 10;
  if (value.size() > 2 && value[0] == '0' && (value[1] == 'x' || value[1] == 'X')) {
    value.remove_prefix(2);
    base = 16;
  }
  uint32_t locale = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), locale, base);
  if (value.empty() || error != std::errc() || end != value.data() + value.size()) return std::nullopt;
  return locale;
}

// How one file's texts become wide text.
struct TDecoding {
  bool Utf8 = false;
  uint32_t CodePage = 0;
  bool CodePageMissing = false;
};

class TFileReader {
 public:
  TFileReader(const std::string& path, TLanguageFileOptions& options, const TLngWarning& warn)
      : path_(path), options_(options), warn_(warn) {}

  void Directive(std::string_view line, int number) {
    if (line.substr(0, 2) == "//") {
      const std::string word = lowerAscii(line);
      if (word == "//filenew" || word == "//filerewrite" || word == "//fileappend") {
        options_.FileMode = word;
      } else if (word == "//saveuntr" || word == "//saveuntrobj" || word == "//saveunused" || word == "//saveall") {
        options_.SaveModes.push_back(word);
      }
      return;  // any other "//" line is a comment
    }
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos || line.find(":>") != std::string_view::npos) return;
    const std::string_view key = trim(line.substr(0, equals));
    if (!isWord(key)) return;
    const std::string name = lowerAscii(key);
    const std::string raw(trim(line.substr(equals + 1)));
    const std::string value = lowerAscii(raw);
    if (name == "encoding") {
      if (value == "utf-8") {
        decoding_.Utf8 = true;
        options_.Encoding = TLngEncoding::Utf8;
      } else if (value == "utf-16" || value == "unicode") {
        options_.Encoding = TLngEncoding::Utf16;
      } else {
        Warn(number, "unknown Encoding= value \"" + raw + "\"");
      }
    } else if (name == "bidimode") {
      if (value == "righttoleft") {
        options_.BiDiMode = TLngBiDiMode::RightToLeft;
      } else if (value == "righttoleftnoalign") {
        options_.BiDiMode = TLngBiDiMode::RightToLeftNoAlign;
      } else if (value == "righttoleftreadingonly") {
        options_.BiDiMode = TLngBiDiMode::RightToLeftReadingOnly;
      } else {
        Warn(number, "unknown BiDiMode= value \"" + raw + "\"");
        return;
      }
      options_.BiDiModeSet = true;
    } else if (name == "locale") {
      const std::optional<uint32_t> locale = parseLocale(value);
      if (!locale || !platform::setThreadLocale(*locale)) {
        Warn(number, "bad Locale= value \"" + raw + "\"");
        return;
      }
      options_.LocaleSet = true;
      options_.Locale = *locale;
    } else if (name == "charset") {
      uint8_t fontCharset = 0;
      uint32_t codePage = 0;
      if (!CharsetByName(value, fontCharset, codePage)) {
        Warn(number, "unknown Charset= value \"" + raw + "\"");
        return;
      }
      options_.CharsetSet = true;
      options_.FontCharset = fontCharset;
      options_.CodePage = codePage;
      decoding_.CodePage = codePage;
    } else {
      Warn(number, "unknown directive \"" + std::string(key) + "\"");
    }
  }

  void SetUtf8() { decoding_.Utf8 = true; }

  std::u16string Decode(std::string_view text, int number) {
    if (decoding_.Utf8) return platform::utf8ToWide(text);
    if (decoding_.CodePage != 0 && !decoding_.CodePageMissing) {
      std::u16string wide;
      if (platform::codePageToWide(decoding_.CodePage, text, wide)) return wide;
      decoding_.CodePageMissing = true;
      Warn(number, "code page " + std::to_string(decoding_.CodePage) + " is not available; texts read as they are");
    }
    return platform::ansiToWide(text);
  }

  void Warn(int number, const std::string& problem) {
    if (warn_) warn_(path_, number, problem);
  }

 private:
  const std::string& path_;
  TLanguageFileOptions& options_;
  const TLngWarning& warn_;
  TDecoding decoding_;
};

}  // namespace

bool CharsetByName(std::string_view name, uint8_t& fontCharset, uint32_t& codePage) {
  const std::string lower = lowerAscii(name);
  for (const TCharsetName& entry : kCharsets) {
    if (lower == entry.Name) {
      fontCharset = entry.FontCharset;
      codePage = entry.CodePage;
      return true;
    }
  }
  return false;
}

std::vector<std::string> SplitLanguageFile(std::string_view content, bool* utf8) {
  std::string converted;
  bool isUtf8 = false;
  if (content.substr(0, 3) == "\xEF\xBB\xBF") {
    content.remove_prefix(3);
    isUtf8 = true;
  } else if (content.size() >= 2 && content[0] == '\xFF' && content[1] == '\xFE') {
    std::u16string wide;
    for (size_t i = 2; i + 1 < content.size(); i += 2) {
      wide += static_cast<char16_t>(static_cast<unsigned char>(content[i]) |
                                    (static_cast<unsigned char>(content[i + 1]) << 8));
    }
    converted = platform::wideToUtf8(wide);
    content = converted;
    isUtf8 = true;
  }
  if (utf8 != nullptr) *utf8 = isUtf8;
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string_view::npos) end = content.size();
    lines.emplace_back(trim(content.substr(start, end - start)));
    start = end + 1;
  }
  return lines;
}

bool ReadLanguageFile(const std::string& path, const std::string& sourceLanguage, const std::string& targetLanguage,
                      TWtranslLanguagesList& table, TLanguageFileOptions& options, const TLngWarning& warn) {
  TFileReader reader(path, options, warn);
  std::error_code error;
  const auto size = std::filesystem::file_size(std::filesystem::path(path), error);
  if (error) {
    reader.Warn(0, "cannot be read");
    return false;
  }
  if (size > MaxLanguageFileSize) {
    reader.Warn(0, "is larger than " + std::to_string(MaxLanguageFileSize / (1024 * 1024)) + " MB and is not read");
    return false;
  }
  std::string content;
  try {
    content = platform::readFile(path);
  } catch (const std::exception& e) {
    reader.Warn(0, std::string("cannot be read: ") + e.what());
    return false;
  }
  bool utf8 = false;
  const std::vector<std::string> lines = SplitLanguageFile(content, &utf8);
  if (utf8) reader.SetUtf8();

  for (size_t i = 0; i < lines.size() && i < kDirectiveLines; ++i) {
    if (!lines[i].empty() && lines[i][0] == '[') break;  // a section: no directives beyond it
    reader.Directive(lines[i], static_cast<int>(i + 1));
  }

  // Blocks: consecutive non-empty lines, each ended by an empty line; one
  // that the file's end cuts off is not taken.
  bool haveSource = false;
  bool haveTarget = false;
  std::string_view source;
  std::string_view target;
  int targetLine = 0;
  bool inSection = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    const int number = static_cast<int>(i + 1);
    if (line.empty()) {
      inSection = false;  // a section's lines end with the block they are in
      if (haveSource && haveTarget) {
        table.Add(platform::wideToAnsi(reader.Decode(source, number - 1)), reader.Decode(target, targetLine));
      }
      haveSource = haveTarget = false;
      continue;
    }
    if (line.substr(0, 2) == "//") continue;
    if (line[0] == '[') {
      if (line.back() != ']') reader.Warn(number, "malformed section header");
      inSection = line.back() == ']';
      continue;
    }
    std::string_view text;
    if (languageLine(line, sourceLanguage, text)) {
      source = text;
      haveSource = true;
      if (sourceLanguage == targetLanguage) {
        target = text;
        haveTarget = true;
        targetLine = number;
      }
    } else if (languageLine(line, targetLanguage, text)) {
      target = text;
      haveTarget = true;
      targetLine = number;
    } else if (const size_t mark = line.find(":>"); mark != std::string::npos && !inSection &&
                                                  !isLanguageCode(std::string_view(line).substr(0, mark))) {
      reader.Warn(number, "malformed entry line");
    }
  }
  return true;
}

TLanguagesSection ReadLanguagesSection(const std::vector<std::string>& lines) {
  TLanguagesSection section;
  bool inside = false;
  for (const std::string& line : lines) {
    if (!line.empty() && line[0] == '[') {
      inside = platform::sameTextAscii(line, "[Languages]");
      continue;
    }
    if (!inside || line.empty() || line[0] == ';') continue;
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key(trim(std::string_view(line).substr(0, equals)));
    const std::string value(trim(std::string_view(line).substr(equals + 1)));
    if (platform::sameTextAscii(key, "Default")) {
      section.Default = value;
    } else if (key.size() > 1 && key[0] == '$') {
      section.Languages.push_back(key.substr(1) + "," + value);
    }
  }
  return section;
}

}  // namespace corvane
