// The registry form of a GUID, as StringFromGUID2 writes it.
#include <string>

#include "platform/guid.h"

namespace corvane::platform {

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case; every parameter list
// makes one, so it is formatted by hand.
void guidToChars(const Guid& guid, char (&text)[kGuidTextLength]) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  size_t at = 0;
  const auto put = [&](uint32_t value, int digits) {
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) text[at++] = kDigits[(value >> shift) & 0xF];
  };
  text[at++] = '{';
  put(guid.data1, 8);
  text[at++] = '-';
  put(guid.data2, 4);
  text[at++] = '-';
  put(guid.data3, 4);
  text[at++] = '-';
  put(guid.data4[0], 2);
  put(guid.data4[1], 2);
  text[at++] = '-';
  for (int i = 2; i < 8; ++i) put(guid.data4[i], 2);
  text[at] = '}';
}

std::string guidToString(const Guid& guid) {
  char text[kGuidTextLength];
  guidToChars(guid, text);
  return std::string(text, sizeof text);
}

}  // namespace corvane::platform
