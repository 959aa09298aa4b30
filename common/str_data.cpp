#include "common/str_data.h"

namespace corvane {
namespace {

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string EncodeStrDataLine(std::string_view utf8Line, std::string_view utf8Key) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(utf8Line.size() * 2);
  for (size_t i = 0; i < utf8Line.size(); ++i) {
    auto byte = static_cast<unsigned char>(utf8Line[i]);
    if (!utf8Key.empty()) byte ^= static_cast<unsigned char>(utf8Key[i % utf8Key.size()]);
    hex += digits[byte >> 4];
    hex += digits[byte & 15];
  }
  return hex;
}

std::optional<std::string> DecodeStrDataLine(std::string_view hex, std::string_view utf8Key) {
  if (hex.size() % 2 != 0) return std::nullopt;
  std::string line;
  line.reserve(hex.size() / 2);
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int high = hexDigit(hex[i]);
    const int low = hexDigit(hex[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    auto byte = static_cast<unsigned char>(high * 16 + low);
    if (!utf8Key.empty()) byte ^= static_cast<unsigned char>(utf8Key[(i / 2) % utf8Key.size()]);
    line += static_cast<char>(byte);
  }
  return line;
}

}  // namespace corvane
