// Win32 backend: the system's ANSI code page and the code pages of font
// character sets through the system's converters, and CharLowerBuffA /
// CharUpperBuffA for case, which keep the byte length by construction.
#include <windows.h>

#include <vector>

#include "platform/code_page.h"
#include "platform/portable/utf.h"

namespace corvane::platform {
namespace {

std::u16string toWide(UINT codePage, std::string_view text) {
  if (text.empty()) return {};
  const int length = ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::u16string wide(static_cast<size_t>(length), u'\0');
  ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()),
                        reinterpret_cast<wchar_t*>(wide.data()), length);
  return wide;
}

std::string fromWide(UINT codePage, std::u16string_view text, bool* usedDefault) {
  if (usedDefault) *usedDefault = false;
  if (text.empty()) return {};
  BOOL defaulted = FALSE;
  const bool utf = codePage == CP_UTF8;
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int length = ::WideCharToMultiByte(codePage, 0, wide, static_cast<int>(text.size()), nullptr, 0, nullptr,
                                           utf ? nullptr : &defaulted);
  std::string out(static_cast<size_t>(length), '\0');
  ::WideCharToMultiByte(codePage, 0, wide, static_cast<int>(text.size()), out.data(), length, nullptr,
                        utf ? nullptr : &defaulted);
  if (usedDefault) *usedDefault = defaulted != FALSE;
  return out;
}

}  // namespace

uint32_t ansiCodePage() { return ::GetACP(); }

std::u16string ansiToWide(std::string_view text) { return toWide(CP_ACP, text); }

std::string wideToAnsi(std::u16string_view text, bool* usedDefault) { return fromWide(CP_ACP, text, usedDefault); }

std::u16string utf8ToWide(std::string_view text) { return utf::utf8ToUtf16(text); }

std::string wideToUtf8(std::u16string_view text) { return utf::utf16ToUtf8(text); }

std::string ansiToUtf8(std::string_view text) { return utf::utf16ToUtf8(ansiToWide(text)); }

bool utf8ToAnsiStrict(std::string_view text, std::string& out) {
  bool invalid = false;
  const std::u16string wide = utf::utf8ToUtf16(text, &invalid);
  if (invalid) return false;
  out = wideToAnsi(wide);
  return true;
}

std::string utf8ToAnsi(std::string_view text) { return wideToAnsi(utf::utf8ToUtf16(text)); }

bool codePageToWide(uint32_t codePage, std::string_view text, std::u16string& out) {
  if (!::IsValidCodePage(codePage)) return false;
  out = toWide(codePage, text);
  return true;
}

std::string wideToFontCodePage(uint32_t codePage, std::u16string_view text, bool* usedDefault) {
  return fromWide(::IsValidCodePage(codePage) ? codePage : CP_ACP, text, usedDefault);
}

std::u16string fontCodePageToWide(uint32_t codePage, std::string_view text) {
  return toWide(::IsValidCodePage(codePage) ? codePage : CP_ACP, text);
}

std::string ansiLower(std::string_view text) {
  std::string out(text);
  if (!out.empty()) ::CharLowerBuffA(out.data(), static_cast<DWORD>(out.size()));
  return out;
}

std::string ansiUpper(std::string_view text) {
  std::string out(text);
  if (!out.empty()) ::CharUpperBuffA(out.data(), static_cast<DWORD>(out.size()));
  return out;
}

}  // namespace corvane::platform
