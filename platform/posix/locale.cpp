// POSIX backend: the thread locale as one process-wide value, starting as
// US English (0x0409).
#include "platform/locale.h"

#include <atomic>

namespace corvane::platform {
namespace {

std::atomic<uint32_t> currentLocale{0x0409};

}  // namespace

uint32_t threadLocale() { return currentLocale.load(); }

bool setThreadLocale(uint32_t locale) {
  // Identifiers carry a 16-bit language id in their low word; 0 is none.
  if ((locale & 0xFFFF) == 0 || locale > 0xFFFFF) return false;
  currentLocale.store(locale);
  return true;
}

}  // namespace corvane::platform
