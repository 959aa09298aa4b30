// Globally unique identifiers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/abi.h"

namespace corvane::platform {

struct Guid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
  friend bool operator==(const Guid&, const Guid&) = default;
};
static_assert(sizeof(Guid) == 16);

// A random (version 4) GUID from the system's cryptographic random source;
// throws OsError when the source fails.
CV_PLATFORM_API Guid createGuid();
// Registry form: 38 characters, braces, hyphens, upper-case hexadecimal.
inline constexpr size_t kGuidTextLength = 38;
CV_PLATFORM_API std::string guidToString(const Guid& guid);
// The same characters into text, without a terminating zero.
CV_PLATFORM_API void guidToChars(const Guid& guid, char (&text)[kGuidTextLength]);

}  // namespace corvane::platform
