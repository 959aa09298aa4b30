// AnsiString: the reference-counted 8-bit string that parameter-list objects
// of the shared layout hold. The object is one pointer to the first character;
// the 32-bit length sits 4 bytes before it and the 32-bit reference count 8
// bytes before it; a zero byte follows the text. Blocks come from the shared
// memory manager, so a string made by the plug-in may be released by the host
// and the other way round. The empty string is the null pointer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace corvane {

class AnsiString {
 public:
  AnsiString() = default;
  explicit AnsiString(std::string_view text);
  AnsiString(const AnsiString& other) noexcept;
  AnsiString(AnsiString&& other) noexcept : chars_(std::exchange(other.chars_, nullptr)) {}
  AnsiString& operator=(const AnsiString& other) noexcept;
  AnsiString& operator=(AnsiString&& other) noexcept;
  ~AnsiString() { Release(chars_); }

  // A new text held by two strings at once. Nobody else can see it yet, so
  // its count starts at two instead of being raised by a locked increment.
  static void MakeShared(std::string_view text, AnsiString& first, AnsiString& second);
  // Empties both strings. When they hold one text that nobody else holds,
  // it is freed without locked operations.
  static void ReleaseBoth(AnsiString& first, AnsiString& second) noexcept;

  // Takes one more reference to a string given by its character pointer
  // (as found in another module's object or a variant payload).
  static AnsiString Share(const char* chars) noexcept;

  bool empty() const { return chars_ == nullptr; }
  int32_t size() const { return chars_ ? Header(chars_)->length : 0; }
  const char* c_str() const { return chars_ ? chars_ : ""; }
  const char* data() const { return chars_; }  // nullptr when empty
  std::string_view view() const { return {c_str(), static_cast<size_t>(size())}; }
  std::string str() const { return std::string(view()); }
  operator std::string_view() const { return view(); }  // NOLINT

  // Hands the reference out (for a variant payload); the string becomes empty.
  char* Detach() noexcept { return std::exchange(chars_, nullptr); }
  // Drops one reference of a detached character pointer.
  static void ReleaseChars(char* chars) noexcept { Release(chars); }

  int32_t RefCount() const { return chars_ ? Header(chars_)->refCount : 0; }

  friend bool operator==(const AnsiString& a, const AnsiString& b) { return a.view() == b.view(); }
  friend bool operator==(const AnsiString& a, std::string_view b) { return a.view() == b; }

 private:
  struct StringHeader {
    int32_t refCount;
    int32_t length;
  };
  static StringHeader* Header(const char* chars) {
    return reinterpret_cast<StringHeader*>(const_cast<char*>(chars) - sizeof(StringHeader));
  }
  static void Release(char* chars) noexcept {
    if (chars != nullptr) ReleaseBlock(chars);
  }
  static void ReleaseBlock(char* chars) noexcept;

  char* chars_ = nullptr;
};

static_assert(sizeof(AnsiString) == sizeof(void*), "an AnsiString is one pointer in shared objects");

}  // namespace corvane
