// The parser item table read from a SET-ITEMS command's text. What the
// table writes must read back to the same table.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "plugin/parser_items.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  corvane::TParserItems items;
  items.SetParserItems(text, true);
  const std::string written = items.GetParserItemsText();

  corvane::TParserItems again;
  again.SetParserItems(written, true);
  if (again.Count() != items.Count() || again.GetParserItemsText() != written) std::abort();

  // Appending keeps what is there.
  again.SetParserItems(written, false);
  if (again.Count() != 2 * items.Count()) std::abort();
  return 0;
}
