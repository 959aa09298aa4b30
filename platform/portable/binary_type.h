// Internal: the kind of program a file holds, read from its header. POSIX
// answers binaryType() with it; the Win32 backend asks the system first and
// uses it for the files the system refuses (DLLs).
#pragma once

#include <string>

#include "platform/files.h"

namespace corvane::platform {

BinaryType binaryTypeFromHeader(const std::string& path);

}  // namespace corvane::platform
