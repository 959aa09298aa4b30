// A module's version stamp on POSIX: the ELF section ".corvane_version",
// found through the section header table of a 32- or 64-bit ELF file.
#include <cstring>
#include <fstream>
#include <vector>

#include "platform/files.h"

namespace corvane::platform {
namespace {

constexpr char kSectionName[] = ".corvane_version";
constexpr uint64_t kMaxTableSize = 1u << 20;  // far beyond any real section table

class ElfReader {
 public:
  explicit ElfReader(const std::string& path) : file_(path, std::ios::binary) {}

  bool read(uint64_t offset, void* buffer, size_t size) {
    file_.clear();
    file_.seekg(static_cast<std::streamoff>(offset));
    file_.read(static_cast<char*>(buffer), static_cast<std::streamsize>(size));
    return file_.gcount() == static_cast<std::streamsize>(size);
  }
  // Little-endian unsigned of 2, 4 or 8 bytes at an offset inside a buffer.
  static uint64_t field(const std::vector<unsigned char>& bytes, size_t offset, size_t size) {
    uint64_t value = 0;
    for (size_t i = size; i-- > 0;) value = value << 8 | bytes.at(offset + i);
    return value;
  }

 private:
  std::ifstream file_;
};

struct Section {
  uint32_t name;
  uint64_t offset;
  uint64_t size;
};

}  // namespace

std::optional<FileVersion> fileVersion(const std::string& path) {
  ElfReader elf(path);
  std::vector<unsigned char> header(64);
  if (!elf.read(0, header.data(), 52)) return std::nullopt;
  if (std::memcmp(header.data(), "\x7F" "ELF", 4) != 0 || header[5] != 1) return std::nullopt;  // little-endian only
  const bool wide = header[4] == 2;
  if (wide && !elf.read(0, header.data(), 64)) return std::nullopt;

  const uint64_t tableOffset = ElfReader::field(header, wide ? 0x28 : 0x20, wide ? 8 : 4);
  const uint64_t entrySize = ElfReader::field(header, wide ? 0x3A : 0x2E, 2);
  const uint64_t count = ElfReader::field(header, wide ? 0x3C : 0x30, 2);
  const uint64_t namesIndex = ElfReader::field(header, wide ? 0x3E : 0x32, 2);
  if (entrySize < (wide ? 64u : 40u) || count == 0 || namesIndex >= count || entrySize * count > kMaxTableSize)
    return std::nullopt;

  std::vector<unsigned char> table(entrySize * count);
  if (!elf.read(tableOffset, table.data(), table.size())) return std::nullopt;
  const auto section = [&](uint64_t index) {
    const size_t at = index * entrySize;
    return Section{static_cast<uint32_t>(ElfReader::field(table, at, 4)),
                   ElfReader::field(table, at + (wide ? 0x18 : 0x10), wide ? 8 : 4),
                   ElfReader::field(table, at + (wide ? 0x20 : 0x14), wide ? 8 : 4)};
  };

  const Section names = section(namesIndex);
  if (names.size > kMaxTableSize) return std::nullopt;
  std::vector<char> nameTable(names.size + 1, '\0');
  if (!elf.read(names.offset, nameTable.data(), names.size)) return std::nullopt;

  for (uint64_t i = 0; i < count; ++i) {
    const Section candidate = section(i);
    if (candidate.name >= names.size || std::strcmp(&nameTable[candidate.name], kSectionName) != 0) continue;
    std::vector<unsigned char> stamp(8);
    if (candidate.size < stamp.size() || !elf.read(candidate.offset, stamp.data(), stamp.size())) return std::nullopt;
    FileVersion version{};
    for (size_t n = 0; n < version.size(); ++n) version[n] = static_cast<uint16_t>(ElfReader::field(stamp, n * 2, 2));
    return version;
  }
  return std::nullopt;
}

}  // namespace corvane::platform
