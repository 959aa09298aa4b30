// The line encoding of a string holder's streamed "StrData": a key text
// followed by one element per line, each the line's UTF-8 bytes, combined
// by exclusive or with the key's bytes (repeated) when the key is not
// empty, and written as lower-case hexadecimal pairs. Pure C++, shared with
// the build-time resource tool.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace corvane {

std::string EncodeStrDataLine(std::string_view utf8Line, std::string_view utf8Key);
// Nullopt for an odd length or a character that is no hexadecimal digit.
std::optional<std::string> DecodeStrDataLine(std::string_view hex, std::string_view utf8Key);

}  // namespace corvane
