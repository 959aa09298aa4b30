// POSIX backend: OLE strings. A string is one block from the C allocator:
// a 4-byte byte length, the UTF-16 code units, then two zero bytes. The
// handed-out pointer addresses the first code unit, so the length sits just
// before it. The backend is a shared library, so every module of the process
// allocates and frees these blocks with the same allocator.
#include <cstdlib>
#include <cstring>

#include "platform/allocation_faults.h"
#include "platform/ole_string.h"

namespace corvane::platform {
namespace {

constexpr size_t kPrefix = sizeof(uint32_t);
constexpr size_t kTerminator = sizeof(OleChar);
// Byte lengths at or above this limit are refused, as OLE refuses them.
constexpr uint32_t kMaxByteLength = 0x7FFFFFF0u;

unsigned char* blockOf(Bstr text) { return reinterpret_cast<unsigned char*>(text) - kPrefix; }

// A new string of byteLength bytes copied from bytes (zeros when null).
Bstr allocate(const void* bytes, uint32_t byteLength) {
  if (byteLength >= kMaxByteLength || refuseAllocation(Allocator::OleStrings)) return nullptr;
  auto* block = static_cast<unsigned char*>(std::malloc(kPrefix + byteLength + kTerminator));
  if (!block) return nullptr;
  std::memcpy(block, &byteLength, kPrefix);
  unsigned char* payload = block + kPrefix;
  if (bytes)
    std::memcpy(payload, bytes, byteLength);
  else
    std::memset(payload, 0, byteLength);
  payload[byteLength] = 0;
  payload[byteLength + 1] = 0;
  return reinterpret_cast<Bstr>(payload);
}

uint32_t unitsBefore(const OleChar* text) {
  uint32_t length = 0;
  while (text[length] != 0) ++length;
  return length;
}

}  // namespace

Bstr sysAllocString(const OleChar* text) {
  if (!text) return nullptr;
  return sysAllocStringLen(text, unitsBefore(text));
}

Bstr sysAllocStringLen(const OleChar* text, uint32_t length) {
  if (length >= kMaxByteLength / sizeof(OleChar)) return nullptr;
  return allocate(text, length * static_cast<uint32_t>(sizeof(OleChar)));
}

Bstr sysAllocStringByteLen(const char* bytes, uint32_t byteLength) { return allocate(bytes, byteLength); }

bool sysReAllocStringLen(Bstr* target, const OleChar* text, uint32_t length) {
  if (!target) return false;
  // The source may lie inside the string being replaced, so the copy is made
  // before the old block goes.
  Bstr replacement = sysAllocStringLen(text, length);
  if (!replacement) return false;
  sysFreeString(*target);
  *target = replacement;
  return true;
}

void sysFreeString(Bstr text) {
  if (text) std::free(blockOf(text));
}

uint32_t sysStringByteLen(Bstr text) {
  if (!text) return 0;
  uint32_t byteLength;
  std::memcpy(&byteLength, blockOf(text), kPrefix);
  return byteLength;
}

uint32_t sysStringLen(Bstr text) { return sysStringByteLen(text) / sizeof(OleChar); }

}  // namespace corvane::platform
