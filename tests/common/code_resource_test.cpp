// The code resource: one gzip member holding the code, the form name and the
// item lines.
#include <gtest/gtest.h>

#include <string>

#include "common/code_resource.h"

using namespace corvane;

namespace {

const std::string kSeparator(CodeResourceSeparator);

}  // namespace

TEST(CodeResource, ReadsItsThreeParts) {
  const std::string text = "<code/>" + kSeparator + "TFRMOPTION" + kSeparator + "Left,Left\r\n\r\nTop,Top\r\n";
  const TCodeResource resource = ReadCodeResource(GzipMember(text));
  EXPECT_EQ(resource.Text, text);
  EXPECT_EQ(resource.Code, "<code/>");
  EXPECT_EQ(resource.FormName, "TFRMOPTION");
  EXPECT_EQ(resource.Items, (std::vector<std::string>{"Left,Left", "", "Top,Top"}));

  const TCodeResource unnamed = ReadCodeResource(GzipMember("c" + kSeparator + kSeparator + "x"));
  EXPECT_EQ(unnamed.FormName, "");
  EXPECT_EQ(unnamed.Items, (std::vector<std::string>{"x"}));
}

TEST(CodeResource, RefusesWhatIsNotOne) {
  EXPECT_THROW(ReadCodeResource("not gzip"), ECodeResourceError);
  const std::string member = GzipMember("c" + kSeparator + "n" + kSeparator);
  EXPECT_THROW(ReadCodeResource(member.substr(0, member.size() - 5)), ECodeResourceError) << "cut off";
  EXPECT_THROW(ReadCodeResource(GzipMember("c" + kSeparator + "no second separator")), ECodeResourceError);
  EXPECT_THROW(GunzipMember(GzipMember(std::string(100000, 'x')), 1000), ECodeResourceError) << "beyond the limit";

  // The second separator may not share the first one's line breaks: the
  // form name would run on over the separator and the items.
  const std::string shared = "c" + kSeparator + "<=======>\r\n\r\nitem\r\n";
  EXPECT_THROW(ReadCodeResource(GzipMember(shared)), ECodeResourceError);
}
