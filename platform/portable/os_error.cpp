#include "platform/os_error.h"

#include <cstdio>

namespace corvane::platform {
namespace {

std::string describe(const std::string& function, const std::string& subject, uint32_t code) {
  char codeText[16];
  std::snprintf(codeText, sizeof codeText, "0x%.8X", code);
  std::string text = function;
  if (!subject.empty()) text += " \"" + subject + "\"";
  text += " failed: ";
  text += codeText;
  const std::string message = systemErrorMessage(code);
  if (!message.empty()) text += " - " + message;
  return text;
}

}  // namespace

OsError::OsError(std::string function, std::string subject, uint32_t code)
    : std::runtime_error(describe(function, subject, code)),
      function_(std::move(function)),
      subject_(std::move(subject)),
      code_(code) {}

}  // namespace corvane::platform
