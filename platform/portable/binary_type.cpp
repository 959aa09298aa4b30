// The kind of program a file holds, read from its header (the part of the
// system's binary type query the module needs): a PE image's machine field tells a 32-bit
// from a 64-bit Windows program; ELF images and DOS programs are "other";
// anything unreadable or without a known header is "unknown".
#include <array>
#include <cstdint>
#include <fstream>

#include "platform/portable/binary_type.h"

namespace corvane::platform {
namespace {

constexpr uint16_t kMachineI386 = 0x014C;
constexpr uint16_t kMachineAmd64 = 0x8664;
constexpr std::streamoff kPeOffsetField = 0x3C;
constexpr uint32_t kMaxPeOffset = 0x10000000;  // beyond any real header

uint32_t littleEndian(const unsigned char* bytes, int count) {
  uint32_t value = 0;
  for (int i = count - 1; i >= 0; --i) value = value << 8 | bytes[i];
  return value;
}

bool readAt(std::ifstream& file, std::streamoff offset, unsigned char* buffer, std::streamsize size) {
  file.clear();
  file.seekg(offset);
  file.read(reinterpret_cast<char*>(buffer), size);
  return file.gcount() == size;
}

}  // namespace

BinaryType binaryTypeFromHeader(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return BinaryType::Unknown;
  std::array<unsigned char, 4> magic{};
  if (!readAt(file, 0, magic.data(), 4)) return BinaryType::Unknown;
  if (magic[0] == 0x7F && magic[1] == 'E' && magic[2] == 'L' && magic[3] == 'F')
    return BinaryType::Other;
  if (magic[0] != 'M' || magic[1] != 'Z') return BinaryType::Unknown;

  // An MZ header without a valid PE header behind it is a DOS program.
  std::array<unsigned char, 4> offsetField{};
  if (!readAt(file, kPeOffsetField, offsetField.data(), 4)) return BinaryType::Other;
  const uint32_t peOffset = littleEndian(offsetField.data(), 4);
  if (peOffset > kMaxPeOffset) return BinaryType::Other;
  std::array<unsigned char, 6> peHeader{};
  if (!readAt(file, peOffset, peHeader.data(), 6)) return BinaryType::Other;
  if (peHeader[0] != 'P' || peHeader[1] != 'E' || peHeader[2] != 0 || peHeader[3] != 0)
    return BinaryType::Other;
  switch (littleEndian(peHeader.data() + 4, 2)) {
    case kMachineI386: return BinaryType::Windows32;
    case kMachineAmd64: return BinaryType::Windows64;
    default: return BinaryType::Other;
  }
}

}  // namespace corvane::platform
