// The typed registry readers and writers, built on each backend's
// RegistryKey::readValue and writeValue: the same byte layouts everywhere
// (texts with their terminating zero, DWORDs little-endian).
#include <cstring>

#include "platform/os_error.h"
#include "platform/registry.h"

namespace corvane::platform {
namespace {

std::nullopt_t invalidData() {
  setLastErrorCode(kErrorInvalidData);
  return std::nullopt;
}

}  // namespace

std::optional<std::string> RegistryKey::readString(std::string_view name) const {
  std::optional<RegistryValue> value = readValue(name);
  if (!value) return std::nullopt;
  if (value->type != kRegSz && value->type != kRegExpandSz) return invalidData();
  // The text ends at its terminating zero; data written without one is taken whole.
  const auto* text = reinterpret_cast<const char*>(value->data.data());
  return std::string(text, ::strnlen(text, value->data.size()));
}

std::optional<uint32_t> RegistryKey::readDword(std::string_view name) const {
  std::optional<RegistryValue> value = readValue(name);
  if (!value) return std::nullopt;
  if (value->type != kRegDword || value->data.size() != 4) return invalidData();
  const std::vector<uint8_t>& d = value->data;
  return uint32_t{d[0]} | uint32_t{d[1]} << 8 | uint32_t{d[2]} << 16 | uint32_t{d[3]} << 24;
}

bool RegistryKey::writeString(std::string_view name, std::string_view text) {
  std::string data(text);
  return writeValue(name, kRegSz, data.c_str(), static_cast<uint32_t>(data.size() + 1));
}

bool RegistryKey::writeDword(std::string_view name, uint32_t value) {
  const uint8_t data[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                           static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  return writeValue(name, kRegDword, data, sizeof data);
}

bool RegistryKey::writeBinary(std::string_view name, const void* data, uint32_t size) {
  return writeValue(name, kRegBinary, data, size);
}

}  // namespace corvane::platform
