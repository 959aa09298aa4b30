// OLE Automation strings: UTF-16 code units preceded by a 4-byte byte length,
// allocated by the one allocator that every module of the process shares, so
// that a string made by the plug-in can be freed by its host and vice versa.
#pragma once

#include <cstdint>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "platform/abi.h"

namespace corvane::platform {

using OleChar = char16_t;
using Bstr = OleChar*;  // points at the first code unit; nullptr is the empty string

CV_PLATFORM_API Bstr sysAllocString(const OleChar* text);  // zero-terminated input
CV_PLATFORM_API Bstr sysAllocStringLen(const OleChar* text, uint32_t length);  // text may be null
// Keeps odd byte lengths; null bytes give a zero-filled string.
CV_PLATFORM_API Bstr sysAllocStringByteLen(const char* bytes, uint32_t byteLength);
CV_PLATFORM_API bool sysReAllocStringLen(Bstr* target, const OleChar* text, uint32_t length);
CV_PLATFORM_API void sysFreeString(Bstr text);
CV_PLATFORM_API uint32_t sysStringLen(Bstr text);      // code units
CV_PLATFORM_API uint32_t sysStringByteLen(Bstr text);  // bytes

// Sole owner of one OLE string.
class OleString {
 public:
  OleString() = default;
  // A copy of text; throws std::bad_alloc when the allocator refuses.
  explicit OleString(std::u16string_view text)
      : text_(text.size() < 0x3FFFFFF0u ? sysAllocStringLen(text.data(), static_cast<uint32_t>(text.size()))
                                        : nullptr) {
    if (!text_) throw std::bad_alloc();
  }
  static OleString adopt(Bstr text) {
    OleString s;
    s.text_ = text;
    return s;
  }
  OleString(const OleString&) = delete;
  OleString& operator=(const OleString&) = delete;
  OleString(OleString&& other) noexcept : text_(std::exchange(other.text_, nullptr)) {}
  OleString& operator=(OleString&& other) noexcept {
    if (this != &other) reset(std::exchange(other.text_, nullptr));
    return *this;
  }
  ~OleString() { sysFreeString(text_); }

  Bstr get() const { return text_; }
  Bstr release() { return std::exchange(text_, nullptr); }
  void reset(Bstr text = nullptr) {
    sysFreeString(text_);
    text_ = text;
  }
  uint32_t length() const { return sysStringLen(text_); }
  std::u16string_view view() const { return {text_ ? text_ : u"", length()}; }

 private:
  Bstr text_ = nullptr;
};

}  // namespace corvane::platform
