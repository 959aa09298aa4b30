// Looking one text up in a loaded table, and shaping the translation.
//
// A text is trimmed first. Besides the text itself it is looked up in two
// key forms: with every character below 32 written as "%" and two
// upper-case hexadecimal digits (how a language file holds a line break),
// and that form again without its first single "&" (an accelerator marker;
// "&&" is a literal ampersand). Last comes a case-blind look-up.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "ui/languages_list.h"

namespace corvane {

struct TTextKeys {
  std::string Trimmed;
  std::string Escaped;         // characters below 32 as %XX
  std::string WithoutMarker;   // Escaped without its first single "&"
  bool HasControl = false;     // the text holds characters below 32
  bool HasMarker = false;      // the text holds a single "&"
};

TTextKeys TextKeysOf(std::string_view text);

// The translation of text, shaped: %XX back to characters when the text
// had control characters; single "&" dropped when the text had no marker
// and the hit was not through the key without it. Nullopt without a hit,
// and for a text that trims to nothing.
std::optional<std::u16string> LookUpText(const TWtranslLanguagesList& table, std::string_view text);

// "%0D%0A" and the like back to the characters.
std::u16string DecodePercentEscapes(std::u16string_view text);
// Single "&" removed, "&&" kept.
std::u16string RemoveAccelerators(std::u16string_view text);

}  // namespace corvane
