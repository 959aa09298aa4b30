// The INI editor: reading by section and key, and edits that leave the rest
// of a hand-written file as it was.
#include <gtest/gtest.h>

#include <string>

#include "config/ini_file.h"

using namespace corvane;

TEST(IniFile, ReadsSectionsAndKeys) {
  const TIniFile file(
      "; settings\n"
      "orphan=before any section\n"
      "[Common]\n"
      "Left=314\n"
      "  Script file  =   C:\\a b.py \n"
      "# Width=1\n"
      "Empty=\n"
      "[ other ]\n"
      "Left=1\n"
      "[common]\n"
      "Top=5\n");
  EXPECT_EQ(file.Read("Common", "Left"), "314");
  EXPECT_EQ(file.Read("COMMON", "script FILE"), "C:\\a b.py ") << "blanks after '=' go, trailing ones stay";
  EXPECT_EQ(file.Read("Common", "Empty"), "");
  EXPECT_FALSE(file.Read("Common", "Width")) << "a comment line";
  EXPECT_FALSE(file.Read("Common", "orphan"));
  EXPECT_EQ(file.Read("other", "Left"), "1");
  EXPECT_FALSE(file.Read("Common", "Top")) << "a repeated section is read at its first occurrence";
  EXPECT_FALSE(file.Read("Missing", "Left"));
  EXPECT_FALSE(file.Modified());
}

TEST(IniFile, EditsChangeOnlyTheirLines) {
  TIniFile file("; by hand\r\n[Common]\r\nLeft = 314\r\n\r\n[Other]\r\nkeep=this\r\nodd line\r\n");
  file.Write("common", "left", "314");
  EXPECT_FALSE(file.Modified()) << "the same value is no change";
  file.Write("Common", "Left", "20");
  EXPECT_TRUE(file.Delete("Other", "keep"));
  EXPECT_FALSE(file.Delete("Other", "keep"));
  file.Write("New", "Key", "v");
  EXPECT_EQ(file.Text(), "; by hand\r\n[Common]\r\nLeft = 20\r\n\r\n[Other]\r\nodd line\r\n\r\n[New]\r\nKey=v\r\n");
}

TEST(IniFile, LineEndsFollowTheFile) {
  TIniFile unix("[A]\nx=1");
  unix.Write("A", "y", "2");
  EXPECT_EQ(unix.Text(), "[A]\nx=1\ny=2") << "LF, and still no line end at the end";

  TIniFile fresh;
  fresh.Write("Common", "Left", "1");
  fresh.Write("Common", "Top", "2");
  EXPECT_EQ(fresh.Text(), "[Common]\r\nLeft=1\r\nTop=2\r\n");

  TIniFile marked("\xEF\xBB\xBF[Common]\nLeft=1\n");
  EXPECT_EQ(marked.Read("Common", "Left"), "1") << "a byte order mark before the first header";
  marked.Write("Common", "Left", "2");
  EXPECT_EQ(marked.Text(), "\xEF\xBB\xBF[Common]\nLeft=2\n");
}

TEST(IniFile, EditsKeepTheLineEndsOfOtherLines) {
  // A file edited by hand in more than one editor: each line keeps its own
  // end, and a carriage return that belongs to a value stays with it.
  const std::string text = "[A]\r\nx=1\nvalue=ends in CR\r\r\n[B]\ny=2\r";
  EXPECT_EQ(TIniFile(text).Text(), text);
  EXPECT_EQ(TIniFile(text).Read("A", "value"), "ends in CR\r");

  TIniFile file(text);
  file.Write("A", "x", "10");
  EXPECT_EQ(file.Text(), "[A]\r\nx=10\nvalue=ends in CR\r\r\n[B]\ny=2\r");
  file.Write("B", "z", "3");
  EXPECT_EQ(file.Text(), "[A]\r\nx=10\nvalue=ends in CR\r\r\n[B]\ny=2\r\nz=3\r") << "new lines take the first line's end";
  EXPECT_TRUE(file.Delete("B", "z"));
  EXPECT_EQ(file.Text(), "[A]\r\nx=10\nvalue=ends in CR\r\r\n[B]\ny=2\r");
  EXPECT_EQ(TIniFile(file.Text()).Read("A", "value"), "ends in CR\r");

  // The file's last line holds such a value: lines added after it, and a
  // last line removed after it, must not turn its CR into a line end.
  TIniFile last("[B]\ny=ends in CR\r\r");
  last.Write("B", "z", "3");
  EXPECT_EQ(last.Text(), "[B]\ny=ends in CR\r\r\nz=3\r");
  EXPECT_EQ(TIniFile(last.Text()).Read("B", "y"), "ends in CR\r");
  EXPECT_TRUE(last.Delete("B", "z"));
  EXPECT_EQ(last.Text(), "[B]\ny=ends in CR\r\r");
  TIniFile unterminated("[B]\ny=ends in CR\r\r\nz=3");
  EXPECT_TRUE(unterminated.Delete("B", "z"));
  EXPECT_EQ(TIniFile(unterminated.Text()).Read("B", "y"), "ends in CR\r");
}

TEST(IniFile, RefusesWhatWouldBreakTheFile) {
  TIniFile file;
  EXPECT_THROW(file.Write("A", "k", "two\nlines"), std::invalid_argument);
  EXPECT_THROW(file.Write("A", "a=b", "v"), std::invalid_argument);
  EXPECT_THROW(file.Write("A", " ", "v"), std::invalid_argument);
  EXPECT_THROW(file.Write("two\r\nlines", "k", "v"), std::invalid_argument) << "a section header of two lines";
  EXPECT_FALSE(file.Modified());
  EXPECT_EQ(file.Text(), "");
}

TEST(IniFile, RefusesKeysThatWouldNotReadBack) {
  // Such a line would read as a header, a comment or another key: the value
  // would be lost, and a header would take the section's later keys.
  const std::string text = "[A]\nfirst=1\nlast=2\n";
  TIniFile file(text);
  for (const char* key : {"[B]", "[B", ";k", "#k", "\xEF\xBB\xBFk"}) {
    EXPECT_THROW(file.Write("A", key, "v"), std::invalid_argument) << key;
  }
  EXPECT_FALSE(file.Modified());
  EXPECT_EQ(file.Text(), text);

  file.Write("A", "k[1]", "v");
  file.Write("A", "k;#", "w");
  const TIniFile reread(file.Text());
  EXPECT_EQ(reread.Read("A", "k[1]"), "v");
  EXPECT_EQ(reread.Read("A", "k;#"), "w");
  EXPECT_EQ(reread.Read("A", "last"), "2");
}
