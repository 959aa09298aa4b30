#include "plugin/plugin_values.h"

#include "platform/code_page.h"
#include "platform/os_error.h"

namespace corvane {

using platform::OleVariant;
using platform::Variant;

OleVariant TextValue(std::string_view text) { return OleVariant::fromString(platform::ansiToWide(text)); }

OleVariant SignedByteValue(int8_t value) {
  Variant raw{};
  raw.vt = platform::vtI1;
  raw.cVal = value;
  return OleVariant::adopt(raw);
}

OleVariant HandleValue(uintptr_t handle) {
  const uint64_t wide = handle;
  if ((wide >> 32) != 0) return OleVariant::fromI8(static_cast<int64_t>(wide));
  return OleVariant::fromUI4(static_cast<uint32_t>(wide));
}

namespace {

std::optional<OleVariant> converted(const Variant& value, uint16_t type, uint16_t flags = 0) {
  Variant result{};
  platform::variantInit(&result);
  if (platform::failed(platform::variantChangeType(&result, &value, flags, type))) return std::nullopt;
  return OleVariant::adopt(result);
}

}  // namespace

std::optional<std::string> TextOf(const Variant& value) {
  if (value.vt == platform::vtEmpty) return std::string();
  // Booleans read as "True" and "False", not as numbers.
  std::optional<OleVariant> text = converted(value, platform::vtBstr, platform::kVariantAlphaBool);
  if (!text) return std::nullopt;
  const platform::Bstr bstr = text->raw().bstrVal;
  return platform::wideToAnsi(std::u16string_view(bstr ? bstr : u"", platform::sysStringLen(bstr)));
}

std::optional<bool> BoolOf(const Variant& value) {
  std::optional<OleVariant> flag = converted(value, platform::vtBool);
  if (!flag) return std::nullopt;
  return flag->raw().boolVal != 0;
}

std::optional<int64_t> IntegerOf(const Variant& value) {
  std::optional<OleVariant> number = converted(value, platform::vtI8);
  if (!number) return std::nullopt;
  return number->raw().llVal;
}

}  // namespace corvane
