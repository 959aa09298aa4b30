// POSIX backend: 8-bit texts in Windows code pages, through the C library's
// iconv converters.
#include <errno.h>
#include <iconv.h>

#include <cstdio>

#include "platform/code_page.h"

namespace corvane::platform {
namespace {

// iconv's name for a Windows code page.
std::string converterName(uint32_t codePage) {
  switch (codePage) {
    case 874: return "CP874";
    case 932: return "CP932";
    case 936: return "GBK";
    case 949: return "CP949";
    case 950: return "BIG5";
    case 1361: return "JOHAB";
    default: return "CP" + std::to_string(codePage);
  }
}

class Converter {
 public:
  explicit Converter(const std::string& from) : handle_(::iconv_open("UTF-16LE", from.c_str())) {}
  ~Converter() {
    if (valid()) ::iconv_close(handle_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool valid() const { return handle_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return handle_; }

 private:
  iconv_t handle_;
};

}  // namespace

bool codePageToWide(uint32_t codePage, std::string_view text, std::u16string& out) {
  if (codePage == 65001) {
    out = utf8ToWide(text);
    return true;
  }
  Converter converter(converterName(codePage));
  if (!converter.valid()) return false;
  out.clear();
  std::string input(text);
  char* in = input.data();
  size_t inLeft = input.size();
  char buffer[1024];
  while (inLeft > 0) {
    char* next = buffer;
    size_t outLeft = sizeof buffer;
    const size_t done = ::iconv(converter.get(), &in, &inLeft, &next, &outLeft);
    const size_t produced = sizeof buffer - outLeft;
    for (size_t i = 0; i + 1 < produced; i += 2) {
      out += static_cast<char16_t>(static_cast<unsigned char>(buffer[i]) | (static_cast<unsigned char>(buffer[i + 1]) << 8));
    }
    if (done == static_cast<size_t>(-1) && errno != E2BIG) {
      // A byte without a mapping becomes a question mark, as on Windows.
      out += u'?';
      ++in;
      --inLeft;
    }
  }
  return true;
}

}  // namespace corvane::platform
