#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "platform/guid.h"

using namespace corvane::platform;

namespace {

TEST(Guid, RegistryForm) {
  const Guid guid{0x0012ABCD, 0x00EF, 0x4001, {0x8A, 0x0B, 0x00, 0x01, 0xFE, 0xDC, 0xBA, 0x09}};
  EXPECT_EQ(guidToString(guid), "{0012ABCD-00EF-4001-8A0B-0001FEDCBA09}");
  EXPECT_EQ(guidToString(Guid{}), "{00000000-0000-0000-0000-000000000000}");
}

TEST(Guid, RandomVersionFourAllBitsVary) {
  const Guid first = createGuid();
  uint8_t firstBytes[16];
  std::memcpy(firstBytes, &first, 16);
  uint8_t varied[16] = {};
  std::set<std::string> seen;
  for (int i = 0; i < 500; ++i) {
    const Guid guid = createGuid();
    EXPECT_EQ(guid.data3 >> 12, 4);
    EXPECT_EQ(guid.data4[0] >> 6, 2);
    const std::string text = guidToString(guid);
    EXPECT_EQ(text[15], '4');
    seen.insert(text);
    uint8_t bytes[16];
    std::memcpy(bytes, &guid, 16);
    for (int b = 0; b < 16; ++b) varied[b] |= bytes[b] ^ firstBytes[b];
  }
  EXPECT_EQ(seen.size(), 500u);
  // Every bit but the six fixed ones changed at least once.
  uint8_t expected[16];
  std::memset(expected, 0xFF, 16);
  Guid mask{};
  std::memcpy(&mask, expected, 16);
  mask.data3 = 0x0FFF;
  mask.data4[0] = 0x3F;
  std::memcpy(expected, &mask, 16);
  EXPECT_EQ(std::memcmp(varied, expected, 16), 0);
}

}  // namespace
