#include "common/hash_list.h"

#include <xxhash.h>

#include "platform/code_page.h"

namespace corvane {

uint32_t HashStringKey(std::string_view key) {
  if (key.empty()) return 0;
  return XXH32(key.data(), key.size(), 0);
}

uint32_t HashPtrUIntKey(uintptr_t key) {
  // The 32-bit build hashes the key's own four bytes (little-endian); the
  // 64-bit build hashes the same four low bytes so that a key hashes alike
  // everywhere. Equality still compares the whole key.
  const auto low = static_cast<uint32_t>(key);
  const unsigned char bytes[4] = {static_cast<unsigned char>(low), static_cast<unsigned char>(low >> 8),
                                  static_cast<unsigned char>(low >> 16), static_cast<unsigned char>(low >> 24)};
  return XXH32(bytes, sizeof bytes, 0);
}

TKeyItem<std::string> MakeStringKeyItem(std::string_view key, bool caseSensitive) {
  TKeyItem<std::string> item;
  item.Key = caseSensitive ? std::string(key) : platform::ansiLower(key);
  item.Hash = HashStringKey(item.Key);
  return item;
}

TKeyItem<uintptr_t> MakePtrUIntKeyItem(uintptr_t key) {
  TKeyItem<uintptr_t> item;
  item.Key = key;
  item.Hash = HashPtrUIntKey(key);
  return item;
}

void TkivStringWideStringHashList::Add(std::string_view key, std::u16string value) {
  // Held here until the list has taken it, so a failing Add frees it.
  auto owned = std::make_unique<std::u16string>(std::move(value));
  Base::Add(key, owned.get());
  owned.release();
}

bool TkivStringWideStringHashList::Find(std::string_view key, std::u16string& value) const {
  std::u16string* stored = nullptr;
  if (!Base::Find(key, stored)) return false;
  value = *stored;
  return true;
}

std::u16string TkivStringWideStringHashList::Get(std::string_view key) const {
  const std::u16string* stored = Base::Get(key);
  return stored ? *stored : std::u16string();
}

std::u16string TkivStringWideStringHashList::Extract(std::string_view key) {
  std::unique_ptr<std::u16string> stored(Base::Extract(key));
  return stored ? std::move(*stored) : std::u16string();
}

}  // namespace corvane
