#include "platform/allocation_faults.h"

#include <atomic>

namespace corvane::platform {
namespace {

struct Plan {
  uint32_t skip = 0;
  uint32_t count = 0;
  uint32_t refused = 0;
};

struct ThreadPlans {
  Plan plans[2];
  bool armed = false;
};

// Threads that are armed: while none is, allocations skip the thread-local
// look-up.
std::atomic<int32_t> armedThreads{0};

ThreadPlans& threadPlans() {
  thread_local ThreadPlans plans;
  return plans;
}

Plan& planOf(ThreadPlans& plans, Allocator allocator) { return plans.plans[static_cast<int>(allocator)]; }

}  // namespace

void failAllocations(Allocator allocator, uint32_t skip, uint32_t count) {
  ThreadPlans& plans = threadPlans();
  if (!plans.armed) {
    plans.armed = true;
    armedThreads.fetch_add(1, std::memory_order_relaxed);
  }
  planOf(plans, allocator) = Plan{skip, count, 0};
}

void stopFailingAllocations() {
  ThreadPlans& plans = threadPlans();
  if (!plans.armed) return;
  plans = ThreadPlans{};
  armedThreads.fetch_sub(1, std::memory_order_relaxed);
}

uint32_t refusedAllocations(Allocator allocator) { return planOf(threadPlans(), allocator).refused; }

bool refuseAllocation(Allocator allocator) noexcept {
  if (armedThreads.load(std::memory_order_relaxed) == 0) return false;
  ThreadPlans& plans = threadPlans();
  if (!plans.armed) return false;
  Plan& plan = planOf(plans, allocator);
  if (plan.skip > 0) {
    --plan.skip;
    return false;
  }
  if (plan.count == 0) return false;
  --plan.count;
  ++plan.refused;
  return true;
}

}  // namespace corvane::platform
