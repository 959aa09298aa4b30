#include <gtest/gtest.h>

#include "plugin/parser_items.h"

using namespace corvane;

TEST(ParserItems, TypeNames) {
  std::string joined;
  for (uint8_t i = 0; i < ParserItemTypeCount; ++i) joined += std::string(ParserItemTypeName(i)) + "|";
  EXPECT_EQ(joined, ParserItemTypesText);
  EXPECT_EQ(ParserItemTypeName(17), "");
  EXPECT_EQ(ParserItemTypeName(200), "");
  EXPECT_EQ(ParserItemTypeIndex("float"), 5);
  EXPECT_EQ(ParserItemTypeIndex("CURRENCY"), 16);
  EXPECT_EQ(ParserItemTypeIndex("Float "), 17);
  EXPECT_EQ(ParserItemTypeIndex(""), 17);
}

TEST(ParserItems, ReadingRules) {
  TParserItems items;
  items.SetParserItems(
      "Temperature|temp|FLOAT\r\n"
      "\r\n"
      "Counter|count|Integer|unit=pcs|more\n"
      "Raw|raw|Unknown|x\r"
      "Plain|plain\r\n"
      "stop here\r\n"
      "After|after|String|\r\n",
      true);
  ASSERT_EQ(items.Count(), 4) << "a line of one field ends the reading";
  EXPECT_EQ(items.Items(0).Description, "Temperature");
  EXPECT_EQ(items.Items(0).Name, "temp");
  EXPECT_EQ(items.Items(0).Type, 5);
  EXPECT_EQ(items.Items(0).Extra, "");
  EXPECT_EQ(items.Items(1).Type, 8);
  EXPECT_EQ(items.Items(1).Extra, "unit=pcs");
  EXPECT_EQ(items.Items(2).Type, 17);
  EXPECT_EQ(items.Items(3).Name, "plain");
  EXPECT_EQ(items.Items(3).Type, 17);

  // Appending keeps what is there; replacing clears first, also for no items.
  items.SetParserItems("A|a|Word", false);
  EXPECT_EQ(items.Count(), 5);
  items.SetParserItems("", true);
  EXPECT_EQ(items.Count(), 0);
}

TEST(ParserItems, TextRoundTrip) {
  TParserItems items;
  items.Add({"temp", "Temperature", 5, ""});
  items.Add({"raw", "Raw value", ParserItemNoType, "hex"});
  const std::string text = items.GetParserItemsText();
  EXPECT_EQ(text, "Temperature|temp|Float|\r\nRaw value|raw||hex\r\n");
  TParserItems copy;
  copy.SetParserItems(text, true);
  ASSERT_EQ(copy.Count(), 2);
  EXPECT_EQ(copy.Items(1).Type, ParserItemNoType);
  EXPECT_EQ(copy.GetParserItemsText(), text);
}
