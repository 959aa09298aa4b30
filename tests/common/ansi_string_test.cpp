#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "common/ansi_string.h"

using corvane::AnsiString;

TEST(AnsiString, SharedLayoutAndSharing) {
  AnsiString empty;
  EXPECT_EQ(empty.data(), nullptr) << "the empty string is the null pointer";
  EXPECT_STREQ(empty.c_str(), "");
  EXPECT_TRUE(AnsiString("").empty());

  AnsiString text(std::string_view("ab\0c", 4));
  const char* chars = text.data();
  int32_t length, count;
  std::memcpy(&length, chars - 4, 4);
  std::memcpy(&count, chars - 8, 4);
  EXPECT_EQ(length, 4);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(chars[4], '\0');
  EXPECT_EQ(text.view(), std::string_view("ab\0c", 4));

  AnsiString copy = text;
  EXPECT_EQ(copy.data(), chars) << "copies share the block";
  EXPECT_EQ(text.RefCount(), 2);
  AnsiString shared = AnsiString::Share(chars);
  EXPECT_EQ(text.RefCount(), 3);
  copy = AnsiString("other");
  shared = std::move(copy);
  EXPECT_EQ(text.RefCount(), 1);
  char* detached = text.Detach();
  EXPECT_TRUE(text.empty());
  AnsiString::ReleaseChars(detached);
}

TEST(AnsiString, TextsMadeForTwoHolders) {
  AnsiString first("old"), second("older");
  AnsiString::MakeShared("pair", first, second);
  EXPECT_EQ(first, "pair");
  EXPECT_EQ(first.data(), second.data());
  EXPECT_EQ(first.RefCount(), 2);

  AnsiString third = first;
  AnsiString::ReleaseBoth(first, second);
  EXPECT_TRUE(first.empty() && second.empty());
  EXPECT_EQ(third, "pair") << "a third holder keeps the text";
  EXPECT_EQ(third.RefCount(), 1);

  AnsiString a("a"), b("b");
  AnsiString::ReleaseBoth(a, b);
  EXPECT_TRUE(a.empty() && b.empty());
  AnsiString none;
  AnsiString::MakeShared("", none, none);
  EXPECT_TRUE(none.empty());
}

TEST(AnsiString, ConcurrentCopiesKeepTheCount) {
  AnsiString text("shared between threads");
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        AnsiString copy = text;
        AnsiString again(copy);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(text.RefCount(), 1);
}
