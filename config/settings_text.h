// The text rules of stored settings: how an item line names a property and a
// storage place, where that place is in the registry and in an INI file, and
// how texts are escaped so that any value survives either storage.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace corvane {

// One parsed item line: "edtFile.Text, Options\Script file ; comment".
struct TSettingsItem {
  std::string PropertyPath;  // "edtFile.Text"
  std::string SubPath;       // "Options" (backslash-separated, may be empty)
  std::string ValueName;     // "Script file"
};

// nullopt for blank lines, comments (";..."), and lines without a property
// path or a storage name.
std::optional<TSettingsItem> ParseSettingsItem(std::string_view line);

// The registry key of an item: the registry path without its trailing
// backslashes, then "\" and the sub-path when there is one.
std::string SettingsRegistryKey(std::string_view registryPath, const TSettingsItem& item);

// The INI section of an item. A prefix ending in "/" or "\" loses that
// character and suppresses the default section "Common"; a non-empty prefix
// is joined to the section by "."; backslashes become ".".
std::string SettingsIniSection(std::string_view prefix, const TSettingsItem& item);

// Escaping of stored texts: ANSI to UTF-8, then spaces that lead the text or
// precede another space become "+", "%" becomes "%%", and "+", control
// characters and every byte from 0x80 become "%" and two hex digits. The
// result is pure ASCII without leading spaces or runs of spaces.
std::string EscapeSettingsText(std::string_view text);
// The reverse. Stored text holding bytes from 0x80 was not written escaped
// and is taken as it is; otherwise the unescaped bytes are decoded from
// UTF-8 into the ANSI code page (undecodable or empty results keep the
// bytes).
std::string UnescapeSettingsText(std::string_view stored);

}  // namespace corvane
