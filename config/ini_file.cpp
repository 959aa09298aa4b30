#include "config/ini_file.h"

#include <cstddef>
#include <stdexcept>
#include <utility>

#include "platform/ascii.h"

namespace corvane {
namespace {

bool blank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

// A UTF-8 byte order mark in front of the first line is kept but not read
// as part of a name.
std::string_view withoutMark(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  return text;
}

// The reader takes one carriage return in front of a line's end as part of
// that end, so a text that itself ends in one (a lone CR in a value) keeps it
// only when the end it is given begins with another.
std::string endKeepingText(const std::string& text, std::string end) {
  if (!text.empty() && text.back() == '\r' && (end.empty() || end.front() != '\r')) end.insert(0, "\r");
  return end;
}

}  // namespace

TIniFile::TIniFile(std::string_view text) {
  if (text.empty()) return;
  const size_t firstBreak = text.find('\n');
  lineEnd_ = firstBreak != std::string_view::npos && firstBreak > 0 && text[firstBreak - 1] == '\r' ? "\r\n" : "\n";
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    std::string_view line = text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    // Each line keeps its own end, so an edit rewrites only the lines it
    // concerns; a carriage return at the file's end counts as one.
    std::string lineEnd = end == std::string_view::npos ? "" : "\n";
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
      lineEnd.insert(0, "\r");
    }
    lines_.push_back(Classify(std::string(line)));
    lines_.back().End = std::move(lineEnd);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
}

void TIniFile::Insert(size_t at, Line line) {
  line.End = lineEnd_;
  // A line added after a last line without a line break takes its place as
  // the one the file ends with.
  if (at == lines_.size() && !lines_.empty() && lines_.back().End.find('\n') == std::string::npos) {
    std::swap(line.End, lines_.back().End);
    lines_.back().End = endKeepingText(lines_.back().Text, lineEnd_);
  }
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
}

void TIniFile::Erase(size_t index) {
  if (index + 1 == lines_.size() && index > 0 && lines_[index].End.find('\n') == std::string::npos) {
    lines_[index - 1].End = endKeepingText(lines_[index - 1].Text, lines_[index].End);
  }
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(index));
}

TIniFile::Line TIniFile::Classify(std::string text) {
  Line line;
  const std::string_view content = trimmed(withoutMark(text));
  if (!content.empty() && content.front() == '[') {
    const size_t close = content.rfind(']');
    if (close != std::string_view::npos) {
      line.Header = true;
      line.Name = std::string(trimmed(content.substr(1, close - 1)));
    }
  } else if (!content.empty() && content.front() != ';' && content.front() != '#') {
    const size_t equals = content.find('=');
    if (equals != std::string_view::npos && equals > 0) {
      line.IsKey = true;
      line.Name = std::string(trimmed(content.substr(0, equals)));
    }
  }
  line.Text = std::move(text);
  return line;
}

int TIniFile::FindSection(std::string_view section) const {
  section = trimmed(section);
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].Header && platform::sameTextAscii(lines_[i].Name, section)) return static_cast<int>(i);
  }
  return -1;
}

int TIniFile::SectionEnd(int header) const {
  size_t i = static_cast<size_t>(header) + 1;
  while (i < lines_.size() && !lines_[i].Header) ++i;
  return static_cast<int>(i);
}

int TIniFile::FindKey(int header, std::string_view key) const {
  key = trimmed(key);
  const int end = SectionEnd(header);
  for (int i = header + 1; i < end; ++i) {
    if (lines_[static_cast<size_t>(i)].IsKey && platform::sameTextAscii(lines_[static_cast<size_t>(i)].Name, key)) {
      return i;
    }
  }
  return -1;
}

std::optional<std::string> TIniFile::Read(std::string_view section, std::string_view key) const {
  const int header = FindSection(section);
  if (header < 0) return std::nullopt;
  const int index = FindKey(header, key);
  if (index < 0) return std::nullopt;
  std::string_view text = lines_[static_cast<size_t>(index)].Text;
  text.remove_prefix(text.find('=') + 1);
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  return std::string(text);
}

void TIniFile::Write(std::string_view section, std::string_view key, std::string_view value) {
  if (value.find_first_of("\r\n") != std::string_view::npos || key.find_first_of("\r\n=") != std::string_view::npos ||
      trimmed(key).empty()) {
    throw std::invalid_argument("An INI key or value cannot hold a line break, nor a key an equals sign");
  }
  if (section.find_first_of("\r\n") != std::string_view::npos) {
    throw std::invalid_argument("An INI section name cannot hold a line break");
  }
  // A key that would read as a header, a comment or another name ("[x",
  // ";x", "#x", a byte order mark in front) would lose its value, and a
  // header would take the section's later keys with it.
  Line line = Classify(std::string(trimmed(key)) + "=" + std::string(value));
  if (!line.IsKey || line.Name != trimmed(key)) {
    throw std::invalid_argument("An INI key cannot begin with \"[\", \";\", \"#\" or a byte order mark");
  }
  int header = FindSection(section);
  if (header >= 0) {
    if (const int index = FindKey(header, key); index >= 0) {
      std::string& text = lines_[static_cast<size_t>(index)].Text;
      size_t start = text.find('=') + 1;
      while (start < text.size() && blank(text[start])) ++start;
      if (std::string_view(text).substr(start) == value) return;
      text = text.substr(0, start) + std::string(value);
      modified_ = true;
      return;
    }
  } else {
    if (!lines_.empty() && !trimmed(lines_.back().Text).empty()) Insert(lines_.size(), Classify(""));
    Insert(lines_.size(), Classify("[" + std::string(trimmed(section)) + "]"));
    header = static_cast<int>(lines_.size()) - 1;
  }
  // After the section's last key, so blank lines and comments that close the
  // section stay where they are.
  int at = header + 1;
  for (int i = header + 1; i < SectionEnd(header); ++i) {
    if (lines_[static_cast<size_t>(i)].IsKey) at = i + 1;
  }
  Insert(static_cast<size_t>(at), std::move(line));
  modified_ = true;
}

bool TIniFile::Delete(std::string_view section, std::string_view key) {
  const int header = FindSection(section);
  if (header < 0) return false;
  const int index = FindKey(header, key);
  if (index < 0) return false;
  Erase(static_cast<size_t>(index));
  modified_ = true;
  return true;
}

std::string TIniFile::Text() const {
  std::string text;
  for (const Line& line : lines_) {
    text += line.Text;
    text += line.End;
  }
  return text;
}

}  // namespace corvane
