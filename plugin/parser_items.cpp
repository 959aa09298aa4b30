#include "plugin/parser_items.h"

#include "platform/ascii.h"

namespace corvane {
namespace {

std::vector<std::string_view> splitFields(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  while (true) {
    const size_t bar = line.find('|', start);
    if (bar == std::string_view::npos) {
      fields.push_back(line.substr(start));
      return fields;
    }
    fields.push_back(line.substr(start, bar - start));
    start = bar + 1;
  }
}

}  // namespace

const std::array<std::string_view, ParserItemTypeCount> ParserItemTypeNames = {
    "String", "Memo",     "Bytes", "Blob", "Boolean", "Float",    "Smallint", "Word",    "Integer",
    "Date",   "Time",     "DateTime", "DWord", "Byte", "Shortint", "Int64",    "Currency"};

std::string_view ParserItemTypeName(uint8_t index) {
  return index < ParserItemTypeCount ? ParserItemTypeNames[index] : std::string_view();
}

uint8_t ParserItemTypeIndex(std::string_view name) {
  for (uint8_t i = 0; i < ParserItemTypeCount; ++i) {
    if (platform::sameTextAscii(ParserItemTypeNames[i], name)) return i;
  }
  return ParserItemNoType;
}

void TParserItems::SetParserItems(std::string_view text, bool replace) {
  if (replace) items_.clear();
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(pos, end - pos);
    pos = end;
    if (pos < text.size() && text[pos] == '\r') ++pos;
    if (pos < text.size() && text[pos] == '\n' && (pos == end || text[pos - 1] == '\r')) ++pos;
    if (line.empty()) continue;
    const std::vector<std::string_view> fields = splitFields(line);
    if (fields.size() < 2) break;
    TParserItem item;
    item.Description = fields[0];
    item.Name = fields[1];
    item.Type = fields.size() > 2 ? ParserItemTypeIndex(fields[2]) : ParserItemNoType;
    if (fields.size() > 3) item.Extra = fields[3];
    items_.push_back(std::move(item));
  }
}

std::string TParserItems::GetParserItemsText() const {
  std::string text;
  for (const TParserItem& item : items_) {
    text += item.Description;
    text += '|';
    text += item.Name;
    text += '|';
    text += ParserItemTypeName(item.Type);
    text += '|';
    text += item.Extra;
    text += "\r\n";
  }
  return text;
}

}  // namespace corvane
