// Internal: how a lock name becomes the name of the system object behind it
// (the POSIX lock file, the Win32 mutex).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace corvane::platform {

// The longest stem lockNameStem makes, before its hash suffix of 17
// characters: it leaves room for a file extension or an object namespace.
inline constexpr size_t kMaxLockNameStem = 200;

// 0-9, a-z and "_" stay as they are, so names made by lockNameFor are used
// unchanged; every other character becomes "-" and two hexadecimal digits,
// which keeps "/" and "\" (folder and namespace separators) out and keeps
// such names apart from those of the rule. A name longer than
// kMaxLockNameStem is cut and completed with a hash of the whole name.
std::string lockNameStem(std::string_view name);

}  // namespace corvane::platform
