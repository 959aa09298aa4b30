#include "common/ansi_string.h"

#include <cstring>
#include <new>

#include "platform/interlocked.h"
#include "platform/shared_memory.h"

namespace corvane {

AnsiString::AnsiString(std::string_view text) {
  if (text.empty()) return;
  auto* block = static_cast<char*>(platform::sharedAlloc(sizeof(StringHeader) + text.size() + 1));
  if (block == nullptr) throw std::bad_alloc();
  auto* header = reinterpret_cast<StringHeader*>(block);
  header->refCount = 1;
  header->length = static_cast<int32_t>(text.size());
  chars_ = block + sizeof(StringHeader);
  std::memcpy(chars_, text.data(), text.size());
  chars_[text.size()] = '\0';
}

AnsiString::AnsiString(const AnsiString& other) noexcept : chars_(other.chars_) {
  if (chars_) platform::interlockedIncrement(Header(chars_)->refCount);
}

AnsiString& AnsiString::operator=(const AnsiString& other) noexcept {
  if (chars_ != other.chars_) {
    if (other.chars_) platform::interlockedIncrement(Header(other.chars_)->refCount);
    Release(std::exchange(chars_, other.chars_));
  }
  return *this;
}

AnsiString& AnsiString::operator=(AnsiString&& other) noexcept {
  if (this != &other) Release(std::exchange(chars_, std::exchange(other.chars_, nullptr)));
  return *this;
}

void AnsiString::MakeShared(std::string_view text, AnsiString& first, AnsiString& second) {
  AnsiString made(text);
  if (made.chars_ != nullptr) Header(made.chars_)->refCount = 2;
  Release(std::exchange(second.chars_, made.chars_));
  first = std::move(made);
}

void AnsiString::ReleaseBoth(AnsiString& first, AnsiString& second) noexcept {
  char* a = std::exchange(first.chars_, nullptr);
  char* b = std::exchange(second.chars_, nullptr);
  if (a != nullptr && a == b && platform::interlockedRead(Header(a)->refCount) == 2) {
    // Both references are these two: nobody else can take another.
    platform::sharedFree(Header(a));
    return;
  }
  Release(a);
  Release(b);
}

AnsiString AnsiString::Share(const char* chars) noexcept {
  AnsiString shared;
  if (chars != nullptr) {
    platform::interlockedIncrement(Header(chars)->refCount);
    shared.chars_ = const_cast<char*>(chars);
  }
  return shared;
}

void AnsiString::ReleaseBlock(char* chars) noexcept {
  StringHeader* header = Header(chars);
  const int32_t count = platform::interlockedRead(header->refCount);
  if (count < 0) return;  // a constant, never freed
  // The only reference: nobody else can take another, so no locked
  // decrement is needed.
  if (count == 1 || platform::interlockedDecrement(header->refCount) == 0) platform::sharedFree(header);
}

}  // namespace corvane
