// The options dialog's code resource: one gzip member whose text is the
// event code, the form resource's name and the settings item list, the
// three separated by CR LF CR LF "<=======>" CR LF CR LF; each item line
// ends with CR LF. Pure C++ and zlib (no platform code), so the build-time
// resource tool that writes the resource compiles it too.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

inline constexpr std::string_view CodeResourceSeparator = "\r\n\r\n<=======>\r\n\r\n";

struct TCodeResource {
  std::string Text;  // the whole decompressed text
  std::string Code;
  std::string FormName;
  std::vector<std::string> Items;
};

// Not a gzip member, a damaged one, or a text without its three parts.
class ECodeResourceError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One gzip member holding the text, compressed as well as zlib can.
std::string GzipMember(std::string_view text);
// Decompresses one gzip member (at most maxSize bytes of text).
std::string GunzipMember(std::string_view member, size_t maxSize = 16u * 1024u * 1024u);
TCodeResource ReadCodeResource(std::string_view member);

}  // namespace corvane
