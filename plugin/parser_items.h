// The module's parser item table: the named values a parser module announces
// to its host, and their exchanged text (one item per line, fields separated
// by "|": description, name, type name, extra).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

inline constexpr uint8_t ParserItemTypeCount = 17;
// The index of an item that names no type.
inline constexpr uint8_t ParserItemNoType = 17;

extern const std::array<std::string_view, ParserItemTypeCount> ParserItemTypeNames;
// The type names as the module keeps them, each followed by "|".
inline constexpr std::string_view ParserItemTypesText =
    "String|Memo|Bytes|Blob|Boolean|Float|Smallint|Word|Integer|Date|Time|DateTime|DWord|Byte|Shortint|Int64|"
    "Currency|";

// The name of a type index; empty for 17 and above.
std::string_view ParserItemTypeName(uint8_t index);
// The index of a type name, compared case-insensitively; 17 when unknown.
uint8_t ParserItemTypeIndex(std::string_view name);

struct TParserItem {
  std::string Name;
  std::string Description;
  uint8_t Type = ParserItemNoType;
  std::string Extra;
};

class TParserItems {
 public:
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  const TParserItem& Items(int32_t index) const { return items_.at(static_cast<size_t>(index)); }
  void Add(TParserItem item) { items_.push_back(std::move(item)); }
  void Clear() { items_.clear(); }

  // Reads the items of a text (lines end with CR LF, CR or LF), after
  // clearing the table when replace is set. Empty lines are skipped; a line
  // of one field ends the reading; the extra field is empty when a line has
  // fewer than four fields.
  void SetParserItems(std::string_view text, bool replace);
  // Every item with all four fields, each line ended by CR LF.
  std::string GetParserItemsText() const;

 private:
  std::vector<TParserItem> items_;
};

}  // namespace corvane
