// A small INI file editor: "[section]" header lines and "key=value" lines,
// everything else (comments, blank lines, lines it does not understand) kept
// as it is. Edits change only the lines they concern, so a file edited by
// hand keeps its comments, blank lines, other sections and line order.
//
// Section and key names compare ignoring ASCII case and surrounding blanks.
// A value is the text after the first "=", without the blanks that follow
// the "=" but with trailing blanks kept (escaped settings texts may end in a
// space). Line ends may be CR LF or LF, and every line keeps its own; new
// lines take the file's first line end (CR LF for a new file). Sections that occur more than once are
// read and written at their first occurrence.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

class TIniFile {
 public:
  TIniFile() = default;
  explicit TIniFile(std::string_view text);

  std::optional<std::string> Read(std::string_view section, std::string_view key) const;
  // Sets the value, appending the key to its section (and the section to the
  // file) when it is new. Throws std::invalid_argument, changing nothing, for
  // what the file could not read back: a line break in the section, key or
  // value, an "=" in the key, or a key that would read as a header or a
  // comment (beginning with "[", ";" or "#").
  void Write(std::string_view section, std::string_view key, std::string_view value);
  // Removes the key's line; false when there was none.
  bool Delete(std::string_view section, std::string_view key);

  // True once an edit changed the text.
  bool Modified() const { return modified_; }
  std::string Text() const;

 private:
  struct Line {
    std::string Text;  // without its line end
    std::string End;   // "\r\n", "\n"; for the last line also "\r" or ""
    bool Header = false;
    std::string Name;  // section name of a header, key of a key line
    bool IsKey = false;
  };
  static Line Classify(std::string text);
  // Index of the header of the section's first occurrence; -1 when absent.
  int FindSection(std::string_view section) const;
  // Index of the key's line in the section starting after header (-1 for the
  // lines before the first header); -1 when absent.
  int FindKey(int header, std::string_view key) const;
  int SectionEnd(int header) const;  // index after the section's last line
  // Adding and removing lines keeps whether the file ends with a line end.
  void Insert(size_t at, Line line);
  void Erase(size_t index);

  std::vector<Line> lines_;
  std::string lineEnd_ = "\r\n";
  bool modified_ = false;
};

}  // namespace corvane
