#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <string>

#include "platform/ole_string.h"

namespace cp = corvane::platform;
using cp::Bstr;
using cp::OleString;

namespace {

uint32_t storedByteLength(Bstr text) {
  uint32_t length;
  std::memcpy(&length, reinterpret_cast<const char*>(text) - 4, 4);
  return length;
}

}  // namespace

TEST(OleString, LengthPrefixPrecedesTheTextAndTwoZeroBytesFollowIt) {
  const char16_t text[] = u"ab\0cd";
  Bstr s = cp::sysAllocStringLen(text, 5);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(storedByteLength(s), 10u);
  EXPECT_EQ(cp::sysStringLen(s), 5u);
  EXPECT_EQ(cp::sysStringByteLen(s), 10u);
  EXPECT_EQ(std::u16string(s, 5), std::u16string(text, 5));  // the embedded zero stays
  EXPECT_EQ(s[5], u'\0');
  cp::sysFreeString(s);
}

TEST(OleString, ZeroTerminatedInputStopsAtTheFirstZero) {
  Bstr s = cp::sysAllocString(u"hello");
  EXPECT_EQ(cp::sysStringLen(s), 5u);
  EXPECT_EQ(std::u16string(s), u"hello");
  cp::sysFreeString(s);
  EXPECT_EQ(cp::sysAllocString(nullptr), nullptr);
}

TEST(OleString, ByteLengthStringsKeepOddLengths) {
  Bstr s = cp::sysAllocStringByteLen("abc", 3);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(cp::sysStringByteLen(s), 3u);
  EXPECT_EQ(cp::sysStringLen(s), 1u);
  const char* bytes = reinterpret_cast<const char*>(s);
  EXPECT_EQ(std::string(bytes, 3), "abc");
  EXPECT_EQ(bytes[3], 0);
  EXPECT_EQ(bytes[4], 0);
  cp::sysFreeString(s);
}

TEST(OleString, NullSourcesAllocateTheRequestedLength) {
  Bstr units = cp::sysAllocStringLen(nullptr, 3);
  ASSERT_NE(units, nullptr);
  EXPECT_EQ(cp::sysStringLen(units), 3u);
  EXPECT_EQ(units[3], u'\0');
  cp::sysFreeString(units);

  Bstr empty = cp::sysAllocStringLen(u"", 0);
  ASSERT_NE(empty, nullptr);  // an empty string is still a string
  EXPECT_EQ(cp::sysStringLen(empty), 0u);
  cp::sysFreeString(empty);
}

TEST(OleString, NullIsTheEmptyStringForReadersAndFree) {
  EXPECT_EQ(cp::sysStringLen(nullptr), 0u);
  EXPECT_EQ(cp::sysStringByteLen(nullptr), 0u);
  cp::sysFreeString(nullptr);
}

TEST(OleString, ImpossibleLengthsAreRefused) {
  EXPECT_EQ(cp::sysAllocStringByteLen(nullptr, 0xFFFFFFFFu), nullptr);
  EXPECT_EQ(cp::sysAllocStringLen(nullptr, 0x80000000u), nullptr);
}

TEST(OleString, ReallocationMayCopyFromTheStringItReplaces) {
  Bstr s = cp::sysAllocString(u"hello");
  ASSERT_TRUE(cp::sysReAllocStringLen(&s, s + 1, 3));
  EXPECT_EQ(std::u16string(s, cp::sysStringLen(s)), u"ell");
  cp::sysFreeString(s);

  Bstr none = nullptr;
  ASSERT_TRUE(cp::sysReAllocStringLen(&none, nullptr, 2));
  EXPECT_EQ(cp::sysStringLen(none), 2u);
  cp::sysFreeString(none);
}

TEST(OleString, OwnerCopiesMovesReleasesAndResets) {
  OleString a(u"text");
  EXPECT_EQ(a.view(), u"text");
  EXPECT_EQ(a.length(), 4u);

  OleString b(std::move(a));
  EXPECT_EQ(a.get(), nullptr);
  EXPECT_EQ(a.view(), u"");
  EXPECT_EQ(b.view(), u"text");

  OleString c;
  c = std::move(b);
  EXPECT_EQ(c.view(), u"text");

  Bstr raw = c.release();
  EXPECT_EQ(c.get(), nullptr);
  OleString d = OleString::adopt(raw);
  EXPECT_EQ(d.get(), raw);

  d.reset(cp::sysAllocString(u"other"));
  EXPECT_EQ(d.view(), u"other");
  d.reset();
  EXPECT_EQ(d.get(), nullptr);

  OleString empty{std::u16string_view()};
  EXPECT_NE(empty.get(), nullptr);
  EXPECT_EQ(empty.length(), 0u);
}
