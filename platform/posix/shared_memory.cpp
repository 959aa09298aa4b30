// POSIX backend: the shared memory manager is the C allocator, which every
// module of a process uses from the one C library.
#include "platform/shared_memory.h"

#include "platform/allocation_faults.h"

#include <malloc.h>

#include <cstdlib>
#include <cstring>

namespace corvane::platform {

void* sharedAlloc(size_t size) {
  if (refuseAllocation(Allocator::SharedMemory)) return nullptr;
  return std::calloc(1, size == 0 ? 1 : size);
}

void* sharedRealloc(void* block, size_t size) {
  if (block == nullptr) return sharedAlloc(size);
  if (refuseAllocation(Allocator::SharedMemory)) return nullptr;
  const size_t old = ::malloc_usable_size(block);
  void* grown = std::realloc(block, size == 0 ? 1 : size);
  if (grown == nullptr) return nullptr;
  const size_t now = ::malloc_usable_size(grown);
  if (now > old) std::memset(static_cast<char*>(grown) + old, 0, now - old);
  return grown;
}

void sharedFree(void* block) { std::free(block); }

}  // namespace corvane::platform
