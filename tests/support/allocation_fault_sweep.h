// Runs an operation once for each allocation it makes from one of the shared
// allocators, refusing that allocation (the first on the first run, the
// second on the second, ...), and a last time with nothing refused. Each run
// starts from a fresh state, so a check can compare what a refused run left
// with what the state held before.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <exception>
#include <string>

#include "platform/allocation_faults.h"

namespace corvane::test_support {

struct RefusalRun {
  uint32_t Refused = 0;  // which allocation was refused (0-based), when WasRefused
  bool WasRefused = false;
  bool Threw = false;  // the operation reported its failure by an exception
  std::string What;    // and this was its message
};

// setup() returns the state (a movable value); operation(state) runs armed;
// check(state, run) runs disarmed. Returns how many allocations the operation
// made when nothing was refused.
template <class Setup, class Operation, class Check>
uint32_t ForEachRefusal(platform::Allocator allocator, Setup setup, Operation operation, Check check) {
  constexpr uint32_t kMostAllocations = 2000;
  for (uint32_t skip = 0; skip < kMostAllocations; ++skip) {
    auto state = setup();
    RefusalRun run;
    run.Refused = skip;
    {
      platform::AllocationFaults faults(allocator, skip, 1);
      try {
        operation(state);
      } catch (const std::exception& error) {
        run.Threw = true;
        run.What = error.what();
      }
      run.WasRefused = platform::refusedAllocations(allocator) > 0;
    }
    check(state, run);
    if (!run.WasRefused) return skip;
  }
  ADD_FAILURE() << "the operation never ran without a refusal";
  return kMostAllocations;
}

}  // namespace corvane::test_support
