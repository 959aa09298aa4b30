#include <gtest/gtest.h>

#include "plugin/custom_commands.h"

using corvane::TkivPluginCustomCmdList;

TEST(CustomCommands, TextRoundTrip) {
  TkivPluginCustomCmdList list;
  EXPECT_EQ(list.GetText(), "");
  list.Add("RESET", "Reset counters", "", true, false);
  list.Add("DUMP", "Dump", "to file", false, true);
  const std::string text = list.GetText();
  EXPECT_EQ(text, "RESET|Reset counters||1|0\r\nDUMP|Dump|to file|0|1\r\n");

  TkivPluginCustomCmdList copy;
  copy.AddFromText(text);
  ASSERT_EQ(copy.Count(), 2);
  EXPECT_EQ(copy.GetText(), text);
  copy.AddFromText(text);
  EXPECT_EQ(copy.Count(), 4) << "adding the same text twice lists every command twice";
}

TEST(CustomCommands, ParsingRules) {
  TkivPluginCustomCmdList list;
  list.AddFromText(
      "four|fields|only|1\r\n"
      "\n"
      "six|a|b|1|1|ignored\r"
      "flags|x|y|01|true\n"
      "last|p|q|1|0");
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list.Items(0).Name, "six");
  EXPECT_TRUE(list.Items(0).FirstFlag);
  EXPECT_TRUE(list.Items(0).SecondFlag);
  EXPECT_FALSE(list.Items(1).FirstFlag) << "\"01\" is not \"1\"";
  EXPECT_FALSE(list.Items(1).SecondFlag) << "\"true\" is not \"1\"";
  EXPECT_EQ(list.Items(2).Name, "last");
  EXPECT_EQ(list.Items(2).SecondText, "q");
}
