// The memory manager that the plug-in and its host share for blocks one of
// them allocates and the other frees or grows (packet blocks, parameter-list
// objects of the shared layout, their item arrays and strings): the process
// heap on Windows, the C allocator on POSIX.
#pragma once

#include <cstddef>

#include "platform/abi.h"

namespace corvane::platform {

CV_PLATFORM_API void* sharedAlloc(size_t size);               // zero-filled; nullptr on failure
CV_PLATFORM_API void* sharedRealloc(void* block, size_t size);  // new bytes are zero-filled
CV_PLATFORM_API void sharedFree(void* block);

}  // namespace corvane::platform
