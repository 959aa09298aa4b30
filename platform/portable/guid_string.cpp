// The registry form of a GUID, as StringFromGUID2 writes it.
#include <string>

#include "platform/guid.h"

namespace corvane::platform {

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case; every parameter list
// makes one, so it is formatted by hand.
std::string guidToString(const Guid& guid) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text(38, '-');
  size_t at = 0;
  const auto put = [&](uint32_t value, int digits) {
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) text[at++] = kDigits[(value >> shift) & 0xF];
  };
  text[at++] = '{';
  put(guid.data1, 8);
  ++at;
  put(guid.data2, 4);
  ++at;
  put(guid.data3, 4);
  ++at;
  put(guid.data4[0], 2);
  put(guid.data4[1], 2);
  ++at;
  for (int i = 2; i < 8; ++i) put(guid.data4[i], 2);
  text[at] = '}';
  return text;
}

}  // namespace corvane::platform
