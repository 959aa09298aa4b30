// The script bench's output: values written as JSON, and the unified diff
// against an expected output.
#include <gtest/gtest.h>

#include "host/text_diff.h"
#include "host/variant_json.h"
#include "platform/code_page.h"

using namespace corvane::host;
using corvane::platform::OleVariant;

namespace {

std::string json(const OleVariant& value) { return VariantToJson(value.raw()).dump(); }

std::vector<std::string> numbered(int from, int to) {
  std::vector<std::string> lines;
  for (int i = from; i <= to; ++i) lines.push_back("line " + std::to_string(i));
  return lines;
}

}  // namespace

TEST(BenchValues, VariantsBecomeJsonByType) {
  EXPECT_EQ(json(OleVariant()), "null");
  EXPECT_EQ(json(OleVariant::null()), "null");
  EXPECT_EQ(json(OleVariant::fromI4(-7)), "-7");
  EXPECT_EQ(json(OleVariant::fromI8(int64_t{1} << 40)), "1099511627776");
  EXPECT_EQ(json(OleVariant::fromUI1(200)), "200");
  EXPECT_EQ(json(OleVariant::fromR8(2.0)), "2.0");  // a real stays a real
  EXPECT_EQ(json(OleVariant::fromR8(0.1)), "0.1");
  EXPECT_EQ(json(OleVariant::fromBool(true)), "true");
  EXPECT_EQ(json(OleVariant::fromString(u"Gr\u00FC\u00DFe")), "\"Gr\xC3\xBC\xC3\x9F" "e\"");  // UTF-8
  EXPECT_EQ(json(OleVariant::fromCurrency(12345)), "\"1.2345\"");  // other types as their text

  corvane::platform::SafeArray* array = corvane::platform::safeArrayCreateVector(corvane::platform::vtUI1, 0, 3);
  uint8_t* bytes = nullptr;
  corvane::platform::safeArrayAccessData(array, reinterpret_cast<void**>(&bytes));
  bytes[0] = 1, bytes[1] = 2, bytes[2] = 255;
  corvane::platform::safeArrayUnaccessData(array);
  corvane::platform::Variant raw{};
  raw.vt = corvane::platform::vtArray | corvane::platform::vtUI1;
  raw.parray = array;
  OleVariant owned = OleVariant::adopt(raw);
  EXPECT_EQ(json(owned), "[1,2,255]");
}

TEST(BenchValues, JsonAndCommandLineValuesBecomeVariants) {
  EXPECT_EQ(JsonToVariant(Json(5)).type(), corvane::platform::vtI4);
  EXPECT_EQ(JsonToVariant(Json(int64_t{1} << 33)).type(), corvane::platform::vtI8);
  EXPECT_EQ(JsonToVariant(Json(1.5)).type(), corvane::platform::vtR8);
  EXPECT_THROW(JsonToVariant(Json::object()), std::invalid_argument);
  EXPECT_EQ(CommandLineValue("42").raw().lVal, 42);
  EXPECT_EQ(CommandLineValue("true").type(), corvane::platform::vtBool);
  EXPECT_EQ(json(CommandLineValue("\"42\"")), "\"42\"");
  EXPECT_EQ(json(CommandLineValue("COM3")), "\"COM3\"");
  EXPECT_EQ(json(CommandLineValue("[1]")), "\"[1]\"");  // structures stay text
}

TEST(BenchDiff, EqualTextsHaveNoDiff) {
  EXPECT_EQ(UnifiedDiff(numbered(1, 5), numbered(1, 5), "a", "b"), "");
  EXPECT_EQ(SplitLines("x\r\ny\n"), (std::vector<std::string>{"x", "y"}));
}

TEST(BenchDiff, AChangeShowsThreeLinesOfContext) {
  auto actual = numbered(1, 10);
  actual[4] = "changed";
  EXPECT_EQ(UnifiedDiff(numbered(1, 10), actual, "expected.jsonl", "actual output"),
            "--- expected.jsonl\n+++ actual output\n@@ -2,7 +2,7 @@\n line 2\n line 3\n line 4\n-line 5\n+changed\n"
            " line 6\n line 7\n line 8\n");
}

TEST(BenchDiff, InsertionsAndRemovalsAtTheEdges) {
  auto longer = numbered(1, 3);
  longer.insert(longer.begin(), "first");
  EXPECT_EQ(UnifiedDiff(numbered(1, 3), longer, "a", "b"), "--- a\n+++ b\n@@ -1,3 +1,4 @@\n+first\n line 1\n line 2\n line 3\n");
  EXPECT_EQ(UnifiedDiff(numbered(1, 2), {}, "a", "b"), "--- a\n+++ b\n@@ -1,2 +0,0 @@\n-line 1\n-line 2\n");
  EXPECT_EQ(UnifiedDiff(numbered(1, 5), numbered(1, 4), "a", "b"), "--- a\n+++ b\n@@ -2,4 +2,3 @@\n line 2\n line 3\n line 4\n-line 5\n");
}

TEST(BenchDiff, ChangesFarApartMakeTwoHunksAndNearOnesOne) {
  auto far = numbered(1, 20);
  far[1] = "x";
  far[17] = "y";
  const std::string two = UnifiedDiff(numbered(1, 20), far, "a", "b");
  EXPECT_NE(two.find("@@ -1,5 +1,5 @@\n line 1\n-line 2\n+x\n"), std::string::npos) << two;
  EXPECT_NE(two.find("@@ -15,6 +15,6 @@\n line 15\n line 16\n line 17\n-line 18\n+y\n line 19\n line 20\n"),
            std::string::npos)
      << two;
  auto near = numbered(1, 20);
  near[5] = "x";
  near[10] = "y";
  const std::string one = UnifiedDiff(numbered(1, 20), near, "a", "b");
  EXPECT_EQ(one.find("@@", one.find("@@") + 2 + one.substr(one.find("@@") + 2).find("@@") + 2), std::string::npos) << one;
  EXPECT_NE(one.find("@@ -3,12 +3,12 @@"), std::string::npos) << one;
}
