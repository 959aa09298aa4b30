#include <gtest/gtest.h>

#include "platform/code_page.h"

using namespace corvane::platform;

TEST(CodePage, WideRoundTripKeepsEveryPlane) {
  const std::string text = "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x98\x80";  // Grüße € 😀
  const std::u16string wide = ansiToWide(text);
  EXPECT_EQ(wide, u"Gr\u00FC\u00DFe \u20AC \U0001F600");
  bool usedDefault = true;
  EXPECT_EQ(wideToAnsi(wide, &usedDefault), text);
  EXPECT_FALSE(usedDefault);
}

TEST(CodePage, InvalidInputIsReplacedNotDropped) {
  EXPECT_EQ(ansiToWide("a\xFF" "b"), u"a\uFFFD" u"b");
  EXPECT_EQ(ansiToWide("\xE2\x82"), u"\uFFFD\uFFFD");  // truncated sequence
  bool usedDefault = false;
  EXPECT_EQ(wideToAnsi(std::u16string(1, char16_t(0xD800)) + u"x", &usedDefault), "?x");
  EXPECT_TRUE(usedDefault);
  std::string out;
  EXPECT_FALSE(utf8ToAnsiStrict("\xC0\xAF", out));  // overlong form
  EXPECT_TRUE(utf8ToAnsiStrict("ok \xC3\xA9", out));
  EXPECT_EQ(out, "ok \xC3\xA9");
}

TEST(CodePage, CaseMappingKeepsByteLength) {
  EXPECT_EQ(ansiLower("ABC xyz 123"), "abc xyz 123");
  EXPECT_EQ(ansiUpper("abc XYZ"), "ABC XYZ");
  EXPECT_EQ(ansiLower("\xC3\x84\xC3\x96\xC3\x9C"), "\xC3\xA4\xC3\xB6\xC3\xBC");  // ÄÖÜ -> äöü
  EXPECT_EQ(ansiLower("\xD0\x96"), "\xD0\xB6");                                  // Cyrillic Zhe
  // U+0130 (2 bytes) lower-cases to "i" (1 byte): kept as it is.
  EXPECT_EQ(ansiLower("\xC4\xB0"), "\xC4\xB0");
  // U+023A (2 bytes) lower-cases to U+2C65 (3 bytes): kept.
  EXPECT_EQ(ansiLower("\xC8\xBA"), "\xC8\xBA");
  // Invalid bytes pass through untouched.
  EXPECT_EQ(ansiLower("A\xFF" "B"), "a\xFF" "b");
  for (const char* sample : {"Stra\xC3\x9F" "e", "\xE1\xBA\x9E", "MiXeD \xC3\x89t\xC3\xA9"}) {
    EXPECT_EQ(ansiLower(sample).size(), std::string(sample).size()) << sample;
    EXPECT_EQ(ansiUpper(sample).size(), std::string(sample).size()) << sample;
  }
}
