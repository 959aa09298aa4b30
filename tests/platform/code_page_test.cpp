#include <gtest/gtest.h>

#include "platform/code_page.h"
#include "platform/scratch_folder.h"

using namespace corvane::platform;

TEST(CodePage, Utf8RoundTripKeepsEveryPlane) {
  const std::string text = "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x98\x80";  // Grüße € 😀
  const std::u16string wide = utf8ToWide(text);
  EXPECT_EQ(wide, u"Gr\u00FC\u00DFe \u20AC \U0001F600");
  EXPECT_EQ(wideToUtf8(wide), text);
  EXPECT_EQ(ansiToUtf8(wideToAnsi(u"Gr\u00FC\u00DFe")), "Gr\xC3\xBC\xC3\x9F" "e");
  EXPECT_EQ(utf8ToAnsi("Gr\xC3\xBC\xC3\x9F" "e"), wideToAnsi(u"Gr\u00FC\u00DFe"));
}

TEST(CodePage, AnsiRoundTripOfRepresentableText) {
  const std::u16string wide = u"caf\u00E9 \u00C4\u00D6\u00DC";
  bool usedDefault = true;
  const std::string ansi = wideToAnsi(wide, &usedDefault);
  EXPECT_FALSE(usedDefault);
  EXPECT_EQ(ansiToWide(ansi), wide);
}

TEST(CodePage, InvalidInputIsReplacedNotDropped) {
  EXPECT_EQ(utf8ToWide("a\xFF" "b"), u"a\uFFFD" u"b");
  EXPECT_EQ(utf8ToWide("\xE2\x82"), u"\uFFFD\uFFFD");  // truncated sequence
  EXPECT_EQ(wideToUtf8(std::u16string(1, char16_t(0xD800)) + u"x"), "?x");
  std::string out;
  EXPECT_FALSE(utf8ToAnsiStrict("\xC0\xAF", out));  // overlong form
  EXPECT_TRUE(utf8ToAnsiStrict("ok \xC3\xA9", out));
  EXPECT_EQ(out, wideToAnsi(u"ok \u00E9"));
}

TEST(CodePage, CaseMappingKeepsByteLength) {
  EXPECT_EQ(ansiLower("ABC xyz 123"), "abc xyz 123");
  EXPECT_EQ(ansiUpper("abc XYZ"), "ABC XYZ");
  EXPECT_EQ(ansiLower(wideToAnsi(u"\u00C4\u00D6\u00DC")), wideToAnsi(u"\u00E4\u00F6\u00FC"));
  EXPECT_EQ(ansiUpper(wideToAnsi(u"\u00E9t\u00E9")), wideToAnsi(u"\u00C9T\u00C9"));
  for (const std::u16string& sample : {std::u16string(u"Stra\u00DFe"), std::u16string(u"MiXeD \u00C9t\u00E9")}) {
    const std::string ansi = wideToAnsi(sample);
    EXPECT_EQ(ansiLower(ansi).size(), ansi.size());
    EXPECT_EQ(ansiUpper(ansi).size(), ansi.size());
  }
}

TEST(CodePage, Utf8AnsiCaseMappingLeavesLengthChangingLettersAlone) {
  if (ansiCodePage() != 65001) GTEST_SKIP() << "the ANSI code page is not UTF-8 here";
  EXPECT_EQ(ansiLower("\xD0\x96"), "\xD0\xB6");  // Cyrillic Zhe
  // U+0130 (2 bytes) lower-cases to "i" (1 byte): kept as it is.
  EXPECT_EQ(ansiLower("\xC4\xB0"), "\xC4\xB0");
  // U+023A (2 bytes) lower-cases to U+2C65 (3 bytes): kept.
  EXPECT_EQ(ansiLower("\xC8\xBA"), "\xC8\xBA");
  // Invalid bytes pass through untouched.
  EXPECT_EQ(ansiLower("A\xFF" "B"), "a\xFF" "b");
}

TEST(CodePage, FontCodePagesOnWindowsUtf8OnPosix) {
  const bool windows = corvane::platform::testing::windowsPlatform();
  bool usedDefault = true;
  const std::string da = wideToFontCodePage(1251, u"\u0414\u0430", &usedDefault);
  EXPECT_EQ(da, windows ? "\xC4\xE0" : "\xD0\x94\xD0\xB0");
  EXPECT_FALSE(usedDefault);
  EXPECT_EQ(fontCodePageToWide(1251, da), u"\u0414\u0430");
  EXPECT_EQ(wideToFontCodePage(1251, u"\u2713", &usedDefault), windows ? "?" : "\xE2\x9C\x93");
  EXPECT_EQ(usedDefault, windows) << "a character the code page lacks";
  EXPECT_EQ(wideToFontCodePage(1253, u"\u03A9"), windows ? "\xD9" : "\xCE\xA9");

  // No code page, or one not installed: the ANSI code page.
  for (const uint32_t codePage : {0u, 12345u}) {
    EXPECT_EQ(wideToFontCodePage(codePage, u"caf\u00E9 \u0414"), wideToAnsi(u"caf\u00E9 \u0414"));
    EXPECT_EQ(fontCodePageToWide(codePage, wideToAnsi(u"caf\u00E9")), u"caf\u00E9");
  }
}
