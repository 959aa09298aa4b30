// Interlocked operations on 32-bit values that other modules may also touch
// (reference counts of boundary objects, counters read across threads).
#pragma once

#include <atomic>
#include <cstdint>

namespace corvane::platform {

inline int32_t interlockedIncrement(int32_t& value) {
  return std::atomic_ref<int32_t>(value).fetch_add(1, std::memory_order_acq_rel) + 1;
}
inline int32_t interlockedDecrement(int32_t& value) {
  return std::atomic_ref<int32_t>(value).fetch_sub(1, std::memory_order_acq_rel) - 1;
}
inline int32_t interlockedExchange(int32_t& value, int32_t next) {
  return std::atomic_ref<int32_t>(value).exchange(next, std::memory_order_acq_rel);
}
inline int32_t interlockedCompareExchange(int32_t& value, int32_t next, int32_t expected) {
  std::atomic_ref<int32_t>(value).compare_exchange_strong(expected, next, std::memory_order_acq_rel);
  return expected;
}
inline int32_t interlockedRead(const int32_t& value) {
  return std::atomic_ref<int32_t>(const_cast<int32_t&>(value)).load(std::memory_order_acquire);
}

}  // namespace corvane::platform
