// Conversions between module property values (OLE variants) and the field
// types of the module object.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ole_variant.h"

namespace corvane {

platform::OleVariant TextValue(std::string_view text);
platform::OleVariant SignedByteValue(int8_t value);
// A handle as uint32 where it fits (always on 32-bit systems), else int64.
platform::OleVariant HandleValue(uintptr_t handle);

// Empty gives the empty text, booleans "True" and "False"; nullopt when the
// value cannot be converted.
std::optional<std::string> TextOf(const platform::Variant& value);
std::optional<bool> BoolOf(const platform::Variant& value);
std::optional<int64_t> IntegerOf(const platform::Variant& value);

}  // namespace corvane
