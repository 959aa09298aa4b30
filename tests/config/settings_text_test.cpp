// Item lines, storage names and the escaping of stored texts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/settings_text.h"
#include "platform/code_page.h"

using namespace corvane;

namespace {

TSettingsItem parsed(std::string_view line) {
  const std::optional<TSettingsItem> item = ParseSettingsItem(line);
  EXPECT_TRUE(item) << line;
  return item.value_or(TSettingsItem{});
}

}  // namespace

TEST(SettingsItems, LinesSplitIntoPathAndStorageName) {
  TSettingsItem item = parsed("  edtFile.Text ,  Script file ");
  EXPECT_EQ(item.PropertyPath, "edtFile.Text");
  EXPECT_EQ(item.SubPath, "");
  EXPECT_EQ(item.ValueName, "Script file");

  // Without a comma the first ";" splits; a ";" in the name starts a comment
  // and the cut name keeps its trailing blank.
  EXPECT_EQ(parsed("Left;Left").ValueName, "Left");
  EXPECT_EQ(parsed("Left, Left ;the dialog's position").ValueName, "Left ");
  EXPECT_EQ(parsed("a.b,c,d").ValueName, "c,d") << "only the first comma splits";

  // Backslash runs shrink to one, one leading backslash goes, the last one
  // separates the sub-path.
  item = parsed("Width,\\\\Options\\\\\\Dialog\\Width");
  EXPECT_EQ(item.SubPath, "Options\\Dialog");
  EXPECT_EQ(item.ValueName, "Width");

  for (const char* skipped : {"", " ", ";---short---", "  ;Left,Left", "Left", ",Left", "Left,", "Left, ;comment",
                              "\t"}) {
    EXPECT_FALSE(ParseSettingsItem(skipped)) << '"' << skipped << '"';
  }
}

TEST(SettingsItems, RegistryKeysAndIniSections) {
  const TSettingsItem plain = parsed("Left,Left");
  const TSettingsItem nested = parsed("edtFile.Text,Options\\Paths\\Script file");
  EXPECT_EQ(SettingsRegistryKey("\\Software\\Company name\\App name", plain), "\\Software\\Company name\\App name");
  EXPECT_EQ(SettingsRegistryKey("\\Software\\App\\\\", nested), "\\Software\\App\\Options\\Paths");

  EXPECT_EQ(SettingsIniSection("", plain), "Common");
  EXPECT_EQ(SettingsIniSection("P", plain), "P.Common");
  EXPECT_EQ(SettingsIniSection("P\\", plain), "P");
  EXPECT_EQ(SettingsIniSection("P/", plain), "P");
  EXPECT_EQ(SettingsIniSection("", nested), "Options.Paths");
  EXPECT_EQ(SettingsIniSection("P", nested), "P.Options.Paths");
  EXPECT_EQ(SettingsIniSection("Host\\Cfg\\", nested), "Host.Cfg.Options.Paths");
  EXPECT_EQ(SettingsIniSection("\\", plain), "") << "a prefix of only the separator leaves no section name";
}

TEST(SettingsEscaping, StoredForms) {
  EXPECT_EQ(EscapeSettingsText("C:\\Program Files\\My scripts\\main.py"), "C:\\Program Files\\My scripts\\main.py");
  EXPECT_EQ(EscapeSettingsText("a  b"), "a+ b");
  EXPECT_EQ(EscapeSettingsText("a   b"), "a++ b");
  EXPECT_EQ(EscapeSettingsText(" lead"), "+lead");
  EXPECT_EQ(EscapeSettingsText("  x y "), "++x y ");
  EXPECT_EQ(EscapeSettingsText("   "), "+++");
  EXPECT_EQ(EscapeSettingsText("1+1=2 100%"), "1%2B1=2 100%%");
  EXPECT_EQ(EscapeSettingsText("tab\there\r\n"), "tab%09here%0D%0A");
  EXPECT_EQ(EscapeSettingsText("~\x7F"), "~\x7F");
  // Non-ASCII text goes through UTF-8, byte by byte.
  EXPECT_EQ(EscapeSettingsText(platform::utf8ToAnsi("caf\xC3\xA9")), "caf%C3%A9");
}

TEST(SettingsEscaping, UnescapingIsForgiving) {
  EXPECT_EQ(UnescapeSettingsText("%41%42"), "AB");
  EXPECT_EQ(UnescapeSettingsText("%%41"), "%41");
  EXPECT_EQ(UnescapeSettingsText("50%"), "50%");
  EXPECT_EQ(UnescapeSettingsText("%4"), "%4");
  EXPECT_EQ(UnescapeSettingsText("%zz%"), "%zz%");
  EXPECT_EQ(UnescapeSettingsText("a+b++"), "a b  ");
  EXPECT_EQ(UnescapeSettingsText("caf%c3%a9"), platform::utf8ToAnsi("caf\xC3\xA9")) << "lower-case digits";
  // Bytes that are no UTF-8 stay as they are.
  EXPECT_EQ(UnescapeSettingsText("%FF%FE"), "\xFF\xFE");
  // Stored text with its own high bytes was written unescaped: no decoding,
  // but "+" and "%" sequences are still read.
  EXPECT_EQ(UnescapeSettingsText("\xE9+%C3%A9"), "\xE9 \xC3\xA9");
}

TEST(SettingsEscaping, TrickyTextsRoundTrip) {
  const std::vector<std::string> texts = {
      "",      " ",        "  ",  " leading", "trailing two  ", "double  spaces   and more", "++ plus +",
      "%%41", "%2B 100%", "line one\r\nline two\n", "\x01\x1F control",
      platform::utf8ToAnsi("C:\\Users\\J\xC3\xBCrgen\\Skripte\\m\xC3\xA4in.py"),
      platform::utf8ToAnsi("\xC2\xB5" "s \xC2\xB0" "C"),
  };
  for (const std::string& text : texts) {
    const std::string stored = EscapeSettingsText(text);
    for (const char c : stored) ASSERT_LT(static_cast<unsigned char>(c), 0x80) << text;
    EXPECT_EQ(stored.find("  "), std::string::npos) << text;
    if (!stored.empty()) {
      EXPECT_NE(stored.front(), ' ') << text;
    }
    EXPECT_EQ(UnescapeSettingsText(stored), text) << '"' << text << "\" stored as \"" << stored << '"';
  }
}
