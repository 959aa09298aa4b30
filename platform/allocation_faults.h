// Refusals of the allocators a host shares with the plug-in (the shared
// memory manager and the OLE string allocator), armed by tests so that the
// out-of-memory paths run: after `skip` further allocations succeed, the next
// `count` of the chosen allocator fail as the system's would, returning
// nothing. Arming applies to the calling thread only, so background threads
// of the code under test are never refused by surprise. Unarmed, an
// allocation pays one relaxed atomic load.
#pragma once

#include <cstdint>

#include "platform/abi.h"

namespace corvane::platform {

enum class Allocator : uint8_t { SharedMemory, OleStrings };

CV_PLATFORM_API void failAllocations(Allocator allocator, uint32_t skip, uint32_t count);
// Disarms both allocators on the calling thread.
CV_PLATFORM_API void stopFailingAllocations();
// How many allocations were refused on the calling thread since it was armed.
CV_PLATFORM_API uint32_t refusedAllocations(Allocator allocator);

// For the backends: whether this allocation is to be refused; counts it.
CV_PLATFORM_API bool refuseAllocation(Allocator allocator) noexcept;

// Arms for a scope and disarms at its end.
class AllocationFaults {
 public:
  AllocationFaults(Allocator allocator, uint32_t skip, uint32_t count) { failAllocations(allocator, skip, count); }
  AllocationFaults(const AllocationFaults&) = delete;
  AllocationFaults& operator=(const AllocationFaults&) = delete;
  ~AllocationFaults() { stopFailingAllocations(); }
};

}  // namespace corvane::platform
