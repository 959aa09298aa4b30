// Win32 backend: the shared memory manager is the process heap, which every
// module of the process reaches the same way whatever runtime it was built
// with.
#include <windows.h>

#include "platform/shared_memory.h"

#include "platform/allocation_faults.h"

namespace corvane::platform {

void* sharedAlloc(size_t size) {
  if (refuseAllocation(Allocator::SharedMemory)) return nullptr;
  return ::HeapAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY, size == 0 ? 1 : size);
}

void* sharedRealloc(void* block, size_t size) {
  if (block == nullptr) return sharedAlloc(size);
  if (refuseAllocation(Allocator::SharedMemory)) return nullptr;
  return ::HeapReAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY, block, size == 0 ? 1 : size);
}

void sharedFree(void* block) {
  if (block != nullptr) ::HeapFree(::GetProcessHeap(), 0, block);
}

}  // namespace corvane::platform
