// Refusals armed by tests for the shared memory manager and the OLE string
// allocator.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "platform/allocation_faults.h"
#include "platform/ole_string.h"
#include "platform/shared_memory.h"

namespace cp = corvane::platform;
using cp::Allocator;

TEST(AllocationFaults, TheChosenAllocationsFailAndTheRestSucceed) {
  void* kept = cp::sharedAlloc(8);
  ASSERT_NE(kept, nullptr);
  std::memcpy(kept, "12345678", 8);
  {
    cp::AllocationFaults faults(Allocator::SharedMemory, 1, 2);
    void* first = cp::sharedAlloc(16);
    EXPECT_NE(first, nullptr) << "the skipped allocation succeeds";
    EXPECT_EQ(cp::sharedAlloc(16), nullptr);
    EXPECT_EQ(cp::sharedRealloc(kept, 4096), nullptr);
    EXPECT_EQ(std::string(static_cast<const char*>(kept), 8), "12345678") << "a refused growth keeps the block";
    void* after = cp::sharedAlloc(16);
    EXPECT_NE(after, nullptr) << "only `count` allocations fail";
    EXPECT_EQ(cp::refusedAllocations(Allocator::SharedMemory), 2u);
    EXPECT_EQ(cp::refusedAllocations(Allocator::OleStrings), 0u);
    const cp::OleString text(u"strings are not armed");
    EXPECT_EQ(text.view(), u"strings are not armed");
    cp::sharedFree(first);
    cp::sharedFree(after);
  }
  void* grown = cp::sharedRealloc(kept, 4096);
  ASSERT_NE(grown, nullptr) << "disarmed at the end of the scope";
  cp::sharedFree(grown);
}

TEST(AllocationFaults, RefusedOleStringsLeaveTheirTargetsAlone) {
  cp::Bstr target = cp::sysAllocString(u"old");
  {
    cp::AllocationFaults faults(Allocator::OleStrings, 0, 4);
    EXPECT_EQ(cp::sysAllocStringLen(u"abc", 3), nullptr);
    EXPECT_EQ(cp::sysAllocStringByteLen("abc", 3), nullptr);
    EXPECT_FALSE(cp::sysReAllocStringLen(&target, u"new", 3));
    EXPECT_EQ(std::u16string(target), u"old");
    EXPECT_THROW(cp::OleString(u"owned"), std::bad_alloc);
    EXPECT_EQ(cp::refusedAllocations(Allocator::OleStrings), 4u);
  }
  EXPECT_TRUE(cp::sysReAllocStringLen(&target, u"new", 3));
  EXPECT_EQ(std::u16string(target), u"new");
  cp::sysFreeString(target);
}

TEST(AllocationFaults, OnlyTheArmingThreadIsRefused) {
  cp::AllocationFaults faults(Allocator::SharedMemory, 0, 1000);
  void* other = nullptr;
  std::thread([&] { other = cp::sharedAlloc(32); }).join();
  EXPECT_NE(other, nullptr);
  cp::sharedFree(other);
  EXPECT_EQ(cp::sharedAlloc(32), nullptr);
}
