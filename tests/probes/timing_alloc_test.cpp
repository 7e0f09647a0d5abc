// SPDX-License-Identifier: MIT
// The measurement runs on the native layers without touching the allocator.

#include <gtest/gtest.h>

#include "platform/native.h"
#include "probes/timing_probe.h"
#include "support/alloc_fault.h"

namespace oxa {
namespace {

TEST(TimingAlloc, MeasureTimingAllocatesNothing) {
  NativeProcessor processor;
  NativeSystem system;
  Timing timing;
  {
    test::ScopedAllocationFault fault(1);
    timing = measure_timing(processor, system);
    EXPECT_EQ(test::allocations_seen(), 0u);
  }
  EXPECT_TRUE(timing.valid || timing.cycles_over_baseline == 0);
}

}  // namespace
}  // namespace oxa
